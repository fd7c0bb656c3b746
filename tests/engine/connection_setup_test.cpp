// How a worker's session is set up for an account, and how a failed
// account's cause is worded.
#include "engine/check_worker.h"
#include "engine/failure_cause.h"
#include "engine/run_state.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "net/errors.h"
#include "net/pop3_session.h"
#include "support/process.h"

namespace pelorix {
namespace {

TEST(PrepareSessionTest, ModeAndPinOfTheAccount) {
  TRunState state("/nonexistent");
  TConnectionPolicy policy;
  policy.Modes = {{"ann[pop.test]", "TLS"}, {"ben[pop.test:2110]", "starttls"}};
  policy.Pins = {{"POP.TEST:995", "AA:BB"}, {"pop.test:2110", "CC:DD"}, {"pop.test:110", "EE"}};
  state.SetPolicy(policy);
  TPop3Session session;
  PrepareSession(session, {"pop.test", "ann", "pw"}, state);
  EXPECT_EQ(session.Security, TSecurity::Tls);
  EXPECT_EQ(session.Port, 995);
  EXPECT_EQ(session.PinnedCertificate, "AA:BB");
  PrepareSession(session, {"pop.test:2110", "ben", "pw"}, state);
  EXPECT_EQ(session.Security, TSecurity::StartTls);
  EXPECT_EQ(session.Port, 110);
  EXPECT_EQ(session.PinnedCertificate, "CC:DD");
  // No stored mode: auto, and the pin of the port actually used.
  PrepareSession(session, {"pop.test", "cat", "pw"}, state);
  EXPECT_EQ(session.Security, TSecurity::Auto);
  EXPECT_EQ(session.PinnedCertificate, "EE");
}

TEST(FailureCauseTest, PlainWordsForEachKindOfFailure) {
  // A real refused connection: the socket error's description alone.
  TPop3Session session;
  session.Host = "127.0.0.1:" + std::to_string(test::FreeLoopbackPort());
  try {
    session.Connect();
    FAIL() << "connected to a closed port";
  } catch (const std::exception& e) {
    EXPECT_EQ(FailureCauseLine("ann", "pop.test", e), "ann@pop.test 失败原因: Connection refused.");
  }
  EXPECT_EQ(FailureCause(EProtocolReplyError(2, "[AUTH] Authentication failed.\r\n")),
            "[AUTH] Authentication failed.");
  EXPECT_EQ(FailureCause(EProtocolReplyError(2, "")), "服务器拒绝 (无说明)");
  EXPECT_EQ(FailureCause(EReadTimeout()), "Read Timeout");
  EXPECT_EQ(FailureCause(ECertificateError("certificate has expired")),
            "证书验证失败: certificate has expired");
  EXPECT_EQ(FailureCause(ETlsNotOffered("STLS")), "服务器不提供 STLS 加密连接，密码未发送");
  EXPECT_EQ(FailureCause(ETlsError("TLS handshake failed: Read Timeout", "Read Timeout")),
            "TLS 加密连接失败: Read Timeout");
  EXPECT_EQ(FailureCause(EMailError("Unrecognized POP3 Response Header:\n\"HELLO\r\n\"")),
            "Unrecognized POP3 Response Header: \"HELLO \"");
}

}  // namespace
}  // namespace pelorix
