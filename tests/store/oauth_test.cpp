#include "store/oauth.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <future>

#include "support/oauth_server.h"
#include "temp_folder.h"

namespace pelorix {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using testing::TempFolder;

TEST(OAuth, PkceUrlAndRedirect) {
  // RFC 7636 appendix B.
  EXPECT_EQ(PkceS256("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
            "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
  const TPkce pkce = MakePkce();
  EXPECT_EQ(pkce.Verifier.size(), 43u);
  EXPECT_EQ(pkce.Challenge, PkceS256(pkce.Verifier));
  EXPECT_NE(MakePkce().Verifier, pkce.Verifier);

  TOAuthProvider gmail = BuiltInOAuthProviders().front();
  gmail.ClientId = "id 1";
  const std::string url = AuthorizationUrl(gmail, "http://127.0.0.1:5000/", "st", "ch", "a@b.c");
  EXPECT_THAT(url, StartsWith("https://accounts.google.com/o/oauth2/v2/auth?response_type=code&"));
  for (const char* part :
       {"client_id=id%201", "redirect_uri=http%3A%2F%2F127.0.0.1%3A5000%2F",
        "scope=https%3A%2F%2Fmail.google.com%2F", "state=st", "code_challenge=ch",
        "code_challenge_method=S256", "login_hint=a%40b.c"}) {
    EXPECT_THAT(url, HasSubstr(part));
  }
  EXPECT_EQ(FormDecode(FormEncode("a b&c=d/é")), "a b&c=d/é");

  EXPECT_EQ(ParseRedirectTarget("/?code=abc%2B1&state=s1", "s1").Code, "abc+1");
  EXPECT_EQ(ParseRedirectTarget("/?code=abc&state=other", "s1").Error, "state mismatch");
  EXPECT_EQ(ParseRedirectTarget("/?code=abc", "s1").Error, "state mismatch");
  EXPECT_EQ(
      ParseRedirectTarget("/?error=access_denied&error_description=no+way&state=s1", "s1").Error,
      "access_denied: no way");
}

TEST(OAuth, ProvidersCarryTheirServersAndTakeTheUsersClientId) {
  TempFolder home;
  auto store = TSettingsStore::Open(home.path());
  auto outlook = FindOAuthProvider(*store, "OUTLOOK");
  ASSERT_TRUE(outlook);
  EXPECT_EQ(outlook->Pop3Server, "outlook.office365.com:995");
  EXPECT_EQ(outlook->SmtpServer + ":" + outlook->SmtpPort, "smtp.office365.com:587");
  EXPECT_EQ(outlook->SmtpSecurity, "starttls");
  EXPECT_THAT(outlook->Scope, HasSubstr("POP.AccessAsUser.All"));
  EXPECT_FALSE(outlook->DeviceEndpoint.empty());
  const auto noId = RefreshAccessToken(*FindOAuthProvider(*store, "custom"), "r", 0);
  EXPECT_FALSE(noId.Ok);
  EXPECT_THAT(noId.Cause(), HasSubstr("客户端 ID"));

  TSettingsKey key;
  ASSERT_TRUE(OpenSettingsKey(*store, "OAuth\\gmail", true, key));
  WriteTextValue(key, "ClientId", "mine.apps.example");
  WriteTextValue(key, "TokenEndpoint", "https://elsewhere.example/token");  // only custom takes it
  const auto gmail = FindOAuthProvider(*store, "gmail");
  EXPECT_EQ(gmail->ClientId, "mine.apps.example");
  EXPECT_EQ(gmail->TokenEndpoint, "https://oauth2.googleapis.com/token");
  EXPECT_EQ(gmail->Pop3Server, "pop.gmail.com:995");
  EXPECT_FALSE(FindOAuthProvider(*store, "yahoo"));
  EXPECT_TRUE(TokenNearExpiry(1000, 800));
  EXPECT_FALSE(TokenNearExpiry(10000, 800));
}

class OAuthServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (auto why = test::TOAuthServer::SkipReason(); !why.empty())
      GTEST_SKIP() << why;
    server.Start();
    provider.Id = "custom";
    provider.ClientId = "client-1";
    provider.AuthorizationEndpoint = server.Url("/authorize");
    provider.TokenEndpoint = server.Url("/token");
    provider.DeviceEndpoint = server.Url("/device");
    provider.RevocationEndpoint = server.Url("/revoke");
    provider.Scope = "mail";
  }
  test::TOAuthServer server{"client-1", "alice@example.com"};
  TOAuthProvider provider;
  const long long now = std::time(nullptr);
};

TEST_F(OAuthServerTest, CodeWithPkceThroughTheLoopbackThenRefreshAndRevocation) {
  TLoopbackRedirect loopback;
  ASSERT_TRUE(loopback.Listen());
  const TPkce pkce = MakePkce();
  const std::string state = RandomUrlToken(16);
  auto redirect = std::async(std::launch::async, [&] { return loopback.Wait(state, 20000); });
  const std::string page = test::TOAuthServer::BrowserGet(
      AuthorizationUrl(provider, loopback.RedirectUri(), state, pkce.Challenge));
  const TRedirectResult result = redirect.get();
  ASSERT_EQ(result.Error, "") << server.Log();
  EXPECT_THAT(page, HasSubstr("已登录"));
  // Served once: nobody listens any more.
  EXPECT_EQ(test::TOAuthServer::BrowserGet(loopback.RedirectUri()), "");

  // The wrong verifier is refused; the code is spent then, as servers do.
  const TTokenAnswer wrong = ExchangeAuthorizationCode(provider, result.Code, "x" + pkce.Verifier,
                                                       loopback.RedirectUri(), now);
  EXPECT_FALSE(wrong.Ok);
  EXPECT_EQ(wrong.Error, "invalid_grant");

  TLoopbackRedirect again;
  ASSERT_TRUE(again.Listen());
  auto second = std::async(std::launch::async, [&] { return again.Wait(state, 20000); });
  test::TOAuthServer::BrowserGet(
      AuthorizationUrl(provider, again.RedirectUri(), state, pkce.Challenge));
  const TTokenAnswer tokens = ExchangeAuthorizationCode(provider, second.get().Code, pkce.Verifier,
                                                        again.RedirectUri(), now);
  ASSERT_TRUE(tokens.Ok) << tokens.Cause();
  EXPECT_FALSE(tokens.AccessToken.empty());
  EXPECT_FALSE(tokens.RefreshToken.empty());
  EXPECT_EQ(tokens.ExpiresAt, now + 3600);

  const TTokenAnswer refreshed = RefreshAccessToken(provider, tokens.RefreshToken, now);
  ASSERT_TRUE(refreshed.Ok) << refreshed.Cause();
  EXPECT_NE(refreshed.AccessToken, tokens.AccessToken);

  std::string error;
  ASSERT_TRUE(RevokeToken(provider, tokens.RefreshToken, &error)) << error;
  const TTokenAnswer refused = RefreshAccessToken(provider, tokens.RefreshToken, now);
  EXPECT_FALSE(refused.Ok);
  EXPECT_EQ(refused.Cause(), "invalid_grant: Token has been revoked.");
}

TEST_F(OAuthServerTest, DeviceGrantPollsUntilApproved) {
  const TDeviceAuthorization device = StartDeviceAuthorization(provider, now);
  ASSERT_TRUE(device.Ok) << device.Error;
  EXPECT_EQ(device.IntervalSeconds, 1);
  EXPECT_EQ(PollDeviceToken(provider, device.DeviceCode, now).Error, "authorization_pending");
  test::TOAuthServer::BrowserGet(device.VerificationUri + "?user_code=" + device.UserCode);
  const TTokenAnswer tokens = PollDeviceToken(provider, device.DeviceCode, now);
  ASSERT_TRUE(tokens.Ok) << tokens.Cause();
  EXPECT_FALSE(tokens.RefreshToken.empty());

  provider.TokenEndpoint = "http://pop.example.com/token";  // plain http off this machine
  EXPECT_THAT(RefreshAccessToken(provider, "r", now).Error, HasSubstr("not an https address"));
}

}  // namespace
}  // namespace pelorix
