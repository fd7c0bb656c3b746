// The letter window's reply, saved letter, SMTP send and version reading.

#include "engine/reply.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/mail_list.h"
#include "engine/version_reply.h"
#include "store/settings_store.h"
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

TEST(LetterFiles, CaptionsSaveAndLoad) {
  TMailRow row;
  row.Items[mcSender] = "张三 <zs@example.cn>";
  row.Items[mcSubject] = "周报";
  row.Items[mcPriority] = "5";
  row.Items[mcMessageKey] = "<id.1@host>";
  const auto c = LetterCaptions(row);
  EXPECT_EQ(c.From, "发件人：张三 <zs@example.cn>");
  EXPECT_EQ(c.Priority, "优先级：最高");
  row.Items[mcPriority] = "x";
  EXPECT_EQ(LetterCaptions(row).Priority, "优先级：普通");

  test::TTempHome home;
  const auto file = home.Path() / "周报.txt";
  ASSERT_TRUE(WriteLetterText(file, c, {"正文", ""}));
  std::string expected;
  for (const auto* caption : c.InOrder())
    expected += *caption + "\r\n";
  expected += "\r\n\r\n" + std::string(48, '-') + "\r\n正文\r\n\r\n\r\n";
  EXPECT_EQ(test::ReadAll(file), ToAnsi(expected));

  EXPECT_EQ(LetterSavePath(" old.txt "), std::filesystem::path("old.txt.txt"));
  EXPECT_FALSE(LetterSavePath("  "));

  // Neither body file: nothing. Only the deleted one: read from there.
  EXPECT_FALSE(LoadLetterTexts(home.Path(), row.Items[mcMessageKey]));
  const auto k = CleanFileName(row.Items[mcMessageKey]);
  const auto deleted = home.Tmp() / "deleted";
  test::WriteAll(deleted / k, ToAnsi("<p>你好<br>world\r\n"));
  test::WriteAll(deleted / (k + ".msg"), ToAnsi("Subject: 周报\r\n"));
  const auto texts = LoadLetterTexts(home.Path(), row.Items[mcMessageKey]);
  ASSERT_TRUE(texts);
  EXPECT_THAT(texts->Html, ElementsAre("<p>你好<br>world"));
  EXPECT_THAT(texts->Text, ElementsAre("", "你好", "world"));
  EXPECT_THAT(texts->Prop, ElementsAre("Subject: 周报"));
  EXPECT_TRUE(std::filesystem::exists(deleted / (k + ".txt")));
  EXPECT_FALSE(LoadLetterTexts(home.Path(), ""));  // never the tmp folder itself
}

TEST(SmtpSettings, DefaultsAndProblems) {
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

  s.Port = "2x5";
  EXPECT_THAT(SmtpSettingsProblem(s), HasSubstr("2x5"));
  s.Port = "70000";
  EXPECT_THAT(SmtpSettingsProblem(s), Not(IsEmpty()));
  s.Port = "25";
  s.Server = " ";
  std::vector<std::string> seen;
  EXPECT_FALSE(SendReply(s, {}, [&](const std::string& t) { seen.push_back(t); }));
  ASSERT_EQ(seen.size(), 1u);  // nothing tried, only the reason
  EXPECT_EQ(seen[0], SmtpSettingsProblem(s));
}

class SendReplyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const auto why = test::TAioSmtpServer::SkipReason(); !why.empty())
      GTEST_SKIP() << why;
    server.Start();
    settings.AuthType = 1;
    settings.Server = "127.0.0.1";
    settings.Port = std::to_string(server.Port());
    settings.Account = "alice";
    settings.Password = "secret";
    settings.MyEmail = "alice@example.cn";
    send.Sendto = " bob@example.cn ";
    send.Subject = "Re: 周报";
    send.Lines = {"李, 您好！", ".", "| 引用"};
  }
  bool Send() {
    return SendReply(
        settings, send, [&](const std::string& t) { statuses.push_back(t); }, &error);
  }
  test::TAioSmtpServer server{"alice", "secret"};
  TSmtpSettings settings;
  TReplySend send;
  std::vector<std::string> statuses;
  std::string error;
};

TEST_F(SendReplyTest, LoginAndArrivalWithStatusesInOrder) {
  send.CC = "carl@example.cn";
  ASSERT_TRUE(Send()) << error;
  std::vector<std::string> own;
  for (const auto& s : statuses)
    if (s == "正在连接服务器!" || s == "连接成功!" || s == "正在发送!" || s == "发送完毕器!" ||
        s == "断开服务器!" || s == "Encoding text" || s.rfind("Connecting to", 0) == 0)
      own.push_back(s);
  EXPECT_THAT(own, ElementsAre("正在连接服务器!", "Connecting to 127.0.0.1.", "连接成功!",
                               "正在发送!", "Encoding text", "发送完毕器!", "断开服务器!"));
  EXPECT_EQ(statuses.back(), "断开服务器!");

  auto received = server.Received();
  for (int i = 0; i < 250 && received.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    received = server.Received();
  }
  ASSERT_EQ(received.size(), 1u) << server.Log();
  EXPECT_EQ(received[0].Login, "alice");
  EXPECT_EQ(received[0].MailFrom, "alice@example.cn");
  EXPECT_THAT(received[0].RcptTos, ElementsAre("bob@example.cn", "carl@example.cn"));
  EXPECT_THAT(received[0].Content, HasSubstr("Subject: Re: =?UTF-8?B?5ZGo5oql?=\r\n"));
  EXPECT_THAT(received[0].Content, HasSubstr("\r\n\r\n李, 您好！\r\n.\r\n| 引用\r\n"));
}

TEST_F(SendReplyTest, WrongPasswordFailsAndCopyWithoutAtIsDropped) {
  settings.Password = "wrong";
  send.CC = "not an address";
  EXPECT_EQ(BuildReplyMessage(settings, send).CCList.Items.size(), 0u);
  EXPECT_FALSE(Send());
  EXPECT_THAT(error, ::testing::StartsWith("535 "));
  ASSERT_GE(statuses.size(), 2u);
  EXPECT_EQ(statuses[statuses.size() - 2], "发送失败！");
  EXPECT_EQ(statuses.back(), "断开服务器!");
  EXPECT_THAT(statuses, Not(::testing::Contains("发送完毕器!")));
  EXPECT_THAT(server.Received(), IsEmpty());
}

TEST(VersionReply, ReadingRules) {
  const double mine = *ProgramVersionNumber("1.2.3.4");
  EXPECT_DOUBLE_EQ(mine, 1.234);
  EXPECT_FALSE(ProgramVersionNumber("1,2.3.4"));

  auto a = ReadVersionReply("\r\n  9.99   |新版 adds IMAP\r\n", mine);
  EXPECT_EQ(a.Verdict, TVersionVerdict::NewVersion);
  EXPECT_EQ(a.Text, "新版 adds IMAP");
  const auto notice = VersionNotice(a, "https://home/");
  EXPECT_EQ(notice.Caption, "最新通告!");
  EXPECT_EQ(notice.Text, "The new version is 新版 adds IMAP\n下载地址: https://home/");

  EXPECT_EQ(ReadVersionReply("1.234  xsame", mine).Verdict, TVersionVerdict::NoNewVersion);
  EXPECT_EQ(ReadVersionReply("1.2340", mine).Verdict, TVersionVerdict::NoNewVersion);
  EXPECT_EQ(ReadVersionReply("abc.def text", mine).Verdict, TVersionVerdict::Unreadable);
  EXPECT_EQ(ReadVersionReply("inf", mine).Verdict, TVersionVerdict::Unreadable);
  EXPECT_EQ(ReadVersionReply("1,5", mine).Verdict, TVersionVerdict::Unreadable);
  // Empty: "1.00", newer only for a program below 1.
  EXPECT_EQ(ReadVersionReply(" \r\n", 0.9).Verdict, TVersionVerdict::NewVersion);
  EXPECT_EQ(ReadVersionReply("", 1.0).Verdict, TVersionVerdict::NoNewVersion);
  EXPECT_EQ(VersionNotice(ReadVersionReply("x", 1), "").Text, "No any new version can be found!");

  EXPECT_EQ(VersionFileAddress(" HTTPS://a/v.txt "), "HTTPS://a/v.txt");
  EXPECT_EQ(VersionFileAddress("Http://a/v.txt"), "Http://a/v.txt");
  EXPECT_EQ(VersionFileAddress("a.example/vermail.txt"), "http://a.example/vermail.txt");
}

}  // namespace
}  // namespace pelorix
