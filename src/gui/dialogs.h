#pragma once
// The one seam for everything modal: message boxes, questions and file
// dialogs. Windows call Dialogs(); tests install a scripted replacement so
// that no test ever waits on a modal window.

#include <QString>
#include <QStringList>

class QWidget;

namespace pelorix::gui {

enum class TButtons { Ok, OkCancel, YesNo };
enum class TIcon { None, Information, Warning, Critical, Question };
enum class TAnswer { Ok, Cancel, Yes, No };

class TDialogs {
 public:
  virtual ~TDialogs() = default;
  // A modal message box; returns the button pressed.
  virtual TAnswer Message(QWidget* parent, const QString& caption, const QString& text,
                          TButtons buttons, TIcon icon) = 0;
  // A message box that does not block its caller (not modal to any window).
  virtual void Notice(QWidget* parent, const QString& caption, const QString& text, TIcon icon) = 0;
  // Empty when cancelled.
  virtual QString OpenFileName(QWidget* parent, const QString& title, const QString& folder,
                               const QString& filter) = 0;
  virtual QString SaveFileName(QWidget* parent, const QString& title, const QString& proposed,
                               const QString& filter) = 0;
  // One of a few ways, as buttons beside a Cancel button: the index chosen,
  // or -1 when cancelled. A seam without such a box answers -1.
  virtual int Choose(QWidget* parent, const QString& caption, const QString& text,
                     const QStringList& choices);
  // Opens an address in the system browser (QDesktopServices); false when
  // nothing could open it.
  virtual bool OpenUrl(const QString& url);
};

TDialogs& Dialogs();
// Installs a replacement (tests); nullptr brings back the real dialogs.
void SetDialogs(TDialogs* dialogs);

// Short forms of the common cases.
void ShowMessage(QWidget* parent, const QString& caption, const QString& text,
                 TIcon icon = TIcon::Information);
bool AskOkCancel(QWidget* parent, const QString& caption, const QString& text);
bool AskYesNo(QWidget* parent, const QString& caption, const QString& text);

}  // namespace pelorix::gui
