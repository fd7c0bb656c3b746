#include "store/accounts.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "store/atomic_file.h"
#include "store/secret_store.h"
#include "store/smtp_secret.h"
#include "text/ansi.h"
#include "text/asciiutil.h"

namespace pelorix {
namespace fs = std::filesystem;

std::string ScramblePassword(std::string_view bytes) {
  std::string out(ascii::Trim(bytes));
  for (char& c : out)
    c = static_cast<char>(~static_cast<unsigned char>(c));
  return out;
}

namespace {

TAccount Trimmed(TAccount a) {
  a.Server = std::string(ascii::Trim(a.Server));
  a.User = std::string(ascii::Trim(a.User));
  a.Password = std::string(ascii::Trim(a.Password));
  a.Note = std::string(ascii::Trim(a.Note));
  return a;
}

std::string ValueData(const TAccount& a, bool passwordInKeyring = false) {
  return ToAnsi(a.Server) + "[" +
         (passwordInKeyring ? std::string() : ScramblePassword(ToAnsi(a.Password))) + "]" +
         ToAnsi(a.Note);
}

bool HasKeyringReference(const TSettingsKey& refs, std::string_view name) {
  return refs.IsOpen() && ascii::EqualNoCase(ReadTextValue(refs, name, ""), kKeyringReference);
}

// Passwords behind a keyring reference, read from the keyring.
void ResolveSecrets(TSettingsStore& store, std::vector<TAccount>& accounts) {
  TSettingsKey refs;
  if (!OpenSettingsKey(store, kSecretsKey, false, refs))
    return;
  for (TAccount& a : accounts) {
    const std::string name = AccountSecretName(AccountKey(a));
    if (!HasKeyringReference(refs, name))
      continue;
    TSecretBackend* keyring = store.Keyring();
    if (!keyring) {
      a.SecretProblem = "密钥环不可用，无法读取密码 (" + store.KeyringMissingReason() + ")";
      continue;
    }
    const TSecretLookup found = keyring->Lookup(name);
    if (!found.Ok)
      a.SecretProblem = "无法从密钥环读取密码: " + found.Error;
    else if (!found.Secret)
      a.SecretProblem = "密钥环中没有这个帐号的密码";
    else
      a.Password = *found.Secret;
  }
}

bool CaseLess(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(ascii::Lower(x)) <
           static_cast<unsigned char>(ascii::Lower(y));
  });
}

// Stable order by server, as the list view keeps it.
void SortAccounts(std::vector<TAccount>& accounts) {
  std::stable_sort(accounts.begin(), accounts.end(), [](const TAccount& a, const TAccount& b) {
    return CaseLess(a.Server, b.Server);
  });
}
}  // namespace

std::optional<std::string> CheckAccount(const TAccount& input, bool allowEmptyPassword) {
  TAccount a = Trimmed(input);
  if (a.Server.empty() || a.User.empty() || (a.Password.empty() && !allowEmptyPassword)) {
    return "server, user and password must not be blank";
  }
  if (ToAnsi(a.Server).find('[') != std::string::npos) {
    return "a server name must not contain \"[\"";
  }
  if (a.User.find('{') != std::string::npos)
    return "a user name must not contain \"{\"";
  // The user is a value name, which the settings file compares only up to a
  // zero byte; server and user also go on the wire, where a line break would
  // start another command.
  auto control = [](const std::string& s) {
    return std::any_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20; });
  };
  if (control(a.Server) || control(a.User))
    return "server and user names must not contain control characters";
  std::string scrambled = ScramblePassword(ToAnsi(a.Password));
  if (scrambled.find_first_of("[]") != std::string::npos ||
      (!scrambled.empty() && (static_cast<unsigned char>(scrambled.front()) <= 32 ||
                              static_cast<unsigned char>(scrambled.back()) <= 32))) {
    return "the password holds characters that cannot be stored";
  }
  if (ValueData(a).size() > kMaxTextBytes) {
    return "server, password and note together are longer than 255 bytes";
  }
  return std::nullopt;
}

std::vector<TAccount> LoadAccounts(TSettingsStore& store) {
  std::vector<TAccount> accounts;
  TSettingsKey key;
  if (!OpenSettingsKey(store, kAccountKey, true, key))
    return accounts;
  for (const auto& v : store.EnumValues(key)) {
    std::string_view data = ascii::Trim(v.data);
    TAccount a;
    std::size_t open = data.find('[');
    // The server may hold "]" (only "[" is refused), the scrambled password
    // never does: the password ends at the first "]" behind the "[".
    std::size_t close = data.find(']', open == std::string_view::npos ? 0 : open);
    // Damaged data still gives a row: whatever the brackets that exist delimit.
    a.Server = FromAnsi(data.substr(0, open));
    if (open != std::string_view::npos && close != std::string_view::npos && close > open) {
      a.Password = FromAnsi(ScramblePassword(data.substr(open + 1, close - open - 1)));
    }
    if (close != std::string_view::npos)
      a.Note = FromAnsi(ascii::Trim(data.substr(close + 1)));
    std::string_view name = ascii::Trim(v.name);
    std::size_t brace = name.find('{');
    a.User = brace == std::string_view::npos ? std::string() : std::string(name.substr(0, brace));
    accounts.push_back(std::move(a));
  }
  ResolveSecrets(store, accounts);
  return accounts;
}

bool SaveAccounts(TSettingsStore& store, const std::vector<TAccount>& accounts,
                  std::string* error) {
  for (const auto& a : accounts) {
    if (auto why = CheckAccount(a, true)) {
      if (error)
        *error = *why + ": " + AccountKey(a);
      return false;
    }
  }
  // The keyring first: its items cannot join the settings transaction, and
  // an item written for a save that then fails is only overwritten later.
  TSecretBackend* keyring = store.Keyring();
  std::vector<bool> inKeyring(accounts.size(), false);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < accounts.size(); ++i) {
    TAccount a = Trimmed(accounts[i]);
    names.push_back(AccountSecretName(AccountKey(a)));
    if (!a.SecretProblem.empty() && a.Password.empty()) {
      // Unread, not lost: the item stays as it is.
      inKeyring[i] = true;
    } else if (keyring && !a.Password.empty()) {
      inKeyring[i] = keyring->Store(names.back(), a.Password, nullptr);
    }
  }
  std::vector<std::string> stale;
  bool ok = store.Write([&] {
    store.DeleteKey(kAccountKey);
    TSettingsKey key;
    if (!OpenSettingsKey(store, kAccountKey, true, key))
      return;
    for (std::size_t i = 0; i < accounts.size(); ++i) {
      TAccount a = Trimmed(accounts[i]);
      WriteAnsiTextValue(key, a.User + "{" + std::to_string(i) + "}", ValueData(a, inKeyring[i]));
    }
    TSettingsKey refs;
    if (!OpenSettingsKey(store, kSecretsKey, true, refs))
      return;
    for (const std::string& name : store.EnumValueNames(refs)) {
      if (name.rfind(AccountSecretName(""), 0) == 0 &&
          std::none_of(names.begin(), names.end(),
                       [&](const std::string& n) { return ascii::EqualNoCase(n, name); })) {
        stale.push_back(name);
        store.DeleteValue(refs, name);
      }
    }
    for (std::size_t i = 0; i < accounts.size(); ++i) {
      if (inKeyring[i])
        WriteTextValue(refs, names[i], kKeyringReference);
      else if (HasKeyringReference(refs, names[i]))
        store.DeleteValue(refs, names[i]);
    }
  });
  if (!ok && error)
    *error = "cannot write the settings file";
  if (ok && keyring) {
    for (std::size_t i = 0; i < accounts.size(); ++i) {
      if (!inKeyring[i])
        stale.push_back(names[i]);
    }
    for (const std::string& name : stale)
      keyring->Clear(name, nullptr);
  }
  return ok;
}

int MoveSecretsToKeyring(TSettingsStore& store) {
  TSecretBackend* keyring = store.Keyring();
  if (!keyring)
    return 0;
  int moved = 0;
  std::vector<TAccount> accounts = LoadAccounts(store);
  TSettingsKey refs;
  OpenSettingsKey(store, kSecretsKey, false, refs);
  for (const TAccount& a : accounts) {
    if (!a.Password.empty() && !HasKeyringReference(refs, AccountSecretName(AccountKey(a))))
      ++moved;
  }
  if (moved > 0 && !SaveAccounts(store, accounts))
    moved = 0;
  if (MoveSmtpPasswordToKeyring(store))
    ++moved;
  if (moved > 0)
    store.DropOldVersions();
  return moved;
}

bool AddAccount(std::vector<TAccount>& accounts, TAccount account, std::string* error,
                bool allowEmptyPassword) {
  if (auto why = CheckAccount(account, allowEmptyPassword)) {
    if (error)
      *error = *why;
    return false;
  }
  account = Trimmed(std::move(account));
  RemoveAccount(accounts, account.Server, account.User);
  accounts.push_back(std::move(account));
  SortAccounts(accounts);
  return true;
}

bool AddImportedAccount(std::vector<TAccount>& accounts, TAccount imported, std::string* error) {
  for (const auto& a : accounts) {
    if (IsSameAccount(a, imported.Server, imported.User))
      imported.Password = a.Password;
  }
  return AddAccount(accounts, std::move(imported), error, true);
}

bool IsSameAccount(const TAccount& account, std::string_view server, std::string_view user) {
  return ascii::Trim(account.Server) == ascii::Trim(server) &&
         ascii::Trim(account.User) == ascii::Trim(user);
}

bool RemoveAccount(std::vector<TAccount>& accounts, std::string_view server,
                   std::string_view user) {
  auto it = std::find_if(accounts.begin(), accounts.end(),
                         [&](const TAccount& a) { return IsSameAccount(a, server, user); });
  if (it == accounts.end())
    return false;
  accounts.erase(it);
  return true;
}

std::string AccountKey(const TAccount& a) {
  return a.User + "[" + a.Server + "]";
}

std::string AccountFileName(const TAccount& a) {
  return a.User + "2" + a.Server;
}

std::string AccountQueueEntry(const TAccount& a) {
  return a.Server + "|" + a.User + "|" + a.Password;
}

std::vector<std::string> AccountDisplayNames(const std::vector<TAccount>& accounts) {
  std::vector<std::string> names;
  for (const auto& a : accounts) {
    std::string note(ascii::Trim(a.Note));
    std::string name = note.empty() ? AccountKey(a) : note;
    for (int n = 1; std::find(names.begin(), names.end(), name) != names.end(); ++n) {
      name += "[" + std::to_string(n) + "]";
    }
    names.push_back(std::move(name));
  }
  return names;
}

namespace {
// Reads a double-quoted JavaScript string at s[i]; i ends behind it.
bool ReadJsString(std::string_view s, std::size_t& i, std::string& out) {
  if (i >= s.size() || s[i] != '"')
    return false;
  out.clear();
  for (++i; i < s.size(); ++i) {
    if (s[i] == '"') {
      ++i;
      return true;
    }
    if (s[i] == '\\' && i + 1 < s.size()) {
      ++i;
      out += s[i] == 'n' ? '\n' : s[i] == 't' ? '\t' : s[i];
    } else {
      out += s[i];
    }
  }
  return false;
}

void SkipBlanks(std::string_view s, std::size_t& i) {
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
    ++i;
}

// user_pref("name", value); with value a string, number or true/false.
bool ParsePrefLine(std::string_view line, std::string& name, std::string& value) {
  std::size_t i = line.find("user_pref(");
  if (i == std::string_view::npos)
    return false;
  i += 10;
  SkipBlanks(line, i);
  if (!ReadJsString(line, i, name))
    return false;
  SkipBlanks(line, i);
  if (i >= line.size() || line[i] != ',')
    return false;
  ++i;
  SkipBlanks(line, i);
  if (i < line.size() && line[i] == '"')
    return ReadJsString(line, i, value);
  std::size_t end = line.find(')', i);
  if (end == std::string_view::npos)
    return false;
  value = std::string(ascii::Trim(line.substr(i, end - i)));
  return true;
}
}  // namespace

std::vector<TAccount> ReadThunderbirdAccounts(const fs::path& profileFolder, bool imap) {
  std::vector<TAccount> accounts;
  auto text = store::ReadWholeFile(profileFolder / "prefs.js");
  if (!text)
    return accounts;
  // mail.server.<id>.<field>, keyed by the number in "serverN".
  std::map<long, std::map<std::string, std::string>> servers;
  std::string_view rest(*text);
  while (!rest.empty()) {
    std::size_t nl = rest.find('\n');
    std::string_view line = rest.substr(0, nl);
    rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
    std::string name, value;
    if (!ParsePrefLine(line, name, value))
      continue;
    static constexpr std::string_view kPrefix = "mail.server.server";
    if (name.rfind(kPrefix, 0) != 0)
      continue;
    std::size_t dot = name.find('.', kPrefix.size());
    if (dot == std::string::npos || dot == kPrefix.size())
      continue;
    std::string number = name.substr(kPrefix.size(), dot - kPrefix.size());
    if (number.find_first_not_of("0123456789") != std::string::npos || number.size() > 9)
      continue;
    servers[std::stol(number)][name.substr(dot + 1)] = value;
  }
  for (auto& [number, p] : servers) {
    if (p["type"] != (imap ? "imap" : "pop3"))
      continue;
    TAccount a;
    a.Server = std::string(ascii::Trim(p["hostname"]));
    const std::string& port = p["port"];
    if (!port.empty() && port != (imap ? "143" : "110"))
      a.Server += ":" + port;
    a.User = std::string(ascii::Trim(p["userName"]));
    a.Note = std::string(ascii::Trim(p["name"]));
    accounts.push_back(std::move(a));
  }
  return accounts;
}

std::vector<fs::path> FindThunderbirdProfiles() {
  std::vector<fs::path> profiles;
  const char* home = std::getenv("HOME");
  if (!home || !*home)
    return profiles;
  // The usual place, and where the Snap and Flatpak packages keep it.
  const fs::path roots[] = {
      fs::path(home) / ".thunderbird",
      fs::path(home) / "snap" / "thunderbird" / "common" / ".thunderbird",
      fs::path(home) / ".var" / "app" / "org.mozilla.Thunderbird" / ".thunderbird",
  };
  for (const auto& root : roots) {
    std::error_code ec;
    fs::directory_iterator it(root, ec);
    if (ec)
      continue;
    std::vector<fs::path> found;
    for (const auto& entry : it) {
      if (entry.is_directory(ec) && fs::exists(entry.path() / "prefs.js", ec)) {
        found.push_back(entry.path());
      }
    }
    std::sort(found.begin(), found.end());
    profiles.insert(profiles.end(), found.begin(), found.end());
  }
  return profiles;
}

}  // namespace pelorix
