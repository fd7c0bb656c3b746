#include <gtest/gtest.h>

#include <filesystem>

#include "mime/mail_message.h"
#include "mime/transfer_decode.h"
#include "test_lines.h"

namespace pelorix {
namespace {

using testing::ReadFileBytes;
using testing::ReadMessage;
using testing::TVectorLineSource;

std::vector<std::string> Lines(std::initializer_list<const char*> header,
                               std::initializer_list<const char*> body) {
  std::vector<std::string> out(header.begin(), header.end());
  out.emplace_back("");
  out.insert(out.end(), body.begin(), body.end());
  out.emplace_back(".");
  return out;
}

TTextPart* TextPart(TMailMessage& msg, std::size_t i) {
  return testing::Part<TTextPart>(msg, i);
}
TAttachmentPart* Attachment(TMailMessage& msg, std::size_t i) {
  return testing::Part<TAttachmentPart>(msg, i);
}

TEST(TransferDecode, Base64AcrossLinesWithGarbageAndPadding) {
  TBase64Decoder d;
  std::string out;
  d.Feed("SGVsbG8s", out);
  d.Feed(" IHdv\tcmxk!", out);  // blanks and stray characters are skipped
  d.Feed("IQ==", out);
  d.Finish(out);
  EXPECT_EQ(out, "Hello, world!");
  std::string unpadded;
  TBase64Decoder e;
  e.Feed("YWI", unpadded);
  e.Finish(unpadded);
  EXPECT_EQ(unpadded, "ab");
  std::string bytes;
  for (int i = 0; i < 256; ++i)
    bytes += static_cast<char>(i);
  std::string back;
  TBase64Decoder f;
  for (const auto& line : EncodeBase64(bytes, 76)) {
    EXPECT_LE(line.size(), 76u);
    f.Feed(line, back);
  }
  f.Finish(back);
  EXPECT_EQ(back, bytes);
}

TEST(TransferDecode, QuotedPrintableLines) {
  std::string out;
  EXPECT_TRUE(DecodeQuotedPrintableLine("soft =", out));
  EXPECT_FALSE(DecodeQuotedPrintableLine("=E4=b8=AD a=3Db  \t", out));
  EXPECT_FALSE(DecodeQuotedPrintableLine("bad =ZZ and =4", out));
  EXPECT_EQ(out, "soft \xE4\xB8\xAD a=bbad =ZZ and =4");
}

TEST(TransferDecode, UuencodeLinesAndBeginLine) {
  std::string name;
  EXPECT_TRUE(IsUuBeginLine("begin 644 report 1.txt ", name));
  EXPECT_EQ(name, "report 1.txt");
  EXPECT_FALSE(IsUuBeginLine("begin the meeting at noon", name));
  EXPECT_FALSE(IsUuBeginLine("begin 644", name));
  EXPECT_FALSE(IsUuBeginLine("begin 999 x", name));
  std::string out;
  DecodeUuLine("#0V%T", out);  // "Cat"
  EXPECT_EQ(out, "Cat");
  out.clear();
  DecodeUuLine("M", out);  // claims 45 bytes, has none: stays bounded
  EXPECT_LE(out.size(), 45u);
}

TEST(ReadBody, PlainBodyUnstuffsDots) {
  TMailMessage msg;
  ReadMessage(msg, Lines({"Subject: x"}, {"first", "..hidden", "...", "", "last"}));
  EXPECT_EQ(msg.Body, (std::vector<std::string>{"first", ".hidden", "..", "", "last"}));
  EXPECT_TRUE(msg.MessageParts.empty());
}

TEST(ReadBody, MultipartTextAndAttachmentParts) {
  TMailMessage msg;
  ReadMessage(
      msg,
      Lines(
          {"Content-Type: multipart/mixed; boundary=\"b1\"", "Content-Type: ignored-second-line"},
          {"preamble", "--B1", "Content-Type: text/plain;", " charset=koi8-r", "X-Extra: kept", "",
           "..dot line", "text", "--b1", "Content-Type: application/octet-stream; name=\"a.bin\"",
           "Content-Transfer-Encoding: base64", "", "AAEC", "/w==", "--b1--", "epilogue"}));
  EXPECT_EQ(msg.Body, (std::vector<std::string>{"preamble", "epilogue"}));
  ASSERT_EQ(msg.MessageParts.size(), 2u);
  TTextPart* text = TextPart(msg, 0);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->Body, (std::vector<std::string>{".dot line", "text"}));
  EXPECT_EQ(text->CharSet, "KOI8-R");
  EXPECT_EQ(text->ContentType, "text/plain; charset=koi8-r");
  EXPECT_EQ(text->ExtraHeaders, (std::vector<std::string>{"X-Extra: kept"}));
  TAttachmentPart* att = Attachment(msg, 1);
  ASSERT_NE(att, nullptr);
  EXPECT_EQ(att->FileName, "a.bin");
  EXPECT_EQ(att->ContentTransfer, "base64");
  EXPECT_EQ(ReadFileBytes(att->StoredFile), std::string("\x00\x01\x02\xff", 4));
}

TEST(ReadBody, PartCharsetFallsBackToTheMessageCharset) {
  TMailMessage msg;
  ReadMessage(msg, Lines({"Content-Type: multipart/mixed; charset=gbk; boundary=z"},
                         {"--z", "Content-Type: text/plain", "", "\xD6\xD0", "--z--"}));
  TTextPart* text = TextPart(msg, 0);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->CharSet, "GBK");
  EXPECT_EQ(text->Utf8Body(), (std::vector<std::string>{"中"}));
}

TEST(ReadBody, NestedLevelsCloseByOuterBoundaryToo) {
  TMailMessage msg;
  ReadMessage(msg, Lines({"Content-Type: multipart/mixed; boundary=outer"},
                         {"--outer", "Content-Type: multipart/alternative; boundary=inner", "",
                          "inner preamble", "--inner", "Content-Type: text/plain", "", "one",
                          "--inner", "Content-Type: text/html", "", "<b>two</b>",
                          // no closing inner boundary: the outer one ends both levels
                          "--outer", "Content-Type: text/plain", "", "three", "--outer--"}));
  ASSERT_EQ(msg.MessageParts.size(), 3u);
  EXPECT_EQ(TextPart(msg, 0)->Body, std::vector<std::string>{"one"});
  EXPECT_EQ(TextPart(msg, 1)->ContentType, "text/html");
  EXPECT_EQ(TextPart(msg, 2)->Body, std::vector<std::string>{"three"});
  EXPECT_TRUE(msg.Body.empty());
}

TEST(ReadBody, BoundaryNeedsTheWholeLine) {
  TMailMessage msg;
  ReadMessage(msg, Lines({"Content-Type: multipart/mixed; boundary=ab"},
                         {"--ab", "", "--abc is text", "--ab  ", "", "x", "--ab--"}));
  ASSERT_EQ(msg.MessageParts.size(), 2u);
  EXPECT_EQ(TextPart(msg, 0)->Body, std::vector<std::string>{"--abc is text"});
  EXPECT_EQ(TextPart(msg, 1)->Body, std::vector<std::string>{"x"});
}

TEST(ReadBody, WholeBodyPartForEncodedSinglePartMessage) {
  TMailMessage msg;
  ReadMessage(msg, Lines({"Content-Type: text/plain; charset=utf-8",
                          "Content-Transfer-Encoding: Quoted-Printable"},
                         {"caf=C3=A9 soft=", "joined", "=3D end"}));
  EXPECT_TRUE(msg.Body.empty());
  ASSERT_EQ(msg.MessageParts.size(), 1u);
  TTextPart* text = TextPart(msg, 0);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->Body, (std::vector<std::string>{"café softjoined", "= end"}));
  EXPECT_EQ(text->CharSet, "UTF-8");

  TMailMessage att;  // a message that is one base64 file
  ReadMessage(att, Lines({"Content-Type: application/zip; name=\"x.zip\"",
                          "Content-Transfer-Encoding: base64"},
                         {"UEsDBA=="}));
  TAttachmentPart* a = Attachment(att, 0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->FileName, "x.zip");
  EXPECT_EQ(ReadFileBytes(a->StoredFile), "PK\x03\x04");
}

TEST(ReadBody, Base64TextPartSplitsDecodedLines) {
  TMailMessage msg;
  ReadMessage(msg, Lines({"Content-Type: multipart/mixed; boundary=q"},
                         {"--q", "Content-Type: text/plain", "Content-Transfer-Encoding: BASE64",
                          "", "bGluZSBvbmUNCmxp", "bmUgdHdvDQoNCmxh", "c3Q=", "--q--"}));
  EXPECT_EQ(TextPart(msg, 0)->Body, (std::vector<std::string>{"line one", "line two", "", "last"}));
}

TEST(ReadBody, AttachmentNamesFromDispositionTypeAndRfc2231) {
  TMailMessage msg;
  ReadMessage(msg, Lines({"Content-Type: multipart/mixed; boundary=n"},
                         {"--n",
                          "Content-Type: text/plain; name=\"fromtype.txt\"",
                          "Content-Disposition: attachment; filename=\"fromdisp.txt\"",
                          "",
                          "a",
                          "--n",
                          "Content-Type: text/plain; NAME=only-type.txt",
                          "",
                          "b",
                          "--n",
                          "Content-Disposition: ATTACHMENT",
                          "",
                          "c",
                          "--n",
                          "Content-Disposition: attachment; filename*=UTF-8''%E4%B8%AD%20x.txt",
                          "",
                          "d",
                          "--n",
                          "Content-Disposition: attachment; filename=\"=?gb2312?B?1tDOxA==?=.txt\"",
                          "",
                          "e",
                          "--n--"}));
  ASSERT_EQ(msg.MessageParts.size(), 5u);
  const char* names[] = {"fromdisp.txt", "only-type.txt", "", "中 x.txt", "中文.txt"};
  for (std::size_t i = 0; i < 5; ++i) {
    TAttachmentPart* a = Attachment(msg, i);
    ASSERT_NE(a, nullptr) << i;
    EXPECT_EQ(a->FileName, names[i]);
    EXPECT_EQ(ReadFileBytes(a->StoredFile), std::string(1, static_cast<char>('a' + i)) + "\r\n");
  }
}

TEST(ReadBody, UnnamedBinaryAndInlineFilesAreAttachmentsToo) {
  TMailMessage msg;
  ReadMessage(msg, Lines({"Content-Type: multipart/related; boundary=r"},
                         {"--r", "Content-Type: image/png", "Content-Transfer-Encoding: base64", "",
                          "iVBORw==", "--r", "Content-Type: text/plain",
                          "Content-Disposition: inline; filename=notes.txt", "", "n", "--r",
                          "Content-Type: message/rfc822", "", "Subject: inner", "--r",
                          "Content-Disposition: inline", "", "t", "--r--"}));
  ASSERT_EQ(msg.MessageParts.size(), 4u);
  ASSERT_NE(Attachment(msg, 0), nullptr);
  EXPECT_EQ(ReadFileBytes(Attachment(msg, 0)->StoredFile), "\x89PNG");
  ASSERT_NE(Attachment(msg, 1), nullptr);
  EXPECT_EQ(Attachment(msg, 1)->FileName, "notes.txt");
  ASSERT_NE(TextPart(msg, 2), nullptr);
  EXPECT_EQ(TextPart(msg, 2)->Body, std::vector<std::string>{"Subject: inner"});
  ASSERT_NE(TextPart(msg, 3), nullptr);
}

TEST(ReadBody, HostileFileNamesStayInsideThePrivateFolder) {
  TMailMessage msg;
  ReadMessage(msg, Lines({"Content-Type: multipart/mixed; boundary=n"},
                         {"--n",  "Content-Disposition: attachment; filename=\"../../../tmp/evil\"",
                          "",     "x",
                          "--n",  "Content-Disposition: attachment; filename=\"/etc/passwd\"",
                          "",     "y",
                          "--n",  "Content-Disposition: attachment; filename=\"..\"",
                          "",     "z",
                          "--n",  "Content-Disposition: attachment; filename=\"same\"",
                          "",     "1",
                          "--n",  "Content-Disposition: attachment; filename=\"same\"",
                          "",     "2",
                          "--n--"}));
  ASSERT_EQ(msg.MessageParts.size(), 5u);
  std::filesystem::path folder = msg.AttachmentFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(std::filesystem::status(folder).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
  for (std::size_t i = 0; i < msg.MessageParts.size(); ++i) {
    TAttachmentPart* a = Attachment(msg, i);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->StoredFile.parent_path(), folder) << a->StoredFile;
    EXPECT_TRUE(std::filesystem::is_regular_file(a->StoredFile));
  }
  EXPECT_EQ(Attachment(msg, 0)->FileName, "../../../tmp/evil");  // the name itself is kept
  EXPECT_NE(Attachment(msg, 3)->StoredFile, Attachment(msg, 4)->StoredFile);
  EXPECT_EQ(ReadFileBytes(Attachment(msg, 4)->StoredFile), "2\r\n");
}

TEST(ReadBody, AttachmentFilesGoWithClearAndDestruction) {
  auto lines = Lines({"Content-Type: multipart/mixed; boundary=n"},
                     {"--n", "Content-Disposition: attachment; filename=a", "", "x", "--n--"});
  std::filesystem::path folder, file;
  {
    TMailMessage msg;
    ReadMessage(msg, lines);
    folder = msg.AttachmentFolder();
    file = Attachment(msg, 0)->StoredFile;
    ASSERT_TRUE(std::filesystem::exists(file));
    msg.Clear();
    EXPECT_FALSE(std::filesystem::exists(folder));
    ReadMessage(msg, lines);  // usable again after Clear
    folder = msg.AttachmentFolder();
    ASSERT_TRUE(std::filesystem::exists(Attachment(msg, 0)->StoredFile));
  }
  EXPECT_FALSE(std::filesystem::exists(folder));

  // A moved message owns the files; the old owner's going leaves them be.
  TMailMessage target;
  {
    TMailMessage source;
    ReadMessage(source, lines);
    target = std::move(source);
  }
  ASSERT_EQ(target.MessageParts.size(), 1u);
  EXPECT_TRUE(std::filesystem::exists(Attachment(target, 0)->StoredFile));
}

TEST(ReadBody, UuencodedBlockBecomesAnAttachment) {
  TMailMessage msg;
  ReadMessage(msg, Lines({"Subject: uu"}, {"see file", "begin 600 cat.txt", "#0V%T", "`", "end",
                                           "after", "begin the meeting"}));
  EXPECT_EQ(msg.Body, (std::vector<std::string>{"see file", "after", "begin the meeting"}));
  TAttachmentPart* a = Attachment(msg, 0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->FileName, "cat.txt");
  EXPECT_EQ(ReadFileBytes(a->StoredFile), "Cat");
}

TEST(ReadBody, PartHeadersEndingAtDotRaiseUnknownPartType) {
  TMailMessage msg;
  TVectorLineSource src({"Content-Type: multipart/mixed; boundary=n", "", "pre", "--n",
                         "Content-Type: text/plain", "", "kept", "--n", "Content-Type: text/plain",
                         ".", "after"});
  ASSERT_EQ(msg.ReadHeader(src, ""), "");
  try {
    msg.ReadBody(src);
    FAIL() << "no error raised";
  } catch (const EMailError& e) {
    EXPECT_STREQ(e.what(), "Unknown Message Part Type.");
  }
  EXPECT_EQ(src.Remaining(), 1u);          // stopped exactly at "."
  ASSERT_EQ(msg.MessageParts.size(), 1u);  // what came before stays
  EXPECT_EQ(TextPart(msg, 0)->Body, std::vector<std::string>{"kept"});
}

TEST(ReadBody, ConnectionFailureKeepsPartialPart) {
  TMailMessage msg;
  TVectorLineSource src(
      {"Content-Type: text/plain", "Content-Transfer-Encoding: base64", "", "aGVsbG8gd29y"});
  msg.ReadHeader(src, "");
  EXPECT_THROW(msg.ReadBody(src), EPelorixError);
  ASSERT_EQ(msg.MessageParts.size(), 1u);
  EXPECT_EQ(TextPart(msg, 0)->Body, std::vector<std::string>{"hello wor"});
}

TEST(ReadBody, DeepNestingStopsAddingPartsAndKeepsLines) {
  TMailMessage msg;
  std::vector<std::string> lines{"Content-Type: multipart/mixed; boundary=b0", ""};
  for (int i = 0; i < 40; ++i) {
    lines.push_back("--b" + std::to_string(i));
    lines.push_back("Content-Type: multipart/mixed; boundary=b" + std::to_string(i + 1));
    lines.push_back("");
  }
  lines.insert(lines.end(), {"--b40", "", "deep text", "."});
  ReadMessage(msg, lines);
  EXPECT_TRUE(msg.MessageParts.empty());
  ASSERT_FALSE(msg.Body.empty());
  EXPECT_EQ(msg.Body.back(), "deep text");
  EXPECT_FALSE(msg.Truncated);
}

TEST(ReadBody, PartCountLimitKeepsTheRestAsPlainLines) {
  TMailMessage msg;
  msg.Limits.MaxParts = 3;
  std::vector<std::string> lines{"Content-Type: multipart/mixed; boundary=p", ""};
  for (int i = 0; i < 6; ++i)
    lines.insert(lines.end(), {"--p", "", "part " + std::to_string(i)});
  lines.insert(lines.end(), {"--p--", "."});
  ReadMessage(msg, lines);
  EXPECT_EQ(msg.MessageParts.size(), 3u);
  EXPECT_EQ(msg.Body, (std::vector<std::string>{"part 3", "--p", "", "part 4", "--p", "", "part 5",
                                                "--p--"}));
}

TEST(ReadBody, ByteLimitDropsTheRestButReadsToTheDot) {
  TMailMessage msg;
  msg.Limits.MaxBodyBytes = 2000;
  std::vector<std::string> lines{"Subject: big", ""};
  for (int i = 0; i < 1000; ++i)
    lines.push_back(std::string(50, 'x'));
  lines.insert(lines.end(), {".", "next"});
  TVectorLineSource src(lines);
  msg.ReadHeader(src, "");
  msg.ReadBody(src);
  EXPECT_TRUE(msg.Truncated);
  EXPECT_LT(msg.Body.size(), 40u);
  EXPECT_EQ(src.Remaining(), 1u);
}

TEST(ReadBody, Utf8BodyConvertsByCharset) {
  TMailMessage msg;
  ReadMessage(msg, Lines({"Content-Type: text/plain; charset=iso-8859-1"}, {"caf\xE9", "x"}));
  EXPECT_EQ(msg.Body[0], "caf\xE9");  // raw bytes kept
  EXPECT_EQ(msg.Utf8Body(), (std::vector<std::string>{"café", "x"}));
  TMailMessage unknown;
  ReadMessage(unknown, Lines({"Content-Type: text/plain; charset=x-nonsense"}, {"\xD6\xD0"}));
  EXPECT_EQ(unknown.Utf8Body(), std::vector<std::string>{"中"});
}

}  // namespace
}  // namespace pelorix
