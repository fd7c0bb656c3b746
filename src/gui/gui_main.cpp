#include "gui/gui_main.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>
#include <iostream>
#include <memory>
#include <optional>

#include "engine/run_lock.h"
#include "gui/main_window.h"
#include "gui/translation.h"
#include "store/accounts.h"
#include "store/settings_store.h"
#include "text/home.h"

namespace pelorix::gui {

namespace {

// TfrmLogo: shown while the main window is built.
class TfrmLogo final : public QWidget {
 public:
  TfrmLogo() : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint) {
    setWindowTitle(QStringLiteral("Tolvane-Grisvald"));
    setAccessibleName(QStringLiteral("Tolvane-Grisvald"));
    setFixedSize(326, 195);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
    setAutoFillBackground(true);
    auto* picture = new QLabel(this);
    picture->setPixmap(QPixmap(QStringLiteral(":/images/logo.png")));
    picture->setGeometry(24, 32, 274, 128);
  }
};

// The CJK face standing in for the original's "宋体" 9 point.
void ChooseFont(QApplication& app) {
  for (const char* family : {"Noto Sans CJK SC", "Noto Serif CJK SC", "WenQuanYi Micro Hei"}) {
    if (QFontDatabase::hasFamily(QString::fromLatin1(family))) {
      QFont f(QString::fromLatin1(family));
      f.setPointSize(9);
      app.setFont(f);
      return;
    }
  }
}

}  // namespace

int RunWindow(const std::filesystem::path& home, const std::vector<std::string>& args) {
  std::string error;
  if (!EnsureFolder(home, &error)) {
    std::cerr << "pelorix: " << error << "\n";
    return 1;
  }
  // One window per home folder; a second start leaves quietly.
  TFileLock instance;
  if (!instance.TryLock(InstanceLockPath(home)))
    return 0;
  auto store = TSettingsStore::Open(home, &error);
  if (!store) {
    std::cerr << "pelorix: " << error << "\n";
    return 1;
  }
  // Passwords left in the settings file by an older start or a session
  // without a keyring go into the keyring now that there is one.
  MoveSecretsToKeyring(*store);

  static int argc = 1;
  static char name[] = "pelorix";
  static char* argv[] = {name, nullptr};
  std::optional<QApplication> ownApp;
  if (!QApplication::instance())
    ownApp.emplace(argc, argv);
  auto* app = qobject_cast<QApplication*>(QApplication::instance());
  if (!app) {
    std::cerr << "pelorix: a non-window application object exists already\n";
    return 1;
  }
  QApplication::setApplicationName(QStringLiteral("Tolvane-Pelorix"));
  QApplication::setApplicationDisplayName(QStringLiteral("Tolvane-Pelorix"));
  QApplication::setDesktopFileName(QStringLiteral("pelorix"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/pelorix.png")));
  // Closing the window hides it in the tray; only an exit ends the loop.
  QApplication::setQuitOnLastWindowClosed(false);
  ChooseFont(*app);
  // Qt's own buttons and boxes speak the window's language too (an
  // application made by the caller keeps its own).
  if (ownApp && !InstallTranslations(*app, ChosenLanguage(*store)))
    std::clog << "pelorix: no translation loaded for the window's language\n";

  const bool startHidden = !args.empty() && args.front().find("auto") != std::string::npos;
  std::unique_ptr<TfrmLogo> logo;
  if (!startHidden) {
    logo = std::make_unique<TfrmLogo>();
    // Centred where the main window will stand (20, 60, 1240 x 500).
    logo->move(20 + (1240 - logo->width()) / 2, 60 + (500 - logo->height()) / 2);
    logo->show();
    logo->repaint();
    QApplication::processEvents();
  }
  TfrmReport window(home, *store);
  logo.reset();
  window.StartShown(startHidden);
  return QApplication::exec();
}

}  // namespace pelorix::gui
