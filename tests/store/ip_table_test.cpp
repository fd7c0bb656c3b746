#include "store/ip_table.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/scoped_env.h"
#include "temp_folder.h"
#include "text/ansi.h"

namespace pelorix {
namespace {

using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

std::string Record(std::string_view start, std::string_view end, std::string_view area,
                   std::string_view place) {
  std::string r(kIpRecordSize, '\xEE');  // bytes after a text are not significant
  auto put = [&](std::size_t at, std::string_view utf8) {
    std::string s = ToAnsi(utf8);
    r[at] = static_cast<char>(s.size());
    r.replace(at + 1, s.size(), s);
  };
  put(0, start);
  put(16, end);
  put(32, area);
  put(63, place);
  return r;
}

TEST(IpRecord, LayoutIsLengthPrefixedFieldsOf16_16_31_61) {
  TIpRecord r{"061.129.000.000", "061.129.255.255", "北京", "联通"};
  std::string bytes = EncodeIpRecord(r, false);
  ASSERT_EQ(bytes.size(), 124u);
  EXPECT_EQ(bytes[0], 15);
  EXPECT_EQ(bytes.substr(1, 15), "061.129.000.000");
  EXPECT_EQ(bytes[16], 15);
  EXPECT_EQ(bytes[32], 4);
  EXPECT_EQ(bytes.substr(33, 4), "\xB1\xB1\xBE\xA9");
  EXPECT_EQ(bytes[63], 4);
  EXPECT_EQ(DecodeIpRecord(bytes), r);

  // Cut to the fields' room, never in half a character; trimmed on request.
  std::string area16;
  for (int i = 0; i < 16; ++i)
    area16 += "区";
  TIpRecord longRecord{" 1.1.1.1 ", "2", area16, std::string(70, 'p')};
  TIpRecord back = DecodeIpRecord(EncodeIpRecord(longRecord, true));
  EXPECT_EQ(back.StartIp, "1.1.1.1");
  EXPECT_EQ(back.Area, area16.substr(0, 15 * 3));  // 15 characters, 30 bytes
  EXPECT_EQ(back.Place, std::string(60, 'p'));
  EXPECT_EQ(DecodeIpRecord(EncodeIpRecord(longRecord, false)).StartIp, " 1.1.1.1 ");

  // A damaged length byte reads no further than the field.
  std::string damaged = Record("123456789012345", "2", "a", "b");
  damaged[0] = static_cast<char>(200);
  EXPECT_EQ(DecodeIpRecord(damaged).StartIp, "123456789012345");
}

TEST(IpTableFile, PartialLastRecordIsIgnored) {
  test::TScopedEnv noDelivered("PELORIX_IP_TABLE", "");
  TempFolder home;
  const auto file = home.path() / "modal" / "ip.dat";
  WriteBytes(file, Record("001.000.000.000", "001.255.255.255", "a", "b") +
                       Record("002.000.000.000", "002.255.255.255", "c", "d") +
                       std::string(2, 'x'));
  ASSERT_EQ(std::filesystem::file_size(file), 250u);
  auto rows = LoadIpTable(home.path());
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].Area, "c");

  std::ifstream in(file, std::ios::binary);
  EXPECT_EQ(CountIpRecords(in), 2u);
  TIpRecord r;
  ASSERT_TRUE(ReadIpRecordAt(in, 1, r));
  EXPECT_EQ(r.StartIp, "002.000.000.000");
  ASSERT_TRUE(ReadIpRecordAt(in, 0, r));
  EXPECT_EQ(r.Place, "b");
  EXPECT_FALSE(ReadIpRecordAt(in, 2, r));
}

TEST(IpTableFile, LoadShowsRowsAsTheWindowDoes) {
  test::TScopedEnv noDelivered("PELORIX_IP_TABLE", "");
  TempFolder home;
  WriteBytes(home.path() / "modal" / "ip.dat",
             Record("202. 96.  1.  0", "202. 96.  1.255", "  上海 ", " 电信 ") +
                 Record("001.000.000.000", "001.000.000.255", "a", "b"));
  auto rows = LoadIpTable(home.path());
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].StartIp, "001.000.000.000");  // sorted by start address
  EXPECT_EQ(rows[1].StartIp, "202.096.001.000");
  EXPECT_EQ(rows[1].EndIp, "202.096.001.255");
  EXPECT_EQ(rows[1].Area, "上海");
  EXPECT_EQ(rows[1].Place, "电信");
}

TEST(IpTableFile, UserRowsAreKeptApartFromTheTablesBeneath) {
  TempFolder home, install;
  const auto modal = home.path() / "modal";
  const auto delivered = install.path() / "ip.dat";
  WriteBytes(delivered, Record("001.000.000.000", "001.000.000.255", "delivered", "d") +
                            Record("005.000.000.000", "005.000.000.255", "delivered", "e"));
  test::TScopedEnv env("PELORIX_IP_TABLE", delivered.string());
  std::filesystem::create_directories(modal);
  EXPECT_EQ(LoadUserIpRows(home.path())->size(), 0u);
  EXPECT_EQ(LoadIpTable(home.path()).size(), 2u);

  // Two rows typed out of order and unnormalised are saved as two, sorted.
  std::vector<TIpRecord> rows;
  ASSERT_TRUE(AddIpRow(rows, {"9.0.0.0", "9.0.0.9", " mine ", "x"}));
  ASSERT_TRUE(AddIpRow(rows, {"  5.  0.  0.  0", "5.0.0.9", "mine", "y"}));
  ASSERT_TRUE(SaveIpTable(home.path(), rows));
  EXPECT_EQ(std::filesystem::file_size(modal / "IPuser.dat"), 2 * kIpRecordSize);
  auto user = LoadUserIpRows(home.path());
  ASSERT_TRUE(user);
  ASSERT_EQ(user->size(), 2u);
  EXPECT_EQ((*user)[0].StartIp, "005.000.000.000");
  EXPECT_EQ((*user)[1].Area, "mine");

  // Every row: the user's, then the rows beneath whose start no table above has.
  WriteBytes(modal / "IP.DAT", Record("003.000.000.000", "003.000.000.255", "home", "h"));
  auto all = LoadAllIpRows(home.path());
  ASSERT_TRUE(all);
  ASSERT_EQ(all->size(), 4u);
  EXPECT_EQ((*all)[0].Area, "delivered");
  EXPECT_EQ((*all)[1].Area, "home");
  EXPECT_EQ((*all)[2].Area, "mine");  // 005.000.000.000: the user's row, not the delivered one
  EXPECT_EQ(
      IpTableFilesInForce(home.path()),
      (std::vector<std::filesystem::path>{modal / "IPuser.dat", modal / "IP.DAT", delivered}));
  EXPECT_EQ(IpTableFilesInForce(home.path(), install.path() / "gone.dat").size(), 2u);

  // Export writes just the rows given; an import of two rows gives two rows.
  TempFolder dir;
  ASSERT_TRUE(ExportIpTable(dir.path() / "mine.dat", *user));
  EXPECT_EQ(std::filesystem::file_size(dir.path() / "mine.dat"), 2 * kIpRecordSize);
  TempFolder other;
  std::filesystem::create_directories(other.path() / "modal");
  std::vector<TIpRecord> imported;
  ASSERT_TRUE(ImportIpTable(dir.path() / "mine.dat", imported));
  ASSERT_TRUE(SaveIpTable(other.path(), imported));
  EXPECT_EQ(LoadUserIpRows(other.path()), user);

  // Without the folder nothing is written; an unreadable user file reads as nothing.
  TempFolder bare;
  EXPECT_FALSE(SaveIpTable(bare.path(), rows));
  std::filesystem::remove(modal / "IPuser.dat");
  std::filesystem::create_directory(modal / "ipuser.DAT");
  EXPECT_FALSE(LoadUserIpRows(home.path()));
  EXPECT_FALSE(LoadAllIpRows(home.path()));
}

TEST(IpTableFile, FullCopyKeepsWorkingAndSlimsToTheUsersRows) {
  TempFolder home, install;
  const auto modal = home.path() / "modal";
  const auto delivered = install.path() / "ip.dat";
  const std::string table = Record("001.000.000.000", "001.000.000.255", "delivered", "d") +
                            Record("002.000.000.000", "002.000.000.255", " delivered ", "e");
  WriteBytes(delivered, table);
  test::TScopedEnv env("PELORIX_IP_TABLE", delivered.string());
  // An older version copied the whole table home and added the user's row.
  WriteBytes(modal / "IPuser.dat",
             table + Record("007.000.000.000", "007.000.000.255", "mine", "m") +
                 Record("002.000.000.000", "002.000.000.255", "changed", "e"));
  EXPECT_EQ(LoadUserIpRows(home.path())->size(), 4u);
  EXPECT_EQ(CountCopiedIpRows(home.path()), 2u);

  std::size_t dropped = 0;
  ASSERT_TRUE(SlimUserIpTable(home.path(), &dropped));
  EXPECT_EQ(dropped, 2u);
  auto user = LoadUserIpRows(home.path());
  ASSERT_EQ(user->size(), 2u);
  EXPECT_EQ((*user)[0].Area, "changed");
  EXPECT_EQ((*user)[1].Area, "mine");
  EXPECT_EQ(CountCopiedIpRows(home.path()), 0u);
  ASSERT_TRUE(SlimUserIpTable(home.path(), &dropped));
  EXPECT_EQ(dropped, 0u);
  EXPECT_EQ(LoadIpTable(home.path()).size(), 3u);
}

TEST(IpTableFile, ImportSkipsKnownStartsAndExportRoundTrips) {
  TempFolder dir;
  std::vector<TIpRecord> rows;
  ASSERT_TRUE(AddIpRow(rows, {"202.96.1.7", "202.96.1.9", "上海", "电信"}));
  ASSERT_TRUE(AddIpRow(rows, {"  1.  2.  3.  4", "1.2.3.255", "a", "b"}));
  const auto file = dir.path() / "IpSeek.dat";
  ASSERT_TRUE(ExportIpTable(file, rows));
  EXPECT_EQ(std::filesystem::file_size(file), 248u);

  std::vector<TIpRecord> fresh;
  int added = 0, skipped = 0;
  ASSERT_TRUE(ImportIpTable(file, fresh, &added, &skipped));
  EXPECT_EQ(fresh, rows);
  EXPECT_EQ(added, 2);

  ASSERT_TRUE(ImportIpTable(file, fresh, &added, &skipped));
  EXPECT_EQ(added, 0);
  EXPECT_EQ(fresh.size(), 2u);

  WriteBytes(file,
             Record("not an ip", "1.1.1.1", "x", "y") + Record("3.3.3.3", "3.3.3.4", "x", "y"));
  ASSERT_TRUE(ImportIpTable(file, fresh, &added, &skipped));
  EXPECT_EQ(added, 1);
  EXPECT_EQ(skipped, 1);
  EXPECT_EQ(fresh[1].StartIp, "003.003.003.003");

  std::string error;
  EXPECT_FALSE(ImportIpTable(dir.path() / "missing.dat", fresh, nullptr, nullptr, &error));
  EXPECT_FALSE(error.empty());
}

TEST(IpAddress, NormalisedToTheFixedForm) {
  EXPECT_EQ(NormaliseIpAddress("202. 96.  1.  7"), "202.096.001.007");
  EXPECT_EQ(NormaliseIpAddress("202.96.1.7"), "202.096.001.007");
  EXPECT_EQ(NormaliseIpAddress(" 10.0.0.1 "), "010.000.000.001");
  EXPECT_EQ(NormaliseIpAddress("10.   .0.1"), "010.000.000.001");
  EXPECT_EQ(NormaliseIpAddress("2 5.1.1.1"), "205.001.001.001");
  EXPECT_FALSE(NormaliseIpAddress("256.1.1.1"));
  EXPECT_FALSE(NormaliseIpAddress("1.2.3"));
  EXPECT_FALSE(NormaliseIpAddress("1.2.3.4.5"));
  EXPECT_FALSE(NormaliseIpAddress("1.2.3.x"));
  EXPECT_FALSE(NormaliseIpAddress("0001.2.3.4"));
  EXPECT_FALSE(NormaliseIpAddress("   .   .   .   "));

  std::vector<TIpRecord> rows;
  std::string error;
  EXPECT_FALSE(AddIpRow(rows, {"9.9.9.9", "9.9.9.1", "a", "b"}, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(AddIpRow(rows, {"9.9.9", "9.9.9.1", "a", "b"}));
  EXPECT_TRUE(rows.empty());

  // A new row goes after the rows with the same start, and says where.
  std::size_t at = 99;
  ASSERT_TRUE(AddIpRow(rows, {"9.0.0.0", "9.0.0.9", "x", "1"}, nullptr, &at));
  ASSERT_TRUE(AddIpRow(rows, {"1.0.0.0", "1.0.0.9", "x", "2"}, nullptr, &at));
  EXPECT_EQ(at, 0u);
  ASSERT_TRUE(AddIpRow(rows, {"1.0.0.0", "1.0.0.5", "x", "3"}, nullptr, &at));
  EXPECT_EQ(at, 1u);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1].Place, "3");
  EXPECT_EQ(rows[2].StartIp, "009.000.000.000");
}

}  // namespace
}  // namespace pelorix
