#include "gui/settings_window.h"
#include "gui/tr.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QStackedWidget>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "engine/letter_fetch.h"
#include "gui/dialogs.h"
#include "gui/ip_table_model.h"
#include "gui/settings_parts.h"
#include "gui/translation.h"
#include "store/accounts.h"
#include "store/autostart.h"
#include "store/connection_security.h"
#include "store/ip_table.h"
#include "store/mail_plan.h"
#include "store/oauth_account.h"
#include "store/settings_store.h"
#include "text/home.h"

namespace pelorix::gui {

using namespace settings;

namespace {

// A check box followed on the same line by a number field and its unit.
QWidget* CheckWithNumber(QCheckBox* check, QLineEdit* field, const QString& unit, QWidget* parent) {
  auto* row = new QWidget(parent);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  field->setFixedWidth(60);
  layout->addWidget(check);
  layout->addWidget(field);
  layout->addWidget(new QLabel(unit, row));
  layout->addStretch();
  // The field is announced by the sentence it completes.
  field->setAccessibleName(check->text() + QStringLiteral("…") + unit);
  return row;
}

}  // namespace

TfrmProp::TfrmProp(QWidget* parent, std::filesystem::path home, TSettingsStore& store)
    : QDialog(parent), home_(std::move(home)), store_(store) {
  setObjectName(QStringLiteral("frmProp"));
  setWindowTitle(Tr("邮箱属性"));
  setModal(true);
  ipModel_ = new TIpTableModel(this);

  auto* layout = new QVBoxLayout(this);
  PageControl7 = new QTabWidget(this);
  PageControl7->setObjectName(QStringLiteral("PageControl7"));
  PageControl7->addTab(BuildAccountsPage(), Tr("邮箱帐号"));
  PageControl7->addTab(BuildMailOperationsPage(), Tr("邮件操作"));
  PageControl7->addTab(BuildFilterPage(), Tr("过滤条件"));
  PageControl7->addTab(BuildJudgePage(), Tr("自动判断"));
  PageControl7->addTab(BuildIpPage(), Tr("IP→地址"));
  layout->addWidget(PageControl7);
  resize(720, 520);

  LoadWindowSettings();
}

TfrmProp::~TfrmProp() {
  if (ipLoader_.joinable())
    ipLoader_.join();
  oauthCancel_ = true;
  if (oauthSignIn_.joinable())
    oauthSignIn_.join();
  // Torn down without being closed (the program ends under it): still save.
  if (!saved_) {
    saved_ = true;
    SaveWindowSettings(false);
  }
}

// ---------------------------------------------------------- mail operations

QWidget* TfrmProp::BuildMailOperationsPage() {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(
      Hint(Tr("    探测到新邮件后，Tolvane的Brushkin可以帮助你对邮件进行预处理，包括邮件简报、"
              "垃圾邮件自动清除等操作。其中，删除是指从邮件服务器直接删除。此外，你可以选择"
              "[拒收那些收件人地址并不是自己邮箱地址的信件]这个功能，以防范那些不是发给你的邮件"
              "[慎用！]"),
           page));
  auto check = [&](QCheckBox*& box, const char* name, const QString& text) {
    box = new QCheckBox(text, page);
    box->setObjectName(QString::fromLatin1(name));
    box->setAccessibleName(text);
  };
  check(chkSummary, "chkSummary", Tr("查看新邮件摘要"));
  check(chkDeleteMail, "chkDeleteMail", Tr("检测时自动删除垃圾邮件[新手慎用 ！]"));
  check(chkRdeliver, "chkRdeliver", Tr("拒收收件人地址并不是自已邮箱地址的信件!"));
  check(chkRnoMsg, "chkRnoMsg", Tr("拒收没有[发件人]与[收件人]的邮件"));
  check(chkSkipBytes, "chkSkipBytes", Tr("查看内容时,如果信件大小大于"));
  check(chkMmoreRub, "chkMmoreRub", Tr("如果信箱中的信件数超过"));
  check(chkMauto, "chkMauto", Tr("每隔"));
  check(CHKauto, "CHKauto", Tr("每次开机时都自动启动“Pelorix”"));
  check(chkQuarantine, "chkQuarantine", Tr("删除前保留邮件副本"));
  chkSummary->setChecked(true);
  meBytes = DigitsField("meBytes", {}, MaxDigits(kMailCheckKey, "SkipBytes"), page);
  meMoreRub = DigitsField("meMoreRub", {}, MaxDigits(kMailCheckKey, "ClearMoreRubNum"), page);
  meMmin = DigitsField("meMmin", {}, MaxDigits(kMailCheckKey, "checkTime"), page);
  meBytes->setText(QStringLiteral("0"));
  meMoreRub->setText(QStringLiteral("0"));
  meMmin->setText(QStringLiteral("5"));
  meQuarantineDays =
      DigitsField("meQuarantineDays", {}, MaxDigits(kMailCheckKey, "QuarantineDays"), page);
  chkQuarantine->setChecked(true);
  meQuarantineDays->setText(QStringLiteral("30"));

  layout->addWidget(chkSummary);
  layout->addWidget(chkDeleteMail);
  layout->addWidget(chkRdeliver);
  layout->addWidget(chkRnoMsg);
  layout->addWidget(CheckWithNumber(chkSkipBytes, meBytes, Tr("KB则跳过,不进行预收检查"), page));
  layout->addWidget(CheckWithNumber(chkMmoreRub, meMoreRub,
                                    Tr("封则报警,并启动信箱清除器准备清空所有邮件!"), page));
  layout->addWidget(
      CheckWithNumber(chkMauto, meMmin, Tr("分钟自动检测新邮件并执行以上操作！"), page));
  layout->addWidget(CheckWithNumber(chkQuarantine, meQuarantineDays, Tr("天后清除副本"), page));
  // Named by what it holds rather than by the sentence around it.
  meQuarantineDays->setAccessibleName(Tr("副本保留天数"));
  layout->addWidget(CHKauto);

  auto* program = new QHBoxLayout;
  program->addWidget(Caption(Tr("邮件接收程序"), page));
  edtMailprog = TextField("edtMailprog", Tr("邮件接收程序"), page);
  program->addWidget(edtMailprog, 1);
  auto* browse = GlyphButton("SpeedButton46", style()->standardIcon(QStyle::SP_DirOpenIcon),
                             Tr("选择邮件接收程序"), page);
  program->addWidget(browse);
  layout->addLayout(program);

  chkFetchLetters = new QCheckBox(Tr("打开信件时从服务器取回内容"), page);
  chkFetchLetters->setObjectName(QStringLiteral("chkFetchLetters"));
  chkFetchLetters->setAccessibleName(chkFetchLetters->text());
  chkFetchLetters->setToolTip(Tr("查摘要后打开的信件没有正文时，从服务器取回这一封"));
  layout->addWidget(chkFetchLetters);

  auto* language = new QHBoxLayout;
  language->addWidget(Caption(Tr("窗口语言"), page));
  cboLanguage = new QComboBox(page);
  cboLanguage->setObjectName(QStringLiteral("cboLanguage"));
  cboLanguage->setAccessibleName(Tr("窗口语言"));
  // Each language named in itself, as a user looking for theirs reads it.
  cboLanguage->addItem(Tr("跟随系统"), QString());
  cboLanguage->addItem(QStringLiteral("中文"), QStringLiteral("zh"));
  cboLanguage->addItem(QStringLiteral("English"), QStringLiteral("en"));
  language->addWidget(cboLanguage);
  auto* when = new QLabel(Tr("(下次启动时生效)"), page);
  language->addWidget(when);
  language->addStretch();
  layout->addLayout(language);
  layout->addStretch();

  connect(CHKauto, &QCheckBox::toggled, this, &TfrmProp::CHKautoClick);
  connect(browse, &QToolButton::clicked, this, &TfrmProp::SpeedButton46Click);
  return page;
}

// ------------------------------------------------------------ load and save

void TfrmProp::LoadWindowSettings() {
  loading_ = true;
  // 1, 2: Smtp, then MailCheck; a key that cannot be opened leaves the
  // design values.
  TPropSettings s;
  s.Load(store_);
  cboAuthType->setCurrentIndex(s.authType >= 0 && s.authType < cboAuthType->count() ? s.authType
                                                                                    : -1);
  SMTPServer->setText(Q(s.SmtpServer));
  SMTPPort->setText(Q(s.smtpPort));
  edtAccount->setText(Q(s.account));
  edtPassword->setText(Q(s.password));
  edtEmailaddr->setText(Q(s.MyEmail));
  ChooseMode(cboSmtpSecurity, s.Security);
  ChooseMode(cboSmtpLogin, ReadSmtpMechanism(store_));
  CHKauto->setChecked(s.autostart);  // a stored tick rewrites the log-on entry
  chkMauto->setChecked(s.autocheck);
  meMmin->setText(Q(s.checkTime));
  chkSummary->setChecked(s.checkSummary);
  chkDeleteMail->setChecked(s.DeleteRubbish);
  chkRdeliver->setChecked(s.checkDeliver);
  chkRnoMsg->setChecked(s.checkNomsg);
  chkMmoreRub->setChecked(s.ClearMoreRub);
  meMoreRub->setText(Q(s.ClearMoreRubNum));
  chkSkipBytes->setChecked(s.checkSkipBytes);
  meBytes->setText(Q(s.SkipBytes));
  chkQuarantine->setChecked(s.Quarantine);
  meQuarantineDays->setText(Q(s.QuarantineDays));
  edtMailprog->setText(Q(s.mailprog));
  chkFetchLetters->setChecked(FetchLettersOnDemand(store_));
  {
    TSettingsKey key;
    const std::string language = OpenSettingsKey(store_, kMailCheckKey, false, key)
                                     ? ReadTextValue(key, kLanguageValue, "")
                                     : std::string();
    const int index = cboLanguage->findData(Q(language));
    cboLanguage->setCurrentIndex(index >= 0 ? index : 0);
  }
  LoadJudgeControls(s);
  // 3, 4
  accounts_ = LoadAccounts(store_);
  const TConnectionPolicy policy = LoadConnectionPolicy(store_);
  accountSecurity_.clear();
  accountImap_.clear();
  accountLogin_.clear();
  accountOAuth_.clear();
  for (const auto& a : accounts_) {
    accountSecurity_[AccountKey(a)] = policy.ModeOf(AccountKey(a));
    if (auto imap = policy.ImapOf(AccountKey(a)))
      accountImap_[AccountKey(a)] = *imap;
    accountLogin_[AccountKey(a)] = policy.LoginOf(AccountKey(a));
    accountOAuth_[AccountKey(a)] = ReadAccountOAuthProvider(store_, AccountKey(a));
  }
  ShowAccounts(-1);
  ShowKeyringNotice();
  ShowFilterLists(LoadFilterLists(store_));
  // 5: decided once, at opening.
  chkDeleteMail->setEnabled(chkSummary->isChecked());
  // 6
  StartLoadingIpTable();
  // 7
  PageControl7->setCurrentIndex(0);
  PageControl1->setCurrentIndex(0);
  FlatButton1->setChecked(true);
  Notebook3->setCurrentIndex(0);
  loading_ = false;
}

void TfrmProp::SaveWindowSettings(bool report) {
  QStringList failed;
  std::string error;
  // 1
  if (!SaveAccounts(store_, accounts_, &error))
    failed << Tr("邮箱帐号：") + Q(error);
  else if (!SaveAccountSecurity())
    failed << Tr("邮箱帐号：") + SecurityFieldCaption();
  else if (!SaveAccountImap())
    failed << Tr("邮箱帐号：") + DeleteModeCaption();
  else if (!SaveAccountLogins())
    failed << Tr("邮箱帐号：") + LoginFieldCaption();
  else if (!SaveAccountOAuth())
    failed << Tr("邮箱帐号：") + ProviderCaption();
  // 2
  if (!SaveFilterLists(store_, FilterListsFromControls()))
    failed << Tr("过滤条件");
  // 3, 4
  TPropSettings s;
  s.autostart = CHKauto->isChecked();
  s.autocheck = chkMauto->isChecked();
  s.checkTime = S(meMmin->text());
  s.ClearMoreRub = chkMmoreRub->isChecked();
  s.ClearMoreRubNum = S(meMoreRub->text());
  s.checkSkipBytes = chkSkipBytes->isChecked();
  s.SkipBytes = S(meBytes->text());
  s.Quarantine = chkQuarantine->isChecked();
  s.QuarantineDays = S(meQuarantineDays->text());
  s.checkSummary = chkSummary->isChecked();
  s.DeleteRubbish = chkDeleteMail->isChecked();
  s.checkDeliver = chkRdeliver->isChecked();
  s.checkNomsg = chkRnoMsg->isChecked();
  s.mailprog = S(edtMailprog->text());
  s.authType = cboAuthType->currentIndex();
  s.SmtpServer = S(SMTPServer->text());
  s.smtpPort = S(SMTPPort->text());
  s.account = S(edtAccount->text());
  s.password = S(edtPassword->text());
  s.MyEmail = S(edtEmailaddr->text());
  s.Security = ChosenMode(cboSmtpSecurity);
  SaveJudgeControls(s);
  if (!s.Save(store_) || !WriteSmtpMechanism(store_, ChosenMode(cboSmtpLogin)))
    failed << Tr("邮件操作与发件服务器");
  TSettingsKey check;
  if (!OpenSettingsKey(store_, kMailCheckKey, true, check) || !store_.Write([&] {
        WriteFlagValue(check, "FetchLetters", chkFetchLetters->isChecked());
        WriteTextValue(check, kLanguageValue, S(cboLanguage->currentData().toString()));
      }))
    failed << Tr("窗口语言");
  // 5: only an edited table becomes the user's copy; an untouched one
  // leaves the delivered table in force.
  if (ipChanged_) {
    error.clear();
    if (!EnsureFolder(home_ / "modal", &error) || !SaveIpTable(home_, IpUserRows(), &error))
      failed << Tr("IP→地址：") + Q(error);
  }
  if (report && !failed.isEmpty()) {
    ShowMessage(this, ErrorCaption(), Tr("以下设置没有保存：\n") + failed.join(QLatin1Char('\n')),
                TIcon::Critical);
  }
}

void TfrmProp::done(int result) {
  if (!saved_) {
    if (!FilterEntriesFit())
      return;  // the window stays open on the offending list
    saved_ = true;
    SaveWindowSettings(true);
  }
  QDialog::done(result);
}

void TfrmProp::CHKautoClick(bool ticked) {
  std::string error;
  bool ok =
      ticked ? WriteAutostartEntry(CurrentProgramPath(), &error) : DeleteAutostartEntry(&error);
  if (!ok && !loading_) {
    ShowMessage(this, ErrorCaption(), Tr("开机自动启动项不能写入：") + Q(error), TIcon::Warning);
  }
}

void TfrmProp::SpeedButton46Click() {
  // Programs live in the PATH folders here, not beside this one.
  QString folder = QStringLiteral("/usr/bin");
  QFileInfo current(edtMailprog->text().trimmed());
  if (!edtMailprog->text().trimmed().isEmpty() && current.dir().exists())
    folder = current.absolutePath();
  QString chosen = Dialogs().OpenFileName(this, Tr("邮件接收程序"), folder, Tr("邮件接收程序 (*)"));
  if (chosen.isEmpty())
    return;
  QFileInfo file(chosen);
  if (!file.isFile() || !file.isExecutable()) {
    ShowMessage(this, ErrorCaption(), Tr("所选文件不是可执行的程序。"), TIcon::Warning);
    return;
  }
  if (!FitsAnsiBytes(file.absoluteFilePath(), kMaxTextBytes)) {
    ShowMessage(this, ErrorCaption(), Tr("程序的路径长于255字节。"), TIcon::Warning);
    return;
  }
  edtMailprog->setText(file.absoluteFilePath());
}

void ShowSettingsWindow(QWidget* parent, const std::filesystem::path& home, TSettingsStore& store) {
  TfrmProp window(parent, home, store);
  window.exec();
}

}  // namespace pelorix::gui
