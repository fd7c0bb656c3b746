#pragma once
// The window's language. The Chinese texts in the code are the source; an
// English translation is embedded. Files the program writes and event-log
// lines stay Chinese whatever the window speaks.

#include <QString>
#include <string_view>

class QApplication;

namespace pelorix {
class TSettingsStore;
}

namespace pelorix::gui {

enum class TUiLanguage { Chinese, English };

// MailCheck Language: "zh", "en", or empty for the desktop's choice.
inline constexpr std::string_view kLanguageValue = "Language";

// The desktop's choice as LANGUAGE (its first entry), LC_ALL, LC_MESSAGES
// and LANG give it, the first that is set: Chinese for "zh…", else English.
TUiLanguage DesktopLanguage();
// The settings' choice, else the desktop's.
TUiLanguage ChosenLanguage(TSettingsStore& store);
// Qt's own texts for Chinese (Debian's qt6-translations-l10n), the
// program's English translation for English; loaded into the application,
// which keeps them until it ends. False when a translation is missing.
bool InstallTranslations(QApplication& app, TUiLanguage language);

}  // namespace pelorix::gui
