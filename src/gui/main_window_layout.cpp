// TfrmReport: the menus, the tool bar, the pages, the status bar and the
// outlook bar's accounts.
#include "gui/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QButtonGroup>
#include <QDesktopServices>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "engine/letter_fetch.h"
#include "gui/mail_list_delegate.h"
#include "gui/mail_list_model.h"
#include "gui/main_window_parts.h"
#include "gui/outlook_bar.h"
#include "gui/tr.h"
#include "gui/version_check.h"
#include "pelorix_version.h"
#include "store/accounts.h"
#include "store/mail_plan.h"
#include "store/settings_store.h"

namespace pelorix::gui {

namespace fs = std::filesystem;

namespace {

QString IntroText() {
  return Tr("Pelorix 邮件预检器\n\n"
            "在您的邮件程序下载邮件之前，先到 POP3 服务器上查看信件的摘要或内容，"
            "按过滤列表判断垃圾邮件，标出发件人所在地，并可在服务器上直接删除。\n\n"
            "操作提示：收信后，双击表格\n"
            "中任意信件，可以观看该信件\n"
            "属性，并可即时回复发件人。\n\n"
            "Tolvane\n主页：%1\n邮箱：%2")
      .arg(QStringLiteral(PELORIX_HOME_PAGE), QStringLiteral(PELORIX_SUPPORT_MAIL));
}

}  // namespace

void TfrmReport::BuildMenus() {
  auto add = [this](QMenu* menu, const QString& text, const char* name, auto slot) {
    QAction* a = menu->addAction(text);
    a->setObjectName(QString::fromLatin1(name));
    connect(a, &QAction::triggered, this, slot);
    return a;
  };
  QMenu* file = menuBar()->addMenu(Tr("文件"));
  add(file, Tr("打开列表"), "mnuOpenList", [this] { OpenList(); });
  add(file, Tr("保存列表"), "mnuSaveList", [this] { SaveList(); });
  file->addSeparator();
  add(file, Tr("打开简报"), "mnuOpenBrief", [this] { OpenBrief(); });
  add(file, Tr("保存简报"), "mnuSaveBrief", [this] { SaveBrief(); });
  file->addSeparator();
  // The letter window opens from the tool bar and the list, not from here.
  add(file, Tr("信件属性"), "mnuMailProp", [] {});
  file->addSeparator();
  add(file, Tr("退出"), "mnuClose", [this] { close(); });

  QMenu* edit = menuBar()->addMenu(Tr("编辑"));
  actSelectAll_ = add(edit, Tr("全部选定"), "mnuSelectAll", [this] { SelectAll(true); });
  actSelectNone_ = add(edit, Tr("全部不选"), "mnuSelectNone", [this] { SelectAll(false); });
  actSelectAll_->setCheckable(true);
  actSelectNone_->setCheckable(true);
  edit->addSeparator();
  actPageList_ = add(edit, Tr("列表"), "mnuPageList", [this] { ShowPage(0); });
  actPageBrief_ = add(edit, Tr("简报"), "mnuPageBrief", [this] { ShowPage(1); });
  actPageList_->setCheckable(true);
  actPageBrief_->setCheckable(true);

  QMenu* op = menuBar()->addMenu(Tr("操作"));
  actCheckMenu_ = add(op, Tr("预检邮件"), "mnuCheck", [this] { CheckHeaders(); });
  actClearMenu_ = add(op, Tr("清除邮件"), "mnuClear", [this] { ClearMail(); });
  add(op, Tr("停止"), "mnuStop", [this] { StopRun(); });
  op->addSeparator();
  add(op, Tr("启动接收程序"), "mnuMailProg", [this] { StartMailProgram(); });
  op->addSeparator();
  // A letter without its text (after a header check) is fetched on opening.
  actFetchLetters_ = add(op, Tr("打开信件时从服务器取回内容"), "mnuFetchLetters", [this](bool on) {
    TSettingsKey key;
    if (OpenSettingsKey(store_, kMailCheckKey, true, key))
      WriteFlagValue(key, "FetchLetters", on);
  });
  actFetchLetters_->setCheckable(true);
  actFetchLetters_->setChecked(FetchLettersOnDemand(store_));
  op->addSeparator();
  add(op, Tr("配置"), "mnuLetter", [this] { OpenLetter(); });
  op->addSeparator();
  add(op, Tr("清除当前帐号里的已删除邮件"), "mnuPurgeCurrent", [this] { PurgeCurrentAccount(); });
  add(op, Tr("清除所有帐号里的已删除邮件"), "mnuPurgeAll", [this] { PurgeAllAccounts(); });
  op->addSeparator();
  actRestore_ = add(op, Tr("恢复邮件"), "mnuRestore", [this] { RestoreMail(); });
  actRestore_->setEnabled(false);
  op->addSeparator();
  actMarkSpam_ = add(op, Tr("标为垃圾邮件"), "mnuMarkSpam", [this] { MarkSelected(true); });
  actMarkGood_ = add(op, Tr("标为正常邮件"), "mnuMarkGood", [this] { MarkSelected(false); });

  QMenu* help = menuBar()->addMenu(Tr("帮助"));
  add(help, Tr("写一封信给作者"), "mnuWriteAuthor", [] {
    QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") +
                                   QStringLiteral(PELORIX_SUPPORT_MAIL) +
                                   QStringLiteral("?subject=about%20Pelorix")));
  });
  add(help, Tr("访问主页"), "mnuHomePage",
      [] { QDesktopServices::openUrl(QUrl(QStringLiteral(PELORIX_HOME_PAGE))); });
  add(help, Tr("检测最新版本"), "mnuVersion", [this] { StartVersionCheck(this); });

  for (QAction* a : menuBar()->actions())
    a->menu()->setAccessibleName(a->text());
}

void TfrmReport::BuildToolBar() {
  QToolBar* bar = addToolBar(Tr("工具栏"));
  bar->setObjectName(QStringLiteral("tbMain"));
  bar->setAccessibleName(Tr("工具栏"));
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
    b->setFixedSize(65, 65);
    bar->addWidget(b);
    if (pending > 0) {
      // The account menu on a chevron of its own: the command button then
      // stays a plain button that assistive technology can press, and the
      // chevron is a second stop for the keyboard and the screen reader.
      auto* chevron = new QToolButton(bar);
      chevron->setObjectName(QString::fromLatin1(name) + QStringLiteral("Accounts"));
      chevron->setArrowType(Qt::DownArrow);
      chevron->setPopupMode(QToolButton::InstantPopup);
      chevron->setFixedSize(14, 65);
      chevron->setAccessibleName(text + Tr("：选择信箱"));
      chevron->setToolTip(Tr("选择要%1的信箱").arg(text));
      auto* menu = new QMenu(chevron);
      menu->setObjectName(pending == kHeaderCheck ? QStringLiteral("pMenuClear")
                                                  : QStringLiteral("pMenuClear%1").arg(pending));
      menu->setAccessibleName(Tr("信箱"));
      connect(menu, &QMenu::aboutToShow, this, [this, menu, pending] {
        pendingCommand_ = pending;
        menu->clear();
        menu->addActions(accountItems_->actions());
      });
      chevron->setMenu(menu);
      connect(action, &QAction::enabledChanged, chevron, &QWidget::setEnabled);
      bar->addWidget(chevron);
      if (pending == kHeaderCheck)
        pMenuClear_ = menu;
    }
    return action;
  };
  actCheckHeader_ = button(Tr("查摘要"), "sbtnCheckHeader", QStringLiteral("tool_header"),
                           kHeaderCheck, [this] { CheckHeaders(); });
  bar->addSeparator();
  actCheckContent_ = button(Tr("查内容"), "sbtnCheckContent", QStringLiteral("tool_content"),
                            kContentCheck, [this] { CheckContents(); });
  bar->addSeparator();
  button(Tr("停止"), "sbtnStop", QStringLiteral("tool_stop"), 0, [this] { StopRun(); });
  bar->addSeparator();
  actClear_ = button(Tr("清除"), "sbtnClear", QStringLiteral("tool_clear"), kDeletion,
                     [this] { ClearMail(); });
  bar->addSeparator();
  button(Tr("配置"), "sbtnProp", QStringLiteral("tool_settings"), 0, [this] { OpenSettings(); });
  button(Tr("信件属性"), "sbtnMailProp", QStringLiteral("tool_letter"), 0,
         [this] { OpenLetter(); });
  button(Tr("收信"), "sbtnMailProg", QStringLiteral("tool_receive"), 0,
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
  lvMailList_->setAccessibleName(Tr("邮件列表"));
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
  // Narrow enough that the score, the last column, shows in the window's
  // first size on a 1280-wide screen; the user widens what they need.
  const int widths[kViewColumns] = {20, 20, 20, 20, 20,  55, 120, 160,
                                    70, 30, 70, 90, 115, 1,  55,  45};
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
  auto* judgeSeparator = new QAction(lvMailList_);
  judgeSeparator->setSeparator(true);
  lvMailList_->addActions({actRestore_, separator, actMarkSpam_, actMarkGood_, judgeSeparator,
                           actSelectAll_, actSelectNone_});

  auto* previewPanel = new QGroupBox(Tr("邮件内容"), split);
  previewPanel->setAccessibleName(Tr("邮件内容"));
  auto* pv = new QVBoxLayout(previewPanel);
  pv->setContentsMargins(2, 2, 2, 2);
  memText_ = new QPlainTextEdit(previewPanel);
  memText_->setObjectName(QStringLiteral("memText"));
  memText_->setAccessibleName(Tr("邮件内容"));
  memText_->setReadOnly(true);
  memText_->setPlainText(IntroText());
  pv->addWidget(memText_);
  split->setStretchFactor(1, 1);
  split->setSizes({100, 950, 180});
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
  memo1_ = greenMemo(QStringLiteral("Memo1"), Tr("简报"), true);
  QFont mono(QStringLiteral("Noto Sans Mono CJK SC"));
  mono.setStyleHint(QFont::Monospace);
  memo1_->setFont(mono);
  memo1_->setPlainText(QStringLiteral("邮件检测报告\n=============\nTolvane"));
  pages_->addWidget(memo1_);
  // Page "2": the event log.
  lstMsg_ = greenMemo(QStringLiteral("lstMsg"), Tr("事件"), false);
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
  } kPageButtons[] = {{QT_TR_NOOP("列表"), QT_TR_NOOP("以列表方式查看预检结果"), 0},
                      {QT_TR_NOOP("事件"), QT_TR_NOOP("查看邮件检测过程"), 2},
                      {QT_TR_NOOP("简报"), QT_TR_NOOP("以简报形式查看预检结果"), 1}};
  for (const auto& p : kPageButtons) {
    auto* b = new QToolButton(pageBar);
    b->setText(Tr(p.text));
    b->setToolTip(Tr(p.hint));
    b->setAccessibleName(Tr(p.text));
    b->setAccessibleDescription(Tr(p.hint));
    b->setCheckable(true);
    b->setFixedWidth(78);
    pageButtons_->addButton(b, p.page);
    row->addWidget(b);
  }
  row->addStretch(1);
  // Toggled, not clicked: assistive technology toggles a check button
  // without clicking it.
  connect(pageButtons_, &QButtonGroup::idToggled, this, [this](int page, bool checked) {
    if (checked)
      ShowPage(page);
  });
  column->addWidget(pageBar);
  setCentralWidget(central);
}

namespace {
constexpr const char* kCountFormats[3] = {QT_TR_NOOP("邮箱：%1个"), QT_TR_NOOP("邮件：%1封"),
                                          QT_TR_NOOP("占用空间：%1KB")};
}  // namespace

QString CountPanelText(int panel, const std::string& counted) {
  if (panel < 1 || panel > 3)
    return Q(counted);
  const auto first = counted.find_first_of("0123456789");
  if (first == std::string::npos)
    return Q(counted);
  const auto last = counted.find_first_not_of("0123456789", first);
  return Tr(kCountFormats[panel - 1]).arg(Q(counted.substr(first, last - first)));
}

void TfrmReport::BuildStatusBar() {
  const int widths[5] = {80, 80, 120, 250, 250};
  const char* const texts[5] = {QT_TR_NOOP("邮箱数："), QT_TR_NOOP("邮件："),
                                QT_TR_NOOP("占用空间："), QT_TR_NOOP("当前信箱:"),
                                QT_TR_NOOP("状态：")};
  // What the counters show on a big mailbox must fit the font in use.
  const char* const widest[3] = {"999", "999999", "99999999"};
  for (int i = 0; i < 5; ++i) {
    auto* label = new QLabel(Tr(texts[i]), this);
    label->setObjectName(QStringLiteral("panel%1").arg(i + 1));
    // No accessible name of its own: a label's is its text, the counts
    // included, and follows it.
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    const int needed = i < 3 ? label->fontMetrics().horizontalAdvance(
                                   Tr(kCountFormats[i]).arg(QLatin1String(widest[i]))) +
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
  const int all = outBar_->AddGroup(Tr(kAll));
  outBar_->AddButton(all, Tr("最新邮件"), Image(QStringLiteral("bar_latest")));
  for (QAction* a : accountItems_->actions()) {
    accountItems_->removeAction(a);
    delete a;
  }
  // The text is shown, the data (the account key, or kAll) is the choice.
  auto item = [this](const QString& caption, const QString& choice) {
    auto* a = new QAction(caption, accountItems_);
    a->setData(choice);
    a->setCheckable(true);
    return a;
  };
  item(Tr(kAll), kAll)->setChecked(true);
  keyList_.clear();
  displayList_.clear();
  const std::vector<TAccount> accounts = pelorix::LoadAccounts(store_);
  const std::vector<std::string> names = AccountDisplayNames(accounts);
  for (std::size_t i = 0; i < accounts.size(); ++i) {
    const std::string key = AccountKey(accounts[i]);
    item(Q(key), Q(key));
    keyList_.push_back(key);
    displayList_.push_back(names[i]);
    const int g = outBar_->AddGroup(Q(names[i]));
    outBar_->AddButton(g, Tr("新到邮件"), Image(QStringLiteral("bar_new")));
    outBar_->AddButton(g, Tr("垃圾邮件"), Image(QStringLiteral("bar_spam")));
    outBar_->AddButton(g, Tr("已删除邮件"), Image(QStringLiteral("bar_deleted")));
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

}  // namespace pelorix::gui
