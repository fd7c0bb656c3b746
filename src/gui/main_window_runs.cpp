// TfrmReport: starting and stopping check and deletion runs, their finished
// handlers and the sink's calls.
#include "gui/main_window.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QTableView>
#include <algorithm>
#include <utility>

#include "engine/record_files.h"
#include "gui/dialogs.h"
#include "gui/mail_list_delegate.h"
#include "gui/mail_list_model.h"
#include "gui/main_window_parts.h"
#include "gui/outlook_bar.h"
#include "gui/tr.h"
#include "gui/tray.h"
#include "text/asciiutil.h"
#include "text/textutil.h"

namespace pelorix::gui {

namespace fs = std::filesystem;

void TfrmReport::CheckHeaders() {
  TickAllMailboxes();
  RunCheck(false, false);
}

void TfrmReport::CheckContents() {
  TickAllMailboxes();
  RunCheck(true, false);
}

void TfrmReport::AutoCheck() {
  if (!Running())
    RunCheck(false, true);
}

void TfrmReport::RunCheck(bool wholeMessage, bool scheduled) {
  const QString busyCaption = Tr("注意！");
  const QString busyText = Tr("正在检测邮件！");
  // A run of this window, or one of the command line on the same home.
  if (Running() || !runLock_.TryLock(RunLockPath(home_))) {
    if (!scheduled)
      ShowMessage(this, busyCaption, busyText, TIcon::Warning);
    return;
  }
  CancelLetterFetch();
  lstMsg_->clear();
  SetCheckButtonsEnabled(false);
  SetDeletedView(false);
  const std::string selection = U(scheduled ? kAll : Selection());
  model_->BeginReload();
  const TStartResult started =
      wholeMessage ? engine_.StartContentCheck(selection) : engine_.StartHeaderCheck(selection);
  model_->EndReload();
  if (started == TStartResult::Started)
    return;
  runLock_.Unlock();
  SetCheckButtonsEnabled(true);
  if (scheduled)
    return;
  if (started == TStartResult::NoAccount) {
    ShowMessage(this, Tr("帐号设置错误！"), Tr("你必须指定至少一个邮件帐号才能检查!"),
                TIcon::Warning);
  } else {
    ShowMessage(this, busyCaption, busyText, TIcon::Warning);
  }
}

void TfrmReport::StopRun() {
  letterStop_ = true;
  deleter_.Stop();
  engine_.Stop();
}

void TfrmReport::ClearMail() {
  if (!actClear_->isEnabled())
    return;
  {
    auto& s = engine_.State();
    std::lock_guard lock(s.QueueLock);
    if (s.Busy || s.DeleteQueue)
      return;
  }
  TickAllMailboxes();
  RunDeletion();
}

void TfrmReport::RunDeletion() {
  if (Running())
    return;
  if (!runLock_.TryLock(RunLockPath(home_))) {
    ShowMessage(this, Tr("注意！"), Tr("正在检测邮件！"), TIcon::Warning);
    return;
  }
  CancelLetterFetch();
  SetClearEnabled(false);
  SetDeletedView(false);
  const TStartResult started = deleter_.StartDeletion(U(Selection()));
  if (started == TStartResult::Started)
    return;
  runLock_.Unlock();
  SetClearEnabled(true);
  if (started == TStartResult::NoAccount) {
    ShowMessage(this, Tr("帐号设置错误！"), Tr("你必须指定至少一个邮件帐号才能检查!"),
                TIcon::Warning);
  }
}

void TfrmReport::AccountMenuChosen(QAction* item, int pendingCommand) {
  if (!item)
    return;
  item->setChecked(true);  // the group unticks the others
  SetPanel(4, Tr("当前设置为查看") + item->text());
  for (int g = 0; g < outBar_->GroupCount(); ++g) {
    if (outBar_->GroupCaption(g) == item->text())
      outBar_->SetActiveGroup(g);
  }
  switch (pendingCommand) {
    case kHeaderCheck:
      RunCheck(false, false);
      break;
    case kContentCheck:
      RunCheck(true, false);
      break;
    case kDeletion:
      if (actClear_->isEnabled())
        RunDeletion();
      break;
    default:
      break;
  }
}

void TfrmReport::OnWorkerEnded() {
  CheckFinishedHandler();
  DeletionFinishedHandler();
  if (tmpSweep_ && !State().Busy)
    tmpSweep_->Start();
}

void TfrmReport::UpdateTray(const QString& tip, bool useImage, int image) {
  if (trayUpdating_)
    return;
  trayUpdating_ = true;
  tray_->Update(tip, useImage ? RowImages()[static_cast<std::size_t>(image)]
                              : QIcon(QStringLiteral(":/images/pelorix.png")));
  trayUpdating_ = false;
}

void TfrmReport::CheckFinishedHandler() {
  const TCheckFinished done = engine_.CheckFinished();
  if (!done.Acted)
    return;
  runLock_.Unlock();
  const TMailPlan plan = State().Plan();
  if (done.NewMailCount > 0) {
    const QString count = QString::number(done.NewMailCount);
    UpdateTray(Tr("新到邮件%1封").arg(count), true, riNewMail);
    tray_->Notify(QStringLiteral("Tolvane-Pelorix"), Tr("新到邮件%1封").arg(count));
    if (plan.CheckSummary) {
      if (!isVisible() && !exiting_) {
        // Shown, but without taking the focus from what the user is doing.
        setAttribute(Qt::WA_ShowWithoutActivating, true);
        show();
        setAttribute(Qt::WA_ShowWithoutActivating, false);
      }
      if (done.Brief) {
        QStringList lines;
        for (const std::string& line : *done.Brief)
          lines << Q(line);
        SetBrief(lines.join(QLatin1Char('\n')));
      } else {
        Dialogs().Notice(nullptr, QStringLiteral("error!"),
                         QStringLiteral("Cannot read any message from Pelorix!"), TIcon::Critical);
      }
    }
  } else {
    UpdateTray(QStringLiteral("Tolvane-Pelorix!"), false, 0);
  }
  SetCheckButtonsEnabled(true);
  SetPanel(5, Q(done.WorkerMessage));
  model_->RefreshAll();
  if (!done.AllRecordSaved) {
    lstMsg_->appendPlainText(Q(LocalDateTimeText(std::time(nullptr))) + QStringLiteral(": ") +
                             QStringLiteral("无法保存 ") + Q(AllRecordPath(home_).string()));
  }
}

void TfrmReport::DeletionFinishedHandler() {
  const TDeletionFinished done = deleter_.DeletionFinished();
  if (!done.Acted)
    return;
  runLock_.Unlock();
  SetClearEnabled(true);
  int total = 0;
  for (const auto& [key, n] : done.DeletedPerAccount)
    total += n;
  UpdateTray(QStringLiteral("Tolvane-Pelorix!"), false, 0);
  if (total > 0) {
    tray_->Notify(QStringLiteral("Tolvane-Pelorix"), Tr("已删除邮件%1封").arg(total));
  }
  SetPanel(5, Q(State().WorkerMessage()));
  model_->RefreshAll();
  if (!done.AllRecordSaved) {
    lstMsg_->appendPlainText(Q(LocalDateTimeText(std::time(nullptr))) + QStringLiteral(": ") +
                             QStringLiteral("无法保存 ") + Q(AllRecordPath(home_).string()));
  }
}

// ---------------------------------------------------------------- sink

// A check reports every message: what a batch of calls brings is shown
// once, at its end (the last status texts, every log line, the rows up to
// the last one).
void TfrmReport::OnStatus(const TStatusTexts& texts) {
  pending_.Status = texts;
  if (!texts.NewLogLine.empty())
    pending_.Log.push_back(Q(texts.NewLogLine));
}

void TfrmReport::OnRowAdded(std::size_t index) {
  pending_.LastRow = std::max(pending_.LastRow.value_or(index), index);
}

void TfrmReport::OnBatchEnd() {
  TPendingSinkCalls p = std::exchange(pending_, {});
  if (p.Status) {
    SetPanel(1, CountPanelText(1, p.Status->Accounts));
    SetPanel(2, CountPanelText(2, p.Status->Mails));
    SetPanel(3, CountPanelText(3, p.Status->Space));
    SetPanel(5, Q(p.Status->State));
    // Deletion workers mark rows in place; show the marks as they come.
    lvMailList_->viewport()->update();
  }
  if (!p.Log.isEmpty())
    lstMsg_->appendPlainText(p.Log.join(QLatin1Char('\n')));
  if (p.LastRow)
    model_->RowAdded(*p.LastRow);
}

void TfrmReport::OnCounters(const TMailboxCounters& counters) {
  const std::string wanted(ascii::Trim(counters.AccountKey));
  for (int g = 0; g < outBar_->GroupCount(); ++g) {
    std::string key = U(outBar_->GroupCaption(g));
    for (std::size_t i = 0; i < displayList_.size() && i < keyList_.size(); ++i) {
      if (displayList_[i] == key) {
        key = keyList_[i];
        break;
      }
    }
    if (std::string(ascii::Trim(key)) != wanted)
      continue;
    auto caption = [](const char* base, int n) {
      QString c = Tr(base);
      return n > 0 ? c + QStringLiteral(" (") + QString::number(n) + QStringLiteral(")") : c;
    };
    outBar_->SetButtonCaption(g, 0, caption(QT_TR_NOOP("新到邮件"), counters.MessageCount));
    outBar_->SetButtonCaption(g, 1, caption(QT_TR_NOOP("垃圾邮件"), counters.SpamCount));
    outBar_->SetButtonCaption(g, 2, caption(QT_TR_NOOP("已删除邮件"), counters.DeletedCount));
    return;
  }
}

bool TfrmReport::OnQuestion(const std::string& caption, const std::string& text) {
  QString shown = Q(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  if (exiting_)
    return false;
  ++questionsOpen_;
  const bool yes = AskYesNo(isVisible() ? this : nullptr, Q(caption), shown);
  --questionsOpen_;
  return yes;
}

}  // namespace pelorix::gui
