#include <gtest/gtest.h>

#include <string>

#include "engine/mail_record.h"
#include "text/ansi.h"

namespace pelorix {
namespace {

TMailRecord Sample() {
  TMailRecord r;
  r.VerdictMark = "Yes";
  r.Sender = "张三 <zhang@example.cn>";
  r.SenderRoute = "→(北京@电信)→...";
  r.Recipients = "→bob@example.org";
  r.AccountKey = "bob[pop.example.org]";
  r.Subject = "会议通知";
  r.Number = "3!";
  r.MessageKey = "<abc@x>";
  r.DeletionMark = "Deleted";
  r.Size = "12345!";
  r.Date = "2026-12-08 17:03:09";
  r.CharSet = "GB2312";
  r.ContentType = "text/plain";
  r.Priority = "3";
  r.Organization = "Org";
  return r;
}

// A zero-terminated field: the GB18030 text, then a zero.
void ExpectText(const TMailRecordBytes& b, std::size_t offset, const std::string& utf8) {
  const std::string disk = ToAnsi(utf8);
  EXPECT_EQ(std::string(b.data() + offset, disk.size()), disk) << "at " << offset;
  EXPECT_EQ(b[offset + disk.size()], '\0') << "at " << offset;
}

// A length-prefixed field: the length byte, then the GB18030 text.
void ExpectShort(const TMailRecordBytes& b, std::size_t offset, const std::string& utf8) {
  const std::string disk = ToAnsi(utf8);
  EXPECT_EQ(static_cast<unsigned char>(b[offset]), disk.size()) << "at " << offset;
  EXPECT_EQ(std::string(b.data() + offset + 1, disk.size()), disk) << "at " << offset;
}

TEST(MailRecord, FieldsSitAtTheirOffsetsInTheOnDiskEncoding) {
  const auto b = EncodeMailRecord(Sample());
  ASSERT_EQ(b.size(), 3260u);
  ExpectShort(b, 0, "Yes");
  ExpectText(b, 11, "张三 <zhang@example.cn>");
  ExpectText(b, 512, "→(北京@电信)→...");
  ExpectText(b, 1013, "→bob@example.org");
  ExpectText(b, 1514, "bob[pop.example.org]");
  ExpectText(b, 2015, "会议通知");
  ExpectShort(b, 2516, "3!");
  ExpectText(b, 2522, "<abc@x>");
  ExpectShort(b, 3023, "Deleted");
  ExpectShort(b, 3044, "12345!");
  ExpectShort(b, 3065, "2026-12-08 17:03:09");
  ExpectShort(b, 3086, "GB2312");
  ExpectShort(b, 3117, "text/plain");
  ExpectShort(b, 3148, "3");
  ExpectShort(b, 3159, "Org");
  // "会" is two bytes on disk, not three as in memory.
  EXPECT_EQ(ToAnsi("会议通知").size(), 8u);
}

TEST(MailRecord, RoundTripsThroughBytes) {
  const auto b = EncodeMailRecord(Sample());
  EXPECT_EQ(DecodeMailRecord(std::string_view(b.data(), b.size())), Sample());
}

TEST(MailRecord, LongTextsAreCutAtACharacterBoundaryAndNeverReachTheNextField) {
  TMailRecord r = Sample();
  r.Subject = "x";  // one ASCII byte first
  for (int i = 0; i < 300; ++i)
    r.Subject += "中";               // 1 + 600 bytes on disk
  r.Number = "123456789";            // string[5]
  r.CharSet = std::string(40, 'c');  // string[30]
  r.Organization = "";
  for (int i = 0; i < 80; ++i)
    r.Organization += "组";  // 160 bytes on disk, field 100
  const auto b = EncodeMailRecord(r);
  // 1 + 2*249 = 499 bytes fit, the 250th character would need 501.
  const std::string subject = ToAnsi(r.Subject).substr(0, 499);
  EXPECT_EQ(std::string(b.data() + 2015, 499), subject);
  EXPECT_EQ(b[2015 + 499], '\0');
  EXPECT_EQ(static_cast<unsigned char>(b[2516]), 5);
  EXPECT_EQ(std::string(b.data() + 2517, 5), "12345");
  EXPECT_EQ(static_cast<unsigned char>(b[3086]), 30);
  EXPECT_EQ(static_cast<unsigned char>(b[3159]), 100);
  // The message key right after the subject is intact.
  ExpectText(b, 2522, "<abc@x>");
  const TMailRecord back = DecodeMailRecord(std::string_view(b.data(), b.size()));
  EXPECT_EQ(back.Subject.size(), 1 + 249 * 3u);
  EXPECT_EQ(back.Organization.size(), 50 * 3u);
  EXPECT_EQ(back.Number, "12345");
}

TEST(MailRecord, ReadersIgnoreBytesBehindTerminatorsAndClampBadLengths) {
  TMailRecordBytes b{};
  b.fill('Z');
  // A reused buffer keeps bytes of a longer earlier record behind the text.
  TMailRecord longer = Sample();
  longer.Sender = std::string(300, 's');
  EncodeMailRecord(longer, b);
  EncodeMailRecord(Sample(), b);
  EXPECT_EQ(b[11 + 100], 's');  // left over, not significant
  EXPECT_EQ(DecodeMailRecord(std::string_view(b.data(), b.size())), Sample());

  // No terminator in a char[501] field: it ends at the field's size.
  TMailRecordBytes raw{};
  std::fill(raw.begin() + 11, raw.begin() + 512, 'a');
  // A length byte larger than the field: clamped to the field.
  raw[2516] = static_cast<char>(200);
  std::fill(raw.begin() + 2517, raw.begin() + 2522, '7');
  TMailRecord r = DecodeMailRecord(std::string_view(raw.data(), raw.size()));
  EXPECT_EQ(r.Sender, std::string(501, 'a'));
  EXPECT_EQ(r.Number, "77777");
  EXPECT_EQ(r.MessageKey, "");
  // Too short a buffer decodes to empty fields instead of reading past it.
  EXPECT_EQ(DecodeMailRecord(std::string_view(raw.data(), 100)).Subject, "");
}

}  // namespace
}  // namespace pelorix
