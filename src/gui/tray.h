#pragma once
// The tray icon: tip, menu ("预览新邮件", "检测新版本", "退出"), a left click
// that brings the window back, and a notification when new mail arrived.

#include <QObject>
#include <QSystemTrayIcon>

class QMenu;

namespace pelorix::gui {

inline constexpr int kTrayTipLimit = 63;

class TTray final : public QObject {
  Q_OBJECT
 public:
  explicit TTray(QObject* parent = nullptr);
  ~TTray() override;

  // Whether the desktop has a tray at all; without one the window must not
  // hide into it.
  bool Available() const;
  void Show();
  void Hide();
  QString Tip() const { return tip_; }
  // Sets the icon and the tip (cut to 63 characters).
  void Update(const QString& tip, const QIcon& icon);
  void Notify(const QString& title, const QString& text);
  QMenu* Menu() const { return menu_; }

 signals:
  void PreviewRequested();
  void VersionCheckRequested();
  void ExitRequested();
  void Activated();

 private:
  QSystemTrayIcon* icon_;
  QMenu* menu_;
  QString tip_;
};

}  // namespace pelorix::gui
