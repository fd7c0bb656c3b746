#include "store/settings_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstring>

#include "store/secret_store.h"
#include "text/ansi.h"
#include "text/asciiutil.h"
#include "text/home.h"

namespace pelorix {
namespace fs = std::filesystem;

namespace {

constexpr int kBusyTimeoutMs = 10000;

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS reg_keys(
  id INTEGER PRIMARY KEY,
  path TEXT NOT NULL UNIQUE COLLATE NOCASE);
CREATE TABLE IF NOT EXISTS reg_values(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  key_id INTEGER NOT NULL REFERENCES reg_keys(id) ON DELETE CASCADE,
  name TEXT NOT NULL COLLATE NOCASE,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  UNIQUE(key_id, name));
INSERT OR IGNORE INTO reg_keys(path) VALUES('');
PRAGMA user_version = 1;
)";

// One prepared statement, finalized on every path out.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
      stmt_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool Ok() const { return stmt_ != nullptr; }
  Statement& Bind(int i, long long v) {
    if (stmt_)
      sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  Statement& BindText(int i, std::string_view v) {
    if (stmt_)
      sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& BindBlob(int i, std::string_view v) {
    // A zero-length blob still has to be a blob, not NULL.
    if (stmt_) {
      sqlite3_bind_blob(stmt_, i, v.empty() ? "" : v.data(), static_cast<int>(v.size()),
                        SQLITE_TRANSIENT);
    }
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  long long Int(int col) { return sqlite3_column_int64(stmt_, col); }
  std::string Text(int col) {
    auto p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col)))
             : std::string();
  }
  std::string Blob(int col) {
    auto p = static_cast<const char*>(sqlite3_column_blob(stmt_, col));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col)))
             : std::string();
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace

std::string TSettingsStore::NormaliseKeyPath(std::string_view path) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\' || path[i] == '/') {
      if (i > start)
        parts.push_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  // A path spelled from the registry root is the same key.
  static constexpr std::string_view kRootParts[] = {"Software", "Tolvane", "Pelorix"};
  std::size_t skip = 0;
  if (parts.size() >= 3 && ascii::EqualNoCase(parts[0], kRootParts[0]) &&
      ascii::EqualNoCase(parts[1], kRootParts[1]) && ascii::EqualNoCase(parts[2], kRootParts[2])) {
    skip = 3;
  }
  std::string out;
  for (std::size_t i = skip; i < parts.size(); ++i) {
    if (!out.empty())
      out += '\\';
    out += parts[i];
  }
  return out;
}

std::unique_ptr<TSettingsStore> TSettingsStore::Open(const fs::path& home, std::string* error) {
  if (!EnsureFolder(home, error))
    return nullptr;
  return OpenFile(home / "registry.db", error);
}

std::unique_ptr<TSettingsStore> TSettingsStore::OpenFile(const fs::path& file, std::string* error) {
  // Create the file ourselves so that it is private from the first byte;
  // SQLite gives its -wal and -shm files the same mode.
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (error)
      *error = "cannot open " + file.string() + ": " + std::strerror(errno);
    return nullptr;
  }
  ::close(fd);

  std::unique_ptr<TSettingsStore> store(new TSettingsStore());
  store->file_ = file;
  int rc = sqlite3_open_v2(file.c_str(), &store->db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                           nullptr);
  auto fail = [&](const std::string& what) -> std::unique_ptr<TSettingsStore> {
    if (error) {
      *error = what + " " + file.string() + ": " +
               (store->db_ ? sqlite3_errmsg(store->db_) : sqlite3_errstr(rc));
    }
    return nullptr;
  };
  if (rc != SQLITE_OK)
    return fail("cannot open");
  sqlite3_busy_timeout(store->db_, kBusyTimeoutMs);
  sqlite3_extended_result_codes(store->db_, 1);
  if (!store->Exec("PRAGMA journal_mode=WAL") || !store->Exec("PRAGMA synchronous=FULL") ||
      !store->Exec("PRAGMA foreign_keys=ON") ||
      // Old values are overwritten, not left in free space (passwords moved out).
      !store->Exec("PRAGMA secure_delete=ON")) {
    return fail("cannot use");
  }
  if (!store->Write([&] { store->Exec(kSchema); }))
    return fail("cannot set up");
  return store;
}

TSettingsStore::~TSettingsStore() {
  sqlite3_close_v2(db_);
}

bool TSettingsStore::DropOldVersions() {
  std::lock_guard lock(mutex_);
  if (depth_ > 0)
    return false;
  return sqlite3_exec(db_, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr) ==
         SQLITE_OK;
}

TSecretBackend* TSettingsStore::Keyring() {
  std::lock_guard lock(mutex_);
  if (!keyringProbed_) {
    keyringProbed_ = true;
    keyring_ = OpenSecretService(file_.parent_path(), &keyringWhy_);
  }
  return keyring_.get();
}

bool TSettingsStore::Exec(const char* sql) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
    return true;
  MarkFailed();
  return false;
}

void TSettingsStore::MarkFailed() {
  failed_ = true;
}

bool TSettingsStore::Begin(bool write) {
  if (depth_ > 0) {
    // A write nested in a read could meet a snapshot that is already stale.
    if (write && !writing_) {
      failed_ = true;
      return false;
    }
    ++depth_;
    return true;
  }
  ++depth_;
  writing_ = write;
  failed_ = false;
  if (sqlite3_exec(db_, write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr) !=
      SQLITE_OK) {
    depth_ = 0;
    return false;
  }
  return true;
}

void TSettingsStore::End(bool commit) {
  if (--depth_ > 0)
    return;
  if (commit && !failed_ && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) {
    return;
  }
  failed_ = true;
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool TSettingsStore::Write(const std::function<void()>& body) {
  std::lock_guard lock(mutex_);
  if (!Begin(true))
    return false;
  try {
    body();
  } catch (...) {
    failed_ = true;
    End(false);
    throw;
  }
  End(true);
  return !failed_;
}

void TSettingsStore::Read(const std::function<void()>& body) {
  std::lock_guard lock(mutex_);
  bool began = Begin(false);
  try {
    body();
  } catch (...) {
    if (began)
      End(false);
    throw;
  }
  // A read-only transaction has nothing to lose by rolling back, but a
  // read nested in a write must not undo it.
  if (began)
    End(true);
}

long long TSettingsStore::KeyId(const std::string& path) {
  Statement st(db_, "SELECT id FROM reg_keys WHERE path = ?1");
  st.BindText(1, path);
  return st.Step() == SQLITE_ROW ? st.Int(0) : 0;
}

bool TSettingsStore::OpenKey(std::string_view path, bool create, TSettingsKey& key) {
  std::string norm = NormaliseKeyPath(path);
  std::lock_guard lock(mutex_);
  bool ok = false;
  Read([&] { ok = KeyId(norm) != 0; });
  if (!ok && create) {
    ok = Write([&] {
      // Parents come into being with their child, as in the registry.
      std::size_t pos = 0;
      while (true) {
        pos = norm.find('\\', pos);
        std::string part = norm.substr(0, pos);
        Statement st(db_, "INSERT OR IGNORE INTO reg_keys(path) VALUES(?1)");
        if (st.BindText(1, part).Step() != SQLITE_DONE)
          MarkFailed();
        if (pos == std::string::npos)
          break;
        ++pos;
      }
    });
  }
  if (!ok)
    return false;
  key.store_ = this;
  key.path_ = norm;
  return true;
}

bool TSettingsStore::KeyExists(std::string_view path) {
  std::lock_guard lock(mutex_);
  bool found = false;
  Read([&] { found = KeyId(NormaliseKeyPath(path)) != 0; });
  return found;
}

bool TSettingsStore::DeleteKey(std::string_view path) {
  std::string norm = NormaliseKeyPath(path);
  if (norm.empty())
    return false;  // the root stays
  return Write([&] {
    Statement st(db_,
                 "DELETE FROM reg_keys WHERE path = ?1 OR "
                 "(substr(path, 1, length(?1) + 1) COLLATE NOCASE) = (?1 || '\\')");
    if (st.BindText(1, norm).Step() != SQLITE_DONE)
      MarkFailed();
  });
}

bool TSettingsStore::ReadValue(const TSettingsKey& key, std::string_view name,
                               TSettingsValue& value) {
  if (key.store_ != this)
    return false;
  std::lock_guard lock(mutex_);
  bool found = false;
  Read([&] {
    Statement st(db_,
                 "SELECT v.name, v.type, v.data FROM reg_values v JOIN reg_keys k ON k.id = "
                 "v.key_id WHERE k.path = ?1 AND v.name = ?2");
    st.BindText(1, key.path_).BindText(2, name);
    if (st.Step() == SQLITE_ROW) {
      value.name = st.Text(0);
      value.type = static_cast<TValueType>(st.Int(1));
      value.data = st.Blob(2);
      found = true;
    }
  });
  return found;
}

bool TSettingsStore::WriteValue(const TSettingsKey& key, std::string_view name, TValueType type,
                                std::string_view data) {
  if (key.store_ != this)
    return false;
  return Write([&] {
    long long id = KeyId(key.path_);
    if (id == 0) {
      MarkFailed();
      return;
    }
    // Rewriting keeps the value's place (and its first spelling).
    Statement st(db_,
                 "INSERT INTO reg_values(key_id, name, type, data) VALUES(?1, ?2, ?3, ?4) "
                 "ON CONFLICT(key_id, name) DO UPDATE SET type = excluded.type, "
                 "data = excluded.data");
    st.Bind(1, id).BindText(2, name).Bind(3, static_cast<int>(type)).BindBlob(4, data);
    if (st.Step() != SQLITE_DONE)
      MarkFailed();
  });
}

bool TSettingsStore::DeleteValue(const TSettingsKey& key, std::string_view name) {
  if (key.store_ != this)
    return false;
  bool removed = false;
  bool ok = Write([&] {
    Statement st(db_,
                 "DELETE FROM reg_values WHERE name = ?2 AND key_id = "
                 "(SELECT id FROM reg_keys WHERE path = ?1)");
    if (st.BindText(1, key.path_).BindText(2, name).Step() != SQLITE_DONE)
      MarkFailed();
    removed = sqlite3_changes(db_) > 0;
  });
  return ok && removed;
}

std::vector<TSettingsValue> TSettingsStore::EnumValues(const TSettingsKey& key) {
  std::vector<TSettingsValue> values;
  if (key.store_ != this)
    return values;
  std::lock_guard lock(mutex_);
  Read([&] {
    Statement st(db_,
                 "SELECT v.name, v.type, v.data FROM reg_values v JOIN reg_keys k ON k.id = "
                 "v.key_id WHERE k.path = ?1 ORDER BY v.id");
    st.BindText(1, key.path_);
    while (st.Step() == SQLITE_ROW) {
      values.push_back({st.Text(0), static_cast<TValueType>(st.Int(1)), st.Blob(2)});
    }
  });
  return values;
}

std::vector<std::string> TSettingsStore::EnumValueNames(const TSettingsKey& key) {
  std::vector<std::string> names;
  for (auto& v : EnumValues(key))
    names.push_back(std::move(v.name));
  return names;
}

bool OpenSettingsKey(TSettingsStore& store, std::string_view path, bool create, TSettingsKey& key) {
  return store.OpenKey(path, create, key);
}

bool OpenSettingsKey(TSettingsStore* store, std::string_view path, bool create, TSettingsKey& key) {
  return store && store->OpenKey(path, create, key);
}

namespace {
bool ReadSmall(const TSettingsKey& key, std::string_view name, std::string& data) {
  TSettingsValue v;
  if (!key.IsOpen() || !key.Store()->ReadValue(key, name, v))
    return false;
  if (v.data.empty() || v.data.size() > 4)
    return false;
  data = std::move(v.data);
  return true;
}
}  // namespace

bool ReadFlagValue(const TSettingsKey& key, std::string_view name, bool defaultValue) {
  std::string data;
  if (!ReadSmall(key, name, data))
    return defaultValue;
  for (char c : data) {
    if (c != 0)
      return true;
  }
  return false;
}

std::int32_t ReadNumberValue(const TSettingsKey& key, std::string_view name,
                             std::int32_t defaultValue) {
  std::string data;
  if (!ReadSmall(key, name, data))
    return defaultValue;
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    v |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[i])) << (8 * i);
  }
  return static_cast<std::int32_t>(v);
}

namespace {
bool ReadAnsi(const TSettingsKey& key, std::string_view name, std::string& out) {
  TSettingsValue v;
  if (!key.IsOpen() || !key.Store()->ReadValue(key, name, v))
    return false;
  if (v.type != TValueType::Text)
    return false;
  // Values written by other tools may carry a terminating zero.
  while (!v.data.empty() && v.data.back() == '\0')
    v.data.pop_back();
  if (v.data.size() > kMaxTextBytes)
    return false;
  out = std::move(v.data);
  return true;
}
}  // namespace

std::string ReadTextValue(const TSettingsKey& key, std::string_view name,
                          std::string_view defaultValue) {
  std::string ansi;
  return ReadAnsi(key, name, ansi) ? FromAnsi(ansi) : std::string(defaultValue);
}

void WriteFlagValue(const TSettingsKey& key, std::string_view name, bool value) {
  if (!key.IsOpen())
    return;
  key.Store()->WriteValue(
      key, name, TValueType::Binary,
      value ? std::string_view("\xFF\xFF\xFF\xFF", 4) : std::string_view("\0\0\0\0", 4));
}

void WriteNumberValue(const TSettingsKey& key, std::string_view name, std::int32_t value) {
  if (!key.IsOpen())
    return;
  auto u = static_cast<std::uint32_t>(value);
  char bytes[4];
  for (int i = 0; i < 4; ++i)
    bytes[i] = static_cast<char>((u >> (8 * i)) & 0xFF);
  key.Store()->WriteValue(key, name, TValueType::Number, std::string_view(bytes, 4));
}

void WriteTextValue(const TSettingsKey& key, std::string_view name, std::string_view utf8) {
  if (!key.IsOpen())
    return;
  key.Store()->WriteValue(key, name, TValueType::Text, ToAnsiCut(utf8, kMaxTextBytes));
}

bool WriteAnsiTextValue(const TSettingsKey& key, std::string_view name, std::string_view ansi) {
  if (!key.IsOpen() || ansi.size() > kMaxTextBytes)
    return false;
  return key.Store()->WriteValue(key, name, TValueType::Text, ansi);
}

}  // namespace pelorix
