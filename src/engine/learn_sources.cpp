#include "engine/learn_sources.h"

#include <sqlite3.h>

#include <algorithm>
#include <fstream>
#include <set>

#include "classify/classifier.h"
#include "engine/learning.h"
#include "engine/message_file.h"
#include "engine/origin.h"
#include "engine/quarantine.h"
#include "engine/record_files.h"
#include "engine/restore.h"
#include "mime/header_util.h"
#include "mime/mail_message.h"
#include "store/atomic_file.h"

namespace pelorix {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxMessageBytes = 32u << 20;

std::vector<std::string> Tokens(const TMailMessage& m, const std::vector<std::string>* body,
                                int mode, const TIpLocationTable& table) {
  std::vector<std::string> lines;
  const std::vector<std::string>* used = nullptr;
  if (body && mode != 0) {
    lines = BodyLinesForMode(*body, mode);
    used = &lines;
  }
  return MessageTokens(m, used, SenderRouteOf(m, table));
}

bool IsMessageFile(const fs::path& p) {
  const std::string name = p.filename().string();
  return !name.empty() && name[0] != '.' && p.extension() != ".msf" && p.extension() != ".dat" &&
         p.extension() != ".json" && p.extension() != ".sqlite";
}

// An mbox: "From " at the start of a line after an empty one (or of the
// file) starts a message; ">From " lines lose one ">".
bool ForEachInMbox(const fs::path& file, const std::function<void(std::string_view)>& fn) {
  std::ifstream in(file, std::ios::binary);
  if (!in)
    return false;
  std::string message, line;
  bool started = false, blankBefore = true;
  auto flush = [&] {
    if (started && !message.empty())
      fn(message);
    message.clear();
  };
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (blankBefore && line.starts_with("From ")) {
      flush();
      started = true;
      blankBefore = false;
      continue;
    }
    blankBefore = line.empty();
    if (!started)
      continue;
    std::string_view l = line;
    if (l.starts_with(">")) {
      const auto from = l.find_first_not_of('>');
      if (from != std::string_view::npos && l.substr(from).starts_with("From "))
        l.remove_prefix(1);
    }
    if (message.size() < kMaxMessageBytes) {
      message.append(l);
      message += "\r\n";
    }
  }
  flush();
  return true;
}

bool LooksLikeMbox(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  char head[5] = {};
  in.read(head, 5);
  return in.gcount() == 5 && std::string_view(head, 5) == "From ";
}

}  // namespace

TLearnOutcome LearnParsedMessage(TTokenStore& store, const TMailMessage& m,
                                 const std::vector<std::string>* body, int mode, TLearnClass cls,
                                 const TIpLocationTable& table) {
  const std::uint64_t id = MessageIdentity(m);
  const auto before = store.Learnt(id);
  store.Begin();
  if (before && before->Class != cls && before->Mode != mode)
    store.Unlearn(id, TokenHashes(Tokens(m, body, before->Mode, table)));
  const TLearnOutcome outcome =
      store.Learn(id, cls, mode, TokenHashes(Tokens(m, body, mode, table)));
  store.Commit();
  return before && before->Class != cls ? TLearnOutcome::Moved : outcome;
}

bool UnlearnParsedMessage(TTokenStore& store, const TMailMessage& m,
                          const std::vector<std::string>* body, const TIpLocationTable& table) {
  const std::uint64_t id = MessageIdentity(m);
  const auto before = store.Learnt(id);
  if (!before)
    return false;
  return store.Unlearn(id, TokenHashes(Tokens(m, body, before->Mode, table)));
}

TLearnOutcome LearnMessageText(TTokenStore& store, std::string_view text, TLearnClass cls,
                               const TIpLocationTable& table) {
  TMailMessage m;
  ParseMessageText(text, m, true);
  const std::vector<std::string> body = BodyLines(m);
  return LearnParsedMessage(store, m, &body, -1, cls, table);
}

bool ForEachMessage(const fs::path& source, const std::function<void(std::string_view)>& fn) {
  std::error_code ec;
  if (fs::is_regular_file(source, ec)) {
    if (LooksLikeMbox(source))
      return ForEachInMbox(source, fn);
    auto text = store::ReadWholeFile(source);
    if (!text)
      return false;
    fn(*text);
    return true;
  }
  if (!fs::is_directory(source, ec))
    return false;
  std::vector<fs::path> files;
  for (auto it = fs::recursive_directory_iterator(
           source, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    // A Maildir's tmp/ holds deliveries not yet complete.
    if (it->is_directory(ec) && it->path().filename() == "tmp" &&
        fs::exists(it->path().parent_path() / "cur", ec)) {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file(ec) && IsMessageFile(it->path()))
      files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& f : files) {
    if (LooksLikeMbox(f)) {
      ForEachInMbox(f, fn);
    } else if (auto text = store::ReadWholeFile(f); text && text->size() <= kMaxMessageBytes) {
      fn(*text);
    }
  }
  return true;
}

TLearnTotals LearnSources(TTokenStore& store, const std::vector<fs::path>& sources, TLearnClass cls,
                          const TIpLocationTable& table, const std::function<void(int)>& progress) {
  TLearnTotals totals;
  int inBatch = 0;
  store.Begin();
  for (const auto& source : sources) {
    const bool read = ForEachMessage(source, [&](std::string_view text) {
      switch (LearnMessageText(store, text, cls, table)) {
        case TLearnOutcome::Learnt:
          ++totals.Learnt;
          break;
        case TLearnOutcome::Already:
          ++totals.Already;
          break;
        case TLearnOutcome::Moved:
          ++totals.Moved;
          break;
      }
      if (++inBatch == 1000) {
        store.Commit();
        store.Begin();
        inBatch = 0;
      }
      if (progress && totals.Total() % 250 == 0)
        progress(totals.Total());
    });
    if (!read)
      ++totals.Unreadable;
  }
  store.Commit();
  store.Expire(kMaxStoredTokens);
  if (progress)
    progress(totals.Total());
  return totals;
}

std::vector<fs::path> ThunderbirdFolders(const fs::path& profile, bool junk) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (const char* root : {"Mail", "ImapMail"}) {
    for (auto it = fs::recursive_directory_iterator(
             profile / root, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (!it->is_regular_file(ec))
        continue;
      std::string name = it->path().filename().string();
      std::transform(name.begin(), name.end(), name.begin(),
                     [](unsigned char c) { return std::tolower(c); });
      const bool isJunk = name == "junk" || name == "spam";
      const bool isGood = name == "inbox" || name == "sent";
      if (junk ? isJunk : isGood)
        out.push_back(it->path());
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> ThunderbirdAddresses(const fs::path& profile) {
  std::set<std::string> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(profile, ec)) {
    const std::string name = entry.path().filename().string();
    if (!(name.starts_with("abook") || name == "history.sqlite") ||
        entry.path().extension() != ".sqlite")
      continue;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(entry.path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_stmt* q = nullptr;
      if (sqlite3_prepare_v2(db,
                             "SELECT value FROM properties WHERE name IN ('PrimaryEmail', "
                             "'SecondEmail')",
                             -1, &q, nullptr) == SQLITE_OK) {
        while (sqlite3_step(q) == SQLITE_ROW) {
          const auto* v = sqlite3_column_text(q, 0);
          std::string a = v ? reinterpret_cast<const char*>(v) : "";
          std::transform(a.begin(), a.end(), a.begin(),
                         [](unsigned char c) { return std::tolower(c); });
          if (a.find('@') != std::string::npos)
            found.insert(a);
        }
      }
      sqlite3_finalize(q);
    }
    sqlite3_close(db);
  }
  return {found.begin(), found.end()};
}

TThunderbirdLearnt LearnFromThunderbird(TTokenStore& store, const fs::path& profile,
                                        const TIpLocationTable& table,
                                        const std::function<void(int)>& progress) {
  TThunderbirdLearnt learnt;
  learnt.Spam =
      LearnSources(store, ThunderbirdFolders(profile, true), TLearnClass::Spam, table, progress);
  learnt.Good =
      LearnSources(store, ThunderbirdFolders(profile, false), TLearnClass::Good, table, progress);
  learnt.Friends = store.AddFriends(ThunderbirdAddresses(profile), "thunderbird");
  return learnt;
}

bool LoadMessageByKey(const fs::path& home, std::string_view key, TMailMessage& m,
                      std::vector<std::string>& body, bool& hasBody) {
  const std::string name = KeyFileName(key);
  body.clear();
  hasBody = false;
  if (name.empty())
    return false;
  for (const fs::path& folder : {TmpFolder(home), DeletedFolder(home)}) {
    auto header = store::ReadWholeFile(HeaderFilePath(folder, name));
    if (!header)
      continue;
    ParseMessageText(*header, m, false);
    hasBody = ReadAnsiLines(BodyFilePath(folder, name), body);
    return true;
  }
  if (const fs::path copy = KeptCopyPath(home, key); !copy.empty()) {
    if (auto text = store::ReadWholeFile(copy)) {
      ParseMessageText(*text, m, true);
      body = BodyLines(m);
      hasBody = true;
      return true;
    }
  }
  return false;
}

int MarkMessages(const fs::path& home, const std::vector<std::string>& keys, TLearnClass cls,
                 std::string* error) {
  auto store = TTokenStore::Open(TTokenStore::PathIn(home), error);
  if (!store)
    return 0;
  TIpLocationTable table(home);
  table.Refresh();
  int found = 0;
  store->Begin();
  for (const auto& key : keys) {
    TMailMessage m;
    std::vector<std::string> body;
    bool hasBody = false;
    if (!LoadMessageByKey(home, key, m, body, hasBody))
      continue;
    LearnParsedMessage(*store, m, hasBody ? &body : nullptr, hasBody ? -1 : 0, cls, table);
    ++found;
  }
  if (!store->Commit() && error)
    *error = store->LastError();
  return found;
}

void AddRepliedFriends(const fs::path& home, std::string_view sendto, std::string_view cc) {
  auto store = TTokenStore::Open(TTokenStore::PathIn(home));
  if (!store)
    return;
  for (std::string_view list : {sendto, cc}) {
    TEmailAddressList addresses;
    addresses.SetText(list);
    for (const auto& a : addresses.Items)
      store->AddFriend(a.Address, "reply");
  }
}

int LearnRestored(const fs::path& home, const std::vector<fs::path>& copies) {
  auto store = TTokenStore::Open(TTokenStore::PathIn(home));
  if (!store)
    return 0;
  TIpLocationTable table(home);
  table.Refresh();
  int learnt = 0;
  store->Begin();
  for (const auto& copy : copies) {
    auto text = store::ReadWholeFile(copy);
    if (!text)
      continue;
    TMailMessage m;
    ParseMessageText(*text, m, true);
    const std::vector<std::string> body = BodyLines(m);
    LearnParsedMessage(*store, m, &body, -1, TLearnClass::Good, table);
    ++learnt;
  }
  store->Commit();
  return learnt;
}

}  // namespace pelorix
