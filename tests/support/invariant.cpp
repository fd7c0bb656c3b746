#include "support/invariant.h"

#include <sqlite3.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>

#include "engine/mail_record.h"
#include "engine/quarantine.h"
#include "engine/record_files.h"
#include "store/settings_store.h"
#include "support/dovecot.h"

namespace pelorix::test {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string NameOf(const std::string& text) {
  const std::string id = MessageIdOf(text);
  return id.empty() ? "(no Message-ID, " + std::to_string(text.size()) + " bytes)" : id;
}

bool IsRecordFile(const fs::path& p) {
  const std::string ext = p.extension().string();
  return ext == ".new" || ext == ".spa" || ext == ".del" || p.filename() == "all.rec";
}

void CheckRecordFile(const fs::path& p, std::vector<std::string>& broken) {
  std::error_code ec;
  const auto size = fs::file_size(p, ec);
  if (ec) {
    broken.push_back(p.string() + " cannot be read: " + ec.message());
    return;
  }
  if (size % kMailRecordSize != 0)
    broken.push_back(p.string() + " holds part of a record (" + std::to_string(size) + " bytes)");
  else if (!ReadRecordFile(p))
    broken.push_back(p.string() + " does not read back");
}

void CheckRegistry(const fs::path& home, std::vector<std::string>& broken) {
  const fs::path db = home / "registry.db";
  if (!fs::exists(db)) {
    broken.push_back(db.string() + " is missing");
    return;
  }
  sqlite3* raw = nullptr;
  if (sqlite3_open_v2(db.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    broken.push_back(db.string() + " does not open: " + (raw ? sqlite3_errmsg(raw) : "?"));
    sqlite3_close(raw);
    return;
  }
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> handle(raw, sqlite3_close);
  sqlite3_stmt* stmt = nullptr;
  std::string verdict = "no answer";
  if (sqlite3_prepare_v2(raw, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW) {
    verdict = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  } else {
    verdict = sqlite3_errmsg(raw);
  }
  sqlite3_finalize(stmt);
  if (verdict != "ok")
    broken.push_back(db.string() + " fails its integrity check: " + verdict);
  else if (!TSettingsStore::Open(home))
    broken.push_back(db.string() + " does not open as the settings store");
}

}  // namespace

std::string NormalizedText(std::string text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
      continue;
    out.push_back(text[i]);
  }
  return out;
}

TMailboxSnapshot SnapshotMailbox(const TDovecotServer& server, const std::string& user) {
  // A QUIT whose answer the client did not wait for may still be removing
  // files: the same count three times in a row counts as settled.
  TMailboxSnapshot snapshot{server.Messages(user)};
  int same = 0;
  for (int i = 0; i < 50 && same < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    auto again = server.Messages(user);
    same = again.size() == snapshot.Messages.size() ? same + 1 : 0;
    snapshot.Messages = std::move(again);
  }
  return snapshot;
}

std::vector<std::string> BrokenHomeFiles(const fs::path& home) {
  std::vector<std::string> broken;
  CheckRegistry(home, broken);
  for (const fs::path& folder : {TmpFolder(home), DeletedFolder(home)}) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
      if (e.is_regular_file() && IsRecordFile(e.path()))
        CheckRecordFile(e.path(), broken);
    }
  }
  return broken;
}

std::vector<std::string> BrokenInvariants(const TMailboxSnapshot& before,
                                          const TMailboxSnapshot& after, const fs::path& home,
                                          const std::set<std::string>& ticked) {
  std::vector<std::string> broken = BrokenHomeFiles(home);
  std::map<std::string, int> onServer, copies;
  for (const auto& m : after.Messages)
    ++onServer[NormalizedText(m)];
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(DeletedFolder(home), ec)) {
    if (e.is_regular_file() && e.path().extension() == kQuarantineSuffix)
      ++copies[NormalizedText(ReadFile(e.path()))];
  }
  for (const auto& m : before.Messages) {
    const std::string text = NormalizedText(m);
    if (auto it = onServer.find(text); it != onServer.end() && it->second > 0) {
      --it->second;
      continue;
    }
    const std::string name = NameOf(text);
    if (!ticked.contains(MessageIdOf(text)))
      broken.push_back("message " + name + " was not ticked and is gone from the server");
    if (auto it = copies.find(text); it != copies.end() && it->second > 0)
      --it->second;
    else
      broken.push_back("message " + name + " is gone from the server without a copy");
  }
  for (const auto& [text, left] : onServer) {
    if (left > 0)
      broken.push_back("the server holds " + NameOf(text) + " that it did not hold before");
  }
  return broken;
}

std::vector<std::string> BrokenInvariants(const TDovecotServer& server, const std::string& user,
                                          const TMailboxSnapshot& before, const fs::path& home,
                                          const std::set<std::string>& ticked) {
  return BrokenInvariants(before, SnapshotMailbox(server, user), home, ticked);
}

}  // namespace pelorix::test
