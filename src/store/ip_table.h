#pragma once
// The IP location table: files of 124-byte records (start address, end
// address, area, place; each a length byte and GB18030 text), sorted by the
// start address in the fixed form "061.129.000.000".

#include <cstddef>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelorix {

inline constexpr std::size_t kIpRecordSize = 124;

struct TIpRecord {
  std::string StartIp, EndIp, Area, Place;  // UTF-8
};

bool operator==(const TIpRecord& a, const TIpRecord& b);

// The table delivered with the program: $PELORIX_IP_TABLE when set (empty:
// none), else share/pelorix/ip.dat beside the installed program's bin/, else
// the install prefix's, else the build tree's. Empty when none exists.
std::filesystem::path DeliveredIpTableFile();

// The tables a lookup searches, in this order, those that exist: the
// user's rows (modal/IPuser.dat, name matched ignoring case), the home's
// own table (modal/ip.dat, likewise) and the delivered table.
std::vector<std::filesystem::path> IpTableFilesInForce(const std::filesystem::path& home);
std::vector<std::filesystem::path> IpTableFilesInForce(const std::filesystem::path& home,
                                                       const std::filesystem::path& delivered);
// Where the user's rows are kept: an existing modal/IPuser.dat in any case,
// else modal/IPuser.dat.
std::filesystem::path UserIpTableFile(const std::filesystem::path& home);

// Whole records in an open table file; a partial last record is not counted.
std::size_t CountIpRecords(std::istream& in);
// Record `index` of an open file, texts as stored (not trimmed).
bool ReadIpRecordAt(std::istream& in, std::size_t index, TIpRecord& record);
TIpRecord DecodeIpRecord(std::string_view bytes124);
// Each text cut to 15, 15, 30 and 60 bytes on disk; `trim` trims first.
std::string EncodeIpRecord(const TIpRecord& record, bool trim);

// Every whole record of a file as the settings window shows it: blanks in
// the addresses become "0", area and place trimmed. Nothing if unreadable.
std::optional<std::vector<TIpRecord>> ReadIpTableFile(const std::filesystem::path& file);
// The rows the user added or imported, sorted by start address; empty when
// there are none, nothing when the user's file exists but cannot be read.
std::optional<std::vector<TIpRecord>> LoadUserIpRows(const std::filesystem::path& home);
// Every row a lookup can find, sorted: the user's rows, then the rows of the
// tables beneath whose start address no table above has. Nothing when a
// table exists but cannot be read.
std::optional<std::vector<TIpRecord>> LoadAllIpRows(const std::filesystem::path& home);
// The same with the user's rows given (edited, not saved yet).
std::optional<std::vector<TIpRecord>> LoadAllIpRows(const std::filesystem::path& home,
                                                    const std::vector<TIpRecord>& userRows);
// LoadAllIpRows, empty when unreadable.
std::vector<TIpRecord> LoadIpTable(const std::filesystem::path& home);
// Writes the user's rows (texts trimmed and cut). Does not create modal/.
bool SaveIpTable(const std::filesystem::path& home, const std::vector<TIpRecord>& userRows,
                 std::string* error = nullptr);
// How many of the user's rows equal a row of a table beneath them (a user
// file copied whole from the delivered table before the rows were kept
// apart); nothing when a table cannot be read.
std::optional<std::size_t> CountCopiedIpRows(const std::filesystem::path& home);
// Drops those rows from the user's file; `dropped` gets their number.
bool SlimUserIpTable(const std::filesystem::path& home, std::size_t* dropped = nullptr,
                     std::string* error = nullptr);
// Writes any table file (texts cut, not trimmed).
bool ExportIpTable(const std::filesystem::path& file, const std::vector<TIpRecord>& rows,
                   std::string* error = nullptr);
// Appends the file's records whose start address is not in the list yet;
// addresses are brought to the fixed form, records with addresses that
// cannot be are skipped. Returns false when the file cannot be read.
bool ImportIpTable(const std::filesystem::path& file, std::vector<TIpRecord>& rows,
                   int* added = nullptr, int* skipped = nullptr, std::string* error = nullptr);
// Adds a typed row (addresses normalised, start not above end) to rows
// sorted by start address, keeping them so; `at` gets the new row's index.
// False with a reason when refused.
bool AddIpRow(std::vector<TIpRecord>& rows, TIpRecord row, std::string* error = nullptr,
              std::size_t* at = nullptr);
// Stable order by start address text.
void SortIpRows(std::vector<TIpRecord>& rows);

// "202. 96.  1.  7", "202.96.1.7" or the template with blanks all become
// "202.096.001.007"; nothing when an octet is not 0 to 255.
std::optional<std::string> NormaliseIpAddress(std::string_view typed);

}  // namespace pelorix
