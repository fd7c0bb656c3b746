#pragma once
// The bench mailbox on the test Dovecot, and a front end that shows nothing.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/bench_mailbox.h"
#include "engine/sink.h"
#include "mime/mail_message.h"
#include "net/pop3_session.h"
#include "store/settings_store.h"
#include "support/dovecot.h"

namespace pelorix {

// Bob's mailbox of `messages` bench messages, the server started and its
// index and header cache built by a first scan, which no measured run should
// pay.
inline void StartBenchDovecot(test::TDovecotServer& dovecot, int messages, bool imap = false) {
  {
    std::vector<std::string> mails;
    mails.reserve(static_cast<std::size_t>(messages));
    for (int i = 1; i <= messages; ++i)
      mails.push_back(BenchMessage(i));
    dovecot.AddUser("bob", "pw", mails);
  }
  if (imap)
    dovecot.EnableImap();
  dovecot.Start();
  TPop3Session session;
  session.Host = dovecot.HostPort();
  session.Username = "bob";
  session.Password = "pw";
  session.Connect();
  const int count = session.MessageCount();
  for (int n = 1; n <= count; ++n) {
    TMailMessage msg;
    session.FetchHeader(n, msg);
  }
  session.Disconnect();
}

inline double Seconds(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A fresh home whose one account is `server`, set up as the benches' are.
inline std::filesystem::path NewHome(const std::string& server) {
  std::string pattern = (std::filesystem::temp_directory_path() / "pelorix-bench-XXXXXX").string();
  const std::filesystem::path home = mkdtemp(pattern.data());
  auto store = TSettingsStore::Open(home);
  SetUpBenchHome(*store, home, server);
  return home;
}

class TQuietSink : public TFrontEndSink {
 public:
  void StatusRefresh(const TStatusTexts&) override {}
  void MailRowAdded(std::size_t, const TMailRow&) override {}
  void MailboxCountersUpdate(const TMailboxCounters&) override {}
  bool AskYesNo(const std::string&, const std::string&) override { return false; }
};

}  // namespace pelorix
