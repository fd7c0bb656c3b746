#include <gtest/gtest.h>

#include "mime/mail_date.h"
#include "mime/mail_message.h"
#include "test_lines.h"

namespace pelorix {
namespace {

using testing::CorpusPath;
using testing::Part;
using testing::ReadCorpusMessage;
using testing::ReadFileBytes;

TEST(Corpus, MultipartAlternative) {
  TMailMessage msg;
  ReadCorpusMessage(msg, "alternative.eml");
  EXPECT_EQ(msg.Subject, "Café week deals");
  EXPECT_EQ(msg.From.Text(), "Shop News <news@shop.example.com>");
  ASSERT_EQ(msg.Recipients.Count(), 1u);
  EXPECT_EQ(msg.Recipients.Items[0].Text(), "Li Lei <li.lei@example.net>");
  EXPECT_EQ(msg.MessageId, "<20261208091500.4711@shop.example.com>");
  EXPECT_EQ(msg.Date, ParseMailDate("Tue, 08 Dec 2026 01:15:00 GMT"));
  EXPECT_EQ(msg.Priority, TMessagePriority::mpNormal);
  EXPECT_EQ(msg.ContentType, "multipart/alternative; boundary=\"----=_Alt_0001\"");
  EXPECT_EQ(msg.Headers.Values("Received"),
            "from mail.shop.example.com (mail.shop.example.com [203.0.113.9]) by "
            "mx.example.net with ESMTP id 1A2B3C for <li.lei@example.net>; Tue, 08 Dec 2026 "
            "09:15:02 +0800");
  EXPECT_EQ(msg.Body,
            (std::vector<std::string>{"This is a multi-part message in MIME format.", ""}));
  ASSERT_EQ(msg.MessageParts.size(), 2u);
  auto* plain = Part<TTextPart>(msg, 0);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->ContentType, "text/plain; charset=us-ascii");
  EXPECT_EQ(plain->CharSet, "US-ASCII");
  EXPECT_EQ(plain->Body,
            (std::vector<std::string>{"Hello Li Lei,", ".hidden line starting with a dot",
                                      "Our week of coffee deals starts today.", ""}));
  auto* html = Part<TTextPart>(msg, 1);
  ASSERT_NE(html, nullptr);
  EXPECT_EQ(html->ContentTransfer, "quoted-printable");
  EXPECT_EQ(html->Body,
            (std::vector<std::string>{
                "<html><body><p>Hello Li Lei,</p><p style=\"color:red\">Our week of coffee "
                "deals starts today.</p></body></html>",
                ""}));
}

TEST(Corpus, NestedMixedWithAttachment) {
  TMailMessage msg;
  ReadCorpusMessage(msg, "nested_mixed.eml");
  EXPECT_EQ(msg.Subject, "本月报价");
  EXPECT_EQ(msg.From.Name, "王经理");
  EXPECT_EQ(msg.From.Address, "wang@trade.example.cn");
  EXPECT_EQ(msg.From.Text(), "\"王经理\" <wang@trade.example.cn>");
  ASSERT_EQ(msg.Recipients.Count(), 4u);
  EXPECT_EQ(msg.Recipients.Items[0].Address, "buyer@example.net");
  EXPECT_EQ(msg.Recipients.Items[1].Name, "Zhang, San");
  EXPECT_EQ(msg.Recipients.Items[2].Address, "p1@example.net");
  EXPECT_EQ(msg.Recipients.Items[3].Address, "p2@example.net");
  ASSERT_EQ(msg.CCList.Count(), 1u);
  EXPECT_EQ(msg.CCList.Items[0].Name, "Müller");
  ASSERT_EQ(msg.ReplyTo.Count(), 1u);
  EXPECT_EQ(msg.ReplyTo.Items[0].Address, "sales@trade.example.cn");
  EXPECT_EQ(msg.ReceiptRecipient.Address, "wang@trade.example.cn");
  EXPECT_EQ(msg.Organization, "Trade Co.");
  EXPECT_EQ(msg.MessageId, "<nested.42@trade.example.cn>");
  EXPECT_EQ(msg.Date, ParseMailDate("Tue, 8 Dec 2026 04:30:00 +0000"));
  EXPECT_TRUE(msg.Body.empty());

  ASSERT_EQ(msg.MessageParts.size(), 3u);
  auto* plain = Part<TTextPart>(msg, 0);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->CharSet, "GB2312");
  EXPECT_EQ(plain->Utf8Body(), (std::vector<std::string>{"请查收附件中的报价单。"}));
  auto* html = Part<TTextPart>(msg, 1);
  ASSERT_NE(html, nullptr);
  EXPECT_EQ(html->ContentTransfer, "8bit");
  EXPECT_EQ(html->Utf8Body(), (std::vector<std::string>{"<p>请查收附件中的报价单。</p>", ""}));
  auto* pdf = Part<TAttachmentPart>(msg, 2);
  ASSERT_NE(pdf, nullptr);
  EXPECT_EQ(pdf->FileName, "报价单.pdf");
  EXPECT_EQ(pdf->ContentDisposition.substr(0, 11), "attachment;");
  EXPECT_EQ(pdf->ExtraHeaders, std::vector<std::string>{"X-Attachment-Id: f_001"});
  EXPECT_EQ(ReadFileBytes(pdf->StoredFile), ReadFileBytes(CorpusPath("nested_mixed.pdf.bin")));
}

TEST(Corpus, Base64GbkWholeBody) {
  TMailMessage msg;
  ReadCorpusMessage(msg, "base64_gbk.eml");
  EXPECT_EQ(msg.CharSet, "GBK");
  EXPECT_EQ(msg.ContentTransferEncoding, "base64");
  EXPECT_EQ(msg.Date, ParseMailDate("Tue, 8 Dec 2026 02:00:00 +0000"));
  EXPECT_TRUE(msg.Body.empty());
  ASSERT_EQ(msg.MessageParts.size(), 1u);
  auto* text = Part<TTextPart>(msg, 0);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->CharSet, "GBK");
  EXPECT_EQ(
      text->Utf8Body(),
      (std::vector<std::string>{"您好：", "", "这是一封测试邮件，正文用 GBK 编码。", "第三行。"}));
}

TEST(Corpus, QuotedPrintableUtf8) {
  TMailMessage msg;
  ReadCorpusMessage(msg, "qp_utf8.eml");
  EXPECT_EQ(msg.Subject, "中文 subject");
  EXPECT_EQ(msg.From.Text(), "\"李雷\" <li.lei@example.net>");
  EXPECT_EQ(msg.Date, ParseMailDate("Sun, 06 Dec 2026 18:45:10 +0000"));
  EXPECT_EQ(msg.Priority, TMessagePriority::mpHigh);
  ASSERT_EQ(msg.MessageParts.size(), 1u);
  auto* text = Part<TTextPart>(msg, 0);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->Body,
            (std::vector<std::string>{
                "你好，",
                "This line is long and is broken with a soft line break right here and continues.",
                "Equals sign: 1+1=2", "..leading dot"}));
}

TEST(Corpus, Uuencode) {
  TMailMessage msg;
  ReadCorpusMessage(msg, "uuencode.eml");
  EXPECT_EQ(msg.Date, ParseMailDate("Fri, 4 Dec 2026 08:00:00 +0000"));
  EXPECT_EQ(msg.Body, (std::vector<std::string>{"Here is the file.", "", "", "Bye."}));
  ASSERT_EQ(msg.MessageParts.size(), 1u);
  auto* file = Part<TAttachmentPart>(msg, 0);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->FileName, "data.bin");
  EXPECT_EQ(ReadFileBytes(file->StoredFile), ReadFileBytes(CorpusPath("uuencode.bin")));
}

TEST(Corpus, EightBitGbkHeaders) {
  TMailMessage msg;
  ReadCorpusMessage(msg, "gbk_headers.eml");
  EXPECT_EQ(msg.Subject, "发票 8 折优惠");
  EXPECT_EQ(msg.From.Name, "张三");
  EXPECT_EQ(msg.From.Address, "zhangsan@example.cn");
  ASSERT_EQ(msg.Recipients.Count(), 1u);
  EXPECT_EQ(msg.Recipients.Items[0].Name, "李四");
  EXPECT_EQ(msg.Organization, "某某公司");
  EXPECT_EQ(msg.Date, ParseMailDate("3 Dec 2003 12:00:00 +0000"));
  EXPECT_EQ(msg.Priority, TMessagePriority::mpHighest);
  EXPECT_EQ(msg.CharSet, "GB2312");
  EXPECT_EQ(msg.Utf8Body(), std::vector<std::string>{"正文第一行"});
  // The header lines keep the bytes as they came.
  EXPECT_EQ(msg.Headers.Lines[2].substr(0, 9), "Subject: ");
  EXPECT_EQ(msg.Headers.Lines[2].substr(9, 4), "\xB7\xA2\xC6\xB1");
}

TEST(Corpus, MalformedFromStillDerivesEverything) {
  TMailMessage msg;
  ReadCorpusMessage(msg, "malformed_from.eml");
  EXPECT_TRUE(msg.From.Raw);
  EXPECT_EQ(msg.From.Text(), "<service@bank.example.com> support@bank.example.com");
  ASSERT_EQ(msg.Recipients.Count(), 1u);
  EXPECT_EQ(msg.Recipients.Items[0].Address, "victim@example.net");
  ASSERT_EQ(msg.CCList.Count(), 2u);
  EXPECT_EQ(msg.CCList.Items[0].Name, "Broken <x@y>");
  EXPECT_EQ(msg.CCList.Items[0].Address, "z@w");
  EXPECT_EQ(msg.CCList.Items[1].Address, "good@example.org");
  EXPECT_EQ(msg.Subject, "=?ISO-8859-1?Q?Verify_your_account=ZZnow?=");
  EXPECT_EQ(msg.Date, ParseMailDate("Wed, 2 Dec 1997 00:02:03 +0000"));
  EXPECT_EQ(msg.Priority, TMessagePriority::mpLowest);
  EXPECT_EQ(msg.MessageId, "<malformed@bank.example.com>");
  EXPECT_EQ(msg.Body, std::vector<std::string>{"Click here."});
}

}  // namespace
}  // namespace pelorix
