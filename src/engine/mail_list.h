#pragma once
// The mail list: one row per judged message, fourteen texts and a tick,
// shared by the check and deletion workers and the front ends. Every access
// goes through the list's own mutex; the Qt view adapts this object and
// keeps no second copy of the rows.

#include <array>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/mail_record.h"

namespace pelorix {

// Sub-item indexes of a row.
enum TMailColumn : std::size_t {
  mcDeletionMark = 0,
  mcVerdictMark = 1,
  mcPriority = 2,
  mcCharsetType = 3,
  mcSize = 4,
  mcSender = 5,
  mcSubject = 6,
  mcAccountKey = 7,
  mcNumber = 8,
  mcRecipients = 9,
  mcSenderRoute = 10,
  mcDate = 11,
  mcMessageKey = 12,
  mcOrganization = 13,
};
inline constexpr std::size_t kMailColumns = 14;

struct TMailRow {
  std::array<std::string, kMailColumns> Items;
  bool Checked = false;
  // The learning judge's word, kept beside the record, never inside it:
  // 0-100 (-1 none), unsure, and the clues that decided.
  int Score = -1;
  bool Unsure = false;
  std::string Clues;
  // Where the message lives on an IMAP server (folder, UIDVALIDITY, UID),
  // so that a deletion takes that message and no other; not in the record.
  std::string ServerRef;
  bool operator==(const TMailRow&) const = default;
};

// Record to row as the list loads it: sub-item 3 is charset + "[" + content
// type + "]" (cut to 31 / 62 bytes of the on-disk form), the size padded to
// 8 characters, ticked for "Yes" unless "Deleted".
TMailRow RowFromRecord(const TMailRecord& record);
// Row to record as the list saves it: verdict mark from the tick; sub-item 3
// "charset[type]" split back into its two fields (a text of another form
// goes whole into the content type).
TMailRecord RecordFromRow(const TMailRow& row);
// The side file of a record file's scores.
std::filesystem::path ScoreFilePath(const std::filesystem::path& recordFile);

// The sub-item 3 text of a freshly judged message.
std::string CharsetTypeText(std::string_view charset, std::string_view contentType);

class TMailList {
 public:
  std::size_t Count() const;
  // Appends and returns the new row's index.
  std::size_t Append(TMailRow row);
  // Room for `more` rows: a big mailbox's list grows once, not by copies.
  void Reserve(std::size_t more);
  void Clear();
  TMailRow Row(std::size_t index) const;
  std::vector<TMailRow> Rows() const;
  void SetChecked(std::size_t index, bool checked);
  void SetItem(std::size_t index, std::size_t column, std::string text);

  // Runs fn on the rows under the list's lock (searching and marking).
  void WithRows(const std::function<void(std::vector<TMailRow>&)>& fn);

  // Loads a record file (clearing first when asked); nothing happens when
  // the file cannot be opened. Returns whether it was read.
  bool LoadRecordFile(const std::filesystem::path& path, bool clearFirst);
  // Writes one record per row; false when the file cannot be created. The
  // judge's scores go to a side file (path + ".score"), one line per row
  // with its message key, so a reader of the records sees no change.
  bool SaveRecordFile(const std::filesystem::path& path) const;

 private:
  mutable std::mutex mutex_;
  std::vector<TMailRow> rows_;
};

}  // namespace pelorix
