#include "gui/main_window.h"

#include <QAbstractButton>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStackedWidget>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <fstream>
#include <utility>

#include "engine/letter_fetch.h"
#include "engine/quarantine.h"
#include "engine/record_files.h"
#include "gui/dialogs.h"
#include "gui/mail_list_model.h"
#include "gui/main_window_parts.h"
#include "gui/outlook_bar.h"
#include "gui/settings_window.h"
#include "gui/tr.h"
#include "gui/tray.h"
#include "gui/version_check.h"
#include "pelorix_version.h"
#include "store/settings_store.h"
#include "text/ansi.h"
#include "text/asciiutil.h"
#include "text/textutil.h"

// Resources of a static library must be registered by name.
static void InitPelorixResources() {
  Q_INIT_RESOURCE(pelorix);
}

namespace pelorix::gui {

namespace fs = std::filesystem;

namespace {

// How long an exit during a run waits for the workers to finish their
// current message and withdraw their deletions.
constexpr int kExitWaitMs = 30000;

}  // namespace

std::string KeyToFileName(std::string key) {
  if (auto p = key.find('['); p != std::string::npos)
    key[p] = '2';
  if (auto p = key.find(']'); p != std::string::npos)
    key.erase(p, 1);
  return key;
}

bool ReadTextLines(const fs::path& file, QStringList& lines) {
  std::ifstream in(file, std::ios::binary);
  if (!in)
    return false;
  std::string line;
  lines.clear();
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines << Q(FromAnsi(line));
  }
  return !in.bad();
}

TfrmReport::TfrmReport(fs::path home, TSettingsStore& store, QWidget* parent)
    : QMainWindow(parent),
      home_(std::move(home)),
      store_(store),
      sink_(this, *this),
      engine_(home_, store_, sink_),
      deleter_(engine_.State(), store_, sink_) {
  InitPelorixResources();
  setObjectName(QStringLiteral("frmReport"));
  engine_.LoadPlan();
  // A command-line run may be writing tmp/ right now; its files stay then.
  if (runLock_.TryLock(RunLockPath(home_))) {
    tmpSweep_.emplace(PrepareTmpFolder(home_));
    runLock_.Unlock();
  }
  EnsureDeletedFolder(home_);
  engine_.ExpireKeptCopies();

  setWindowTitle(QStringLiteral("Tolvane-Pelorix-Grisvald  Ver: ") + Q(FileVersionText()));
  setWindowIcon(QIcon(QStringLiteral(":/images/pelorix.png")));

  model_ = new TMailListModel(engine_.MailList(), this);
  tray_ = new TTray(this);
  autoTimer_ = new QTimer(this);
  connect(autoTimer_, &QTimer::timeout, this, &TfrmReport::AutoCheck);

  BuildMenus();
  BuildToolBar();
  BuildPages();
  BuildStatusBar();
  LoadAccounts();
  ConfigureAutoCheck();

  connect(tray_, &TTray::PreviewRequested, this, &TfrmReport::CheckHeaders);
  connect(tray_, &TTray::VersionCheckRequested, this, [this] { StartVersionCheck(this); });
  connect(tray_, &TTray::ExitRequested, this, &TfrmReport::ExitProgram);
  connect(tray_, &TTray::Activated, this, &TfrmReport::ShowWindowFromTray);

  resize(1240, 500 + menuBar()->sizeHint().height());
  move(20, 60);
  ShowPage(0);
}

TfrmReport::~TfrmReport() {
  letterStop_ = true;
  if (letterFetch_.joinable())
    letterFetch_.join();
  // Workers still running must not wait on a window that is going away.
  sink_.Detach();
  deleter_.Stop();
  engine_.Stop();
}

void TfrmReport::StartShown(bool startHidden) {
  tray_->Show();
  if (startHidden && tray_->Available())
    return;  // only the tray icon; the window appears on a click
  show();
  raise();
}

// ---------------------------------------------------------------- state

QString TfrmReport::StatusPanel(int panel) const {
  return panel >= 1 && panel <= 5 ? panels_[panel - 1]->text() : QString();
}

void TfrmReport::SetPanel(int panel, const QString& text) {
  panels_[panel - 1]->setText(text);
}

void TfrmReport::SetBrief(const QString& text) {
  // The brief of a big mailbox runs to hundreds of thousands of lines, and
  // laying them out takes the window half a second: done when it is shown.
  pendingBrief_ = text;
  if (pages_->currentWidget() == memo1_)
    ShowPendingBrief();
}

void TfrmReport::ShowPendingBrief() {
  if (!pendingBrief_)
    return;
  memo1_->setPlainText(*pendingBrief_);
  pendingBrief_.reset();
}

QStringList TfrmReport::BriefLines() const {
  return (pendingBrief_ ? *pendingBrief_ : memo1_->toPlainText()).split(QLatin1Char('\n'));
}

QStringList TfrmReport::EventLines() const {
  const QString t = lstMsg_->toPlainText();
  return t.isEmpty() ? QStringList() : t.split(QLatin1Char('\n'));
}

QString TfrmReport::PreviewText() const {
  return memText_->toPlainText();
}

bool TfrmReport::Running() {
  auto& s = engine_.State();
  std::lock_guard lock(s.QueueLock);
  return s.Busy || s.CheckQueue || s.DeleteQueue;
}

bool TfrmReport::ListLocked() {
  // Replacing the rows under running workers would pull their rows away.
  return Running();
}

void TfrmReport::SetCheckButtonsEnabled(bool enabled) {
  actCheckHeader_->setEnabled(enabled);
  actCheckContent_->setEnabled(enabled);
}

void TfrmReport::SetDeletedView(bool deleted) {
  actRestore_->setEnabled(deleted);
  model_->SetDeletedRowsTickable(deleted);
}

void TfrmReport::SetClearEnabled(bool enabled) {
  actClear_->setEnabled(enabled);
  actClearMenu_->setEnabled(enabled);
}

void TfrmReport::TickAllMailboxes() {
  const auto items = accountItems_->actions();
  if (!items.isEmpty())
    items.front()->setChecked(true);
}

QString TfrmReport::Selection() const {
  for (QAction* a : accountItems_->actions()) {
    if (a->isChecked())
      return a->data().toString();
  }
  return kAll;
}

std::string TfrmReport::AccountFileNameOf(const QString& groupCaption) const {
  std::string g = U(groupCaption);
  for (std::size_t i = 0; i < displayList_.size() && i < keyList_.size(); ++i) {
    if (displayList_[i] == g) {
      g = keyList_[i];
      break;
    }
  }
  return KeyToFileName(g);
}

// ---------------------------------------------------------------- others

void TfrmReport::StartMailProgram() {
  const QString prog = Q(std::string(ascii::Trim(State().Plan().MailProg)));
  if (prog.isEmpty())
    return;
  if (!AskOkCancel(this, Tr("提醒"), Tr("是否运行邮件接收程序?")))
    return;
  bool started = false;
  if (!prog.contains(QLatin1Char('/'))) {
    // A bare name is a command on the PATH.
    started = QProcess::startDetached(prog, {}, Q(home_.string()));
  } else {
    const QFileInfo info(prog);
    if (info.fileName().trimmed().isEmpty())
      return;
    // A program runs in its own folder; anything else opens with its handler.
    started = info.isFile() && info.isExecutable()
                  ? QProcess::startDetached(info.absoluteFilePath(), {}, info.absolutePath())
                  : QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath()));
  }
  if (!started) {
    ShowMessage(this, Tr("提醒"), Tr("无法启动邮件接收程序：") + prog, TIcon::Warning);
  }
}

void TfrmReport::OpenSettings() {
  ShowSettingsWindow(this, home_, store_);
  actFetchLetters_->setChecked(FetchLettersOnDemand(store_));
  engine_.LoadPlan();
  ConfigureAutoCheck();
  // Accounts may have been added or removed; the bar and the menu follow.
  LoadAccounts();
}

void TfrmReport::ShowPage(int page) {
  pages_->setCurrentIndex(page == 0 ? 0 : (page == 1 ? 1 : 2));
  if (QAbstractButton* b = pageButtons_->button(page))
    b->setChecked(true);
  actPageList_->setChecked(page == 0);
  actPageBrief_->setChecked(page == 1);
}

void TfrmReport::ShowWindowFromTray() {
  show();
  setWindowState(windowState() & ~Qt::WindowMinimized);
  raise();
  activateWindow();
}

void TfrmReport::ExitProgram() {
  exitRequested_ = true;
  close();
}

void TfrmReport::closeEvent(QCloseEvent* event) {
  if (!exitRequested_ && tray_->Available()) {
    // Only hidden: the program goes on in the tray.
    event->ignore();
    hide();
    return;
  }
  if (exiting_) {
    event->accept();
    return;
  }
  exiting_ = true;
  // A run still going is stopped; its workers withdraw their deletions (RSET)
  // and the finished handlers save tmp/all.rec as usual.
  StopRun();
  // From inside a worker's question that worker waits for us: no waiting then.
  const QDeadlineTimer deadline(questionsOpen_ > 0 ? 0 : kExitWaitMs);
  while (Running() && !deadline.hasExpired()) {
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    if (Running())
      QThread::msleep(10);
  }
  sink_.Detach(questionsOpen_ == 0);
  if (Running())
    engine_.MailList().SaveRecordFile(AllRecordPath(home_));
  State().Plan().Save(store_);
  tray_->Hide();
  event->accept();
  QApplication::quit();
}

}  // namespace pelorix::gui
