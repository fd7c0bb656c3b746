// Header scan of a 10,000-message mailbox served by Dovecot on loopback:
// LIST n + TOP n 0 for every message, as the check worker does it. Python's
// poplib runs the same loop against the same server as the reference; the
// scan over TLS runs beside the plain one.
//
// Needs root and Dovecot (Debian dovecot-pop3d); skips itself otherwise.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "mime/mail_message.h"
#include "net/pop3_session.h"
#include "support/dovecot.h"
#include "support/process.h"
#include "support/tls_certs.h"

namespace {

using pelorix::test::TChildProcess;
using pelorix::test::TDovecotServer;

constexpr int kMessages = 10000;

std::vector<std::string> MakeMessages() {
  std::vector<std::string> messages;
  messages.reserve(kMessages);
  for (int i = 1; i <= kMessages; ++i) {
    const std::string n = std::to_string(i);
    std::string text = "Return-Path: <sender" + n +
                       "@example.net>\n"
                       "Received: from mx.example.net (mx.example.net [203.0.113." +
                       std::to_string(i % 250) + "])\n\tby mail.example.com with ESMTP id " + n +
                       "\n\tfor <user@example.com>; Tue, 8 Dec 2026 10:00:00 +0800\n"
                       "Received: from [192.0.2.7] (unknown [192.0.2.7])\n\tby mx.example.net with "
                       "SMTP; Tue, 8 Dec 2026 09:59:58 +0800\n"
                       "From: \"Sender " +
                       n + "\" <sender" + n +
                       "@example.net>\n"
                       "To: user@example.com\n"
                       "Subject: =?GB2312?B?suLK1NPKvP4=?= number " +
                       n +
                       "\n"
                       "Date: Tue, 8 Dec 2026 09:59:58 +0800\n"
                       "Message-ID: <" +
                       n +
                       ".bench@example.net>\n"
                       "MIME-Version: 1.0\n"
                       "Content-Type: text/plain; charset=\"us-ascii\"\n"
                       "X-Priority: 3\n\n";
    for (int line = 0; line < 20; ++line) {
      text += "Body line " + std::to_string(line) + " of message " + n +
              " with some filler text to give it a usual size.\n";
    }
    messages.push_back(std::move(text));
  }
  return messages;
}

constexpr const char* kPoplibScript = R"PY(
import poplib, sys, time
host, port = sys.argv[1], int(sys.argv[2])
if len(sys.argv) > 3:
    import ssl
    p = poplib.POP3_SSL(host, port, context=ssl.create_default_context(cafile=sys.argv[3]))
else:
    p = poplib.POP3(host, port)
p.user("bench"); p.pass_("bench")
count = p.stat()[0]
for n in range(1, count + 1):
    p.list(n)
    p.top(n, 0)
p.quit()
)PY";

// The first pass makes Dovecot build its index and header cache and brings
// the files into the page cache, which neither measured run should pay.
void WarmUp(const TDovecotServer& server) {
  pelorix::TPop3Session session;
  session.Host = server.HostPort();
  session.Security = pelorix::TSecurity::None;
  session.Username = "bench";
  session.Password = "bench";
  session.Connect();
  const int count = session.MessageCount();
  for (int n = 1; n <= count; ++n) {
    session.SendCommand("TOP " + std::to_string(n) + " 0", {1});
    while (session.ReadLine() != ".") {
    }
  }
  session.Disconnect();
}

void HeaderScan(benchmark::State& state, const TDovecotServer* server) {
  pelorix::TPop3Session session;
  pelorix::TMailMessage msg;
  long long scanned = 0;
  for (auto _ : state) {
    session.Host = server->HostPort();
    session.Security = pelorix::TSecurity::None;  // the server offers STLS too
    session.Username = "bench";
    session.Password = "bench";
    session.Connect();
    const int count = session.MessageCount();
    for (int n = 1; n <= count; ++n) {
      msg.Clear();
      benchmark::DoNotOptimize(session.MessageSize(n));
      session.FetchHeader(n, msg);
    }
    session.Disconnect();
    scanned += count;
  }
  state.counters["msgs/s"] =
      benchmark::Counter(static_cast<double>(scanned), benchmark::Counter::kIsRate);
}

// The same scan over TLS from the first byte (the test CA trusted).
void TlsHeaderScan(benchmark::State& state, const TDovecotServer* server) {
  pelorix::TPop3Session session;
  pelorix::TMailMessage msg;
  long long scanned = 0;
  for (auto _ : state) {
    session.Host = server->TlsHostPort();
    session.Security = pelorix::TSecurity::Tls;
    session.Username = "bench";
    session.Password = "bench";
    session.Connect();
    const int count = session.MessageCount();
    for (int n = 1; n <= count; ++n) {
      msg.Clear();
      benchmark::DoNotOptimize(session.MessageSize(n));
      session.FetchHeader(n, msg);
    }
    session.Disconnect();
    scanned += count;
  }
  state.counters["msgs/s"] =
      benchmark::Counter(static_cast<double>(scanned), benchmark::Counter::kIsRate);
}

void PoplibScan(benchmark::State& state, const TDovecotServer* server, const std::string* script) {
  for (auto _ : state) {
    TChildProcess python;
    python.Start({"/usr/bin/python3", *script, "127.0.0.1", std::to_string(server->Port())});
    if (python.Wait() != 0) {
      state.SkipWithError("poplib run failed");
      return;
    }
  }
  state.counters["msgs/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kMessages,
                                                benchmark::Counter::kIsRate);
}

// poplib's POP3_SSL on the implicit-TLS listener, trusting the test CA.
void PoplibTlsScan(benchmark::State& state, const TDovecotServer* server, const std::string* script,
                   const std::string* caFile) {
  for (auto _ : state) {
    TChildProcess python;
    python.Start(
        {"/usr/bin/python3", *script, "127.0.0.1", std::to_string(server->TlsPort()), *caFile});
    if (python.Wait() != 0) {
      state.SkipWithError("poplib TLS run failed");
      return;
    }
  }
  state.counters["msgs/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kMessages,
                                                benchmark::Counter::kIsRate);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (const auto why = TDovecotServer::SkipReason(); !why.empty()) {
    std::cerr << "skipped: " << why << "\n";
    return 0;
  }
  pelorix::test::TTestCertificates certs;
  certs.TrustCa();
  TDovecotServer server;
  server.AddUser("bench", "bench", MakeMessages());
  server.EnableTls(certs.Good().Cert, certs.Good().Key);
  server.Start();
  WarmUp(server);
  const std::string script = server.Folder() + "/poplib_scan.py";
  pelorix::test::WriteFile(script, kPoplibScript);

  benchmark::RegisterBenchmark("Pop3HeaderScan/10000", HeaderScan, &server)
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Pop3TlsHeaderScan/10000", TlsHeaderScan, &server)
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("PoplibTlsHeaderScan/10000", PoplibTlsScan, &server, &script,
                               &certs.CaFile())
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("PoplibHeaderScan/10000", PoplibScan, &server, &script)
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
