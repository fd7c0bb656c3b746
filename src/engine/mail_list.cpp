#include "engine/mail_list.h"

#include <algorithm>
#include <charconv>
#include <fstream>

#include "engine/record_files.h"
#include "store/atomic_file.h"
#include "store/file_fault.h"
#include "text/ansi.h"
#include "text/asciiutil.h"
#include "text/textutil.h"

namespace pelorix {

namespace {
// Marks are compared trimmed of every control character and blank, as the
// other readers of these fields do.
std::string_view Trim(std::string_view s) {
  return ascii::Trim(s);
}
}  // namespace

std::string CharsetTypeText(std::string_view charset, std::string_view contentType) {
  std::string text = CutToAnsiBytes(std::string(charset) + "[", 31);
  text = CutToAnsiBytes(text + std::string(contentType), 61);
  return CutToAnsiBytes(text + "]", 62);
}

TMailRow RowFromRecord(const TMailRecord& r) {
  TMailRow row;
  auto& it = row.Items;
  it[mcDeletionMark] = r.DeletionMark;
  it[mcVerdictMark] = r.VerdictMark;
  it[mcPriority] = r.Priority;
  it[mcCharsetType] = CharsetTypeText(r.CharSet, r.ContentType);
  it[mcSize] = PadLeft(r.Size, 8);
  it[mcSender] = r.Sender;
  it[mcSubject] = r.Subject;
  it[mcAccountKey] = r.AccountKey;
  it[mcNumber] = r.Number;
  it[mcRecipients] = r.Recipients;
  it[mcSenderRoute] = r.SenderRoute;
  it[mcDate] = r.Date;
  it[mcMessageKey] = r.MessageKey;
  it[mcOrganization] = r.Organization;
  row.Checked = Trim(r.VerdictMark) == "Yes";
  if (Trim(r.DeletionMark) == "Deleted")
    row.Checked = false;
  return row;
}

TMailRecord RecordFromRow(const TMailRow& row) {
  const auto& it = row.Items;
  TMailRecord r;
  r.VerdictMark = row.Checked ? "Yes" : "";
  r.Sender = it[mcSender];
  r.SenderRoute = it[mcSenderRoute];
  r.Recipients = it[mcRecipients];
  r.AccountKey = it[mcAccountKey];
  r.Subject = it[mcSubject];
  r.Number = it[mcNumber];
  r.MessageKey = it[mcMessageKey];
  r.DeletionMark = it[mcDeletionMark];
  r.Size = it[mcSize];
  r.Date = it[mcDate];
  // The shown "charset[type]" goes back into its two fields, so a saved and
  // reloaded list shows the column unchanged.
  const std::string& shown = it[mcCharsetType];
  const auto open = shown.find('[');
  if (open != std::string::npos && !shown.empty() && shown.back() == ']') {
    r.CharSet = shown.substr(0, open);
    r.ContentType = shown.substr(open + 1, shown.size() - open - 2);
  } else {
    r.ContentType = shown;
  }
  r.Priority = it[mcPriority];
  r.Organization = it[mcOrganization];
  return r;
}

std::size_t TMailList::Count() const {
  std::lock_guard lock(mutex_);
  return rows_.size();
}

std::size_t TMailList::Append(TMailRow row) {
  std::lock_guard lock(mutex_);
  rows_.push_back(std::move(row));
  return rows_.size() - 1;
}

void TMailList::Clear() {
  std::lock_guard lock(mutex_);
  rows_.clear();
}

TMailRow TMailList::Row(std::size_t index) const {
  std::lock_guard lock(mutex_);
  return index < rows_.size() ? rows_[index] : TMailRow{};
}

std::vector<TMailRow> TMailList::Rows() const {
  std::lock_guard lock(mutex_);
  return rows_;
}

void TMailList::SetChecked(std::size_t index, bool checked) {
  std::lock_guard lock(mutex_);
  if (index < rows_.size())
    rows_[index].Checked = checked;
}

void TMailList::SetItem(std::size_t index, std::size_t column, std::string text) {
  std::lock_guard lock(mutex_);
  if (index < rows_.size() && column < kMailColumns)
    rows_[index].Items[column] = std::move(text);
}

void TMailList::WithRows(const std::function<void(std::vector<TMailRow>&)>& fn) {
  std::lock_guard lock(mutex_);
  fn(rows_);
}

std::filesystem::path ScoreFilePath(const std::filesystem::path& recordFile) {
  auto p = recordFile;
  p += ".score";
  return p;
}

namespace {

// "key TAB score TAB unsure TAB clues" per row; tabs and line breaks in a
// key or a clue become blanks.
std::string ScoreLine(const TMailRow& row) {
  auto clean = [](std::string s) {
    for (auto& c : s)
      if (c == '\t' || c == '\n' || c == '\r')
        c = ' ';
    return s;
  };
  return clean(row.Items[mcMessageKey]) + "\t" + std::to_string(row.Score) + "\t" +
         (row.Unsure ? "1" : "0") + "\t" + clean(row.Clues) + "\n";
}

void ReadScores(const std::filesystem::path& recordFile, std::vector<TMailRow>& rows,
                std::size_t first) {
  std::ifstream in(ScoreFilePath(recordFile), std::ios::binary);
  std::string line;
  for (std::size_t i = first; i < rows.size() && std::getline(in, line); ++i) {
    const auto t1 = line.find('\t');
    const auto t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
    const auto t3 = t2 == std::string::npos ? t2 : line.find('\t', t2 + 1);
    if (t3 == std::string::npos)
      return;
    // A side file left from another list says nothing about this one.
    if (line.compare(0, t1, rows[i].Items[mcMessageKey]) != 0)
      return;
    int score = -1;
    const char* b = line.data() + t1 + 1;
    std::from_chars(b, line.data() + t2, score);
    rows[i].Score = std::clamp(score, -1, 100);
    rows[i].Unsure = line.compare(t2 + 1, t3 - t2 - 1, "1") == 0;
    rows[i].Clues = line.substr(t3 + 1);
  }
}

// The IMAP rows' server references live beside the record file, one line
// per record, so that a list saved by one run can be deleted by the next.
std::filesystem::path RefPath(const std::filesystem::path& recordFile) {
  return std::filesystem::path(recordFile.string() + ".ref");
}

std::vector<std::string> ReadRefs(const std::filesystem::path& recordFile) {
  std::vector<std::string> refs;
  std::ifstream in(RefPath(recordFile), std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    refs.push_back(FromAnsi(line));
  }
  return refs;
}

void WriteRefs(const std::filesystem::path& recordFile, const std::vector<TMailRow>& rows) {
  std::error_code ec;
  if (std::none_of(rows.begin(), rows.end(),
                   [](const TMailRow& r) { return !r.ServerRef.empty(); })) {
    std::filesystem::remove(RefPath(recordFile), ec);
    return;
  }
  std::string text;
  for (const TMailRow& row : rows)
    text += ToAnsi(row.ServerRef) + "\r\n";
  store::WriteFileAtomic(RefPath(recordFile), text);
}

}  // namespace

void TMailList::Reserve(std::size_t more) {
  std::lock_guard lock(mutex_);
  rows_.reserve(rows_.size() + more);
}

bool TMailList::LoadRecordFile(const std::filesystem::path& path, bool clearFirst) {
  if (path.empty())
    return false;
  auto records = ReadRecordFile(path);
  if (!records)
    return false;
  const std::vector<std::string> refs = ReadRefs(path);
  // References that do not pair with the records one to one are not used.
  const bool paired = refs.size() == records->size();
  std::lock_guard lock(mutex_);
  if (clearFirst)
    rows_.clear();
  const std::size_t first = rows_.size();
  for (std::size_t i = 0; i < records->size(); ++i) {
    rows_.push_back(RowFromRecord((*records)[i]));
    if (paired)
      rows_.back().ServerRef = refs[i];
  }
  ReadScores(path, rows_, first);
  return true;
}

bool TMailList::SaveRecordFile(const std::filesystem::path& path) const {
  if (path.empty())
    return false;
  // The writer works beside the file and renames it over at the close; a
  // list not written whole is abandoned, so the former one stays.
  TRecordFileWriter w;
  if (!w.Open(path, TRecordFileWriter::Mode::Truncate))
    return false;
  std::lock_guard lock(mutex_);
  std::string scores;
  bool scored = false;
  bool written = true;
  for (const auto& row : rows_) {
    if (!w.Append(RecordFromRow(row))) {
      written = false;
      break;
    }
    scored = scored || row.Score >= 0;
    scores += ScoreLine(row);
  }
  if (!written || !w.Flush()) {
    w.Abandon();
    return false;
  }
  if (!w.Close())
    return false;
  std::error_code ec;
  WriteRefs(path, rows_);
  if (!scored) {
    std::filesystem::remove(ScoreFilePath(path), ec);
    return true;
  }
  // The scores are a convenience: the list is saved whether or not they are.
  store::WriteFileAtomic(ScoreFilePath(path), scores);
  return true;
}

}  // namespace pelorix
