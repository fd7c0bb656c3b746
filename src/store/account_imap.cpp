#include "store/account_imap.h"

#include "text/ansi.h"
#include "text/asciiutil.h"

namespace pelorix {

namespace {

constexpr std::string_view kDeleteModes[] = {"auto", "junk", "trash", "expunge"};

}  // namespace

std::optional<std::string> DeleteModeText(std::string_view text) {
  text = ascii::Trim(text);
  for (const std::string_view mode : kDeleteModes) {
    if (ascii::EqualNoCase(text, mode))
      return std::string(mode);
  }
  return std::nullopt;
}

std::vector<std::string> ParseFolderList(std::string_view text) {
  std::vector<std::string> folders;
  while (true) {
    const std::size_t cut = text.find_first_of(",|");
    std::string name(ascii::Trim(text.substr(0, cut)));
    if (!name.empty())
      folders.push_back(std::move(name));
    if (cut == std::string_view::npos)
      break;
    text.remove_prefix(cut + 1);
  }
  if (folders.empty())
    folders.emplace_back("INBOX");
  return folders;
}

std::string FolderListText(const std::vector<std::string>& folders) {
  std::string text;
  for (const std::string& f : folders)
    text += (text.empty() ? "" : ", ") + f;
  return text;
}

std::string EncodeImapSettings(const TImapAccountSettings& settings) {
  std::string data = DeleteModeText(settings.DeleteMode).value_or("auto");
  for (const std::string& f : ParseFolderList(FolderListText(settings.Folders)))
    data += "|" + f;
  return data;
}

TImapAccountSettings DecodeImapSettings(std::string_view data) {
  TImapAccountSettings s;
  const std::size_t bar = data.find('|');
  s.DeleteMode = DeleteModeText(data.substr(0, bar)).value_or("auto");
  s.Folders =
      ParseFolderList(bar == std::string_view::npos ? std::string_view() : data.substr(bar + 1));
  return s;
}

std::optional<TImapAccountSettings> ReadImapSettings(TSettingsStore& store,
                                                     std::string_view accountKey) {
  TSettingsKey key;
  TSettingsValue value;
  if (!OpenSettingsKey(store, kAccountImapKey, false, key) ||
      !store.ReadValue(key, accountKey, value))
    return std::nullopt;
  return DecodeImapSettings(ReadTextValue(key, accountKey, ""));
}

bool WriteImapSettings(TSettingsStore& store, std::string_view accountKey,
                       const std::optional<TImapAccountSettings>& settings) {
  TSettingsKey key;
  if (!OpenSettingsKey(store, kAccountImapKey, true, key))
    return false;
  if (!settings) {
    TSettingsValue value;
    if (!store.ReadValue(key, accountKey, value))
      return true;
    return store.DeleteValue(key, accountKey);
  }
  const std::string data = EncodeImapSettings(*settings);
  // The limit counts the bytes of the on-disk form.
  if (ToAnsi(data).size() > kMaxTextBytes)
    return false;
  return store.Write([&] { WriteTextValue(key, accountKey, data); });
}

}  // namespace pelorix
