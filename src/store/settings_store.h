#pragma once
// The settings store: the registry tree below "Software\Tolvane\Pelorix" kept
// in one SQLite file, registry.db, in the home folder.
//
// Keys are paths of names below the root ("MailCheck", "Account"; "" is the
// root itself). Key and value names compare without regard to ASCII case.
// Values are typed (text, binary, number) and enumerate in creation order;
// rewriting a value keeps its place. Every write is one transaction, so a
// crash never leaves half a save; several processes and threads may share
// the file.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace pelorix {

class TSecretBackend;

inline constexpr std::string_view kSettingsRoot = "Software\\Tolvane\\Pelorix";
inline constexpr std::size_t kMaxTextBytes = 255;

// The registry's type numbers, so that a stored value says what it was.
enum class TValueType : int { Text = 1, Binary = 3, Number = 4 };

struct TSettingsValue {
  std::string name;  // UTF-8
  TValueType type = TValueType::Text;
  std::string data;  // raw bytes; texts are GB18030
};

class TSettingsStore;

// An opened key. It names the key by path, so it stays usable when another
// writer rewrites the tree; operations on a key that has since been deleted
// fail silently, as they would in the registry.
class TSettingsKey {
 public:
  TSettingsKey() = default;
  bool IsOpen() const { return store_ != nullptr; }
  const std::string& Path() const { return path_; }
  TSettingsStore* Store() const { return store_; }

 private:
  friend class TSettingsStore;
  TSettingsStore* store_ = nullptr;
  std::string path_;
};

class TSettingsStore {
 public:
  // Opens (creating when missing, mode 0600) home/registry.db. Returns
  // nullptr with a message when the file cannot be used.
  static std::unique_ptr<TSettingsStore> Open(const std::filesystem::path& home,
                                              std::string* error = nullptr);
  static std::unique_ptr<TSettingsStore> OpenFile(const std::filesystem::path& file,
                                                  std::string* error = nullptr);
  ~TSettingsStore();
  TSettingsStore(const TSettingsStore&) = delete;
  TSettingsStore& operator=(const TSettingsStore&) = delete;

  const std::filesystem::path& FilePath() const { return file_; }

  // Moves every change into the file and empties the write-ahead log, so
  // that no earlier version of a value stays on disk. Outside transactions.
  bool DropOldVersions();

  // The Secret Service for this store's home, looked for once on first use;
  // nullptr when the session has none (KeyringMissingReason says why).
  TSecretBackend* Keyring();
  const std::string& KeyringMissingReason() const { return keyringWhy_; }

  // Runs `body` as one transaction (nested calls join the outer one). Every
  // write inside either lands with all the others or not at all. Returns
  // false, having rolled back, when any write inside failed; an exception
  // from `body` rolls back and propagates.
  bool Write(const std::function<void()>& body);
  // Runs `body` on one consistent snapshot. Nothing inside may write: a
  // read transaction cannot safely turn into a write one.
  void Read(const std::function<void()>& body);

  bool OpenKey(std::string_view path, bool create, TSettingsKey& key);
  bool KeyExists(std::string_view path);
  // Deletes the key with its values and every key below it.
  bool DeleteKey(std::string_view path);

  bool ReadValue(const TSettingsKey& key, std::string_view name, TSettingsValue& value);
  bool WriteValue(const TSettingsKey& key, std::string_view name, TValueType type,
                  std::string_view data);
  bool DeleteValue(const TSettingsKey& key, std::string_view name);
  // In creation order.
  std::vector<TSettingsValue> EnumValues(const TSettingsKey& key);
  std::vector<std::string> EnumValueNames(const TSettingsKey& key);

  // "A\B", "a/b/", "Software\Tolvane\Pelorix\A\B" all become "A\B".
  static std::string NormaliseKeyPath(std::string_view path);

 private:
  TSettingsStore() = default;
  bool Exec(const char* sql);
  bool Begin(bool write);
  void End(bool commit);
  long long KeyId(const std::string& path);
  void MarkFailed();

  sqlite3* db_ = nullptr;
  std::unique_ptr<TSecretBackend> keyring_;
  bool keyringProbed_ = false;
  std::string keyringWhy_;
  std::filesystem::path file_;
  std::recursive_mutex mutex_;
  int depth_ = 0;
  bool writing_ = false;
  bool failed_ = false;
};

// The helpers every layer uses. Failures are silent: a key that cannot be
// opened yields false, a missing or unreadable value yields the default.
bool OpenSettingsKey(TSettingsStore& store, std::string_view path, bool create, TSettingsKey& key);
bool OpenSettingsKey(TSettingsStore* store, std::string_view path, bool create, TSettingsKey& key);

// A value of 1 to 4 bytes; any non-zero byte is true.
bool ReadFlagValue(const TSettingsKey& key, std::string_view name, bool defaultValue);
// A value of 1 to 4 bytes, little-endian, signed.
std::int32_t ReadNumberValue(const TSettingsKey& key, std::string_view name,
                             std::int32_t defaultValue);
// A text value of at most 255 stored bytes, returned as UTF-8.
std::string ReadTextValue(const TSettingsKey& key, std::string_view name,
                          std::string_view defaultValue);

// Flags are written FF FF FF FF / 00 00 00 00.
void WriteFlagValue(const TSettingsKey& key, std::string_view name, bool value);
void WriteNumberValue(const TSettingsKey& key, std::string_view name, std::int32_t value);
// Stored as GB18030, cut to 255 bytes without splitting a character.
void WriteTextValue(const TSettingsKey& key, std::string_view name, std::string_view utf8);
// Stores bytes already in the on-disk form; refuses more than 255 bytes.
bool WriteAnsiTextValue(const TSettingsKey& key, std::string_view name, std::string_view ansi);

}  // namespace pelorix
