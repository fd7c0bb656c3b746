// Arbitrary bytes as a Thunderbird profile's prefs.js. Every account read
// has trimmed user and note texts, and the import rule of the command line
// (check, then add without a password) never fails on what it accepts.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_folder.h"
#include "store/accounts.h"
#include "text/asciiutil.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto& folder = pelorix::fuzz::ScratchFolder();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  pelorix::fuzz::WriteBytes(folder / "prefs.js", bytes);

  const auto accounts = pelorix::ReadThunderbirdAccounts(folder);
  // Each account needs at least a type line of its own.
  std::size_t prefs = 0;
  for (std::size_t at = bytes.find("user_pref("); at != std::string_view::npos;
       at = bytes.find("user_pref(", at + 1))
    ++prefs;
  if (accounts.size() > prefs)
    std::abort();

  std::vector<pelorix::TAccount> list;
  for (const auto& a : accounts) {
    if (pelorix::ascii::Trim(a.User) != a.User || pelorix::ascii::Trim(a.Note) != a.Note ||
        !a.Password.empty())
      std::abort();
    const bool acceptable = !pelorix::CheckAccount(a, true).has_value();
    if (pelorix::AddAccount(list, a, nullptr, true) != acceptable)
      std::abort();
  }
  for (std::size_t i = 1; i < list.size(); ++i) {
    if (list[i].Server.empty() || list[i].User.empty())
      std::abort();
  }
  return 0;
}
