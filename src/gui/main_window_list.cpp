// TfrmReport: what is done to the list: views, preview, sorting, ticks,
// list and brief files, purging and restoring deleted mail.
#include "gui/main_window.h"

#include <QApplication>
#include <QDate>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTableView>
#include <algorithm>
#include <fstream>

#include "engine/learn_sources.h"
#include "engine/letter_fetch.h"
#include "engine/quarantine.h"
#include "engine/record_files.h"
#include "engine/reply.h"
#include "engine/restore.h"
#include "gui/dialogs.h"
#include "gui/letter_window.h"
#include "gui/mail_list_model.h"
#include "gui/main_window_parts.h"
#include "gui/outlook_bar.h"
#include "gui/tr.h"
#include "text/ansi.h"
#include "text/textutil.h"

namespace pelorix::gui {

namespace fs = std::filesystem;

void TfrmReport::ReplaceList(const fs::path& file) {
  model_->BeginReload();
  engine_.MailList().LoadRecordFile(file, true);
  model_->EndReload();
}

void TfrmReport::OutlookButtonClicked(int group, int button) {
  if (ListLocked() || group < 0 || button < 0)
    return;
  const QString g = outBar_->GroupCaption(group);
  const QString b = outBar_->ButtonCaption(group, button);
  SetDeletedView(false);
  model_->BeginReload();
  engine_.MailList().Clear();
  model_->EndReload();
  const QString viewing = Tr("当前设置：查看信箱为 ");
  if (b.contains(Tr("新到邮件"))) {
    // The panel names the account by its key, the other buttons by its display name.
    std::string key = U(g);
    for (std::size_t i = 0; i < displayList_.size() && i < keyList_.size(); ++i) {
      if (displayList_[i] == key) {
        key = keyList_[i];
        break;
      }
    }
    SetPanel(4, viewing + Q(key));
    ReplaceList(NewRecordPath(home_, KeyToFileName(key)));
  } else if (b.contains(Tr("垃圾邮件"))) {
    SetPanel(4, viewing + g);
    ReplaceList(SpamRecordPath(home_, AccountFileNameOf(g)));
  } else if (b.contains(Tr("已删除邮件"))) {
    SetPanel(4, viewing + g);
    ReplaceList(DeletedRecordPath(home_, AccountFileNameOf(g)));
    SetDeletedView(true);
    return;
  } else {
    ReplaceList(AllRecordPath(home_));
    SetPanel(4, Tr("当前设置为查看所有信箱"));
  }
}

void TfrmReport::PreviewRow(int row) {
  if (model_->rowCount() == 0 || row < 0 || row >= model_->rowCount())
    return;
  const TMailRow r = model_->Row(row);
  const std::string key = KeyFileName(r.Items[mcMessageKey]);
  QStringList text;
  for (const fs::path& folder : {TmpFolder(home_), DeletedFolder(home_)}) {
    std::error_code ec;
    const fs::path body = folder / key;
    if (key.empty() || !fs::is_regular_file(body, ec))
      continue;
    HtmlFileToText(body, false);
    fs::path txt = body;
    txt += ".txt";
    ReadTextLines(txt, text);
    break;
  }
  QStringList lines = {Tr("时间：") + Q(r.Items[mcDate]),
                       Tr("优先级：") + PriorityName(r.Items[mcPriority]),
                       Tr("地址：") + Q(r.Items[mcSenderRoute]),
                       Tr("收件人：") + Q(r.Items[mcRecipients]),
                       Tr("组织：") + Q(r.Items[mcOrganization]),
                       Tr("标题：") + Q(r.Items[mcSubject]),
                       Tr("发件人：") + Q(r.Items[mcSender]),
                       QString(),
                       QString(32, QLatin1Char('=')),
                       QString()};
  if (text.isEmpty() && LetterBodyMissing(home_, r)) {
    // After a header check: the text comes from the server, or why not.
    if (const QString note = FetchNote(r); !note.isEmpty())
      text << note;
    else if (FetchLetter(r, false))
      text << Tr("正在从服务器取回信件内容……");
  }
  lines << text;
  memText_->setPlainText(lines.join(QLatin1Char('\n')));
  memText_->moveCursor(QTextCursor::Start);
}

void TfrmReport::OpenLetter() {
  const QModelIndex current = lvMailList_->currentIndex();
  if (!current.isValid() || !lvMailList_->selectionModel()->isRowSelected(current.row()))
    return;
  const TMailRow row = model_->Row(current.row());
  if (FetchLetter(row, true))
    return;  // the window opens with the text once it is here
  ShowLetterWindow(this, home_, store_, row, FetchNote(row));
}

void TfrmReport::HeaderClicked(int column) {
  if (column == 0) {
    checkAllState_ = !checkAllState_;
    model_->SetAllChecked(checkAllState_);
    return;
  }
  {
    // Deletion workers remember rows by position until they write back.
    auto& s = engine_.State();
    std::lock_guard lock(s.QueueLock);
    if (s.DeleteQueue)
      return;
  }
  if (column == sortColumn_) {
    sortAscending_ = !sortAscending_;
  } else {
    sortAscending_ = true;
    sortColumn_ = column;
  }
  const Qt::SortOrder order = sortAscending_ ? Qt::AscendingOrder : Qt::DescendingOrder;
  model_->sort(column, order);
  lvMailList_->horizontalHeader()->setSortIndicatorShown(true);
  lvMailList_->horizontalHeader()->setSortIndicator(column, order);
}

void TfrmReport::SelectAll(bool ticked) {
  model_->SetAllChecked(ticked);
  actSelectAll_->setChecked(ticked);
  actSelectNone_->setChecked(!ticked);
}

bool TfrmReport::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lvMailList_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const int row = lvMailList_->currentIndex().row();
    if (key->key() == Qt::Key_Space && row >= 0) {
      model_->ToggleChecked(row);
      return true;
    }
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      OpenLetter();
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TfrmReport::OpenList() {
  if (ListLocked())
    return;
  const QString file =
      Dialogs().OpenFileName(this, Tr("打开列表文件"), Q(home_.string()), Tr(" 邮件列表 (*.NFL)"));
  if (file.isEmpty())
    return;
  SetDeletedView(false);
  ReplaceList(fs::path(U(file)));
}

void TfrmReport::SaveList() {
  // Dates with "/" cannot name a file here; the ISO form sorts well too.
  const QString proposed =
      Q((home_ / U(QDate::currentDate().toString(Qt::ISODate))).string()) + QStringLiteral(".NFL");
  const QString file =
      Dialogs().SaveFileName(this, Tr("保存列表文件"), proposed, Tr(" 邮件列表 (*.NFL)"));
  if (file.isEmpty())
    return;
  if (!engine_.MailList().SaveRecordFile(fs::path(U(file)))) {
    ShowMessage(this, Tr("保存列表文件"), Tr("无法写入文件：") + file, TIcon::Warning);
  }
}

void TfrmReport::OpenBrief() {
  const QString file =
      Dialogs().OpenFileName(this, Tr("打开简报文件"), Q(home_.string()), Tr(" 邮件简报 (*.TXT)"));
  if (file.isEmpty())
    return;
  QStringList lines;
  if (!ReadTextLines(fs::path(U(file)), lines)) {
    ShowMessage(this, Tr("打开简报文件"), Tr("无法读取文件：") + file, TIcon::Critical);
    return;
  }
  SetBrief(lines.join(QLatin1Char('\n')));
}

void TfrmReport::SaveBrief() {
  const QString proposed =
      Q((home_ / U(QDate::currentDate().toString(Qt::ISODate))).string()) + QStringLiteral(".TXT");
  const QString file =
      Dialogs().SaveFileName(this, Tr("保存简报文件"), proposed, Tr(" 邮件简报 (*.TXT)"));
  if (file.isEmpty())
    return;
  std::string bytes;
  for (const QString& line : BriefLines())
    bytes += ToAnsi(U(line)) + "\r\n";
  std::ofstream out(fs::path(U(file)), std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  if (!out) {
    ShowMessage(this, Tr("保存简报文件"), Tr("无法写入文件：") + file, TIcon::Critical);
  }
}

void TfrmReport::PurgeCurrentAccount() {
  const int group = outBar_->ActiveGroup();
  if (group < 0 || ListLocked())
    return;
  const std::string name = AccountFileNameOf(outBar_->GroupCaption(group));
  const fs::path file = DeletedRecordPath(home_, name);
  const auto records = ReadRecordFile(file);
  if (!records)
    return;
  auto removeSet = [](const fs::path& base) {
    std::error_code ec;
    if (!fs::exists(base, ec))
      return;
    fs::remove(base, ec);
    for (const char* ext : {".txt", ".msg"}) {
      fs::path p = base;
      p += ext;
      fs::remove(p, ec);
    }
  };
  for (const TMailRecord& r : *records) {
    const std::string key = KeyFileName(r.MessageKey);
    if (key.empty())
      continue;
    removeSet(TmpFolder(home_) / key);
    removeSet(DeletedFolder(home_) / key);
    RemoveKeptCopies(home_, r.MessageKey);
  }
  std::error_code ec;
  fs::remove(file, ec);
  SetDeletedView(false);
  model_->BeginReload();
  engine_.MailList().Clear();
  model_->EndReload();
}

void TfrmReport::PurgeAllAccounts() {
  if (ListLocked())
    return;
  bool found = false;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(DeletedFolder(home_), ec)) {
    std::error_code e2;
    if (entry.is_regular_file(e2)) {
      found = true;
      fs::remove(entry.path(), e2);
    }
  }
  if (!found)
    return;
  SetDeletedView(false);
  model_->BeginReload();
  engine_.MailList().Clear();
  model_->EndReload();
}

void TfrmReport::RestoreMail() {
  const QString caption = Tr("恢复邮件");
  if (!actRestore_->isEnabled() || ListLocked())
    return;
  std::vector<fs::path> files;
  int ticked = 0, skipped = 0;
  for (const TMailRow& row : engine_.MailList().Rows()) {
    if (!row.Checked)
      continue;
    ++ticked;
    const auto copies = KeptCopies(home_, row.Items[mcMessageKey]);
    if (copies.empty())
      ++skipped;
    for (const fs::path& copy : copies) {
      if (std::find(files.begin(), files.end(), copy) == files.end())
        files.push_back(copy);
    }
  }
  if (ticked == 0) {
    ShowMessage(this, caption, Tr("请先选定要恢复的邮件!"), TIcon::Warning);
    return;
  }
  const QString skippedText =
      skipped > 0 ? Tr("\n另有%1封邮件删除时没有保留副本，无法恢复。").arg(skipped) : QString();
  if (files.empty()) {
    ShowMessage(this, caption, Tr("选定的邮件删除时都没有保留副本，无法恢复。"), TIcon::Warning);
    return;
  }
  const int way = Dialogs().Choose(this, caption,
                                   Tr("恢复选定的%1封邮件：保存到邮箱文件(mbox)，以便导入邮件程序；"
                                      "或者发回到自己的邮箱。")
                                           .arg(files.size()) +
                                       skippedText,
                                   {Tr("保存到邮箱文件"), Tr("发回到自己的邮箱")});
  QString result;
  bool done = false;
  if (way == 0) {
    const QString proposed = Q((home_ / "deleted.mbox").string());
    const QString file = Dialogs().SaveFileName(this, caption, proposed, Tr(" 邮箱文件 (*.mbox)"));
    if (file.isEmpty())
      return;
    std::string error;
    done = AppendCopiesToMbox(EntriesOfFiles(home_, files), fs::path(U(file)), &error);
    result =
        done ? Tr("已将%1封邮件保存到 ").arg(files.size()) + file : Tr("无法保存邮件：") + Q(error);
  } else if (way == 1) {
    done = ResendCopies(files, result);
  } else {
    return;
  }
  if (done)
    LearnRestored(home_, files);
  ShowMessage(this, caption, result + skippedText, done ? TIcon::Information : TIcon::Critical);
}

void TfrmReport::MarkSelected(bool spam) {
  std::vector<int> rows;
  for (const QModelIndex& i : lvMailList_->selectionModel()->selectedRows())
    rows.push_back(i.row());
  if (rows.empty() && lvMailList_->currentIndex().isValid())
    rows.push_back(lvMailList_->currentIndex().row());
  std::vector<std::string> keys;
  for (int r : rows) {
    const TMailRow row = model_->Row(r);
    if (!row.Items[mcMessageKey].empty())
      keys.push_back(row.Items[mcMessageKey]);
  }
  const QString caption = spam ? Tr("标为垃圾邮件") : Tr("标为正常邮件");
  if (keys.empty()) {
    ShowMessage(this, caption, Tr("请先选定要标记的邮件!"), TIcon::Warning);
    return;
  }
  std::string error;
  const int found = MarkMessages(home_, keys, spam ? TLearnClass::Spam : TLearnClass::Good, &error);
  if (!error.empty()) {
    ShowMessage(this, caption, Tr("无法保存学习记录：") + Q(error), TIcon::Critical);
    return;
  }
  // A message marked spam is ticked for the next clear; one marked good is not.
  if (!ListLocked()) {
    for (int r : rows)
      model_->SetChecked(r, spam);
  }
  SetPanel(5, Tr("已学习%1封%2").arg(found).arg(spam ? Tr("垃圾邮件") : Tr("正常邮件")));
}

bool TfrmReport::ResendCopies(const std::vector<fs::path>& files, QString& result) {
  const TSmtpSettings settings = ReadSmtpSettings(store_);
  std::string error;
  if (const std::string problem = ResendProblem(settings); !problem.empty()) {
    result = Q(problem);
    return false;
  }
  // The send holds the window as the letter window's does; the status line
  // says why.
  SetPanel(5, Tr("正在发送!"));
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const int sent = ResendMessages(settings, files, &error);
  QApplication::restoreOverrideCursor();
  const bool all = static_cast<std::size_t>(sent) == files.size();
  SetPanel(5, all ? Tr("发送完毕!") : Tr("发送失败！"));
  result = Tr("已将%1封邮件发回到 ").arg(sent) + Q(settings.MyEmail);
  if (!all)
    result += Tr("\n其余%1封发送失败：").arg(files.size() - sent) + Q(error);
  return all;
}

}  // namespace pelorix::gui
