// The IP location table delivered with the program, as unpacked into the
// build tree.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <string_view>

#include "engine/message_file.h"
#include "engine/origin.h"
#include "store/ip_table.h"
#include "support/scoped_env.h"
#include "test_home.h"

namespace pelorix {
namespace {

const std::filesystem::path kTable = PELORIX_TEST_IP_TABLE;

// "061.129.000.000": four octets of three digits, none above 255.
bool InFixedForm(std::string_view address) {
  if (address.size() != 15)
    return false;
  for (std::size_t octet = 0; octet < 4; ++octet) {
    const std::string_view digits = address.substr(octet * 4, 3);
    if (octet < 3 && address[octet * 4 + 3] != '.')
      return false;
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        digits > "255") {
      return false;
    }
  }
  return true;
}

// What is wrong with record `at`, or nothing. Plain checks rather than one
// assertion each: a million records must stay quick under the sanitizers.
std::string RecordFault(std::string_view bytes, std::size_t at, std::string_view& previousEnd) {
  auto field = [&](std::size_t offset, std::size_t size) -> std::optional<std::string_view> {
    const auto length = static_cast<unsigned char>(bytes[at + offset]);
    if (length >= size)
      return std::nullopt;
    return bytes.substr(at + offset + 1, length);
  };
  const auto start = field(0, 16), end = field(16, 16), area = field(32, 31), place = field(63, 61);
  if (!start || !end || !area || !place)
    return "a length byte past its field";
  for (auto address : {*start, *end}) {
    if (!InFixedForm(address))
      return "address not in the fixed form: " + std::string(address);
  }
  if (*end < *start)
    return "ends before it starts";
  if (*start <= previousEnd)
    return "overlaps or precedes the record before";
  if (area->empty())
    return "no area";
  previousEnd = *end;
  return {};
}

TEST(DeliveredTable, SortedWithoutOverlapsInTheFixedForm) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(kTable, ec);
  ASSERT_FALSE(ec) << kTable;
  std::string bytes(size, '\0');
  std::ifstream(kTable, std::ios::binary)
      .read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_GT(bytes.size(), 0u) << kTable;
  ASSERT_EQ(bytes.size() % kIpRecordSize, 0u);
  std::string_view previousEnd;
  for (std::size_t at = 0; at < bytes.size(); at += kIpRecordSize) {
    const std::string fault = RecordFault(bytes, at, previousEnd);
    ASSERT_EQ(fault, "") << "record " << at / kIpRecordSize;
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
