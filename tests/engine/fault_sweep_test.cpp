// A sample of the fault sweep (bench/faults/run runs all of it): runs cut
// at protocol points, at byte offsets, by failing file calls and by kill -9
// keep every message on the server or in tmp/deleted/, touch nothing
// unticked and leave files that read back whole.

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "engine/mail_record.h"
#include "engine/record_files.h"
#include "support/dovecot.h"
#include "support/fake_server.h"
#include "support/fault_proxy.h"
#include "support/fault_sweep.h"
#include "support/invariant.h"
#include "test_home.h"

namespace pelorix {
namespace {

using test::TFault;
using test::TFlow;
using test::TSweepRun;

std::string ReadToEnd(int fd) {
  std::string got;
  char buffer[256];
  for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
    got.append(buffer, static_cast<std::size_t>(n));
  return got;
}

int Connect(int port);

TEST(FaultProxy, CutsAtTheByteAndAfterTheCommandAsked) {
  test::TScriptServer server;
  server.Script("S: +OK 0123456789\n");
  server.Start();
  test::TFaultProxy proxy(server.Port());
  proxy.Arm(TFault::AtByte(TFlow::ToClient, 7));
  int fd = Connect(proxy.Port());
  EXPECT_EQ(ReadToEnd(fd), "+OK 012");
  ::close(fd);
  EXPECT_TRUE(proxy.Fired());

  test::TScriptServer second;
  second.Script("S: +OK hi\nC: NOOP\nC: DELE 1\nC: DELE 2\nS: +OK gone\n");
  second.Start();
  test::TFaultProxy commands(second.Port());
  commands.Arm(TFault::AfterCommand("dele", 2, TFault::TBreak::Reset));
  fd = Connect(commands.Port());
  char greeting[8] = {};
  ASSERT_EQ(::recv(fd, greeting, sizeof greeting, MSG_WAITALL), 8);
  const std::string sent = "NOOP\r\nDELE 1\r\nDELE 2\r\nQUIT\r\n";
  ASSERT_EQ(::send(fd, sent.data(), sent.size(), MSG_NOSIGNAL), ssize_t(sent.size()));
  // The server hears the second DELE and answers; the client never hears it.
  EXPECT_EQ(std::string(greeting, 8) + ReadToEnd(fd), "+OK hi\r\n");
  ::close(fd);
  second.Wait();
  EXPECT_THAT(second.Errors(), testing::IsEmpty());
  EXPECT_EQ(commands.CommandCount("DELE"), 2);
}

int Connect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  return fd;
}

TEST(Invariants, NameALostCopyAnUntickedLossAndHalfARecord) {
  test::TTempHome home;
  const std::string a = "Message-ID: <a@x>\n\nA\n", b = "Message-ID: <b@x>\n\nB\n";
  // a went with a copy (CR LF as on the wire), b went unticked and uncopied.
  test::WriteAll(home.Tmp() / "deleted" / "_a@x_.eml", "Message-ID: <a@x>\r\n\r\nA\r\n");
  test::WriteAll(home.Tmp() / "all.rec", std::string(kMailRecordSize + 5, ' '));
  const auto broken =
      test::BrokenInvariants({{a, b}}, {{}}, home.Path(), std::set<std::string>{"<a@x>"});
  EXPECT_THAT(broken, testing::UnorderedElementsAre(
                          testing::HasSubstr("registry.db is missing"),
                          testing::HasSubstr("all.rec holds part of a record (3265 bytes)"),
                          "message <b@x> was not ticked and is gone from the server",
                          "message <b@x> is gone from the server without a copy"));
}

// Found by the sweep: `pelorix delete` killed inside a write left .new and
// .del with part of a record. A writer that dies before it is closed now
// leaves the former file.
TEST(RecordFileKilled, BeforeItsCloseLeavesTheFormerRecordsWhole) {
  test::TTempHome home;
  const auto file = home.Tmp() / "bob2host.del";
  TMailRecord r;
  r.MessageKey = "<old@x>";
  ASSERT_TRUE(WriteRecordFile(file, {r, r}));
  for (const auto mode : {TRecordFileWriter::Mode::Append, TRecordFileWriter::Mode::Truncate}) {
    const pid_t child = ::fork();
    if (child == 0) {
      TRecordFileWriter w;
      r.MessageKey = "<new@x>";
      bool ok = w.Open(file, mode);
      for (int i = 0; i < 45 && ok; ++i)
        ok = w.Append(r);   // flushed twice on the way
      ::_exit(ok ? 0 : 1);  // as a kill: no Close
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    const auto records = ReadRecordFile(file);
    ASSERT_TRUE(records);
    ASSERT_EQ(records->size(), 2u);
    EXPECT_EQ((*records)[1].MessageKey, "<old@x>");
  }
  TRecordFileWriter w;
  ASSERT_TRUE(w.Open(file, TRecordFileWriter::Mode::Append));
  ASSERT_TRUE(w.Append(r));
  ASSERT_TRUE(w.Close());
  EXPECT_EQ(ReadRecordFile(file)->size(), 3u);
}

void ExpectHeld(const test::TCaseResult& r, bool mustFire = true) {
  EXPECT_TRUE(r.Fired || !mustFire) << r.Name << ": the fault was never reached";
  for (const auto& b : r.Broken)
    ADD_FAILURE() << r.Name << ": " << b;
}

TEST(FaultSweep, RunsCutAtProtocolPointsAndByteOffsetsLoseNothing) {
  if (auto why = test::TDovecotServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TFaultSweep sweep;
  TFault stall = TFault::AfterCommand("RETR", 20, TFault::TBreak::Stall);
  stall.StallTime = std::chrono::milliseconds(2 * test::TFaultSweep::kReadTimeoutMs);
  for (const TFault& f : {TFault::AfterCommand("DELE", 33), stall,
                          TFault::AfterCommand("QUIT", 1, TFault::TBreak::Reset)})
    ExpectHeld(sweep.RunCase(TSweepRun::Deletion, f));
  for (const TFault& f : {TFault::AfterCommand("DELE", 1), TFault::AfterCommand("QUIT", 1)})
    ExpectHeld(sweep.RunCase(TSweepRun::CheckDeleteRubbish, f));
  const auto offsets = sweep.ByteOffsets(TSweepRun::Deletion, 2);
  for (const TFault& f : offsets)
    ExpectHeld(sweep.RunCase(TSweepRun::Deletion, f));
}

TEST(FaultSweep, ImapAndTlsRunsCutShortLoseNothing) {
  if (auto why = test::TDovecotServer::ImapSkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TFaultSweep imap(200, test::TSweepProtocol::Imap);
  ExpectHeld(imap.RunCase(TSweepRun::Deletion, TFault::AfterCommand("MOVE", 1)));
  ExpectHeld(imap.RunCase(TSweepRun::CheckDeleteRubbish,
                          TFault::AfterCommand("LOGOUT", 1, TFault::TBreak::Reset)));
  test::TFaultSweep tls(200, test::TSweepProtocol::Pop3Tls);
  for (const TFault& f : tls.ByteOffsets(TSweepRun::Deletion, 1))
    ExpectHeld(tls.RunCase(TSweepRun::Deletion, f));
}

TEST(FaultSweep, DeletionsWhoseFileCallsFailLoseNothing) {
  if (auto why = test::TDovecotServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TFaultSweep sweep(30);
  const int calls = sweep.RunFileFaultCase(0, 0, false).Calls;
  ASSERT_GT(calls, 10);
  for (const int k : {1, calls / 3, calls / 2, calls})
    ExpectHeld(sweep.RunFileFaultCase(k, EIO, false));
  ExpectHeld(sweep.RunFileFaultCase(calls / 4, ENOSPC, true));
}

TEST(FaultSweep, KilledDeletionsLoseNothing) {
  if (auto why = test::TDovecotServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TFaultSweep sweep;
  const auto whole = sweep.CleanDeletionTime(PELORIX_BINARY);
  for (const int percent : {10, 35, 60, 85})
    ExpectHeld(sweep.RunKilledDeletion(PELORIX_BINARY, whole * percent / 100), false);
}

}  // namespace
}  // namespace pelorix
