// The IP location table delivered with the program, as unpacked into the
// build tree.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "engine/message_file.h"
#include "engine/origin.h"
#include "store/ip_table.h"
#include "support/scoped_env.h"
#include "test_home.h"

namespace pelorix {
namespace {

const std::filesystem::path kTable = PELORIX_TEST_IP_TABLE;

TEST(DeliveredTable, SortedWithoutOverlapsInTheFixedForm) {
  std::ifstream in(kTable, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 0u) << kTable;
  ASSERT_EQ(bytes.size() % kIpRecordSize, 0u);
  // Addresses are ASCII: read them straight from the bytes, which keeps a
  // million records quick.
  auto field = [&](std::size_t at, std::size_t size) {
    const auto length = static_cast<unsigned char>(bytes[at]);
    EXPECT_LT(length, size) << "record " << at / kIpRecordSize;
    return std::string_view(bytes).substr(at + 1, std::min<std::size_t>(length, size - 1));
  };
  std::string_view previousEnd;
  for (std::size_t at = 0; at < bytes.size(); at += kIpRecordSize) {
    const auto start = field(at, 16), end = field(at + 16, 16);
    const auto area = field(at + 32, 31);
    field(at + 63, 61);
    const std::size_t index = at / kIpRecordSize;
    ASSERT_EQ(NormaliseIpAddress(start).value_or(""), start) << "record " << index;
    ASSERT_EQ(NormaliseIpAddress(end).value_or(""), end) << "record " << index;
    ASSERT_LE(start, end) << "record " << index;
    ASSERT_GT(start, previousEnd) << "record " << index;
    ASSERT_FALSE(area.empty()) << "record " << index;
    previousEnd = end;
  }
}

TEST(DeliveredTable, KnownAddressesLookUpToTheirArea) {
  const struct {
    const char* address;
    const char* area;
  } known[] = {
      {"008.008.008.008", "美国"},     {"202.096.128.086", "广东省"},
      {"223.005.005.005", "浙江省"},   {"061.135.169.121", "北京市"},
      {"210.140.092.183", "日本"},     {"010.001.002.003", "局域网"},
      {"192.168.001.001", "局域网"},   {"127.000.000.001", "本机地址"},
      {"224.000.000.251", "组播地址"},
  };
  for (const auto& k : known) {
    EXPECT_THAT(LookupLocation(k.address, kTable),
                ::testing::StartsWith("(" + std::string(k.area) + "@"))
        << k.address;
  }

  // A fresh home has no table of its own: the route names the places.
  test::TTempHome home;
  test::TScopedEnv env("PELORIX_IP_TABLE", kTable.string());
  TReportLines report;
  const std::string route =
      WriteRoute({" mx.example.net ([202.96.128.86]) by mail.example.org ([8.8.8.8])",
                  " origin ([61.135.169.121])"},
                 home.Path(), report);
  EXPECT_THAT(route,
              ::testing::MatchesRegex("→\\(北京市@.*\\)(\\.\\.\\.)?→\\(广东省@.*\\)(\\.\\.\\.)?"));
  EXPECT_FALSE(std::filesystem::exists(home.Path() / "modal"));
}

}  // namespace
}  // namespace pelorix
