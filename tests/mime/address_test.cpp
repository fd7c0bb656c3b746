#include <gtest/gtest.h>

#include "mime/errors.h"
#include "mime/mail_message.h"

namespace pelorix {
namespace {

TEmailAddress Parsed(std::string_view text) {
  TEmailAddress a;
  a.SetText(text);
  return a;
}

TEST(EmailAddress, ReadsTheCommonForms) {
  struct Case {
    const char* text;
    const char* name;
    const char* address;
  } cases[] = {
      {"john@example.com", "", "john@example.com"},
      {"  John Doe <john@example.com>  ", "John Doe", "john@example.com"},
      {"\"Doe, John\" <john@example.com>", "Doe, John", "john@example.com"},
      {"\"say \\\"hi\\\"\" <a@b.c>", "say \"hi\"", "a@b.c"},
      {"John Doe john@example.com", "John Doe", "john@example.com"},
      {"john@example.com (John Doe)", "", "john@example.com"},
      {"<john@example.com>", "", "john@example.com"},
      {"\t Name \t<a@b.c>", "Name", "a@b.c"},
      {"<\"john doe\"@example.com>", "", "john doe@example.com"},
      {"localonly", "", "localonly"},
      {"(only a comment)", "", ""},
      {"<>", "", ""},
      {"Unclosed <a@b.c", "Unclosed", "a@b.c"},
  };
  for (const auto& c : cases) {
    TEmailAddress a = Parsed(c.text);
    EXPECT_EQ(a.Name, c.name) << c.text;
    EXPECT_EQ(a.Address, c.address) << c.text;
    EXPECT_FALSE(a.Raw) << c.text;
  }
}

TEST(EmailAddress, AtAfterClosedAngleBracketsIsRejected) {
  try {
    Parsed("<a@b.com> c@d.com");
    FAIL() << "no error raised";
  } catch (const EEmailParseError& e) {
    EXPECT_STREQ(e.what(), "@ Outside address");
  }
  // ...but the lenient reading keeps the text as it stood.
  TEmailAddress a = ParseAddressLenient("  <a@b.com> c@d.com ");
  EXPECT_TRUE(a.Raw);
  EXPECT_EQ(a.Address, "<a@b.com> c@d.com");
  EXPECT_EQ(a.Text(), "<a@b.com> c@d.com");
  // An "@" inside quotes after the brackets is no address.
  EXPECT_NO_THROW(Parsed("<a@b.com> \"x@y\""));
}

TEST(EmailAddress, ComposesTheShownText) {
  struct Case {
    const char* name;
    const char* address;
    const char* text;
  } cases[] = {
      {"", "john@example.com", "john@example.com"},
      {"John Doe", "john@example.com", "John Doe <john@example.com>"},
      {"JOHN@EXAMPLE.COM", "john@example.com", "john@example.com"},
      {"Doe, John", "john@example.com", "\"Doe, John\" <john@example.com>"},
      {"张三", "zhang@example.cn", "\"张三\" <zhang@example.cn>"},
      {"Say \"hi\"", "a@b.c", "\"Say \\\"hi\\\"\" <a@b.c>"},
      {"Name", "", "Name <>"},
      {"", "", ""},
      {"", "john doe@example.com", "\"john doe\"@example.com"},
      {"", ".lead@example.com", "\".lead\"@example.com"},
      {"", "a..b@example.com", "\"a..b\"@example.com"},
      {"", "first.last+tag@example.com", "first.last+tag@example.com"},
      {"X", "q\"uote@example.com", "X <\"q\\\"uote\"@example.com>"},
  };
  for (const auto& c : cases) {
    TEmailAddress a{c.name, c.address};
    EXPECT_EQ(a.Text(), c.text) << c.name << " / " << c.address;
  }
}

TEST(EmailAddress, TextParsesBackToTheSameAddress) {
  for (const char* text : {"\"Doe, John\" <john@example.com>", "\"john doe\"@example.com",
                           "Plain Name <p@example.com>"}) {
    TEmailAddress a = Parsed(text);
    TEmailAddress b = Parsed(a.Text());
    EXPECT_EQ(a.Name, b.Name) << text;
    EXPECT_EQ(a.Address, b.Address) << text;
  }
}

TEST(EmailAddressList, SplitsOutsideQuotesCommentsAndBrackets) {
  TEmailAddressList list;
  list.SetText("a@x.com, \"Doe, John\" <john@x.com>; b@x.com (Bee, the one), <odd,addr@x.com>");
  ASSERT_EQ(list.Count(), 4u);
  EXPECT_EQ(list.Items[0].Address, "a@x.com");
  EXPECT_EQ(list.Items[1].Name, "Doe, John");
  EXPECT_EQ(list.Items[1].Address, "john@x.com");
  EXPECT_EQ(list.Items[2].Address, "b@x.com");
  EXPECT_EQ(list.Items[3].Address, "odd,addr@x.com");
}

TEST(EmailAddressList, DropsGroupNamesEmptyPiecesAndNullAddresses) {
  TEmailAddressList list;
  list.Add({"old", "old@x.com"});
  list.SetText("undisclosed-recipients:;");
  EXPECT_EQ(list.Count(), 0u);
  list.SetText("Friends: a@x.com, b@x.com;, , <>, c@x.com");
  ASSERT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.Items[0].Address, "a@x.com");
  EXPECT_EQ(list.Items[1].Address, "b@x.com");
  EXPECT_EQ(list.Items[2].Address, "c@x.com");
}

TEST(EmailAddressList, MalformedPieceKeepsItsTextAndOthersSurvive) {
  TEmailAddressList list;
  list.SetText("good@x.com, <a@b.com> bad@c.com, also@x.com");
  ASSERT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.Items[0].Address, "good@x.com");
  EXPECT_TRUE(list.Items[1].Raw);
  EXPECT_EQ(list.Items[1].Text(), "<a@b.com> bad@c.com");
  EXPECT_EQ(list.Items[2].Address, "also@x.com");
}

TEST(EmailAddressList, ConvertsEachPieceAfterTheSplit) {
  // A decoded name with a comma must not split the address.
  TEmailAddressList list;
  list.SetText("=?utf-8?Q?Doe=2C_John?= <john@x.com>, b@x.com", [](std::string_view piece) {
    std::string s(piece);
    auto p = s.find("=?utf-8?Q?Doe=2C_John?=");
    if (p != std::string::npos)
      s.replace(p, 23, "Doe, John");
    return s;
  });
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.Items[0].Name, "Doe, John");
  EXPECT_EQ(list.Items[0].Address, "john@x.com");
}

TEST(EmailAddressList, SplitterSurvivesUnterminatedQuotesAndEscapes) {
  EXPECT_EQ(SplitAddressList("\"abc\\").size(), 1u);
  EXPECT_EQ(SplitAddressList("(open, comment").size(), 1u);
  EXPECT_EQ(SplitAddressList("<open, bracket").size(), 1u);
  EXPECT_TRUE(SplitAddressList(" ,;, ").empty());
}

}  // namespace
}  // namespace pelorix
