#include "classify/token_store.h"

#include "mime/header_util.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <unordered_set>

namespace pelorix {

namespace {

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS meta(name TEXT PRIMARY KEY, value INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS tokens(h INTEGER PRIMARY KEY, s INTEGER NOT NULL, g INTEGER NOT NULL,
                                  day INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS learnt(id INTEGER PRIMARY KEY, cls INTEGER NOT NULL,
                                  mode INTEGER NOT NULL, day INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS pending(account TEXT NOT NULL, mkey TEXT NOT NULL, id INTEGER NOT NULL,
                                   mode INTEGER NOT NULL, tokens BLOB NOT NULL,
                                   day INTEGER NOT NULL, PRIMARY KEY(account, mkey));
CREATE TABLE IF NOT EXISTS friends(address TEXT PRIMARY KEY, source TEXT NOT NULL);
PRAGMA user_version = 1;
)";

// A prepared statement that finalises itself.
class TStatement {
 public:
  TStatement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~TStatement() { sqlite3_finalize(stmt_); }
  TStatement(const TStatement&) = delete;
  TStatement& operator=(const TStatement&) = delete;
  bool Ok() const { return stmt_ != nullptr; }
  TStatement& Bind(int i, long long v) {
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  TStatement& Bind(int i, const std::string& v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  TStatement& BindBlob(int i, const void* data, std::size_t n) {
    sqlite3_bind_blob(stmt_, i, data, static_cast<int>(n), SQLITE_TRANSIENT);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error.
  int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  bool Run() {
    const int rc = Step();
    Reset();
    return rc == SQLITE_DONE || rc == SQLITE_ROW;
  }
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  long long Int(int col) const { return sqlite3_column_int64(stmt_, col); }
  std::string Text(int col) const {
    const auto* p = sqlite3_column_text(stmt_, col);
    return p ? std::string(reinterpret_cast<const char*>(p),
                           static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col)))
             : std::string();
  }
  std::vector<std::uint64_t> Hashes(int col) const {
    const auto n = static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col)) / 8;
    std::vector<std::uint64_t> out(n);
    if (n)
      std::memcpy(out.data(), sqlite3_column_blob(stmt_, col), n * 8);
    return out;
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

long long Today() {
  return static_cast<long long>(std::time(nullptr) / 86400);
}

}  // namespace

std::unique_ptr<TTokenStore> TTokenStore::Open(const std::filesystem::path& file,
                                               std::string* error) {
  auto store = std::make_unique<TTokenStore>(TOpenTag{});
  auto fail = [&](const std::string& why) -> std::unique_ptr<TTokenStore> {
    if (error)
      *error = why;
    return nullptr;
  };
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  const bool fresh = !std::filesystem::exists(file, ec);
  if (sqlite3_open_v2(file.c_str(), &store->db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    return fail(store->db_ ? sqlite3_errmsg(store->db_) : "cannot open " + file.string());
  }
  sqlite3_busy_timeout(store->db_, 10000);
  // The same durability as the settings store: a kill or a crash keeps the
  // last committed state.
  if (!store->Exec("PRAGMA journal_mode=WAL") || !store->Exec("PRAGMA synchronous=FULL") ||
      !store->Exec(kSchema)) {
    return fail(store->error_);
  }
  // The friends and what was learnt tell about the user's mail: theirs alone.
  if (fresh)
    std::filesystem::permissions(
        file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
  return store;
}

TTokenStore::~TTokenStore() {
  if (depth_ > 0)
    Rollback();
  sqlite3_close(db_);
}

bool TTokenStore::Exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    error_ = message ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    return false;
  }
  return true;
}

std::uint64_t TTokenStore::Meta(const char* name) {
  TStatement q(db_, "SELECT value FROM meta WHERE name=?");
  q.Bind(1, std::string(name));
  const long long v = q.Step() == SQLITE_ROW ? q.Int(0) : 0;
  const long long delta = std::strcmp(name, "spam") == 0   ? spamDelta_
                          : std::strcmp(name, "good") == 0 ? goodDelta_
                                                           : 0;
  return static_cast<std::uint64_t>(std::max(0LL, v + delta));
}

void TTokenStore::AddMeta(const char* name, long long delta) {
  TStatement q(db_,
               "INSERT INTO meta(name, value) VALUES(?1, max(0, ?2)) "
               "ON CONFLICT(name) DO UPDATE SET value = max(0, value + ?2)");
  q.Bind(1, std::string(name)).Bind(2, delta).Run();
}

std::uint64_t TTokenStore::SpamMessages() {
  return Meta("spam");
}
std::uint64_t TTokenStore::GoodMessages() {
  return Meta("good");
}

std::uint64_t TTokenStore::TokenCount() {
  TStatement q(db_, "SELECT count(*) FROM tokens");
  return q.Step() == SQLITE_ROW ? static_cast<std::uint64_t>(q.Int(0)) : 0;
}

TTokenSnapshot TTokenStore::Snapshot() {
  TTokenSnapshot snap;
  snap.SpamMessages = SpamMessages();
  snap.GoodMessages = GoodMessages();
  TStatement q(db_, "SELECT h, s, g FROM tokens");
  snap.Tokens.reserve(static_cast<std::size_t>(TokenCount()) + 16);
  while (q.Step() == SQLITE_ROW) {
    snap.Tokens.emplace(
        static_cast<std::uint64_t>(q.Int(0)),
        TTokenCounts{static_cast<std::uint32_t>(q.Int(1)), static_cast<std::uint32_t>(q.Int(2))});
  }
  for (const auto& [h, d] : deltas_) {
    auto& c = snap.Tokens[h];
    c.Spam = static_cast<std::uint32_t>(std::max(0LL, c.Spam + d.first));
    c.Good = static_cast<std::uint32_t>(std::max(0LL, c.Good + d.second));
  }
  return snap;
}

bool TTokenStore::Begin() {
  if (depth_++ > 0)
    return true;
  if (!Exec("BEGIN IMMEDIATE")) {
    depth_ = 0;
    return false;
  }
  return true;
}

bool TTokenStore::Flush() {
  TStatement up(db_,
                "INSERT INTO tokens(h, s, g, day) VALUES(?1, max(0, ?2), max(0, ?3), ?4) "
                "ON CONFLICT(h) DO UPDATE SET s = max(0, s + ?2), g = max(0, g + ?3), day = ?4");
  const long long today = Today();
  for (const auto& [h, d] : deltas_) {
    if (d.first == 0 && d.second == 0)
      continue;
    up.Bind(1, static_cast<long long>(h)).Bind(2, d.first).Bind(3, d.second).Bind(4, today);
    if (!up.Run()) {
      error_ = sqlite3_errmsg(db_);
      return false;
    }
  }
  deltas_.clear();
  if (spamDelta_)
    AddMeta("spam", spamDelta_);
  if (goodDelta_)
    AddMeta("good", goodDelta_);
  spamDelta_ = goodDelta_ = 0;
  return Exec("DELETE FROM tokens WHERE s = 0 AND g = 0");
}

bool TTokenStore::Commit() {
  if (depth_ == 0)
    return false;
  if (--depth_ > 0)
    return true;
  if (!Flush() || !Exec("COMMIT")) {
    Rollback();
    return false;
  }
  return true;
}

void TTokenStore::Rollback() {
  deltas_.clear();
  spamDelta_ = goodDelta_ = 0;
  depth_ = 0;
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

void TTokenStore::Count(const std::vector<std::uint64_t>& tokens, TLearnClass cls, int delta) {
  for (auto h : tokens) {
    auto& d = deltas_[h];
    (cls == TLearnClass::Spam ? d.first : d.second) += delta;
  }
  (cls == TLearnClass::Spam ? spamDelta_ : goodDelta_) += delta;
}

std::optional<TLearntMessage> TTokenStore::Learnt(std::uint64_t identity) {
  TStatement q(db_, "SELECT cls, mode FROM learnt WHERE id=?");
  q.Bind(1, static_cast<long long>(identity));
  if (q.Step() != SQLITE_ROW)
    return std::nullopt;
  return TLearntMessage{q.Int(0) ? TLearnClass::Spam : TLearnClass::Good,
                        static_cast<int>(q.Int(1))};
}

TLearnOutcome TTokenStore::Learn(std::uint64_t identity, TLearnClass cls, int mode,
                                 const std::vector<std::uint64_t>& tokens) {
  Begin();
  const auto before = Learnt(identity);
  TLearnOutcome outcome = TLearnOutcome::Learnt;
  if (before && before->Class == cls) {
    outcome = TLearnOutcome::Already;
  } else {
    if (before) {
      Count(tokens, before->Class, -1);
      outcome = TLearnOutcome::Moved;
    }
    Count(tokens, cls, +1);
    TStatement q(db_, "INSERT OR REPLACE INTO learnt(id, cls, mode, day) VALUES(?, ?, ?, ?)");
    q.Bind(1, static_cast<long long>(identity))
        .Bind(2, cls == TLearnClass::Spam ? 1 : 0)
        .Bind(3, mode)
        .Bind(4, Today())
        .Run();
  }
  if (!Commit())
    return TLearnOutcome::Already;
  return outcome;
}

bool TTokenStore::Unlearn(std::uint64_t identity, const std::vector<std::uint64_t>& tokens) {
  Begin();
  const auto before = Learnt(identity);
  if (before) {
    Count(tokens, before->Class, -1);
    TStatement q(db_, "DELETE FROM learnt WHERE id=?");
    q.Bind(1, static_cast<long long>(identity)).Run();
  }
  return Commit() && before.has_value();
}

void TTokenStore::AddPending(const TPendingMessage& m) {
  // A message already waiting keeps its entry: a mailbox left on the
  // server is not written again at every check.
  TStatement q(db_,
               "INSERT OR IGNORE INTO pending(account, mkey, id, mode, tokens, day) "
               "VALUES(?, ?, ?, ?, ?, ?)");
  q.Bind(1, m.AccountKey)
      .Bind(2, m.MessageKey)
      .Bind(3, static_cast<long long>(m.Identity))
      .Bind(4, m.Mode)
      .BindBlob(5, m.Tokens.data(), m.Tokens.size() * 8)
      .Bind(6, Today())
      .Run();
}

std::unordered_set<std::string> TTokenStore::PendingKeys(const std::string& accountKey) {
  std::unordered_set<std::string> keys;
  TStatement q(db_, "SELECT mkey FROM pending WHERE account=?");
  q.Bind(1, accountKey);
  while (q.Step() == SQLITE_ROW)
    keys.insert(q.Text(0));
  return keys;
}

void TTokenStore::CapPending(const std::string& accountKey, std::size_t keep) {
  TStatement q(db_,
               "DELETE FROM pending WHERE account = ?1 AND rowid NOT IN "
               "(SELECT rowid FROM pending WHERE account = ?1 ORDER BY rowid DESC LIMIT ?2)");
  q.Bind(1, accountKey).Bind(2, static_cast<long long>(keep)).Run();
}

int TTokenStore::LearnGone(const std::string& accountKey, const std::vector<std::string>& present) {
  const std::unordered_set<std::string> here(present.begin(), present.end());
  std::vector<std::string> goneKeys;
  {
    TStatement q(db_, "SELECT mkey FROM pending WHERE account=?");
    q.Bind(1, accountKey);
    while (q.Step() == SQLITE_ROW) {
      std::string key = q.Text(0);
      if (!here.count(key))
        goneKeys.push_back(std::move(key));
    }
  }
  if (goneKeys.empty())
    return 0;
  Begin();
  int learnt = 0;
  TStatement q(db_, "SELECT id, mode, tokens FROM pending WHERE account=? AND mkey=?");
  for (const auto& key : goneKeys) {
    q.Bind(1, accountKey).Bind(2, key);
    if (q.Step() == SQLITE_ROW) {
      const auto id = static_cast<std::uint64_t>(q.Int(0));
      const int mode = static_cast<int>(q.Int(1));
      const std::vector<std::uint64_t> tokens = q.Hashes(2);
      q.Reset();
      // A message the user marked or deleted meanwhile keeps that decision.
      if (!Learnt(id)) {
        Learn(id, TLearnClass::Good, mode, tokens);
        ++learnt;
      }
    } else {
      q.Reset();
    }
    DropPending(accountKey, key);
  }
  Commit();
  return learnt;
}

void TTokenStore::DropPending(const std::string& accountKey, const std::string& messageKey) {
  TStatement q(db_, "DELETE FROM pending WHERE account=? AND mkey=?");
  q.Bind(1, accountKey).Bind(2, messageKey).Run();
}

std::size_t TTokenStore::PendingCount() {
  TStatement q(db_, "SELECT count(*) FROM pending");
  return q.Step() == SQLITE_ROW ? static_cast<std::size_t>(q.Int(0)) : 0;
}

void TTokenStore::AddFriend(const std::string& address, const std::string& source) {
  const std::string a = AsciiLower(address);
  if (a.find('@') == std::string::npos)
    return;
  TStatement q(db_, "INSERT OR IGNORE INTO friends(address, source) VALUES(?, ?)");
  q.Bind(1, a).Bind(2, source).Run();
}

int TTokenStore::AddFriends(const std::vector<std::string>& addresses, const std::string& source) {
  int added = 0;
  for (const auto& a : addresses) {
    if (!IsFriend(a)) {
      AddFriend(a, source);
      added += IsFriend(a);
    }
  }
  return added;
}

std::vector<std::string> TTokenStore::Friends() {
  std::vector<std::string> out;
  TStatement q(db_, "SELECT address FROM friends ORDER BY address");
  while (q.Step() == SQLITE_ROW)
    out.push_back(q.Text(0));
  return out;
}

bool TTokenStore::IsFriend(const std::string& address) {
  TStatement q(db_, "SELECT 1 FROM friends WHERE address=?");
  q.Bind(1, AsciiLower(address));
  return q.Step() == SQLITE_ROW;
}

bool TTokenStore::Clear() {
  deltas_.clear();
  spamDelta_ = goodDelta_ = 0;
  return Exec(
      "BEGIN IMMEDIATE; DELETE FROM tokens; DELETE FROM learnt; DELETE FROM pending; "
      "DELETE FROM meta; COMMIT");
}

std::size_t TTokenStore::Expire(std::size_t maxTokens) {
  std::size_t dropped = 0;
  for (int rarity = 1; rarity <= 3; ++rarity) {
    const std::uint64_t count = TokenCount();
    if (count <= maxTokens)
      break;
    TStatement q(db_,
                 "DELETE FROM tokens WHERE h IN (SELECT h FROM tokens WHERE s + g <= ? "
                 "ORDER BY day LIMIT ?)");
    q.Bind(1, rarity).Bind(2, static_cast<long long>(count - maxTokens));
    if (q.Run())
      dropped += static_cast<std::size_t>(sqlite3_changes(db_));
  }
  return dropped;
}

}  // namespace pelorix
