#include "engine/quarantine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <random>

#include "engine/mail_record.h"
#include "engine/record_files.h"
#include "mime/mail_message.h"
#include "store/atomic_file.h"
#include "store/file_fault.h"
#include "text/ansi.h"
#include "text/textutil.h"

namespace pelorix {
namespace fs = std::filesystem;

namespace {

bool SameBytes(const fs::path& file, std::string_view bytes) {
  std::error_code ec;
  if (fs::file_size(file, ec) != bytes.size() || ec) {
    return false;
  }
  const auto have = store::ReadWholeFile(file);
  return have && *have == bytes;
}

std::string RandomTag() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random()));
  return text;
}

std::time_t ModifiedAt(const fs::path& file) {
  struct stat st {};
  return ::stat(file.c_str(), &st) == 0 ? st.st_mtime : 0;
}

// Key file name -> account key, from every deleted-mail record file.
std::map<std::string, std::string> AccountsOfDeletedMail(const fs::path& home) {
  std::map<std::string, std::string> accounts;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(DeletedFolder(home), ec)) {
    if (entry.path().extension() != ".del")
      continue;
    const auto records = ReadRecordFile(entry.path());
    if (!records)
      continue;
    for (const TMailRecord& record : *records) {
      accounts[KeyFileName(record.MessageKey)] = record.AccountKey;
    }
  }
  return accounts;
}

// How much of a copy is read for its header; its body never is.
constexpr std::size_t kHeadLimit = 256 << 10;

// The header of a message's text (up to the first empty line, at most
// kHeadLimit bytes) as the message model reads it; what cannot be read
// stays empty.
TMailMessage HeaderOf(std::string_view message) {
  std::string_view head = message.substr(0, std::min(message.size(), kHeadLimit));
  for (std::size_t start = 0; start < head.size();) {
    const auto end = head.find('\n', start);
    if (end == std::string_view::npos)
      break;
    if (end == start || (end == start + 1 && head[start] == '\r')) {
      head = head.substr(0, start);
      break;
    }
    start = end + 1;
  }
  TCopyLines lines(head);
  TMailMessage header;
  try {
    header.ReadHeader(lines, ".");
  } catch (const std::exception&) {
    // A header that cannot be read keeps what was read of it.
  }
  return header;
}

// The header of a kept copy.
TMailMessage CopyHeaderOf(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string start(kHeadLimit, '\0');
  in.read(start.data(), static_cast<std::streamsize>(start.size()));
  start.resize(static_cast<std::size_t>(in.gcount()));
  return HeaderOf(start);
}

// What the name of a copy of this key starts with: the key file name, cut
// to leave room for "_n.eml" within the file system's name limit.
std::string CopyBase(std::string_view messageKey) {
  std::string base = KeyFileName(messageKey);
  constexpr std::size_t kLongest = 255 - 16;
  if (base.size() > kLongest)
    base = std::string(CutUtf8(base, kLongest));
  return base;
}

}  // namespace

std::string MessageIdOf(std::string_view message) {
  return HeaderOf(message).MessageId;
}

std::vector<fs::path> KeptCopies(const fs::path& home, std::string_view messageKey) {
  std::vector<fs::path> copies;
  const std::string name = KeyFileName(messageKey);
  if (name.empty())
    return copies;
  const std::string base = CopyBase(messageKey);
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(DeletedFolder(home), ec)) {
    const fs::path& file = entry.path();
    const std::string stem = file.stem().string();
    if (file.extension() != kQuarantineSuffix || !stem.starts_with(base))
      continue;
    const std::string_view rest = std::string_view(stem).substr(base.size());
    const bool numbered = rest.size() > 1 && rest[0] == '_' &&
                          rest.find_first_not_of("0123456789", 1) == std::string_view::npos;
    if (!rest.empty() && !numbered)
      continue;
    // Any of these may be an unrelated message's copy: K_1.eml the second
    // copy of key K while this key is K_1, whose own copy is then K_1_1.eml,
    // or K.eml of a longer key cut to K. Its own header decides.
    if (KeyFileName(CopyHeaderOf(file).MessageId) != name)
      continue;
    copies.push_back(file);
  }
  // K.eml first, then K_1.eml, K_2.eml ...
  std::sort(copies.begin(), copies.end(), [](const fs::path& a, const fs::path& b) {
    const auto ka = a.stem().string(), kb = b.stem().string();
    return ka.size() != kb.size() ? ka.size() < kb.size() : ka < kb;
  });
  return copies;
}

int RemoveKeptCopies(const fs::path& home, std::string_view messageKey) {
  int removed = 0;
  for (const fs::path& file : KeptCopies(home, messageKey)) {
    std::error_code ec;
    if (fs::remove(file, ec))
      ++removed;
  }
  return removed;
}

fs::path ChooseQuarantinePath(const fs::path& home, std::string_view messageKey,
                              std::string_view message) {
  const fs::path folder = DeletedFolder(home);
  std::string base = CopyBase(messageKey);
  if (base.empty()) {
    base = "nokey_" + RandomTag();
  }
  fs::path target = folder / (base + std::string(kQuarantineSuffix));
  std::error_code ec;
  for (int n = 1; fs::exists(target, ec) && !SameBytes(target, message); ++n) {
    target = folder / (base + "_" + std::to_string(n) + std::string(kQuarantineSuffix));
  }
  return target;
}

fs::path QuarantineMessage(const fs::path& home, std::string_view messageKey,
                           std::string_view message, std::string* error) {
  TCopyBatch batch(home);
  if (!batch.Add(messageKey, std::string(message), error))
    return {};
  const std::string why = batch.Commit().front();
  if (!why.empty()) {
    if (error)
      *error = why;
    return {};
  }
  return batch.Placed().front();
}

TCopyBatch::TCopyBatch(fs::path home) : home_(std::move(home)) {}

TCopyBatch::~TCopyBatch() {
  Discard();
}

void TCopyBatch::Discard() {
  for (const TPending& p : pending_) {
    std::error_code ignored;
    fs::remove(p.Temp, ignored);
  }
  pending_.clear();
  bytes_ = 0;
}

bool TCopyBatch::Add(std::string_view messageKey, std::string message, std::string* error) {
  const fs::path folder = DeletedFolder(home_);
  if (!EnsureDeletedFolder(home_)) {
    if (error)
      *error = "cannot create " + folder.string();
    return false;
  }
  const fs::path temp = folder / (".tmp_" + RandomTag() + ".part");
  const int fd = OpenForWriting(temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (error)
      *error = "cannot create " + temp.string() + ": " + std::strerror(errno);
    return false;
  }
  const bool written = WriteFully(fd, message, temp);
  const int cause = errno;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed) {
    if (error)
      *error = "cannot write " + temp.string() + ": " + std::strerror(written ? errno : cause);
    std::error_code ignored;
    fs::remove(temp, ignored);
    return false;
  }
  bytes_ += message.size();
  pending_.push_back({temp, std::string(messageKey), std::move(message)});
  return true;
}

std::vector<std::string> TCopyBatch::Commit() {
  std::vector<std::string> why(pending_.size());
  placed_.assign(pending_.size(), {});
  if (pending_.empty())
    return why;
  const fs::path folder = DeletedFolder(home_);
  auto reason = [](const std::string& what, const fs::path& file) {
    return what + " " + file.string() + ": " + std::strerror(errno);
  };
  // The bytes first: one sync of the file system for a group, one fsync for
  // a lone copy. Where the group's sync fails, each copy gets its own.
  bool together = false;
  if (pending_.size() > 1) {
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      together = SyncFileSystem(dir, folder);
      ::close(dir);
    }
  }
  for (std::size_t i = 0; i < pending_.size() && !together; ++i) {
    const fs::path& temp = pending_[i].Temp;
    const int fd = ::open(temp.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || !SyncFile(fd, temp))
      why[i] = reason("cannot write", temp);
    if (fd >= 0)
      ::close(fd);
  }
  // Then the names: never over another message's copy; another worker may
  // take a chosen name first, and then the name is chosen again.
  bool anyPlaced = false;
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    const TPending& p = pending_[i];
    if (!why[i].empty())
      continue;
    for (int attempt = 0; attempt < 100 && placed_[i].empty(); ++attempt) {
      const fs::path target = ChooseQuarantinePath(home_, p.Key, p.Message);
      // Only the same bytes count as kept already.
      if (SameBytes(target, p.Message)) {
        placed_[i] = target;
      } else if (RenameNoReplace(p.Temp, target)) {
        placed_[i] = target;
        anyPlaced = true;
      } else if (errno != EEXIST) {
        why[i] = reason("cannot rename to", target);
        break;
      }
    }
    if (placed_[i].empty() && why[i].empty())
      why[i] = "no free name in " + folder.string();
  }
  // The names must reach the disk before any of these messages is deleted.
  if (anyPlaced && !SyncFolder(folder)) {
    const std::string failed = reason("cannot sync", folder);
    for (std::size_t i = 0; i < pending_.size(); ++i) {
      if (why[i].empty())
        why[i] = failed;
    }
  }
  Discard();
  return why;
}

int ExpireQuarantine(const fs::path& home, int days, std::time_t now) {
  if (days < 1)
    return 0;
  int removed = 0;
  std::error_code ec;
  const std::time_t limit = static_cast<std::time_t>(days) * 86400;
  for (const auto& entry : fs::directory_iterator(DeletedFolder(home), ec)) {
    if (entry.path().extension() != kQuarantineSuffix || !entry.is_regular_file(ec))
      continue;
    const std::time_t modified = ModifiedAt(entry.path());
    if (modified != 0 && now - modified > limit && fs::remove(entry.path(), ec)) {
      ++removed;
    }
  }
  return removed;
}

std::vector<TQuarantineEntry> ListQuarantine(const fs::path& home) {
  std::vector<TQuarantineEntry> entries;
  const auto accounts = AccountsOfDeletedMail(home);
  std::error_code ec;
  for (const auto& file : fs::directory_iterator(DeletedFolder(home), ec)) {
    if (file.path().extension() != kQuarantineSuffix || !file.is_regular_file(ec))
      continue;
    TQuarantineEntry entry;
    entry.File = file.path();
    entry.Size = static_cast<long long>(file.file_size(ec));
    entry.Saved = ModifiedAt(file.path());
    // A copy whose header cannot be read is still listed by its file.
    const TMailMessage message = CopyHeaderOf(file.path());
    entry.MessageKey = message.MessageId;
    entry.Sender = message.From.Text();
    entry.Subject = message.Subject;
    const auto account = accounts.find(KeyFileName(entry.MessageKey));
    if (account != accounts.end() && !entry.MessageKey.empty())
      entry.AccountKey = account->second;
    entries.push_back(std::move(entry));
  }
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    return a.Saved != b.Saved ? a.Saved > b.Saved : a.File < b.File;
  });
  return entries;
}

void AppendMboxrd(std::string& mbox, std::string_view message, std::string_view envelopeSender,
                  std::time_t date) {
  char when[64] = "Thu Jan  1 00:00:00 1970";
  std::tm tm{};
  if (gmtime_r(&date, &tm))
    std::strftime(when, sizeof when, "%a %b %e %H:%M:%S %Y", &tm);
  std::string sender(envelopeSender);
  // The separator line holds one word for the sender.
  std::replace_if(
      sender.begin(), sender.end(), [](unsigned char c) { return c <= ' '; }, '_');
  mbox += "From " + (sender.empty() ? std::string("MAILER-DAEMON") : sender) + " " + when + "\n";
  while (!message.empty()) {
    auto end = message.find('\n');
    std::string_view line = message.substr(0, end);
    message = end == std::string_view::npos ? std::string_view() : message.substr(end + 1);
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    const auto quotes = line.find_first_not_of('>');
    if (quotes != std::string_view::npos && line.substr(quotes).starts_with("From "))
      mbox += '>';
    mbox += line;
    mbox += '\n';
  }
  mbox += '\n';
}

}  // namespace pelorix
