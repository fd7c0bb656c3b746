// Arbitrary bytes as a message kept before it is deleted, and the same
// message with one more line, under keys that may meet: its Message-ID line,
// its first line (hostile keys such as "<../../x>" included), the name a
// second message of that key gets, and no key. Every copy lands inside
// tmp/deleted/ under one ".eml" name holding exactly its message; no copy
// is ever replaced by another message's, not even one written to a name
// taken meanwhile; the same message under the same key keeps its name;
// nothing else is left in the folder; the listing shows each copy once
// with readable texts; the copies of a message are found by its key, all of
// them and no other message's.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "../store/fuzz_folder.h"
#include "engine/quarantine.h"
#include "engine/record_files.h"
#include "text/ansi.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string_view MessageIdLine(std::string_view message) {
  for (std::size_t at = 0; at < message.size();) {
    const auto end = message.find('\n', at);
    const std::string_view line =
        message.substr(at, end == std::string_view::npos ? end : end - at);
    if (line.size() >= 11 &&
        (line.substr(0, 11) == "Message-ID:" || line.substr(0, 11) == "Message-Id:"))
      return line.substr(11);
    if (end == std::string_view::npos)
      break;
    at = end + 1;
  }
  return {};
}

struct TKept {
  fs::path File;
  std::string Bytes;
  std::string Key;
};

// Keeps `message` and checks where the copy went and that every earlier
// copy is untouched.
void Keep(const fs::path& home, std::string_view key, std::string_view message,
          std::vector<TKept>& kept) {
  const fs::path folder = pelorix::DeletedFolder(home);
  const bool named = !pelorix::KeyFileName(key).empty();
  const fs::path chosen = pelorix::ChooseQuarantinePath(home, key, message);
  std::string error;
  const fs::path file = pelorix::QuarantineMessage(home, key, message, &error);
  const std::string name = file.filename().string();
  if (file.empty() || (named && file != chosen) || file.parent_path() != folder ||
      name.size() > 255 || !name.ends_with(".eml") || ReadAll(file) != message)
    std::abort();
  bool again = false;
  for (const TKept& k : kept) {
    if (ReadAll(k.File) != k.Bytes)
      std::abort();
    // A name holds one message; the same message under the same key keeps
    // its name.
    again = again || (k.File == file);
    if ((k.File == file && k.Bytes != message) ||
        (named && k.Key == key && k.Bytes == message && k.File != file))
      std::abort();
  }
  if (!again)
    kept.push_back({file, std::string(message), std::string(key)});
}

// As the workers keep them: each message under its own Message-ID. The
// message, another one with the same Message-ID and one whose Message-ID is
// the first's with "_1" (so its name may be the second copy's), in either
// order; then each key's copies are found, all of them and only those, so a
// restore or purge never takes another message's copy.
void CheckKeptCopies(const fs::path& home, std::string_view message, bool nearFirst) {
  std::error_code ec;
  fs::remove_all(home / "tmp", ec);
  const std::string id = pelorix::MessageIdOf(message);
  const std::string second = std::string(message) + "\n";
  const std::string near = "Message-ID: " + id + "_1\r\n\r\n" + std::string(message);
  std::vector<TKept> kept;
  const auto keep = [&](std::string_view m) { Keep(home, pelorix::MessageIdOf(m), m, kept); };
  keep(message);
  keep(nearFirst ? near : second);
  keep(nearFirst ? second : near);
  for (const TKept& k : kept) {
    const std::string name = pelorix::KeyFileName(k.Key);
    if (name.empty())
      continue;
    std::vector<fs::path> want;
    for (const TKept& j : kept) {
      if (pelorix::KeyFileName(j.Key) == name)
        want.push_back(j.File);
    }
    auto got = pelorix::KeptCopies(home, k.Key);
    std::sort(want.begin(), want.end());
    std::sort(got.begin(), got.end());
    if (got != want)
      std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 64 * 1024)
    return 0;
  const std::string_view message(reinterpret_cast<const char*>(data), size);
  const fs::path& home = pelorix::fuzz::ScratchFolder();
  std::error_code ec;
  fs::remove_all(home / "tmp", ec);
  const std::string_view id = MessageIdLine(message);
  const std::string_view first = message.substr(0, message.find('\n'));
  // Names that may meet: a key, the name a second message of that key gets,
  // and a key without a file name.
  const std::string numbered = pelorix::KeyFileName(id) + "_1";
  const std::string other = std::string(message) + "\n";
  std::vector<TKept> kept;
  for (const std::string_view key : {id, first, std::string_view(numbered), std::string_view()}) {
    Keep(home, key, message, kept);
    Keep(home, key, other, kept);
    Keep(home, key, message, kept);
  }
  // Only the copies: no temporary file left, nothing outside tmp/deleted/.
  std::size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(home, ec)) {
    if (entry.is_directory())
      continue;
    if (entry.path().parent_path() != pelorix::DeletedFolder(home) ||
        entry.path().extension() != ".eml")
      std::abort();
    ++files;
  }
  if (files != kept.size())
    std::abort();
  // A copy made later under a taken name must not replace the copy there.
  for (const TKept& k : kept) {
    if (pelorix::WriteQuarantineCopy(k.File, k.Bytes + "!") || ReadAll(k.File) != k.Bytes)
      std::abort();
  }
  // The listing shows every copy once, with its size and readable texts.
  const auto entries = pelorix::ListQuarantine(home);
  if (entries.size() != kept.size())
    std::abort();
  for (const auto& entry : entries) {
    bool found = false;
    for (const TKept& k : kept)
      found =
          found || (k.File == entry.File && static_cast<std::size_t>(entry.Size) == k.Bytes.size());
    if (!found || !pelorix::IsValidUtf8(entry.Sender) || !pelorix::IsValidUtf8(entry.Subject) ||
        !pelorix::IsValidUtf8(entry.MessageKey))
      std::abort();
  }
  CheckKeptCopies(home, message, size > 0 && (data[0] & 1) != 0);
  return 0;
}
