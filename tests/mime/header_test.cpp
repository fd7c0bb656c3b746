#include <gtest/gtest.h>

#include "mime/mail_date.h"
#include "mime/mail_message.h"
#include "test_lines.h"

namespace pelorix {
namespace {

using testing::TVectorLineSource;

// Reads header lines (terminated by an empty line) into a fresh message.
void ReadHeaderLines(TMailMessage& msg, std::vector<std::string> lines) {
  lines.emplace_back("");
  TVectorLineSource src(std::move(lines));
  EXPECT_EQ(msg.ReadHeader(src, ""), "");
}

TEST(HeaderList, LookupIgnoresCaseUnfoldsAndTrims) {
  THeaderList h;
  h.Lines = {
      "Received: from a", "\tby b",          "SUBJECT:   Hello", "\tfolded world  ", "  again",
      "X-Empty:",         "Subject: second", "NoColonLine",      " x-fake: y"};
  EXPECT_EQ(h.Values("subject"), "Hello folded world again");
  EXPECT_EQ(h.Values("Received"), "from a by b");
  EXPECT_EQ(h.Values("X-Empty"), "");
  EXPECT_EQ(h.Values("Missing"), "");
  EXPECT_EQ(h.Values("x-fake"), "");  // a continuation line is no header of its own
}

TEST(HeaderList, FoldsLongLinesAtBlanksForSending) {
  THeaderList h;
  std::string words;
  for (int i = 0; i < 40; ++i)
    words += " word" + std::to_string(i);
  h.Lines = {"Subject:" + words, "Short: yes", "X-Long: " + std::string(120, 'a') + " tail"};
  auto folded = h.Folded(78);
  std::string rejoinedSubject;
  std::size_t i = 0;
  for (; i < folded.size() && folded[i] != "Short: yes"; ++i) {
    EXPECT_LE(folded[i].size(), 78u) << folded[i];
    if (i > 0) {
      EXPECT_EQ(folded[i][0], ' ') << folded[i];
    }
    rejoinedSubject += folded[i];
  }
  EXPECT_EQ(rejoinedSubject, h.Lines[0]);  // folding only inserts line breaks
  ASSERT_LT(i + 2, folded.size());
  // An unbreakable word stays whole; the break comes at the next blank.
  EXPECT_EQ(folded[i + 1], "X-Long: " + std::string(120, 'a'));
  EXPECT_EQ(folded[i + 2], " tail");
  // Reading the folded lines gives the value back.
  THeaderList back;
  back.Lines = folded;
  EXPECT_EQ(back.Values("Subject"), h.Values("Subject"));
}

TEST(HeaderList, SetValueReplacesWithContinuationsOrAppends) {
  THeaderList h;
  h.Lines = {"To: a@x", "Subject: old", " continued", "X-A: 1"};
  h.SetValue("subject", "new");
  EXPECT_EQ(h.Lines, (std::vector<std::string>{"To: a@x", "subject: new", "X-A: 1"}));
  h.SetValue("Cc", "c@x");
  EXPECT_EQ(h.Lines.back(), "Cc: c@x");
  h.SetValue("To", "");
  EXPECT_EQ(h.Values("To"), "");
  EXPECT_EQ(h.Lines.size(), 3u);
}

TEST(ReadHeader, StopsAtTerminatorKeepsNonEmptyLinesAndReturnsTheEndLine) {
  TMailMessage msg;
  TVectorLineSource src({"Subject: a", "", "X-After: 1", ".", "body"});
  EXPECT_EQ(msg.ReadHeader(src, "."), ".");
  EXPECT_EQ(msg.Headers.Lines, (std::vector<std::string>{"Subject: a", "X-After: 1"}));
  EXPECT_EQ(src.Remaining(), 1u);

  TMailMessage top;  // empty terminator: an empty line or "." ends the header
  TVectorLineSource dot({"Subject: b", ".", "rest"});
  EXPECT_EQ(top.ReadHeader(dot, ""), ".");
  EXPECT_EQ(top.Subject, "b");
  EXPECT_EQ(dot.Remaining(), 1u);
}

TEST(ReadHeader, ConnectionFailureStillDerivesWhatArrived) {
  TMailMessage msg;
  TVectorLineSource src({"Subject: partial", "From: a@b.c"});
  EXPECT_THROW(msg.ReadHeader(src, ""), EPelorixError);
  EXPECT_EQ(msg.Subject, "partial");
  EXPECT_EQ(msg.From.Address, "a@b.c");
}

TEST(ReadHeader, HeaderFloodIsCutAtTheLimit) {
  TMailMessage msg;
  msg.Limits.MaxHeaderBytes = 4096;
  std::vector<std::string> lines{"Subject: flood"};
  for (int i = 0; i < 5000; ++i)
    lines.push_back("X-Junk: " + std::to_string(i));
  ReadHeaderLines(msg, lines);
  EXPECT_TRUE(msg.Truncated);
  EXPECT_LT(msg.Headers.Lines.size(), 200u);
  EXPECT_EQ(msg.Subject, "flood");
}

TEST(ProcessHeaders, DerivesEveryField) {
  TMailMessage msg;
  ReadHeaderLines(msg, {
                           "From: Li Lei <li.lei@example.net>",
                           "Sender: list-owner@example.org",
                           "To: a@x.com, \"B, C\" <bc@x.com>",
                           "Cc: =?ISO-8859-1?Q?Andr=E9?= <andre@x.fr>",
                           "Reply-To: =?ISO-8859-1?Q?X?= <reply@x.com>",
                           "Return-Receipt-To: receipt@x.com",
                           "Message-Id: <id.1@x.com>",
                           "Organization: =?ISO-8859-1?Q?Org?=",
                           "References: <r1@x> <r2@x>",
                           "Newsgroups: comp.mail, , alt.test ",
                           "Date: Tue, 08 Dec 2026 09:15:00 +0800 (CST)",
                           "Content-Type: text/plain;",
                           "\tcharset=\"gb2312\"; format=flowed",
                           "Content-Transfer-Encoding: 8bit",
                           "Content-Disposition: inline",
                       });
  EXPECT_EQ(msg.From.Name, "Li Lei");
  EXPECT_EQ(msg.From.Text(), "Li Lei <li.lei@example.net>");
  EXPECT_EQ(msg.Sender.Address, "list-owner@example.org");
  ASSERT_EQ(msg.Recipients.Count(), 2u);
  EXPECT_EQ(msg.Recipients.Items[1].Name, "B, C");
  ASSERT_EQ(msg.CCList.Count(), 1u);
  EXPECT_EQ(msg.CCList.Items[0].Name, "André");
  ASSERT_EQ(msg.ReplyTo.Count(), 1u);
  EXPECT_EQ(msg.ReplyTo.Items[0].Name, "=?ISO-8859-1?Q?X?=");  // Reply-To is not decoded
  EXPECT_EQ(msg.ReceiptRecipient.Address, "receipt@x.com");
  EXPECT_EQ(msg.MessageId, "<id.1@x.com>");
  EXPECT_EQ(msg.Organization, "=?ISO-8859-1?Q?Org?=");
  EXPECT_EQ(msg.References, "<r1@x> <r2@x>");
  EXPECT_EQ(msg.NewsGroups, (std::vector<std::string>{"comp.mail", "alt.test"}));
  EXPECT_EQ(msg.Date, ParseMailDate("Tue, 08 Dec 2026 01:15:00 +0000"));
  EXPECT_EQ(msg.ContentType, "text/plain; charset=\"gb2312\"; format=flowed");
  EXPECT_EQ(msg.CharSet, "GB2312");
  EXPECT_EQ(msg.ContentTransferEncoding, "8bit");
  EXPECT_EQ(msg.ContentDisposition, "inline");
}

TEST(ProcessHeaders, FoldedSubjectAndEncodedWords) {
  TMailMessage msg;
  ReadHeaderLines(msg, {"Subject: first half", "\tsecond half"});
  EXPECT_EQ(msg.Subject, "first half second half");
  EXPECT_EQ(msg.Headers.Lines.size(), 2u);  // continuation kept as its own line

  msg.Clear();
  ReadHeaderLines(msg, {"Subject: =?iso-8859-1?q?Caf=E9_ol=E9?= ok"});
  EXPECT_EQ(msg.Subject, "Café olé ok");

  msg.Clear();  // gb2312 B words are decoded too, to UTF-8
  ReadHeaderLines(msg, {"Subject: =?gb2312?B?1tDOxA==?="});
  EXPECT_EQ(msg.Subject, "中文");
}

TEST(ProcessHeaders, BadQEscapeOrMalformedFromNeverEmptiesTheMessage) {
  TMailMessage msg;
  ReadHeaderLines(msg, {"From: <service@bank.example> support@bank.example",
                        "Subject: =?ISO-8859-1?Q?bad=ZZescape?=", "To: victim@example.net",
                        "Message-Id: <m@x>", "X-Priority: 2"});
  EXPECT_TRUE(msg.From.Raw);
  EXPECT_EQ(msg.From.Text(), "<service@bank.example> support@bank.example");
  EXPECT_EQ(msg.Subject, "=?ISO-8859-1?Q?bad=ZZescape?=");
  ASSERT_EQ(msg.Recipients.Count(), 1u);
  EXPECT_EQ(msg.Recipients.Items[0].Address, "victim@example.net");
  EXPECT_EQ(msg.MessageId, "<m@x>");
  EXPECT_EQ(msg.Priority, TMessagePriority::mpHigh);
}

TEST(ProcessHeaders, Raw8BitHeadersReadAsUtf8OrGb18030) {
  TMailMessage msg;
  ReadHeaderLines(msg, {"Subject: \xD6\xD0\xCE\xC4", "Organization: caf\xC3\xA9",
                        "From: \xD5\xC5\xC8\xFD <zs@x.cn>"});
  EXPECT_EQ(msg.Subject, "中文");
  EXPECT_EQ(msg.Organization, "café");
  EXPECT_EQ(msg.From.Name, "张三");
  EXPECT_EQ(msg.Headers.Lines[0], "Subject: \xD6\xD0\xCE\xC4");  // raw bytes kept
}

TEST(ProcessHeaders, PriorityMapping) {
  struct Case {
    std::vector<std::string> lines;
    TMessagePriority expected;
  } cases[] = {
      {{"X-Priority: 1 (Highest)"}, TMessagePriority::mpHighest},
      {{"X-Priority: 2"}, TMessagePriority::mpHigh},
      {{"X-Priority: 4"}, TMessagePriority::mpLow},
      {{"X-Priority: 5 (Lowest)"}, TMessagePriority::mpLowest},
      {{"X-Priority:"}, TMessagePriority::mpNormal},
      {{"X-Priority: high"}, TMessagePriority::mpNormal},
      {{"X-Priority: 0"}, TMessagePriority::mpNormal},
      {{"X-Priority: 9"}, TMessagePriority::mpNormal},
      {{"Priority: URGENT"}, TMessagePriority::mpHigh},
      {{"Priority: non-urgent"}, TMessagePriority::mpLow},
      {{"Priority: non-priority"}, TMessagePriority::mpLow},
      {{"Priority: normal", "X-Priority: 1"}, TMessagePriority::mpNormal},
      {{"Priority:", "X-Priority: 1"}, TMessagePriority::mpHighest},
      {{}, TMessagePriority::mpNormal},
  };
  for (const auto& c : cases) {
    TMailMessage msg;
    ReadHeaderLines(msg, c.lines);
    EXPECT_EQ(msg.Priority, c.expected) << (c.lines.empty() ? "" : c.lines[0]);
  }
}

TEST(ProcessHeaders, ReceiptRecipientFallsBackToReturnReceiptTo) {
  TMailMessage msg;
  ReadHeaderLines(msg, {"Disposition-Notification-To:", "Return-Receipt-To: r@x.com"});
  EXPECT_EQ(msg.ReceiptRecipient.Address, "r@x.com");
  msg.Clear();
  ReadHeaderLines(msg, {"Return-Receipt-To: r@x.com", "Disposition-Notification-To: d@x.com"});
  EXPECT_EQ(msg.ReceiptRecipient.Address, "d@x.com");
}

TEST(Clear, EmptiesEveryFieldAndMessageIdStaysEmptyWithoutHeader) {
  TMailMessage msg;
  ReadHeaderLines(msg, {"Message-Id: <a@b>", "Subject: s", "From: f@x", "To: t@x", "X-Priority: 1",
                        "Date: 8 Dec 2026 10:00 +0000", "Content-Type: text/plain; charset=utf-8"});
  msg.Body.push_back("line");
  msg.MessageParts.push_back(std::make_unique<TTextPart>());
  msg.Clear();
  EXPECT_TRUE(msg.Headers.Lines.empty());
  EXPECT_TRUE(msg.MessageId.empty());
  EXPECT_TRUE(msg.Subject.empty());
  EXPECT_TRUE(msg.From.Address.empty());
  EXPECT_EQ(msg.Recipients.Count(), 0u);
  EXPECT_EQ(msg.Date, 0);
  EXPECT_EQ(msg.Priority, TMessagePriority::mpNormal);
  EXPECT_TRUE(msg.CharSet.empty());
  EXPECT_TRUE(msg.Body.empty());
  EXPECT_TRUE(msg.MessageParts.empty());

  ReadHeaderLines(msg, {"Subject: no id here"});
  EXPECT_TRUE(msg.MessageId.empty());
  EXPECT_EQ(msg.Subject, "no id here");
}

}  // namespace
}  // namespace pelorix
