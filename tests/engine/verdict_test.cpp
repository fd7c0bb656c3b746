#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "engine/message_file.h"
#include "engine/verdict.h"
#include "mime/mail_message.h"
#include "test_home.h"

namespace pelorix {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::unique_ptr<TMailMessage> Message(std::vector<std::string> lines) {
  auto m = std::make_unique<TMailMessage>();
  m->Headers.Lines = std::move(lines);
  m->ProcessHeaders();
  return m;
}

struct TCase {
  TFilterLists lists;
  TJudgeInput in;
  test::TTempHome home;
  TReportLines report;
  TCase() {
    in.User = "bob";
    in.Size = 2000;
    in.Lists = &lists;
    in.Home = home.Path();
  }
  TVerdict Judge(const TMailMessage& m) {
    in.Message = &m;
    return pelorix::Judge(in, report);
  }
};

const std::vector<std::string> kPlain = {"From: Alice <alice@example.org>", "To: bob@example.org",
                                         "Subject: hello"};

TEST(ListMatch, SenderEntriesIgnoreCaseButKeepTheirBlanks) {
  TCase c;
  c.lists.Sender = {"SALE"};
  auto m = Message({"From: Big sale<x@shop.example>", "To: bob@example.org"});
  auto v = c.Judge(*m);
  EXPECT_TRUE(v.Spam);
  EXPECT_EQ(v.Reason, "发件人地址特征串\"SALE\"");

  // Blanks at the ends of an entry are part of the pattern.
  TCase d;
  d.lists.Sender = {"SALE "};
  auto tight = Message({"From: info@sale.example", "To: bob@example.org"});
  v = d.Judge(*tight);
  EXPECT_FALSE(v.Spam) << v.SenderText;
  EXPECT_EQ(v.Reason, "");
  EXPECT_TRUE(d.Judge(*m).Spam) << "composed as \"Big sale <...>\"";
}

TEST(MissingAddress, NoSenderIsSpamOnlyWithTheSwitch) {
  TCase c;
  auto m = Message({"To: bob@example.org", "Subject: x"});
  EXPECT_FALSE(c.Judge(*m).Spam);
  c.in.CheckNoMsg = true;
  auto v = c.Judge(*m);
  EXPECT_TRUE(v.Spam);
  EXPECT_TRUE(v.BlacklistHit);
  EXPECT_EQ(v.Reason, "无收、发件人地址,");
  EXPECT_EQ(VerdictLine(v, false), "!! 无收、发件人地址,存在于黑名单中。");
  EXPECT_EQ(VerdictLine(v, true),
            "该信息已从服务器上删除！原因: 无收、发件人地址,存在于黑名单中。");
}

TEST(MissingAddress, TheSenderListReasonReplacesIt) {
  TCase c;
  c.in.CheckNoMsg = true;
  c.lists.Sender = {"spammer"};
  auto m = Message({"From: spammer@bad.example", "Subject: no recipient"});
  auto v = c.Judge(*m);
  EXPECT_TRUE(v.Spam);
  EXPECT_EQ(v.Reason, "发件人地址特征串\"spammer\"");
}

TEST(MissingAddress, ToFollowedOnlyByBlanksIsNotMissing) {
  TCase c;
  c.in.CheckNoMsg = true;
  auto m = Message({"From: a@example.org", "To:   "});
  auto v = c.Judge(*m);
  EXPECT_EQ(v.Scan.ToValue, "   ");
  EXPECT_FALSE(v.BlacklistHit);
  auto bare = Message({"From: a@example.org", "To:"});
  EXPECT_TRUE(c.Judge(*bare).BlacklistHit);
}

TEST(HeaderScan, RecipientAndReceivedLinesAreGatheredInOrder) {
  auto scan =
      ScanHeaders({"Received: from mx.example.org ([61.135.1.2])", "\tby pop.example",
                   "Delivered-To: bob@example.org", "Reply-To: replies@example.org",
                   "In-Reply-To: <x@y>", "To: Bob <bob@example.org>", "X-Note: Received: by relay"},
                  {"relay"});
  EXPECT_THAT(scan.RecipientLines, ElementsAre("Delivered- bob@example.org", "replies@example.org",
                                               "In- <x@y>", "Bob <bob@example.org>"));
  // Lines holding "Reply-" do not set the To value.
  EXPECT_EQ(scan.ToValue, " Bob <bob@example.org>");
  EXPECT_THAT(scan.ReceivedLines,
              ElementsAre(" mx.example.org ([61.135.1.2])", "X-Note: Received: by relay"));
  EXPECT_EQ(scan.RelayMatch, "relay");
}

TEST(Recipients, MisdeliveredMailIsSpamOnlyWithCheckDeliver) {
  TCase c;
  auto other = Message({"From: a@example.org", "To: carol@example.org"});
  auto v = c.Judge(*other);
  EXPECT_TRUE(v.NotAddressedToMe);
  EXPECT_FALSE(v.Spam);
  c.in.CheckDeliver = true;
  v = c.Judge(*other);
  EXPECT_TRUE(v.Spam);
  EXPECT_FALSE(v.BlacklistHit);
  EXPECT_EQ(VerdictLine(v, false), "!! 这封信投递错误！");

  // The user name inside the line, or an accepted entry, makes it mine.
  auto mine = Message({"From: a@example.org", "To: bobby@example.org"});
  EXPECT_FALSE(c.Judge(*mine).Spam);
  c.lists.Recipient = {"CAROL@"};
  EXPECT_FALSE(c.Judge(*other).Spam);

  // No recipient line at all is never addressed to me.
  auto none = Message({"From: a@example.org"});
  EXPECT_TRUE(c.Judge(*none).NotAddressedToMe);
  EXPECT_TRUE(c.Judge(*none).Spam);
  // User names compare with exact case.
  EXPECT_TRUE(NotAddressedToMe({"BOB@example.org"}, "bob", {}));
  EXPECT_TRUE(NotAddressedToMe({"x@example.org"}, "", {}));
}

TEST(LengthRules, OperatorsNumbersAndUnknownSizes) {
  EXPECT_TRUE(LengthRuleMatches("<=1000", 1000));
  EXPECT_TRUE(LengthRuleMatches("<=1000", -1));
  EXPECT_FALSE(LengthRuleMatches("<=1000", 1001));
  EXPECT_FALSE(LengthRuleMatches(">=0", -1));
  EXPECT_TRUE(LengthRuleMatches(">=0", 0));
  EXPECT_FALSE(LengthRuleMatches("=>500", 500));
  EXPECT_TRUE(LengthRuleMatches("==  500", 500));
  EXPECT_TRUE(LengthRuleMatches("  ==500  ", 500));
  EXPECT_TRUE(LengthRuleMatches("==abc", 0));  // not a number reads as 0
  EXPECT_FALSE(LengthRuleMatches("", 0));
  EXPECT_FALSE(LengthRuleMatches("==", 1));

  TCase c;
  c.lists.Length = {"=>1", ">=2000"};
  auto m = Message(kPlain);
  auto v = c.Judge(*m);
  EXPECT_TRUE(v.Spam);
  EXPECT_EQ(v.Reason, "信件长度:\"2000\"");  // the size, not the rule
}

TEST(Rules, FirstHitWinsInTheFixedOrder) {
  TCase c;
  c.lists.Sender = {"relay.bad"};
  c.lists.Subject = {"HELLO"};
  c.lists.Length = {">=1"};
  auto relayed = Message({"Received: from relay.bad.example [10.0.0.1]", "From: a@example.org",
                          "To: bob@example.org", "Subject: hello"});
  auto v = c.Judge(*relayed);
  EXPECT_EQ(v.Reason, "转信网站 relay.bad");
  // Rule 2 comes first when the sender matches too.
  auto both = Message(
      {"Received: from relay.bad.example [10.0.0.1]", "From: x@relay.bad", "To: bob@example.org"});
  EXPECT_EQ(c.Judge(*both).Reason, "发件人地址特征串\"relay.bad\"");
  c.lists.Sender.clear();
  EXPECT_EQ(c.Judge(*relayed).Reason, "信件长度:\"2000\"");
  c.lists.Length.clear();
  EXPECT_EQ(c.Judge(*relayed).Reason, "主题标识特征串\"HELLO\"");
}

TEST(ContentSignatures, OnlyTheWholeMessageIsSearched) {
  TCase c;
  c.lists.Content = {"virus.exe"};
  auto m = Message(kPlain);
  c.in.BodyLines = {"line one", "附件：virus.exe[application/octet-stream]"};
  EXPECT_FALSE(c.Judge(*m).Spam);  // header check: no body text
  c.in.WholeMessage = true;
  auto v = c.Judge(*m);
  EXPECT_TRUE(v.Spam);
  EXPECT_EQ(v.Reason, "信息标识特征串\"virus.exe\"");
  c.lists.Content = {"one\r\n附件"};  // lines are joined by CR LF
  EXPECT_TRUE(c.Judge(*m).Spam);
}

TEST(Report, TheMessageBlockHasItsLinesInOrder) {
  TCase c;
  c.in.Size = 45;
  c.in.DateText = "2026-12-08 09:00:00";
  c.in.WholeMessage = true;
  c.in.BodyLines = {"正文"};
  auto m = Message({"Received: from a ([1.2.3.4])", "Received: from b ([5.6.7.8])",
                    "From: 张三 <z@example.cn>", "To: bob@example.org", "Cc: x@y",
                    "Subject: =?GB2312?B?u+HS6Q==?=", "Message-ID: <id1@example.cn>",
                    "Content-Type: text/plain; charset=gb2312", "X-Priority: 1"});
  auto v = c.Judge(*m);
  EXPECT_EQ(v.SubjectText, "会议");
  const std::vector<std::string> expected = {
      std::string(50, '-'),
      "发信人:" + m->From.Text(),
      "主题: 会议",
      "信息标识:<id1@example.cn>",
      "长度: 045字节",
      "时间: 2026-12-08 09:00:00",
      "文本类型:" + m->CharSet + "[" + m->ContentType + "]",
      "此信的关注程度：最高",
      "",
      "该信件的发件途径如下: ",
      "   第 1个发件者： b ([5.6.7.8])",
      "   真实网络地址: ",
      std::string(30, ' ') + "↓ ",
      "   第 2 个传递者： a ([1.2.3.4])",
      "   真实网络地址: ",
      std::string(30, ' ') + "↓ ",
      "",
      "该信件的收件人有以下人员: ",
      "",
      "收件人  (1):bob@example.org",
      "",
      "信件内文:",
      "正文",
  };
  EXPECT_EQ(c.report.Lines, expected);
  EXPECT_EQ(v.SenderRoute, "→→");  // no table file: empty locations
  EXPECT_EQ(v.RecipientsText, "→bob@example.org");
}

TEST(Report, TheLengthLineHasAtLeastThreeDigits) {
  // The record keeps the plain size; the report pads its digits, also
  // those of an unknown size.
  const std::vector<std::pair<long long, std::string>> sizes = {{45, "长度: 045字节"},
                                                                {0, "长度: 000字节"},
                                                                {12345, "长度: 12345字节"},
                                                                {-1, "长度: -001字节"}};
  auto m = Message(kPlain);
  for (const auto& [size, line] : sizes) {
    TCase c;
    c.in.Size = size;
    c.Judge(*m);
    EXPECT_THAT(c.report.Lines, Contains(line)) << size;
  }
}

TEST(Priority, DigitsAndWords) {
  auto m = Message({"X-Priority: 5"});
  EXPECT_EQ(PriorityDigit(*m), "1");
  EXPECT_EQ(PriorityWord("1"), "最低");
  EXPECT_EQ(PriorityWord("9"), "普通");
  EXPECT_EQ(PriorityDigit(*Message({})), "3");
}

}  // namespace
}  // namespace pelorix
