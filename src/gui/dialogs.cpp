#include "gui/dialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace pelorix::gui {
namespace {

QMessageBox::Icon BoxIcon(TIcon icon) {
  switch (icon) {
    case TIcon::Information:
      return QMessageBox::Information;
    case TIcon::Warning:
      return QMessageBox::Warning;
    case TIcon::Critical:
      return QMessageBox::Critical;
    case TIcon::Question:
      return QMessageBox::Question;
    case TIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

class TQtDialogs final : public TDialogs {
 public:
  TAnswer Message(QWidget* parent, const QString& caption, const QString& text, TButtons buttons,
                  TIcon icon) override {
    QMessageBox box(BoxIcon(icon), caption, text, QMessageBox::NoButton, parent);
    switch (buttons) {
      case TButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
      case TButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
      case TButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    }
    box.exec();
    switch (box.standardButton(box.clickedButton())) {
      case QMessageBox::Ok:
        return TAnswer::Ok;
      case QMessageBox::Yes:
        return TAnswer::Yes;
      case QMessageBox::No:
        return TAnswer::No;
      case QMessageBox::Cancel:
        return TAnswer::Cancel;
      default:
        // Closed with Escape or the close box: the negative answer.
        return buttons == TButtons::Ok
                   ? TAnswer::Ok
                   : (buttons == TButtons::YesNo ? TAnswer::No : TAnswer::Cancel);
    }
  }

  void Notice(QWidget* parent, const QString& caption, const QString& text, TIcon icon) override {
    auto* box = new QMessageBox(BoxIcon(icon), caption, text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);  // Qt owns it from here on
    box->setWindowModality(Qt::NonModal);
    box->show();
  }

  QString OpenFileName(QWidget* parent, const QString& title, const QString& folder,
                       const QString& filter) override {
    return QFileDialog::getOpenFileName(parent, title, folder, filter);
  }

  QString SaveFileName(QWidget* parent, const QString& title, const QString& proposed,
                       const QString& filter) override {
    return QFileDialog::getSaveFileName(parent, title, proposed, filter);
  }

  int Choose(QWidget* parent, const QString& caption, const QString& text,
             const QStringList& choices) override {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Cancel, parent);
    QList<QAbstractButton*> buttons;
    for (const QString& choice : choices)
      buttons << box.addButton(choice, QMessageBox::AcceptRole);
    if (!buttons.isEmpty())
      box.setDefaultButton(qobject_cast<QPushButton*>(buttons.front()));
    box.exec();
    return static_cast<int>(buttons.indexOf(box.clickedButton()));
  }
};

TDialogs* installed = nullptr;

}  // namespace

TDialogs& Dialogs() {
  static TQtDialogs real;
  return installed ? *installed : real;
}

bool TDialogs::OpenUrl(const QString& url) {
  return QDesktopServices::openUrl(QUrl(url));
}

int TDialogs::Choose(QWidget*, const QString&, const QString&, const QStringList&) {
  return -1;
}

void SetDialogs(TDialogs* dialogs) {
  installed = dialogs;
}

void ShowMessage(QWidget* parent, const QString& caption, const QString& text, TIcon icon) {
  Dialogs().Message(parent, caption, text, TButtons::Ok, icon);
}

bool AskOkCancel(QWidget* parent, const QString& caption, const QString& text) {
  return Dialogs().Message(parent, caption, text, TButtons::OkCancel, TIcon::Question) ==
         TAnswer::Ok;
}

bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) {
  return Dialogs().Message(parent, caption, text, TButtons::YesNo, TIcon::Question) == TAnswer::Yes;
}

}  // namespace pelorix::gui
