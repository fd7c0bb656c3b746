#pragma once
// A dialog seam for tests: records every box shown and answers from a
// script (or with a default), so no test blocks on a modal window.

#include <QString>
#include <deque>
#include <functional>
#include <vector>

#include "gui/dialogs.h"

namespace pelorix::gui::testing {

struct TShownBox {
  QString Caption;
  QString Text;
  bool Modal = true;
};

class TScriptedDialogs final : public TDialogs {
 public:
  TScriptedDialogs() { SetDialogs(this); }
  ~TScriptedDialogs() override { SetDialogs(nullptr); }
  TScriptedDialogs(const TScriptedDialogs&) = delete;
  TScriptedDialogs& operator=(const TScriptedDialogs&) = delete;

  std::vector<TShownBox> Shown;
  std::deque<TAnswer> Answers;  // taken in turn; when empty, DefaultAnswer
  TAnswer DefaultAnswer = TAnswer::Ok;
  std::deque<QString> FileNames;                // answers of the file dialogs; empty: cancelled
  std::vector<QString> FileDialogFolders;       // folder or proposed name each dialog got
  std::deque<int> Choices;                      // answers of Choose; empty: cancelled
  std::vector<QString> OpenedUrls;              // addresses given to the browser
  std::function<void(const QString&)> Browser;  // follows an address, when set

  TAnswer Message(QWidget*, const QString& caption, const QString& text, TButtons buttons,
                  TIcon) override {
    Shown.push_back({caption, text, true});
    if (!Answers.empty()) {
      TAnswer a = Answers.front();
      Answers.pop_front();
      return a;
    }
    if (buttons == TButtons::YesNo && DefaultAnswer == TAnswer::Ok)
      return TAnswer::Yes;
    return DefaultAnswer;
  }
  void Notice(QWidget*, const QString& caption, const QString& text, TIcon) override {
    Shown.push_back({caption, text, false});
  }
  int Choose(QWidget*, const QString& caption, const QString& text, const QStringList&) override {
    Shown.push_back({caption, text, true});
    if (Choices.empty())
      return -1;
    const int c = Choices.front();
    Choices.pop_front();
    return c;
  }
  bool OpenUrl(const QString& url) override {
    OpenedUrls.push_back(url);
    if (Browser)
      Browser(url);
    return true;
  }
  QString OpenFileName(QWidget*, const QString&, const QString& folder, const QString&) override {
    return NextFile(folder);
  }
  QString SaveFileName(QWidget*, const QString&, const QString& proposed, const QString&) override {
    return NextFile(proposed);
  }

 private:
  QString NextFile(const QString& folder) {
    FileDialogFolders.push_back(folder);
    if (FileNames.empty())
      return {};
    QString f = FileNames.front();
    FileNames.pop_front();
    return f;
  }
};

}  // namespace pelorix::gui::testing
