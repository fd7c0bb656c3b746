// The stored form of the accounts. Typed accounts that the settings window
// accepts must come back from the settings file exactly; raw stored values
// of any shape must load; the password scrambling is its own inverse on
// what it accepts.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_folder.h"
#include "store/accounts.h"
#include "store/settings_store.h"
#include "text/ansi.h"
#include "text/asciiutil.h"

namespace {

pelorix::TSettingsStore& Store() {
  static std::unique_ptr<pelorix::TSettingsStore> store = [] {
    auto s = pelorix::TSettingsStore::Open(pelorix::fuzz::ScratchFolder());
    if (!s)
      std::abort();
    return s;
  }();
  return *store;
}

std::string Text(FuzzedDataProvider& in) {
  return pelorix::RawToUtf8(in.ConsumeRandomLengthString(80));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  auto& store = Store();
  const int mode = in.ConsumeIntegralInRange(0, 1);

  if (mode == 0) {
    std::vector<pelorix::TAccount> list;
    const int count = in.ConsumeIntegralInRange(1, 4);
    for (int i = 0; i < count; ++i) {
      pelorix::TAccount a{Text(in), Text(in), Text(in), Text(in)};
      const bool allowEmpty = in.ConsumeBool();
      const bool accepted = !pelorix::CheckAccount(a, allowEmpty).has_value();
      if (accepted) {
        const std::string disk = pelorix::ToAnsi(pelorix::ascii::Trim(a.Password));
        if (pelorix::ScramblePassword(pelorix::ScramblePassword(disk)) != disk)
          std::abort();
      }
      if (pelorix::AddAccount(list, a, nullptr, allowEmpty) != accepted)
        std::abort();
    }
    std::string error;
    if (!pelorix::SaveAccounts(store, list, &error))
      std::abort();
    if (pelorix::LoadAccounts(store).size() != list.size())
      std::abort();
    const auto back = pelorix::LoadAccounts(store);
    for (std::size_t i = 0; i < list.size(); ++i) {
      const auto& a = list[i];
      const auto& b = back[i];
      if (a.Server != b.Server || a.User != b.User || a.Password != b.Password || a.Note != b.Note)
        std::abort();
    }
  } else {
    // Values as another copy of the program, or damage, may have left them.
    store.DeleteKey(pelorix::kAccountKey);
    pelorix::TSettingsKey key;
    if (!pelorix::OpenSettingsKey(store, pelorix::kAccountKey, true, key))
      std::abort();
    const int count = in.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < count; ++i) {
      const std::string name = Text(in);
      const std::string value = in.ConsumeRandomLengthString(300);
      store.WriteValue(key, name, pelorix::TValueType::Text, value);
    }
    const auto loaded = pelorix::LoadAccounts(store);
    for (const auto& a : loaded) {
      if (!pelorix::IsValidUtf8(a.Server) || !pelorix::IsValidUtf8(a.Password) ||
          !pelorix::IsValidUtf8(a.Note))
        std::abort();
    }
    // Saving what loaded either refuses or keeps it.
    std::vector<pelorix::TAccount> list;
    for (const auto& a : loaded)
      pelorix::AddAccount(list, a, nullptr, true);
    if (!pelorix::SaveAccounts(store, list))
      std::abort();
    if (pelorix::LoadAccounts(store).size() != list.size())
      std::abort();
  }
  return 0;
}
