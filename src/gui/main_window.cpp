#include "gui/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDate>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <fstream>
#include <utility>

#include "engine/quarantine.h"
#include "engine/record_files.h"
#include "engine/reply.h"
#include "engine/restore.h"
#include "gui/dialogs.h"
#include "gui/letter_window.h"
#include "gui/mail_list_delegate.h"
#include "gui/mail_list_model.h"
#include "gui/outlook_bar.h"
#include "gui/settings_window.h"
#include "gui/tray.h"
#include "gui/version_check.h"
#include "pelorix_version.h"
#include "store/accounts.h"
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

QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::string U(const QString& s) {
  return s.toStdString();
}

const QString kAll = QStringLiteral("所有信箱");
// How long an exit during a run waits for the workers to finish their
// current message and withdraw their deletions.
constexpr int kExitWaitMs = 30000;

QIcon Image(const QString& name) {
  return QIcon(QStringLiteral(":/images/") + name + QStringLiteral(".png"));
}

// Account file name of an account key: the first "[" becomes "2", the first
// "]" goes.
std::string KeyToFileName(std::string key) {
  if (auto p = key.find('['); p != std::string::npos)
    key[p] = '2';
  if (auto p = key.find(']'); p != std::string::npos)
    key.erase(p, 1);
  return key;
}

// Reads a text file of the program (GB18030) as lines.
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

QString IntroText() {
  return QStringLiteral(
             "Pelorix 邮件预检器\n\n"
             "在您的邮件程序下载邮件之前，先到 POP3 服务器上查看信件的摘要或内容，"
             "按过滤列表判断垃圾邮件，标出发件人所在地，并可在服务器上直接删除。\n\n"
             "操作提示：收信后，双击表格\n"
             "中任意信件，可以观看该信件\n"
             "属性，并可即时回复发件人。\n\n"
             "Tolvane\n主页：%1\n邮箱：%2")
      .arg(QStringLiteral(PELORIX_HOME_PAGE), QStringLiteral(PELORIX_SUPPORT_MAIL));
}

}  // namespace

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

  resize(750, 460 + menuBar()->sizeHint().height());
  move(80, 100);
  ShowPage(0);
}

TfrmReport::~TfrmReport() {
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

// ---------------------------------------------------------------- layout

void TfrmReport::BuildMenus() {
  auto add = [this](QMenu* menu, const QString& text, const char* name, auto slot) {
    QAction* a = menu->addAction(text);
    a->setObjectName(QString::fromLatin1(name));
    connect(a, &QAction::triggered, this, slot);
    return a;
  };
  QMenu* file = menuBar()->addMenu(QStringLiteral("文件"));
  add(file, QStringLiteral("打开列表"), "mnuOpenList", [this] { OpenList(); });
  add(file, QStringLiteral("保存列表"), "mnuSaveList", [this] { SaveList(); });
  file->addSeparator();
  add(file, QStringLiteral("打开简报"), "mnuOpenBrief", [this] { OpenBrief(); });
  add(file, QStringLiteral("保存简报"), "mnuSaveBrief", [this] { SaveBrief(); });
  file->addSeparator();
  // The letter window opens from the tool bar and the list, not from here.
  add(file, QStringLiteral("信件属性"), "mnuMailProp", [] {});
  file->addSeparator();
  add(file, QStringLiteral("退出"), "mnuClose", [this] { close(); });

  QMenu* edit = menuBar()->addMenu(QStringLiteral("编辑"));
  actSelectAll_ =
      add(edit, QStringLiteral("全部选定"), "mnuSelectAll", [this] { SelectAll(true); });
  actSelectNone_ =
      add(edit, QStringLiteral("全部不选"), "mnuSelectNone", [this] { SelectAll(false); });
  actSelectAll_->setCheckable(true);
  actSelectNone_->setCheckable(true);
  edit->addSeparator();
  actPageList_ = add(edit, QStringLiteral("列表"), "mnuPageList", [this] { ShowPage(0); });
  actPageBrief_ = add(edit, QStringLiteral("简报"), "mnuPageBrief", [this] { ShowPage(1); });
  actPageList_->setCheckable(true);
  actPageBrief_->setCheckable(true);

  QMenu* op = menuBar()->addMenu(QStringLiteral("操作"));
  actCheckMenu_ = add(op, QStringLiteral("预检邮件"), "mnuCheck", [this] { CheckHeaders(); });
  actClearMenu_ = add(op, QStringLiteral("清除邮件"), "mnuClear", [this] { ClearMail(); });
  add(op, QStringLiteral("停止"), "mnuStop", [this] { StopRun(); });
  op->addSeparator();
  add(op, QStringLiteral("启动接收程序"), "mnuMailProg", [this] { StartMailProgram(); });
  op->addSeparator();
  add(op, QStringLiteral("配置"), "mnuLetter", [this] { OpenLetter(); });
  op->addSeparator();
  add(op, QStringLiteral("清除当前帐号里的已删除邮件"), "mnuPurgeCurrent",
      [this] { PurgeCurrentAccount(); });
  add(op, QStringLiteral("清除所有帐号里的已删除邮件"), "mnuPurgeAll",
      [this] { PurgeAllAccounts(); });
  op->addSeparator();
  actRestore_ = add(op, QStringLiteral("恢复邮件"), "mnuRestore", [this] { RestoreMail(); });
  actRestore_->setEnabled(false);

  QMenu* help = menuBar()->addMenu(QStringLiteral("帮助"));
  add(help, QStringLiteral("写一封信给作者"), "mnuWriteAuthor", [] {
    QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") +
                                   QStringLiteral(PELORIX_SUPPORT_MAIL) +
                                   QStringLiteral("?subject=about%20Pelorix")));
  });
  add(help, QStringLiteral("访问主页"), "mnuHomePage",
      [] { QDesktopServices::openUrl(QUrl(QStringLiteral(PELORIX_HOME_PAGE))); });
  add(help, QStringLiteral("检测最新版本"), "mnuVersion", [this] { StartVersionCheck(this); });

  for (QAction* a : menuBar()->actions())
    a->menu()->setAccessibleName(a->text());
}

void TfrmReport::BuildToolBar() {
  QToolBar* bar = addToolBar(QStringLiteral("main"));
  bar->setObjectName(QStringLiteral("tbMain"));
  bar->setAccessibleName(QStringLiteral("工具栏"));
  bar->setMovable(false);
  bar->setIconSize(QSize(32, 32));

  accountItems_ = new QActionGroup(this);
  accountItems_->setExclusive(true);

  auto button = [this, bar](const QString& text, const char* name, const QString& glyph,
                            int pending, auto slot) {
    auto* action = new QAction(Image(glyph), text, this);
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, slot);
    auto* b = new QToolButton(bar);
    b->setDefaultAction(action);
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setAccessibleName(text);
    b->setObjectName(QString::fromLatin1(name) + QStringLiteral("Button"));
    if (pending > 0) {
      auto* menu = new QMenu(b);
      menu->setObjectName(pending == kHeaderCheck ? QStringLiteral("pMenuClear")
                                                  : QStringLiteral("pMenuClear%1").arg(pending));
      menu->setAccessibleName(QStringLiteral("信箱"));
      connect(menu, &QMenu::aboutToShow, this, [this, menu, pending] {
        pendingCommand_ = pending;
        menu->clear();
        menu->addActions(accountItems_->actions());
      });
      b->setMenu(menu);
      b->setPopupMode(QToolButton::MenuButtonPopup);
      b->setFixedSize(79, 65);
      if (pending == kHeaderCheck)
        pMenuClear_ = menu;
    } else {
      b->setFixedSize(65, 65);
    }
    bar->addWidget(b);
    return action;
  };
  actCheckHeader_ = button(QStringLiteral("查摘要"), "sbtnCheckHeader",
                           QStringLiteral("tool_header"), kHeaderCheck, [this] { CheckHeaders(); });
  bar->addSeparator();
  actCheckContent_ =
      button(QStringLiteral("查内容"), "sbtnCheckContent", QStringLiteral("tool_content"),
             kContentCheck, [this] { CheckContents(); });
  bar->addSeparator();
  button(QStringLiteral("停止"), "sbtnStop", QStringLiteral("tool_stop"), 0, [this] { StopRun(); });
  bar->addSeparator();
  actClear_ = button(QStringLiteral("清除"), "sbtnClear", QStringLiteral("tool_clear"), kDeletion,
                     [this] { ClearMail(); });
  bar->addSeparator();
  button(QStringLiteral("配置"), "sbtnProp", QStringLiteral("tool_settings"), 0,
         [this] { OpenSettings(); });
  button(QStringLiteral("信件属性"), "sbtnMailProp", QStringLiteral("tool_letter"), 0,
         [this] { OpenLetter(); });
  button(QStringLiteral("收信"), "sbtnMailProg", QStringLiteral("tool_receive"), 0,
         [this] { StartMailProgram(); });
  connect(accountItems_, &QActionGroup::triggered, this,
          [this](QAction* a) { AccountMenuChosen(a, pendingCommand_); });
}

void TfrmReport::BuildPages() {
  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(2);

  pages_ = new QStackedWidget(central);
  pages_->setObjectName(QStringLiteral("nbPages"));

  // Page "0": outlook bar, list, preview.
  auto* split = new QSplitter(Qt::Horizontal);
  split->setObjectName(QStringLiteral("0"));
  outBar_ = new TOutlookBar(split);
  outBar_->setMinimumWidth(100);
  connect(outBar_, &TOutlookBar::ButtonClicked, this, &TfrmReport::OutlookButtonClicked);

  lvMailList_ = new QTableView(split);
  lvMailList_->setObjectName(QStringLiteral("lvMailList"));
  lvMailList_->setAccessibleName(QStringLiteral("邮件列表"));
  lvMailList_->setModel(model_);
  lvMailList_->setItemDelegate(new TMailListDelegate(lvMailList_));
  lvMailList_->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvMailList_->setSelectionMode(QAbstractItemView::SingleSelection);
  lvMailList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvMailList_->setShowGrid(false);
  lvMailList_->setFrameShape(QFrame::NoFrame);
  lvMailList_->setWordWrap(false);
  lvMailList_->verticalHeader()->hide();
  lvMailList_->verticalHeader()->setDefaultSectionSize(20);
  lvMailList_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  lvMailList_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  QPalette pal = lvMailList_->palette();
  pal.setColor(QPalette::Base, ColorFromRef(kListBackground));
  lvMailList_->setPalette(pal);
  QHeaderView* header = lvMailList_->horizontalHeader();
  header->setSectionsClickable(true);
  header->setHighlightSections(false);
  header->setMinimumSectionSize(1);
  const int widths[kViewColumns] = {20,  20, 20,  20,  20,  80, 100, 200,
                                    100, 25, 100, 100, 100, 1,  100};
  for (int c = 0; c < kViewColumns; ++c) {
    lvMailList_->setColumnWidth(c, widths[c]);
    if (c <= 4 || c == 13)
      header->setSectionResizeMode(c, QHeaderView::Fixed);
  }
  header->setStretchLastSection(true);
  connect(header, &QHeaderView::sectionClicked, this, &TfrmReport::HeaderClicked);
  connect(lvMailList_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { PreviewRow(current.row()); });
  connect(lvMailList_, &QTableView::clicked, this,
          [this](const QModelIndex& i) { PreviewRow(i.row()); });
  connect(lvMailList_, &QTableView::doubleClicked, this, [this] { OpenLetter(); });
  lvMailList_->installEventFilter(this);
  // The list's context menu: the restore of deleted mail and the ticks.
  lvMailList_->setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* separator = new QAction(lvMailList_);
  separator->setSeparator(true);
  lvMailList_->addActions({actRestore_, separator, actSelectAll_, actSelectNone_});

  auto* previewPanel = new QGroupBox(QStringLiteral("邮件内容"), split);
  previewPanel->setAccessibleName(QStringLiteral("邮件内容"));
  auto* pv = new QVBoxLayout(previewPanel);
  pv->setContentsMargins(2, 2, 2, 2);
  memText_ = new QPlainTextEdit(previewPanel);
  memText_->setObjectName(QStringLiteral("memText"));
  memText_->setAccessibleName(QStringLiteral("邮件内容"));
  memText_->setReadOnly(true);
  memText_->setPlainText(IntroText());
  pv->addWidget(memText_);
  split->setStretchFactor(1, 1);
  split->setSizes({129, 440, 181});
  pages_->addWidget(split);

  auto greenMemo = [](const QString& name, const QString& caption, bool wrap) {
    auto* memo = new QPlainTextEdit;
    memo->setObjectName(name);
    memo->setAccessibleName(caption);
    memo->setReadOnly(true);
    memo->setLineWrapMode(wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    QPalette p = memo->palette();
    p.setColor(QPalette::Text, ColorFromRef(kGreen));
    memo->setPalette(p);
    return memo;
  };
  // Page "1": the brief.
  memo1_ = greenMemo(QStringLiteral("Memo1"), QStringLiteral("简报"), true);
  QFont mono(QStringLiteral("Noto Sans Mono CJK SC"));
  mono.setStyleHint(QFont::Monospace);
  memo1_->setFont(mono);
  memo1_->setPlainText(QStringLiteral("邮件检测报告\n=============\nTolvane"));
  pages_->addWidget(memo1_);
  // Page "2": the event log.
  lstMsg_ = greenMemo(QStringLiteral("lstMsg"), QStringLiteral("事件"), false);
  lstMsg_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  lstMsg_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  pages_->addWidget(lstMsg_);
  connect(pages_, &QStackedWidget::currentChanged, this, [this] {
    if (pages_->currentWidget() == memo1_)
      ShowPendingBrief();
  });
  column->addWidget(pages_, 1);

  // The page bar: list, events, brief.
  auto* pageBar = new QWidget(central);
  auto* row = new QHBoxLayout(pageBar);
  row->setContentsMargins(2, 0, 2, 0);
  row->setSpacing(0);
  pageButtons_ = new QButtonGroup(this);
  pageButtons_->setExclusive(true);
  const struct {
    const char* text;
    const char* hint;
    int page;
  } kPageButtons[] = {{"列表", "以列表方式查看预检结果", 0},
                      {"事件", "查看邮件检测过程", 2},
                      {"简报", "以简报形式查看预检结果", 1}};
  for (const auto& p : kPageButtons) {
    auto* b = new QToolButton(pageBar);
    b->setText(QString::fromUtf8(p.text));
    b->setToolTip(QString::fromUtf8(p.hint));
    b->setAccessibleName(QString::fromUtf8(p.text));
    b->setAccessibleDescription(QString::fromUtf8(p.hint));
    b->setCheckable(true);
    b->setFixedWidth(78);
    pageButtons_->addButton(b, p.page);
    row->addWidget(b);
  }
  row->addStretch(1);
  connect(pageButtons_, &QButtonGroup::idClicked, this, &TfrmReport::ShowPage);
  column->addWidget(pageBar);
  setCentralWidget(central);
}

void TfrmReport::BuildStatusBar() {
  const int widths[5] = {80, 80, 120, 250, 250};
  const char* const texts[5] = {"邮箱数：", "邮件：", "占用空间：", "当前信箱:", "状态："};
  // What the counters show on a big mailbox must fit the font in use.
  const char* const widest[3] = {"邮箱：999个", "邮件：999999封", "占用空间：99999999KB"};
  for (int i = 0; i < 5; ++i) {
    auto* label = new QLabel(QString::fromUtf8(texts[i]), this);
    label->setObjectName(QStringLiteral("panel%1").arg(i + 1));
    label->setAccessibleName(QString::fromUtf8(texts[i]));
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    const int needed = i < 3
                           ? label->fontMetrics().horizontalAdvance(QString::fromUtf8(widest[i])) +
                                 2 * label->frameWidth() + 2 * label->margin() + 6
                           : 0;
    if (i < 4)
      label->setFixedWidth(std::max(widths[i], needed));
    else
      label->setMinimumWidth(widths[i]);
    statusBar()->addWidget(label, i == 4 ? 1 : 0);
    panels_[i] = label;
  }
}

void TfrmReport::LoadAccounts() {
  outBar_->Clear();
  const int all = outBar_->AddGroup(kAll);
  outBar_->AddButton(all, QStringLiteral("最新邮件"), Image(QStringLiteral("bar_latest")));
  for (QAction* a : accountItems_->actions()) {
    accountItems_->removeAction(a);
    delete a;
  }
  auto item = [this](const QString& caption) {
    auto* a = new QAction(caption, accountItems_);
    a->setCheckable(true);
    return a;
  };
  item(kAll)->setChecked(true);
  keyList_.clear();
  displayList_.clear();
  const std::vector<TAccount> accounts = pelorix::LoadAccounts(store_);
  const std::vector<std::string> names = AccountDisplayNames(accounts);
  for (std::size_t i = 0; i < accounts.size(); ++i) {
    const std::string key = AccountKey(accounts[i]);
    item(Q(key));
    keyList_.push_back(key);
    displayList_.push_back(names[i]);
    const int g = outBar_->AddGroup(Q(names[i]));
    outBar_->AddButton(g, QStringLiteral("新到邮件"), Image(QStringLiteral("bar_new")));
    outBar_->AddButton(g, QStringLiteral("垃圾邮件"), Image(QStringLiteral("bar_spam")));
    outBar_->AddButton(g, QStringLiteral("已删除邮件"), Image(QStringLiteral("bar_deleted")));
  }
  outBar_->SetActiveGroup(0);
}

void TfrmReport::ConfigureAutoCheck() {
  const TMailPlan plan = State().Plan();
  if (plan.autocheck && plan.checkTime > 0) {
    autoTimer_->start(std::chrono::minutes(plan.checkTime));
  } else {
    autoTimer_->stop();
  }
}

// ---------------------------------------------------------------- state

QString TfrmReport::StatusPanel(int panel) const {
  return panel >= 1 && panel <= 5 ? panels_[panel - 1]->text() : QString();
}

void TfrmReport::SetPanel(int panel, const QString& text) {
  panels_[panel - 1]->setText(text);
  panels_[panel - 1]->setAccessibleDescription(text);
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
      return a->text();
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

// ---------------------------------------------------------------- runs

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
  const QString busyCaption = QStringLiteral("注意！");
  const QString busyText = QStringLiteral("正在检测邮件！");
  // A run of this window, or one of the command line on the same home.
  if (Running() || !runLock_.TryLock(RunLockPath(home_))) {
    if (!scheduled)
      ShowMessage(this, busyCaption, busyText, TIcon::Warning);
    return;
  }
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
    ShowMessage(this, QStringLiteral("帐号设置错误！"),
                QStringLiteral("你必须指定至少一个邮件帐号才能检查!"), TIcon::Warning);
  } else {
    ShowMessage(this, busyCaption, busyText, TIcon::Warning);
  }
}

void TfrmReport::StopRun() {
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
    ShowMessage(this, QStringLiteral("注意！"), QStringLiteral("正在检测邮件！"), TIcon::Warning);
    return;
  }
  SetClearEnabled(false);
  SetDeletedView(false);
  const TStartResult started = deleter_.StartDeletion(U(Selection()));
  if (started == TStartResult::Started)
    return;
  runLock_.Unlock();
  SetClearEnabled(true);
  if (started == TStartResult::NoAccount) {
    ShowMessage(this, QStringLiteral("帐号设置错误！"),
                QStringLiteral("你必须指定至少一个邮件帐号才能检查!"), TIcon::Warning);
  }
}

void TfrmReport::AccountMenuChosen(QAction* item, int pendingCommand) {
  if (!item)
    return;
  item->setChecked(true);  // the group unticks the others
  SetPanel(4, QStringLiteral("当前设置为查看") + item->text());
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
    UpdateTray(QStringLiteral("新到邮件") + count + QStringLiteral("封"), true, riNewMail);
    tray_->Notify(QStringLiteral("Tolvane-Pelorix"),
                  QStringLiteral("新到邮件") + count + QStringLiteral("封"));
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
    tray_->Notify(QStringLiteral("Tolvane-Pelorix"),
                  QStringLiteral("已删除邮件") + QString::number(total) + QStringLiteral("封"));
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
    SetPanel(1, Q(p.Status->Accounts));
    SetPanel(2, Q(p.Status->Mails));
    SetPanel(3, Q(p.Status->Space));
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
      QString c = QString::fromUtf8(base);
      return n > 0 ? c + QStringLiteral(" (") + QString::number(n) + QStringLiteral(")") : c;
    };
    outBar_->SetButtonCaption(g, 0, caption("新到邮件", counters.MessageCount));
    outBar_->SetButtonCaption(g, 1, caption("垃圾邮件", counters.SpamCount));
    outBar_->SetButtonCaption(g, 2, caption("已删除邮件", counters.DeletedCount));
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

// ---------------------------------------------------------------- list

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
  const QString viewing = QStringLiteral("当前设置：查看信箱为 ");
  if (b.contains(QStringLiteral("新到邮件"))) {
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
  } else if (b.contains(QStringLiteral("垃圾邮件"))) {
    SetPanel(4, viewing + g);
    ReplaceList(SpamRecordPath(home_, AccountFileNameOf(g)));
  } else if (b.contains(QStringLiteral("已删除邮件"))) {
    SetPanel(4, viewing + g);
    ReplaceList(DeletedRecordPath(home_, AccountFileNameOf(g)));
    SetDeletedView(true);
    return;
  } else {
    ReplaceList(AllRecordPath(home_));
    SetPanel(4, QStringLiteral("当前设置为查看所有信箱"));
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
  QStringList lines = {QStringLiteral("时间：") + Q(r.Items[mcDate]),
                       QStringLiteral("优先级：") + PriorityName(r.Items[mcPriority]),
                       QStringLiteral("地址：") + Q(r.Items[mcSenderRoute]),
                       QStringLiteral("收件人：") + Q(r.Items[mcRecipients]),
                       QStringLiteral("组织：") + Q(r.Items[mcOrganization]),
                       QStringLiteral("标题：") + Q(r.Items[mcSubject]),
                       QStringLiteral("发件人：") + Q(r.Items[mcSender]),
                       QString(),
                       QString(32, QLatin1Char('=')),
                       QString()};
  lines << text;
  memText_->setPlainText(lines.join(QLatin1Char('\n')));
  memText_->moveCursor(QTextCursor::Start);
}

void TfrmReport::OpenLetter() {
  const QModelIndex current = lvMailList_->currentIndex();
  if (!current.isValid() || !lvMailList_->selectionModel()->isRowSelected(current.row()))
    return;
  ShowLetterWindow(this, home_, store_, model_->Row(current.row()));
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
  const QString file = Dialogs().OpenFileName(
      this, QStringLiteral("打开列表文件"), Q(home_.string()), QStringLiteral(" 邮件列表 (*.NFL)"));
  if (file.isEmpty())
    return;
  SetDeletedView(false);
  ReplaceList(fs::path(U(file)));
}

void TfrmReport::SaveList() {
  // Dates with "/" cannot name a file here; the ISO form sorts well too.
  const QString proposed =
      Q((home_ / U(QDate::currentDate().toString(Qt::ISODate))).string()) + QStringLiteral(".NFL");
  const QString file = Dialogs().SaveFileName(this, QStringLiteral("保存列表文件"), proposed,
                                              QStringLiteral(" 邮件列表 (*.NFL)"));
  if (file.isEmpty())
    return;
  if (!engine_.MailList().SaveRecordFile(fs::path(U(file)))) {
    ShowMessage(this, QStringLiteral("保存列表文件"), QStringLiteral("无法写入文件：") + file,
                TIcon::Warning);
  }
}

void TfrmReport::OpenBrief() {
  const QString file = Dialogs().OpenFileName(
      this, QStringLiteral("打开简报文件"), Q(home_.string()), QStringLiteral(" 邮件简报 (*.TXT)"));
  if (file.isEmpty())
    return;
  QStringList lines;
  if (!ReadTextLines(fs::path(U(file)), lines)) {
    ShowMessage(this, QStringLiteral("打开简报文件"), QStringLiteral("无法读取文件：") + file,
                TIcon::Critical);
    return;
  }
  SetBrief(lines.join(QLatin1Char('\n')));
}

void TfrmReport::SaveBrief() {
  const QString proposed =
      Q((home_ / U(QDate::currentDate().toString(Qt::ISODate))).string()) + QStringLiteral(".TXT");
  const QString file = Dialogs().SaveFileName(this, QStringLiteral("保存简报文件"), proposed,
                                              QStringLiteral(" 邮件简报 (*.TXT)"));
  if (file.isEmpty())
    return;
  std::string bytes;
  for (const QString& line : BriefLines())
    bytes += ToAnsi(U(line)) + "\r\n";
  std::ofstream out(fs::path(U(file)), std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  if (!out) {
    ShowMessage(this, QStringLiteral("保存简报文件"), QStringLiteral("无法写入文件：") + file,
                TIcon::Critical);
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
  const QString caption = QStringLiteral("恢复邮件");
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
    ShowMessage(this, caption, QStringLiteral("请先选定要恢复的邮件!"), TIcon::Warning);
    return;
  }
  const QString skippedText =
      skipped > 0 ? QStringLiteral("\n另有%1封邮件删除时没有保留副本，无法恢复。").arg(skipped)
                  : QString();
  if (files.empty()) {
    ShowMessage(this, caption, QStringLiteral("选定的邮件删除时都没有保留副本，无法恢复。"),
                TIcon::Warning);
    return;
  }
  const int way =
      Dialogs().Choose(this, caption,
                       QStringLiteral("恢复选定的%1封邮件：保存到邮箱文件(mbox)，以便导入邮件程序；"
                                      "或者发回到自己的邮箱。")
                               .arg(files.size()) +
                           skippedText,
                       {QStringLiteral("保存到邮箱文件"), QStringLiteral("发回到自己的邮箱")});
  QString result;
  bool done = false;
  if (way == 0) {
    const QString proposed = Q((home_ / "deleted.mbox").string());
    const QString file =
        Dialogs().SaveFileName(this, caption, proposed, QStringLiteral(" 邮箱文件 (*.mbox)"));
    if (file.isEmpty())
      return;
    std::string error;
    done = AppendCopiesToMbox(EntriesOfFiles(home_, files), fs::path(U(file)), &error);
    result = done ? QStringLiteral("已将%1封邮件保存到 ").arg(files.size()) + file
                  : QStringLiteral("无法保存邮件：") + Q(error);
  } else if (way == 1) {
    done = ResendCopies(files, result);
  } else {
    return;
  }
  ShowMessage(this, caption, result + skippedText, done ? TIcon::Information : TIcon::Critical);
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
  SetPanel(5, QStringLiteral("正在发送!"));
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const int sent = ResendMessages(settings, files, &error);
  QApplication::restoreOverrideCursor();
  const bool all = static_cast<std::size_t>(sent) == files.size();
  SetPanel(5, all ? QStringLiteral("发送完毕!") : QStringLiteral("发送失败！"));
  result = QStringLiteral("已将%1封邮件发回到 ").arg(sent) + Q(settings.MyEmail);
  if (!all)
    result += QStringLiteral("\n其余%1封发送失败：").arg(files.size() - sent) + Q(error);
  return all;
}

// ---------------------------------------------------------------- others

void TfrmReport::StartMailProgram() {
  const QString prog = Q(std::string(ascii::Trim(State().Plan().MailProg)));
  if (prog.isEmpty())
    return;
  if (!AskOkCancel(this, QStringLiteral("提醒"), QStringLiteral("是否运行邮件接收程序?")))
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
    ShowMessage(this, QStringLiteral("提醒"), QStringLiteral("无法启动邮件接收程序：") + prog,
                TIcon::Warning);
  }
}

void TfrmReport::OpenSettings() {
  ShowSettingsWindow(this, home_, store_);
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
