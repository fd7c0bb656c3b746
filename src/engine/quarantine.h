#pragma once
// Whole copies of messages deleted on a server, kept in tmp/deleted/ as
// <key file name>.eml until they expire, so that every deletion can be
// undone: appended to an mbox file, or sent back to the user.

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "mime/line_source.h"

namespace pelorix {

inline constexpr std::string_view kQuarantineSuffix = ".eml";

// The file a message's copy goes to. A message without a key, or whose
// name is held by the copy of a different message, gets a fresh name of its
// own; the copy of the same bytes keeps its name (a second deletion of the
// same message after a restore).
std::filesystem::path ChooseQuarantinePath(const std::filesystem::path& home,
                                           std::string_view messageKey, std::string_view message);

// Chooses the name and writes the copy, durable before this returns; the
// path written, or empty with the reason.
std::filesystem::path QuarantineMessage(const std::filesystem::path& home,
                                        std::string_view messageKey, std::string_view message,
                                        std::string* error = nullptr);

// Copies made durable together. Each is written under a temporary name;
// Commit() brings them all to disk with one sync, gives each its name and
// syncs the folder once, so a run deleting many messages pays the disk once
// per group rather than twice per message. What was never committed is
// removed.
class TCopyBatch {
 public:
  // A group is full at this many copies or bytes (TDeletionWindow), whichever
  // comes first.
  static constexpr std::size_t kMessages = 100;
  static constexpr std::size_t kBytes = 16u << 20;

  explicit TCopyBatch(std::filesystem::path home);
  ~TCopyBatch();
  TCopyBatch(const TCopyBatch&) = delete;
  TCopyBatch& operator=(const TCopyBatch&) = delete;

  // Writes one copy; false with the reason, leaving nothing of it behind.
  bool Add(std::string_view messageKey, std::string message, std::string* error = nullptr);
  std::size_t Bytes() const { return bytes_; }
  // For each copy in the order added: empty when it is safely on disk under
  // its name, else why not. The batch is empty afterwards.
  std::vector<std::string> Commit();
  // The names the last Commit() gave (empty where it failed).
  const std::vector<std::filesystem::path>& Placed() const { return placed_; }

 private:
  struct TPending {
    std::filesystem::path Temp;
    std::string Key;
    std::string Message;
  };
  void Discard();
  std::filesystem::path home_;
  std::vector<TPending> pending_;
  std::vector<std::filesystem::path> placed_;
  std::size_t bytes_ = 0;
};

// The Message-ID of a message's text; empty when it has none.
std::string MessageIdOf(std::string_view message);

// The copies of the message with this key, whatever name each got (matched
// by key file name, as the message's other files are), the first one first.
std::vector<std::filesystem::path> KeptCopies(const std::filesystem::path& home,
                                              std::string_view messageKey);

// Removes those copies; returns how many went.
int RemoveKeptCopies(const std::filesystem::path& home, std::string_view messageKey);

// Removes copies older than `days` days (by their modification time);
// returns how many went. A days value below 1 keeps everything.
int ExpireQuarantine(const std::filesystem::path& home, int days, std::time_t now);

struct TQuarantineEntry {
  std::filesystem::path File;
  std::string AccountKey;  // from the deleted-mail records; empty when unknown
  std::string MessageKey;
  std::string Sender;  // UTF-8
  std::string Subject;
  std::time_t Saved = 0;  // when the copy was made
  long long Size = 0;
};

// Every copy, newest first.
std::vector<TQuarantineEntry> ListQuarantine(const std::filesystem::path& home);

// Appends one message to an mbox in the mboxrd form: a "From " separator
// line, the message with LF line ends and every line that matches
// ">*From " quoted with one more ">", and an empty line.
void AppendMboxrd(std::string& mbox, std::string_view message, std::string_view envelopeSender,
                  std::time_t date);

}  // namespace pelorix
