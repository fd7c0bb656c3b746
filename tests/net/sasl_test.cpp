#include "net/sasl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pelorix {
namespace {

using ::testing::HasSubstr;

TEST(SaslBase64, Rfc4648VectorsAndStrictDecoding) {
  const std::pair<const char*, const char*> vectors[] = {{"", ""},
                                                         {"f", "Zg=="},
                                                         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},
                                                         {"foob", "Zm9vYg=="},
                                                         {"fooba", "Zm9vYmE="},
                                                         {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(SaslBase64(plain), encoded);
    EXPECT_EQ(SaslUnbase64(encoded), plain);
  }
  const std::string bytes("\x00\xff\x01\xfe", 4);
  EXPECT_EQ(SaslUnbase64(SaslBase64(bytes)), bytes);
  for (const char* bad : {"Zg=", "Zm9v!A==", "Z=g=", "Zg==Zg==", "Zm9", "Zg=a", "==AA"}) {
    EXPECT_FALSE(SaslUnbase64(bad)) << bad;
  }
}

TEST(SaslExchange, FirstMessagesOfEachMechanism) {
  EXPECT_EQ(TSaslExchange(TSaslMechanism::Plain, "alice", "secret").InitialResponse(),
            std::string("\0alice\0secret", 13));
  EXPECT_EQ(
      TSaslExchange(TSaslMechanism::XOAuth2, "alice@example.com", "ya29.tok").InitialResponse(),
      "user=alice@example.com\x01"
      "auth=Bearer ya29.tok\x01\x01");
  // RFC 7628 3.1: "," and "=" of the name escaped; host and port given.
  EXPECT_EQ(TSaslExchange(TSaslMechanism::OAuthBearer, "a,b=c", "tok", "mail.test", 995)
                .InitialResponse(),
            "n,a=a=2Cb=3Dc,\x01host=mail.test\x01port=995\x01"
            "auth=Bearer tok\x01\x01");
  EXPECT_FALSE(TSaslExchange(TSaslMechanism::Login, "alice", "pw").InitialResponse());

  TSaslExchange login(TSaslMechanism::Login, "alice", "pw");
  EXPECT_EQ(login.Respond("Username:"), "alice");
  EXPECT_EQ(login.Respond("Password:"), "pw");

  // A server that does not take the first message with the command asks for it.
  TSaslExchange plain(TSaslMechanism::Plain, "alice", "secret");
  EXPECT_EQ(plain.Respond(""), std::string("\0alice\0secret", 13));
  EXPECT_TRUE(plain.ErrorCause().empty());

  EXPECT_EQ(ParseSaslMechanism(" xoauth2 "), TSaslMechanism::XOAuth2);
  EXPECT_FALSE(ParseSaslMechanism("CRAM-MD5"));
  EXPECT_EQ(SaslMechanismName(TSaslMechanism::OAuthBearer), "OAUTHBEARER");
}

TEST(SaslExchange, OAuthErrorChallengeIsKeptAndTheExchangeEnded) {
  TSaslExchange bearer(TSaslMechanism::OAuthBearer, "alice", "tok", "h", 1);
  bearer.InitialResponseSent();
  EXPECT_EQ(bearer.Respond(R"({"status":"invalid_token","scope":"mail"})"), "\x01");
  EXPECT_EQ(bearer.ErrorCause(), "token expired or revoked (status invalid_token, scope mail)");

  TSaslExchange google(TSaslMechanism::XOAuth2, "alice", "tok");
  google.InitialResponseSent();
  EXPECT_EQ(google.Respond(R"({"status":"403","schemes":"bearer"})"), "");
  EXPECT_EQ(google.ErrorCause(), "invalid scope (status 403)");

  TSaslExchange garbage(TSaslMechanism::XOAuth2, "alice", "tok");
  garbage.InitialResponseSent();
  garbage.Respond("not json");
  EXPECT_EQ(garbage.ErrorCause(), "token refused");
  for (int i = 0; i < 4; ++i) {
    garbage.Respond("");
  }
  EXPECT_TRUE(garbage.TooManySteps());
}

TEST(OAuthErrorPayload, ParsesTopLevelStringsAndSkipsTheRest) {
  const auto rfc = ParseOAuthErrorPayload(
      " {\"status\":\"invalid_token\",\"scope\":\"example_scope\",\n"
      "  \"openid-configuration\":\"https://example.com/.well-known/openid-configuration\","
      "  \"extra\":{\"status\":\"nested\",\"list\":[1,-2.5e3,true,null,[]]}} ");
  ASSERT_TRUE(rfc);
  EXPECT_EQ(rfc->Status, "invalid_token");
  EXPECT_EQ(rfc->Scope, "example_scope");
  EXPECT_EQ(rfc->OpenIdConfiguration, "https://example.com/.well-known/openid-configuration");

  const auto escaped =
      ParseOAuthErrorPayload(R"({"status":401,"scope":"a\/b \u00e9\ud83d\ude00\n"})");
  ASSERT_TRUE(escaped);
  EXPECT_EQ(escaped->Status, "401");
  EXPECT_EQ(escaped->Scope, "a/b \xc3\xa9\xf0\x9f\x98\x80\n");

  std::string deep = R"({"status":"x","d":)" + std::string(40, '[') + std::string(40, ']') + "}";
  for (const std::string& bad : std::vector<std::string>{
           "", "[]", "{}", R"({"scope":"s"})", R"({"status":"x"} trailing)", R"({"status":"x)",
           R"({"status":"\ud800"})", R"({"status":"\q"})", "{\"status\":\"a\x01\"}", deep}) {
    EXPECT_FALSE(ParseOAuthErrorPayload(bad)) << bad;
  }
  EXPECT_THAT(DescribeOAuthError({"invalid_request", "", "", ""}), HasSubstr("invalid request"));
}

}  // namespace
}  // namespace pelorix
