// The English window: every control the user sees carries an English text
// once the translation is loaded; Qt's own boxes speak Chinese in a Chinese
// window.
#include "gui/translation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableView>
#include <QToolBox>
#include <QToolButton>
#include <QTranslator>
#include <QTreeWidget>

#include "engine/mail_list.h"
#include "gui/letter_window.h"
#include "gui/main_window_parts.h"
#include "gui/settings_window.h"
#include "scripted_dialogs.h"
#include "store/mail_plan.h"
#include "support/scoped_env.h"
#include "window_fixture.h"

namespace pelorix::gui {
namespace {

// The Chinese texts a window shows: captions, titles, tabs, hints, menu
// items and column headers (not what the memos and lists hold).
std::vector<std::string> ChineseTexts(QWidget* window) {
  static const QRegularExpression cjk(QStringLiteral("[\\x{3000}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
  std::vector<std::string> found;
  auto note = [&](const QString& where, const QString& text) {
    if (text.contains(cjk))
      found.push_back((where + QStringLiteral(": ") + text).toStdString());
  };
  note(QStringLiteral("title"), window->windowTitle());
  std::function<void(QMenu*)> menu = [&](QMenu* m) {
    for (QAction* a : m->actions()) {
      note(QStringLiteral("menu"), a->text());
      if (a->menu())
        menu(a->menu());
    }
  };
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(window) && !qobject_cast<QMenu*>(w))
      continue;
    const QString name = w->objectName().isEmpty()
                             ? QString::fromLatin1(w->metaObject()->className())
                             : w->objectName();
    note(name + QStringLiteral(" hint"), w->toolTip());
    note(name + QStringLiteral(" name"), w->accessibleName());
    note(name + QStringLiteral(" description"), w->accessibleDescription());
    // Context menus.
    for (QAction* a : w->actions())
      note(name + QStringLiteral(" action"), a->text());
    if (auto* b = qobject_cast<QAbstractButton*>(w))
      note(name, b->text());
    if (auto* l = qobject_cast<QLabel*>(w))
      note(name, l->text());
    if (auto* c = qobject_cast<QComboBox*>(w))
      note(name, c->currentText());
    if (auto* t = qobject_cast<QTreeWidget*>(w))
      for (int c = 0; c < t->columnCount(); ++c)
        note(name + QStringLiteral(" column"), t->headerItem()->text(c));
    if (auto* g = qobject_cast<QGroupBox*>(w))
      note(name, g->title());
    if (auto* t = qobject_cast<QTabWidget*>(w))
      for (int i = 0; i < t->count(); ++i)
        note(name + QStringLiteral(" tab"), t->tabText(i));
    if (auto* t = qobject_cast<QToolBox*>(w))
      for (int i = 0; i < t->count(); ++i)
        note(name + QStringLiteral(" group"), t->itemText(i));
    if (auto* v = qobject_cast<QTableView*>(w); v && v->model())
      for (int c = 0; c < v->model()->columnCount(); ++c)
        note(name + QStringLiteral(" column"),
             v->model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString());
    if (auto* bar = qobject_cast<QMenuBar*>(w))
      for (QAction* a : bar->actions()) {
        note(QStringLiteral("menu bar"), a->text());
        if (a->menu())
          menu(a->menu());
      }
  }
  return found;
}

class EnglishWindow : public TWindowFixture {
 protected:
  testing::TScriptedDialogs dialogs_;
};

TEST_F(EnglishWindow, NoVisibleControlOfTheThreeWindowsStaysChinese) {
  ASSERT_TRUE(InstallTranslations(*qApp, TUiLanguage::English));
  ASSERT_TRUE(SaveAccounts(*store_, {{"pop.example.org", "ann", "pw", "work"}}));
  window_ = std::make_unique<TfrmReport>(home_, *store_);
  window_->show();
  EXPECT_THAT(ChineseTexts(window_.get()), ::testing::IsEmpty());
  // The counters come from the engine in Chinese.
  EXPECT_EQ(CountPanelText(1, "邮箱：2个"), QStringLiteral("Mailboxes: 2"));
  EXPECT_EQ(CountPanelText(3, "占用空间：120KB"), QStringLiteral("Space: 120KB"));

  TMailRow row;
  row.Items[mcSender] = "ann@example.org";
  row.Items[mcMessageKey] = "<1@x>";
  ShowLetterWindow(window_.get(), home_, *store_, row);
  auto* letter = window_->findChild<QWidget*>(QStringLiteral("TfrmMailprop"));
  ASSERT_NE(letter, nullptr);
  // The captions hold the row's own data after an English label.
  EXPECT_THAT(ChineseTexts(letter), ::testing::IsEmpty());
  letter->close();

  TfrmProp settings(nullptr, home_, *store_);
  settings.show();
  auto* tabs = settings.findChild<QTabWidget*>(QStringLiteral("PageControl7"));
  ASSERT_NE(tabs, nullptr);
  // Every page, and both halves of the accounts page.
  for (int page = 0; page < tabs->count(); ++page) {
    tabs->setCurrentIndex(page);
    EXPECT_THAT(ChineseTexts(&settings), ::testing::IsEmpty()) << "page " << page;
  }
  tabs->setCurrentIndex(0);
  settings.findChild<QToolButton*>(QStringLiteral("FlatButton2"))->click();
  EXPECT_THAT(ChineseTexts(&settings), ::testing::IsEmpty()) << "SMTP";
  settings.close();
}

TEST(WindowLanguage, TheDesktopDecidesUnlessTheSettingsChoose) {
  test::TScopedEnv language("LANGUAGE", "");
  test::TScopedEnv all("LC_ALL", "");
  test::TScopedEnv messages("LC_MESSAGES", "");
  {
    test::TScopedEnv lang("LANG", "zh_CN.UTF-8");
    EXPECT_EQ(DesktopLanguage(), TUiLanguage::Chinese);
    test::TScopedEnv first("LANGUAGE", "en_GB:zh_CN");
    EXPECT_EQ(DesktopLanguage(), TUiLanguage::English);
  }
  test::TScopedEnv lang("LANG", "en_US.UTF-8");
  EXPECT_EQ(DesktopLanguage(), TUiLanguage::English);
  std::string pattern = (std::filesystem::temp_directory_path() / "pelorix-lang-XXXXXX").string();
  const std::filesystem::path home = mkdtemp(pattern.data());
  {
    auto store = TSettingsStore::Open(home);
    ASSERT_TRUE(store);
    EXPECT_EQ(ChosenLanguage(*store), TUiLanguage::English);
    TSettingsKey key;
    ASSERT_TRUE(OpenSettingsKey(*store, kMailCheckKey, true, key));
    WriteTextValue(key, kLanguageValue, "zh");
    EXPECT_EQ(ChosenLanguage(*store), TUiLanguage::Chinese);
  }
  std::filesystem::remove_all(home);
}

TEST(WindowLanguage, QtsOwnButtonsSpeakChineseInAChineseWindow) {
  ASSERT_TRUE(InstallTranslations(*qApp, TUiLanguage::Chinese));
  QDialogButtonBox box(QDialogButtonBox::Cancel | QDialogButtonBox::Save);
  EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
  EXPECT_EQ(box.button(QDialogButtonBox::Save)->text(), QStringLiteral("保存"));
}

}  // namespace
}  // namespace pelorix::gui
