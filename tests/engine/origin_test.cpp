#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <cstdio>

#include "engine/message_file.h"
#include "engine/origin.h"
#include "store/ip_table.h"
#include "test_home.h"

namespace pelorix {
namespace {

TEST(OriginCandidates, TheNextToLastAddressOfALineIsLookedUp) {
  EXPECT_EQ(ChooseLookupAddress("from mx.example.org ([61.135.1.2])"), "061.135.001.002");
  EXPECT_EQ(ChooseLookupAddress("from a [1.1.1.1] by b [2.2.2.2]"), "001.001.001.001");
  EXPECT_EQ(ChooseLookupAddress("from a [1.1.1.1] via 2.2.2.2 by 3.3.3.3"), "002.002.002.002");
  EXPECT_EQ(ChooseLookupAddress("1.2.3.4.5 and 8.12.8"), "");
  EXPECT_EQ(ChooseLookupAddress("odd 10..1.2 token"), "010.000.001.002");
  EXPECT_EQ(ChooseLookupAddress("by localhost with SMTP"), "");
  // A token whose part does not fit an integer is skipped, not fatal.
  EXPECT_EQ(ChooseLookupAddress("from [1.2.3.99999999999] by 5.6.7.8"), "005.006.007.008");
}

struct TTable {
  test::TTempHome home;
  std::filesystem::path file = home.Path() / "modal" / "ip.dat";
  explicit TTable(const std::vector<TIpRecord>& rows) {
    std::filesystem::create_directories(file.parent_path());
    EXPECT_TRUE(ExportIpTable(file, rows));
  }
};

const std::vector<TIpRecord> kRows = {
    {"010.000.000.000", "010.255.255.255", "内网", "十网段"},
    {"061.135.000.000", "061.135.255.255", "北京", "电信"},
    {"202.096.000.000", "202.096.063.255", "上海", "联通"},
};

TEST(OriginLookup, ATableTooBigToKeepGivesTheAnswersOfOneReadWhole) {
  // Gaps, and now and then a record out of order as in hand-edited tables,
  // so that searches end on every kind of record.
  std::vector<TIpRecord> rows;
  auto ip = [](int a, int b) {
    char text[16];
    std::snprintf(text, sizeof text, "%03d.%03d.000.000", a, b);
    return std::string(text);
  };
  for (int i = 0; i < 3000; ++i) {
    const int a = 1 + i / 16, b = (i % 16) * 16;
    std::string end = ip(a, b + 11);
    end.replace(12, 3, "255");
    rows.push_back({ip(a, b), end, "地区" + std::to_string(i), "线路"});
    if (i % 97 == 50)
      std::swap(rows[rows.size() - 1], rows[rows.size() - 2]);
  }
  TTable t(rows);
  TIpLocationTable whole(t.home.Path()), read(t.home.Path(), 0);
  whole.Refresh();
  read.Refresh();
  for (int round = 0; round < 2; ++round) {  // the second from remembered answers
    for (int i = 0; i < 3000; i += 7) {
      const int a = 1 + i / 16, b = (i % 16) * 16;
      for (const std::string& address :
           {ip(a, b), ip(a, b + 5), ip(a, b + 13), ip(a + 300, 0), std::string("000.000.000.001")})
        ASSERT_EQ(read.Lookup(address), whole.Lookup(address)) << address;
    }
  }
}

TEST(OriginLookup, BinarySearchWithTheRecordBeforeAsFallback) {
  TTable t(kRows);
  EXPECT_EQ(LookupLocation("061.135.000.000", t.file), "(北京@电信)");
  // The search ends on the next record up; the one before holds it.
  EXPECT_EQ(LookupLocation("061.135.001.002", t.file), "(北京@电信)...");
  EXPECT_EQ(LookupLocation("202.096.063.255", t.file), "(上海@联通)");
  EXPECT_EQ(LookupLocation("010.001.002.003", t.file), "(内网@十网段)");
  EXPECT_EQ(LookupLocation("100.000.000.001", t.file), "...");
  EXPECT_EQ(LookupLocation("001.000.000.001", t.file), "...");
  EXPECT_EQ(LookupLocation("255.000.000.001", t.file), "...");
  EXPECT_EQ(LookupLocation("", t.file), "...");

  // The search stops on the second record; the first one holds the address.
  TTable two({kRows[0], kRows[1]});
  EXPECT_EQ(LookupLocation("010.005.000.000", two.file), "(内网@十网段)...");
}

TEST(OriginLookup, MissingAndEmptyTables) {
  test::TTempHome home;
  EXPECT_EQ(LookupLocation("061.135.001.002", home.Path() / "modal" / "ip.dat"), "");
  TTable empty({});
  EXPECT_EQ(LookupLocation("061.135.001.002", empty.file), "...");
  EXPECT_EQ(LookupLocation("", empty.file), "...");
}

TEST(OriginRoute, HopsRunFromTheOriginUpTheUsersRowsSearchedFirst) {
  TTable t(kRows);
  ExportIpTable(t.home.Path() / "modal" / "ipuser.DAT",
                {{"202.096.000.000", "202.096.063.255", "用户表", "地点"}});
  TReportLines report;
  const std::string route = WriteRoute(
      {" c ([202.96.1.7])", " b ([10.0.0.1])", " a ([61.135.1.2])"}, t.home.Path(), report);
  EXPECT_EQ(route, "→(北京@电信)...→(内网@十网段)→(用户表@地点)");
  const std::vector<std::string> expected = {
      "",
      "该信件的发件途径如下: ",
      "   第 1个发件者： a ([61.135.1.2])",
      "   真实网络地址: (北京@电信)...",
      std::string(30, ' ') + "↓ ",
      "   第 2 个传递者： b ([10.0.0.1])",
      "   真实网络地址: (内网@十网段)",
      std::string(30, ' ') + "↓ ",
      "   第 3 个传递者： c ([202.96.1.7])",
      "   真实网络地址: (用户表@地点)",
      std::string(30, ' ') + "↓ ",
  };
  EXPECT_EQ(report.Lines, expected);
}

TEST(OriginLookup, TheFirstTableThatPlacesTheAddressAnswers) {
  TTable t(kRows);
  const auto user = t.home.Path() / "modal" / "IPuser.dat";
  TIpLocationTable open(t.home.Path());
  open.Refresh();
  EXPECT_EQ(open.Lookup("202.096.000.001"), "(上海@联通)");
  ExportIpTable(user, {{"202.096.000.000", "202.096.000.255", "用户表", "地点"},
                       {"222.000.000.000", "222.000.000.255", "用户表", "远处"}});
  open.Refresh();
  const std::vector<std::filesystem::path> files = IpTableFilesInForce(t.home.Path(), {});
  for (const char* address : {"202.096.000.001", "202.096.001.000", "222.000.000.000",
                              "100.000.000.000", "061.135.000.000"}) {
    EXPECT_EQ(open.Lookup(address), LookupLocation(address, files)) << address;
  }
  EXPECT_EQ(LookupLocation("202.096.000.001", files), "(用户表@地点)...");
  EXPECT_EQ(LookupLocation("202.096.001.000", files), "(上海@联通)");
  EXPECT_EQ(LookupLocation("222.000.000.000", files), "(用户表@远处)");
  EXPECT_EQ(LookupLocation("100.000.000.000", files), "...");
  EXPECT_EQ(LookupLocation("100.000.000.000", std::vector<std::filesystem::path>{}), "");
  // A user's table taken away leaves the tables beneath.
  std::filesystem::remove(user);
  open.Refresh();
  EXPECT_EQ(open.Lookup("222.000.000.000"), "...");
}

TEST(OriginRoute, NoReceivedLinesGiveAnEmptyRoute) {
  test::TTempHome home;
  TReportLines report;
  EXPECT_EQ(WriteRoute({}, home.Path(), report), "");
  EXPECT_EQ(report.Lines, (std::vector<std::string>{"", "该信件的发件途径如下: "}));
  EXPECT_EQ(WriteRoute({"x", "y"}, home.Path(), report), "→→");  // no table file
}

}  // namespace
}  // namespace pelorix
