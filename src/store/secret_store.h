#pragma once
// Where secrets live: the desktop's Secret Service (GNOME Keyring, KWallet,
// KeePassXC) through libsecret when the session bus has one; otherwise the
// settings file keeps them as it always did (scrambled account passwords,
// the SMTP password as text), in a file only the user can read.
//
// The settings file then holds only a reference: key Secrets, value name
// the secret's name ("pop3:" account key, "smtp"), data "keyring". Items in
// the keyring carry the home folder as an attribute, so two homes of one
// user never see each other's secrets.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace pelorix {

inline constexpr std::string_view kSecretsKey = "Secrets";
inline constexpr std::string_view kKeyringReference = "keyring";
inline constexpr std::string_view kSmtpSecretName = "smtp";

// The name of an account's password: "pop3:" user "[" server "]".
std::string AccountSecretName(std::string_view accountKey);

struct TSecretLookup {
  bool Ok = false;                    // the service answered
  std::optional<std::string> Secret;  // nothing when no item is stored
  std::string Error;                  // why not, when !Ok
};

class TSecretBackend {
 public:
  virtual ~TSecretBackend() = default;
  virtual bool Store(std::string_view name, std::string_view secret, std::string* error) = 0;
  virtual TSecretLookup Lookup(std::string_view name) = 0;
  // True when the item is gone (or was never there).
  virtual bool Clear(std::string_view name, std::string* error) = 0;
};

// The Secret Service for this home folder, or nothing (with the reason)
// when no session bus answers or no service is on it.
std::unique_ptr<TSecretBackend> OpenSecretService(const std::filesystem::path& home,
                                                  std::string* why = nullptr);

}  // namespace pelorix
