#include "engine/failure_cause.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "net/errors.h"
#include "net/pop3_session.h"
#include "support/process.h"

namespace pelorix {
namespace {

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
