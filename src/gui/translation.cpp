#include "gui/translation.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdlib>

#include "store/mail_plan.h"
#include "store/settings_store.h"

// Resources of a static library must be registered by name.
static void InitTranslationResources() {
  Q_INIT_RESOURCE(pelorix_i18n);
}

namespace pelorix::gui {

namespace {

TUiLanguage FromLocaleName(std::string_view name) {
  return name.substr(0, 2) == "zh" ? TUiLanguage::Chinese : TUiLanguage::English;
}

bool Load(QApplication& app, const QString& file, const QString& folder) {
  // Parented to the application: installed for as long as it lives.
  auto* translator = new QTranslator(&app);
  if (!translator->load(file, folder)) {
    delete translator;
    return false;
  }
  return QApplication::installTranslator(translator);
}

}  // namespace

TUiLanguage DesktopLanguage() {
  if (const char* language = std::getenv("LANGUAGE"); language && *language) {
    const std::string_view all(language);
    const std::string_view first = all.substr(0, all.find(':'));
    if (!first.empty())
      return FromLocaleName(first);
  }
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (const char* value = std::getenv(name); value && *value)
      return FromLocaleName(value);
  }
  return TUiLanguage::English;
}

TUiLanguage ChosenLanguage(TSettingsStore& store) {
  TSettingsKey key;
  if (OpenSettingsKey(store, kMailCheckKey, false, key)) {
    const std::string chosen = ReadTextValue(key, kLanguageValue, "");
    if (chosen == "zh")
      return TUiLanguage::Chinese;
    if (chosen == "en")
      return TUiLanguage::English;
  }
  return DesktopLanguage();
}

bool InstallTranslations(QApplication& app, TUiLanguage language) {
  InitTranslationResources();
  if (language == TUiLanguage::Chinese) {
    return Load(app, QStringLiteral("qtbase_zh_CN"),
                QLibraryInfo::path(QLibraryInfo::TranslationsPath));
  }
  return Load(app, QStringLiteral("pelorix_en"), QStringLiteral(":/i18n"));
}

}  // namespace pelorix::gui
