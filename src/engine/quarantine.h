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

// Writes the copy under a temporary name, flushes it to disk and renames it
// into place, never over an existing file (errno is EEXIST then). Returns
// false with the reason when the copy is not safely on disk; nothing is
// left behind then.
bool WriteQuarantineCopy(const std::filesystem::path& target, std::string_view message,
                         std::string* error = nullptr);

// Chooses the name and writes the copy; the path written, or empty with the
// reason.
std::filesystem::path QuarantineMessage(const std::filesystem::path& home,
                                        std::string_view messageKey, std::string_view message,
                                        std::string* error = nullptr);

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
