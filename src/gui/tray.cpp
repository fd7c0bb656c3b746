#include "gui/tray.h"
#include "gui/tr.h"

#include <QApplication>
#include <QMenu>

namespace pelorix::gui {

TTray::TTray(QObject* parent)
    : QObject(parent), icon_(new QSystemTrayIcon(this)), menu_(new QMenu) {
  menu_->setObjectName(QStringLiteral("trayMenu"));
  QAction* preview = menu_->addAction(Tr("预览新邮件"));
  QAction* version = menu_->addAction(Tr("检测新版本"));
  menu_->addSeparator();
  QAction* exit = menu_->addAction(Tr("退出"));
  preview->setObjectName(QStringLiteral("trayPreview"));
  version->setObjectName(QStringLiteral("trayVersion"));
  exit->setObjectName(QStringLiteral("trayExit"));
  connect(preview, &QAction::triggered, this, &TTray::PreviewRequested);
  connect(version, &QAction::triggered, this, &TTray::VersionCheckRequested);
  connect(exit, &QAction::triggered, this, &TTray::ExitRequested);
  icon_->setContextMenu(menu_);
  connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
    if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick)
      emit Activated();
  });
  Update(QStringLiteral("Tolvane-Pelorix!"), QIcon(QStringLiteral(":/images/pelorix.png")));
}

TTray::~TTray() {
  icon_->hide();
  delete menu_;  // a context menu has no parent
}

bool TTray::Available() const {
  return QSystemTrayIcon::isSystemTrayAvailable();
}

void TTray::Show() {
  if (Available())
    icon_->show();
}

void TTray::Hide() {
  icon_->hide();
}

void TTray::Update(const QString& tip, const QIcon& icon) {
  tip_ = tip.left(kTrayTipLimit);
  icon_->setIcon(icon);
  icon_->setToolTip(tip_);
}

void TTray::Notify(const QString& title, const QString& text) {
  if (icon_->isVisible() && QSystemTrayIcon::supportsMessages())
    icon_->showMessage(title, text, QSystemTrayIcon::Information, 8000);
}

}  // namespace pelorix::gui
