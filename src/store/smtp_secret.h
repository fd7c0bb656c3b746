#pragma once
// The SMTP password (value password of key Smtp): in the keyring when there
// is one, the value then empty beside a reference (key Secrets, name
// "smtp"); otherwise the value as before.

#include <string>
#include <string_view>

#include "store/settings_store.h"

namespace pelorix {

// The password, or empty with `problem` set when the keyring holds it and
// cannot give it.
std::string ReadSmtpPassword(TSettingsStore& store, std::string* problem = nullptr);
// False when the settings file cannot be written.
bool WriteSmtpPassword(TSettingsStore& store, std::string_view password);
// True when a password kept in the settings file went into the keyring.
bool MoveSmtpPasswordToKeyring(TSettingsStore& store);

}  // namespace pelorix
