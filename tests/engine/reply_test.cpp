// The reply the letter window proposes, its files and settings, and the version file reading.

#include "engine/reply.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/version_reply.h"
#include "store/accounts.h"
#include "store/connection_security.h"
#include "store/oauth.h"
#include "store/oauth_account.h"
#include "store/settings_store.h"
#include "support/oauth_server.h"
#include "support/smtp_server.h"
#include "test_home.h"
#include "text/ansi.h"
#include "text/textutil.h"

namespace pelorix {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr std::time_t kToday = 1765180800;  // a fixed day; DateText formats it

std::vector<std::string> Quoted(const TReplyDraft& d) {
  std::vector<std::string> out;
  for (const auto& line : d.Lines)
    if (line.rfind("|", 0) == 0)
      out.push_back(line);
  return out;
}

TEST(ComposeReply, WholeLayoutNameAndAddress) {
  const auto d = ComposeReply("发件人：\"Zhang, San\" <zs@example.cn>", "标题：  会议  ",
                              {"第一行", "second"}, kToday);
  EXPECT_EQ(d.Sendto, "zs@example.cn");
  EXPECT_EQ(d.Subject, "Re: 会议");
  ASSERT_EQ(d.Lines.size(), 29u);
  EXPECT_EQ(d.Lines[0], "Zhang, San, 您好！");
  EXPECT_THAT(std::vector(d.Lines.begin() + 1, d.Lines.begin() + 6), Each(IsEmpty()));
  EXPECT_EQ(d.Lines[6], "         此致");
  EXPECT_EQ(d.Lines[7], "敬礼！");
  EXPECT_EQ(d.Lines[9], std::string(30, ' ') + DateText(kToday));
  EXPECT_EQ(d.Lines[11], std::string(62, '-'));
  EXPECT_EQ(d.Lines[12], " 以下是您的来信摘要：" + std::string(41, ' '));
  EXPECT_EQ(d.Lines[14], "| 第一行");
  EXPECT_EQ(d.Lines[15], "| second");
  EXPECT_EQ(d.Lines[24], "| ");
  EXPECT_EQ(d.Lines[25], "|     …… ……");
  EXPECT_EQ(d.Lines[26], std::string(61, '-'));
  EXPECT_EQ(d.Lines[27], " 您的来信摘要完毕" + std::string(44, ' '));
  EXPECT_EQ(d.Lines[28], std::string(61, '-'));
}

TEST(ComposeReply, SenderWithoutBracketsAndSubjectAlreadyReplied) {
  const auto plain = ComposeReply("发件人：nobody", "标题：Re: hi", {}, kToday);
  EXPECT_EQ(plain.Lines[0], ", 您好！");
  EXPECT_EQ(plain.Sendto, "nobody");
  EXPECT_EQ(plain.Subject, "Re: Re: hi");
  EXPECT_THAT(Quoted(plain), IsEmpty());  // no text: no summary lines

  const auto at = ComposeReply("发件人：li@example.cn", "标题：", {}, kToday);
  EXPECT_EQ(at.Lines[0], "li, 您好！");
  EXPECT_EQ(at.Sendto, "li@example.cn");
  EXPECT_EQ(at.Subject, "Re: ");
}

TEST(ComposeReply, SummaryStopsAtElevenLinesOrBeforeTheMarker) {
  const auto three = ComposeReply("发件人：a@b", "标题：s", {"1", "2", "3"}, kToday);
  std::vector<std::string> expected = {"| 1", "| 2", "| 3"};
  expected.insert(expected.end(), 8, "| ");
  expected.push_back("|     …… ……");
  EXPECT_EQ(Quoted(three), expected);

  const auto marked = ComposeReply("发件人：a@b", "标题：s",
                                   {"only", "x ########### 属性 ########## y", "z"}, kToday);
  EXPECT_THAT(Quoted(marked), ElementsAre("| only"));

  std::vector<std::string> twelve(12, "t");
  twelve[11] = "########### 属性 ##########";  // after the eleventh: still cut
  EXPECT_EQ(Quoted(ComposeReply("发件人：a@b", "标题：s", twelve, kToday)).size(), 12u);
}

TEST(LetterFiles, FallBackToDeletedAndNeverTheFolderItself) {
  test::TTempHome home;
  const std::string key = "<id.1@host>";
  EXPECT_FALSE(LoadLetterTexts(home.Path(), key));
  const auto k = CleanFileName(key);
  const auto deleted = home.Tmp() / "deleted";
  test::WriteAll(deleted / k, ToAnsi("<p>你好<br>world\r\n"));
  test::WriteAll(deleted / (k + ".msg"), ToAnsi("Subject: 周报\r\n"));
  const auto texts = LoadLetterTexts(home.Path(), key);
  ASSERT_TRUE(texts);
  EXPECT_THAT(texts->Html, ElementsAre("<p>你好<br>world"));
  EXPECT_THAT(texts->Text, ElementsAre("", "你好", "world"));
  EXPECT_THAT(texts->Prop, ElementsAre("Subject: 周报"));
  EXPECT_FALSE(LoadLetterTexts(home.Path(), " "));  // an empty key names tmp/ itself

  // After a header check only the header file is there: it alone is read.
  test::WriteAll(home.Tmp() / "h.msg", ToAnsi("Subject: 头\r\n"));
  const auto header = LoadLetterTexts(home.Path(), "h");
  ASSERT_TRUE(header);
  EXPECT_FALSE(header->HasBody);
  EXPECT_THAT(header->Prop, ElementsAre("Subject: 头"));
  EXPECT_TRUE(header->Text.empty());
}

TEST(SmtpSettings, DefaultsProblemsAndCopies) {
  test::TTempHome home;
  auto store = TSettingsStore::Open(home.Path());
  ASSERT_TRUE(store);
  TSettingsKey key;
  ASSERT_TRUE(OpenSettingsKey(*store, "Smtp", true, key));
  WriteTextValue(key, "SmtpServer", " mail.example.cn:2525 ");
  WriteTextValue(key, "account", " bob ");
  WriteTextValue(key, "MyEmail", "在这里填写您的Email地址");
  WriteNumberValue(key, "authType", 7);
  auto s = ReadSmtpSettings(*store);
  EXPECT_EQ(s.MyEmail, "bob@mail.example.cn");
  EXPECT_EQ(s.AuthType, 0);
  EXPECT_EQ(SmtpSettingsProblem(s), "");  // empty port: the standard one

  TReplySend send;
  send.Sendto = " a@b ";
  send.CC = "no copy";
  EXPECT_EQ(BuildReplyMessage(s, send).CCList.Items.size(), 0u);
  EXPECT_EQ(BuildReplyMessage(s, send).Recipients.Items.at(0).Address, "a@b");

  s.Port = "2x5";
  EXPECT_THAT(SmtpSettingsProblem(s), HasSubstr("2x5"));
  s.Port = "70000";
  EXPECT_THAT(SmtpSettingsProblem(s), Not(IsEmpty()));
  s.Port = "25";
  s.Server = " ";
  std::vector<std::string> seen;
  EXPECT_FALSE(SendReply(s, {}, [&](const std::string& t) { seen.push_back(t); }));
  EXPECT_THAT(seen, ElementsAre(SmtpSettingsProblem(s)));  // nothing tried
}

TEST(SmtpSettings, OAuthReplyUsesTheMailboxTokenRefreshedAndSaysWhenToSignInAgain) {
  if (auto why = test::TAioSmtpServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TTempHome home;
  auto store = TSettingsStore::Open(home.Path());
  // Tokens live two seconds: the reply always finds its token near its end.
  test::TOAuthServer oauth("client-1", "ann@example.com", 2);
  oauth.Start();
  test::TAioSmtpServer smtp;
  smtp.EnableOAuth2(oauth.Url("/introspect"));
  smtp.Start();
  TSettingsKey key;
  ASSERT_TRUE(OpenSettingsKey(*store, "OAuth\\custom", true, key));
  WriteTextValue(key, "ClientId", "client-1");
  WriteTextValue(key, "TokenEndpoint", oauth.Url("/token"));
  WriteTextValue(key, "DeviceEndpoint", oauth.Url("/device"));
  WriteTextValue(key, "RevocationEndpoint", oauth.Url("/revoke"));
  ASSERT_TRUE(SaveAccounts(*store, {{"pop.example.com", "ann@example.com", "", ""}}));
  const std::string account = "ann@example.com[pop.example.com]";
  ASSERT_TRUE(WriteAccountOAuthProvider(*store, account, "custom"));
  const TOAuthProvider provider = *FindOAuthProvider(*store, "custom");
  const auto device = StartDeviceAuthorization(provider, 0);
  test::TOAuthServer::BrowserGet(device.VerificationUriComplete);
  const auto signedIn = PollDeviceToken(provider, device.DeviceCode, 0);
  ASSERT_TRUE(signedIn.Ok) << signedIn.Cause();
  ASSERT_TRUE(
      WriteOAuthTokens(*store, account, {signedIn.RefreshToken, signedIn.AccessToken, 1, ""}));

  ASSERT_TRUE(OpenSettingsKey(*store, "Smtp", true, key));
  WriteTextValue(key, "SmtpServer", smtp.HostPort());
  WriteTextValue(key, "account", "ann@example.com");
  WriteTextValue(key, "MyEmail", "ann@example.com");
  WriteNumberValue(key, "authType", 1);
  ASSERT_TRUE(WriteSmtpMechanism(*store, "xoauth2"));
  ASSERT_TRUE(WriteSmtpSecurity(*store, "none"));
  TReplySend send;
  send.Sendto = "bob@example.com";
  send.Subject = "Re: hello";
  send.Lines = {"hi"};
  TSmtpSettings s = ReadSmtpSettings(*store);
  EXPECT_EQ(s.Password, "");  // taken by the send, not by the window
  std::string error;
  ASSERT_TRUE(SendReply(s, send, {}, &error)) << error << smtp.Log();
  ASSERT_EQ(smtp.Received().size(), 1u);
  EXPECT_EQ(smtp.Received()[0].Login, "ann@example.com");

  // A token the server refuses: its error payload is in the failure.
  TakeSmtpToken(s);
  EXPECT_NE(s.Password, signedIn.AccessToken);  // refreshed, the old one has ended
  TSmtpSettings stale = s;
  stale.Password = "expired-token";
  EXPECT_FALSE(SendReply(stale, send, {}, &error));
  EXPECT_THAT(error, HasSubstr("535")) << smtp.Log();
  EXPECT_THAT(error, HasSubstr("token expired or revoked (status invalid_token, scope mail)"));

  ASSERT_TRUE(RevokeToken(provider, ReadOAuthTokens(*store, account).Refresh, nullptr));
  EXPECT_FALSE(SendReply(ReadSmtpSettings(*store), send, {}, &error));
  EXPECT_THAT(error, HasSubstr("需要重新登录 (invalid_grant: Token has been revoked.)"));
}

TEST(SmtpSettings, SecurityAndPinFollowTheStoreAndThePort) {
  test::TTempHome home;
  auto store = TSettingsStore::Open(home.Path());
  ASSERT_TRUE(store);
  TSettingsKey key;
  ASSERT_TRUE(OpenSettingsKey(*store, "Smtp", true, key));
  WriteTextValue(key, "SmtpServer", "mail.example.cn");
  WriteTextValue(key, "Security", "bogus");
  ASSERT_TRUE(WriteTrustedCert(*store, "mail.example.cn:465", "AA:01"));
  ASSERT_TRUE(WriteTrustedCert(*store, "mail.example.cn:2465", "BB:02"));
  auto s = ReadSmtpSettings(*store);
  EXPECT_EQ(s.Security, "auto");  // not a mode: the default
  EXPECT_EQ(SmtpPort(s), 25);
  EXPECT_EQ(s.PinnedCertificate, "");

  // SSL/TLS without a port is the SMTPS port, and its pin applies.
  ASSERT_TRUE(WriteSmtpSecurity(*store, "TLS"));
  s = ReadSmtpSettings(*store);
  EXPECT_EQ(s.Security, "tls");
  EXPECT_EQ(SmtpPort(s), 465);
  EXPECT_EQ(s.PinnedCertificate, "AA:01");

  // A port in the server text names the server the pin belongs to.
  WriteTextValue(key, "SmtpServer", " mail.example.cn:2465 ");
  WriteTextValue(key, "smtpPort", "587");
  s = ReadSmtpSettings(*store);
  EXPECT_EQ(SmtpPort(s), 587);
  EXPECT_EQ(s.PinnedCertificate, "BB:02");
  s.Port = "x";
  EXPECT_EQ(SmtpPort(s), 0);
}

TEST(VersionReply, NumbersTextAndAddresses) {
  // The loopback suite covers the boxes; here what a server cannot show.
  const double mine = *ProgramVersionNumber("1.2.3.4");
  EXPECT_DOUBLE_EQ(mine, 1.234);
  EXPECT_FALSE(ProgramVersionNumber("1,2.3.4"));
  EXPECT_EQ(ReadVersionReply("1.2340 |x", mine).Verdict, TVersionVerdict::NoNewVersion);
  EXPECT_EQ(ReadVersionReply("inf", mine).Verdict, TVersionVerdict::Unreadable);
  EXPECT_EQ(ReadVersionReply("1,5", mine).Verdict, TVersionVerdict::Unreadable);
  EXPECT_EQ(ReadVersionReply("", 1.0).Verdict, TVersionVerdict::NoNewVersion);
  const auto gbk = ReadVersionReply("9.99   |" + ToAnsi("新版"), mine);
  EXPECT_EQ(gbk.Verdict, TVersionVerdict::NewVersion);
  EXPECT_EQ(gbk.Text, "新版");

  EXPECT_EQ(VersionFileAddress(" HTTPS://a/v.txt "), "HTTPS://a/v.txt");
  EXPECT_EQ(VersionFileAddress("Http://a/v.txt"), "Http://a/v.txt");
  EXPECT_EQ(VersionFileAddress("a.example/vermail.txt"), "http://a.example/vermail.txt");
}

}  // namespace
}  // namespace pelorix
