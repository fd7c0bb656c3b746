#include "gui/settings_window.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStyle>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <ctime>
#include <memory>

#include "gui/dialogs.h"
#include "gui/ip_table_model.h"
#include "gui/settings_parts.h"
#include "store/autostart.h"
#include "store/connection_security.h"
#include "store/ip_table.h"
#include "store/mail_plan.h"
#include "store/oauth.h"
#include "store/oauth_account.h"
#include "store/secret_store.h"
#include "store/settings_store.h"
#include "text/asciiutil.h"
#include "text/home.h"

namespace pelorix::gui {

using namespace settings;

namespace {

constexpr int kPasswordColumn = 2;
constexpr int kNoteColumn = 3;
constexpr int kSecurityColumn = 4;
constexpr int kProtocolColumn = 5;
constexpr int kLoginColumn = 6;

const QString kSecurityCaption = QStringLiteral("连接安全");

// The connection security modes as stored, with what the user reads.
struct TSecurityChoice {
  const char* mode;
  const char* caption;
};
constexpr TSecurityChoice kSecurityChoices[] = {
    {"auto", "自动"}, {"tls", "SSL/TLS"}, {"starttls", "STARTTLS"}, {"none", "不加密"}};

QString SecurityCaption(const std::string& mode) {
  for (const auto& c : kSecurityChoices) {
    if (mode == c.mode)
      return QString::fromUtf8(c.caption);
  }
  return QString::fromUtf8(kSecurityChoices[0].caption);
}

const QString kDeleteModeCaption = QStringLiteral("删除方式");

// What "delete" does on an IMAP account, as stored and as the user reads it.
constexpr TSecurityChoice kDeleteModeChoices[] = {{"auto", "移到垃圾邮件文件夹 (没有则移到已删除)"},
                                                  {"junk", "移到垃圾邮件文件夹 (Junk)"},
                                                  {"trash", "移到已删除文件夹 (Trash)"},
                                                  {"expunge", "彻底删除 (服务器须支持 UIDPLUS)"}};

QComboBox* SecurityCombo(const char* objectName, QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(QString::fromLatin1(objectName));
  combo->setAccessibleName(kSecurityCaption);
  for (const auto& c : kSecurityChoices)
    combo->addItem(QString::fromUtf8(c.caption), QString::fromLatin1(c.mode));
  return combo;
}

std::string ChosenMode(const QComboBox* combo) {
  const QString mode = combo->currentData().toString();
  return mode.isEmpty() ? std::string(kDefaultSecurity) : S(mode);
}

void ChooseMode(QComboBox* combo, const std::string& mode) {
  const int index = combo->findData(Q(mode));
  combo->setCurrentIndex(index >= 0 ? index : 0);
}

const QString kLoginCaption = QStringLiteral("登录方式");

// The login methods as stored; the OAuth ones take an access token as the password.
constexpr TSecurityChoice kLoginChoices[] = {{"user", "USER/PASS"},
                                             {"apop", "APOP"},
                                             {"plain", "SASL PLAIN"},
                                             {"login", "SASL LOGIN"},
                                             {"xoauth2", "XOAUTH2 (访问令牌)"},
                                             {"oauthbearer", "OAUTHBEARER (访问令牌)"}};

// SMTP skips USER/PASS and APOP, which only POP3 has.
QComboBox* LoginCombo(const char* objectName, QWidget* parent, bool smtp) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(QString::fromLatin1(objectName));
  combo->setAccessibleName(kLoginCaption);
  for (std::size_t i = smtp ? 2 : 0; i < std::size(kLoginChoices); ++i)
    combo->addItem(QString::fromUtf8(kLoginChoices[i].caption),
                   QString::fromLatin1(kLoginChoices[i].mode));
  return combo;
}

QString LoginCaption(const std::string& method) {
  for (const auto& c : kLoginChoices) {
    if (method == c.mode)
      return QString::fromUtf8(c.caption);
  }
  return QString::fromUtf8(kLoginChoices[0].caption);
}

const QString kProviderCaption = QStringLiteral("OAuth2 提供者");

QComboBox* ProviderCombo(const char* objectName, QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(QString::fromLatin1(objectName));
  combo->setAccessibleName(kProviderCaption);
  combo->addItem(QStringLiteral("无 (密码)"), QString());
  for (const auto& p : BuiltInOAuthProviders())
    combo->addItem(Q(p.Caption), Q(p.Id));
  return combo;
}

// Set once the window has said that passwords stay in the settings file.
constexpr std::string_view kNoKeyringNoticeName = "NoKeyringNoticeShown";

const QString kErrorCaption = QStringLiteral("错误！");

// The password and note columns are drawn in this face (the original's
// SimSun is rarely installed; the CJK face of the desktop stands in).
QFont ListFont() {
  QFont font(QStringLiteral("Noto Sans CJK SC"), 9);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

int MaxDigits(std::string_view key, std::string_view name) {
  const TSettingDef* def = FindSettingDef(key, name);
  return def ? def->maxDigits : 4;
}

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
  setWindowTitle(QStringLiteral("邮箱属性"));
  setModal(true);
  ipModel_ = new TIpTableModel(this);

  auto* layout = new QVBoxLayout(this);
  PageControl7 = new QTabWidget(this);
  PageControl7->setObjectName(QStringLiteral("PageControl7"));
  PageControl7->addTab(BuildAccountsPage(), QStringLiteral("邮箱帐号"));
  PageControl7->addTab(BuildMailOperationsPage(), QStringLiteral("邮件操作"));
  PageControl7->addTab(BuildFilterPage(), QStringLiteral("过滤条件"));
  PageControl7->addTab(BuildJudgePage(), QStringLiteral("自动判断"));
  PageControl7->addTab(BuildIpPage(), QStringLiteral("IP→地址"));
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

// ---------------------------------------------------------------- structure

QWidget* TfrmProp::BuildAccountsPage() {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  auto* toggles = new QHBoxLayout;
  FlatButton1 = new QToolButton(page);
  FlatButton1->setObjectName(QStringLiteral("FlatButton1"));
  FlatButton1->setText(QStringLiteral("POP3"));
  FlatButton2 = new QToolButton(page);
  FlatButton2->setObjectName(QStringLiteral("FlatButton2"));
  FlatButton2->setText(QStringLiteral("SMTP"));
  auto* group = new QButtonGroup(page);
  group->setExclusive(true);
  for (QToolButton* b : {FlatButton1, FlatButton2}) {
    b->setCheckable(true);
    b->setAutoRaise(true);
    b->setAccessibleName(b->text());
    group->addButton(b);
    toggles->addWidget(b);
  }
  toggles->addStretch();
  layout->addLayout(toggles);

  Notebook3 = new QStackedWidget(page);
  Notebook3->setObjectName(QStringLiteral("Notebook3"));
  Notebook3->addWidget(BuildPop3Page());
  Notebook3->addWidget(BuildSmtpPage());
  layout->addWidget(Notebook3);
  connect(FlatButton1, &QToolButton::toggled, this, [this](bool down) {
    if (down)
      Notebook3->setCurrentIndex(0);
  });
  connect(FlatButton2, &QToolButton::toggled, this, [this](bool down) {
    if (down)
      Notebook3->setCurrentIndex(1);
  });
  return page;
}

QWidget* TfrmProp::BuildPop3Page() {
  auto* page = new QWidget(this);
  page->setObjectName(QStringLiteral("pop3"));
  auto* layout = new QVBoxLayout(page);
  auto* top = new QHBoxLayout;
  auto* fields = new QGridLayout;
  struct TRow {
    QLineEdit** field;
    const char* name;
    const char* caption;
  };
  const TRow rows[] = {{&edtnote, "edtnote", "说明"},
                       {&edtMuser, "edtMuser", "用户名"},
                       {&edtMkey, "edtMkey", "密码"},
                       {&edtMpop, "edtMpop", "POP3服务器"}};
  int r = 0;
  for (const auto& row : rows) {
    QString caption = QString::fromUtf8(row.caption);
    *row.field = TextField(row.name, caption, page);
    fields->addWidget(Caption(caption, page), r, 0);
    fields->addWidget(*row.field, r, 1);
    ++r;
  }
  cboSecurity = SecurityCombo("cboSecurity", page);
  fields->addWidget(Caption(kSecurityCaption, page), r, 0);
  fields->addWidget(cboSecurity, r++, 1);
  // IMAP accounts: protocol, the folders to check and what deleting does.
  cboProtocol = new QComboBox(page);
  cboProtocol->setObjectName(QStringLiteral("cboProtocol"));
  cboProtocol->setAccessibleName(QStringLiteral("协议"));
  cboProtocol->addItem(QStringLiteral("POP3"), false);
  cboProtocol->addItem(QStringLiteral("IMAP"), true);
  fields->addWidget(Caption(QStringLiteral("协议"), page), r, 0);
  fields->addWidget(cboProtocol, r++, 1);
  edtFolders = TextField("edtFolders", QStringLiteral("检查的文件夹"), page);
  edtFolders->setToolTip(QStringLiteral("用逗号分隔，例如 INBOX, 工作"));
  fields->addWidget(Caption(QStringLiteral("检查的文件夹"), page), r, 0);
  fields->addWidget(edtFolders, r++, 1);
  cboDeleteMode = new QComboBox(page);
  cboDeleteMode->setObjectName(QStringLiteral("cboDeleteMode"));
  cboDeleteMode->setAccessibleName(kDeleteModeCaption);
  for (const auto& c : kDeleteModeChoices)
    cboDeleteMode->addItem(QString::fromUtf8(c.caption), QString::fromLatin1(c.mode));
  fields->addWidget(Caption(kDeleteModeCaption, page), r, 0);
  fields->addWidget(cboDeleteMode, r++, 1);
  ShowImapFields(std::nullopt);
  connect(cboProtocol, &QComboBox::currentIndexChanged, this, [this] {
    const bool imap = cboProtocol->currentData().toBool();
    edtFolders->setEnabled(imap);
    cboDeleteMode->setEnabled(imap);
  });
  cboLogin = LoginCombo("cboLogin", page, false);
  fields->addWidget(Caption(kLoginCaption, page), r, 0);
  fields->addWidget(cboLogin, r, 1);
  ++r;
  cboProvider = ProviderCombo("cboProvider", page);
  fields->addWidget(Caption(kProviderCaption, page), r, 0);
  fields->addWidget(cboProvider, r, 1);
  edtMkey->setEchoMode(QLineEdit::Password);
  top->addLayout(fields, 1);

  auto* buttons = new QVBoxLayout;
  auto* add = GlyphButton("SpeedButton12", style()->standardIcon(QStyle::SP_ArrowDown),
                          QStringLiteral("将邮件帐号加入列表中"), page);
  auto* takeOut = GlyphButton("SpeedButton45", style()->standardIcon(QStyle::SP_ArrowUp),
                              QStringLiteral("将邮件帐号从列表中取出"), page);
  auto* import = TextButton("FlatSpeedButton1", QStringLiteral("从Thunderbird导入帐号"), page);
  buttons->addWidget(add);
  buttons->addWidget(takeOut);
  buttons->addWidget(import);
  btnOAuthLogin = TextButton("btnOAuthLogin", QStringLiteral("登录…"), page);
  btnOAuthLogin->setToolTip(QStringLiteral("在浏览器中为所选的 OAuth2 帐号登录"));
  buttons->addWidget(btnOAuthLogin);
  buttons->addStretch();
  top->addLayout(buttons);
  top->addWidget(
      Hint(QStringLiteral("在左边的选项填写你要检测的邮箱账号，以便话费清单自动检测。"), page), 1);
  layout->addLayout(top);
  lblKeyring = Hint(QStringLiteral("没有找到桌面密钥环 (Secret Service)：密码以扰码形式保存在"
                                   "只有您能读取的设置文件 registry.db 中。"),
                    page);
  lblKeyring->setObjectName(QStringLiteral("lblKeyring"));
  lblKeyring->setVisible(false);
  layout->addWidget(lblKeyring);

  lvmail = new QTreeWidget(page);
  lvmail->setObjectName(QStringLiteral("lvmail"));
  lvmail->setAccessibleName(QStringLiteral("邮箱帐号"));
  lvmail->setHeaderLabels({QStringLiteral("POP3"), QStringLiteral("用户"), QStringLiteral("密码"),
                           QStringLiteral("说明"), kSecurityCaption, QStringLiteral("协议"),
                           kLoginCaption});
  lvmail->setRootIsDecorated(false);
  lvmail->setUniformRowHeights(true);
  lvmail->setAllColumnsShowFocus(true);
  lvmail->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvmail->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvmail->setSortingEnabled(false);  // kept sorted by server by the store's rule
  lvmail->header()->setStretchLastSection(false);
  lvmail->setStyleSheet(QStringLiteral("QTreeView::item { border: 1px solid #d0d0d0; }"));
  layout->addWidget(lvmail, 1);

  connect(add, &QToolButton::clicked, this, &TfrmProp::SpeedButton12Click);
  connect(takeOut, &QToolButton::clicked, this, &TfrmProp::SpeedButton45Click);
  connect(import, &QPushButton::clicked, this, &TfrmProp::FlatSpeedButton1Click);
  connect(btnOAuthLogin, &QPushButton::clicked, this, &TfrmProp::OAuthLoginClick);
  connect(cboProvider, &QComboBox::currentIndexChanged, this, &TfrmProp::ProviderChosen);
  return page;
}

QWidget* TfrmProp::BuildSmtpPage() {
  auto* page = new QWidget(this);
  page->setObjectName(QStringLiteral("smtp"));
  auto* layout = new QVBoxLayout(page);
  auto* grid = new QGridLayout;
  SMTPServer = TextField("SMTPServer", QStringLiteral("发件服务器 (SMTP)"), page);
  SMTPPort =
      DigitsField("SMTPPort", QStringLiteral("端口："), MaxDigits(kSmtpKey, "smtpPort"), page);
  cboSmtpSecurity = SecurityCombo("cboSmtpSecurity", page);
  cboAuthType = new QComboBox(page);
  cboAuthType->setObjectName(QStringLiteral("cboAuthType"));
  cboAuthType->setAccessibleName(QStringLiteral("是否验证："));
  cboAuthType->addItems({QStringLiteral("不要验证"), QStringLiteral("简单登录")});
  cboSmtpLogin = LoginCombo("cboSmtpLogin", page, true);
  cboSmtpProvider = ProviderCombo("cboSmtpProvider", page);
  edtAccount = TextField("edtAccount", QStringLiteral("帐号："), page);
  edtPassword = TextField("edtPassword", QStringLiteral("口令"), page);
  edtPassword->setEchoMode(QLineEdit::Password);
  edtEmailaddr = TextField("edtEmailaddr", QStringLiteral("您的电子邮件地址："), page);
  const std::pair<QWidget*, QString> rows[] = {
      {SMTPServer, QStringLiteral("发件服务器 (SMTP)")},
      {SMTPPort, QStringLiteral("端口：")},
      {cboSmtpSecurity, kSecurityCaption},
      {cboAuthType, QStringLiteral("是否验证：")},
      {cboSmtpProvider, kProviderCaption},
      {cboSmtpLogin, kLoginCaption},
      {edtAccount, QStringLiteral("帐号：")},
      {edtPassword, QStringLiteral("口令")},
      {edtEmailaddr, QStringLiteral("您的电子邮件地址：")}};
  int r = 0;
  for (const auto& [field, caption] : rows) {
    grid->addWidget(Caption(caption, page), r, 0);
    grid->addWidget(field, r, 1);
    ++r;
  }
  layout->addLayout(grid);
  layout->addWidget(
      Hint(QStringLiteral(
               "请在这里填写发件服务器的属性，有的SMTP服务器需要你的帐号和口令，请在填写完整，"
               "并将是否验证选择为“简单登录”。注意：“您的电子邮件地址”必须是正确的真实地址。"),
           page));
  layout->addStretch();
  connect(cboSmtpSecurity, &QComboBox::currentIndexChanged, this, &TfrmProp::SmtpSecurityChanged);
  connect(cboSmtpProvider, &QComboBox::currentIndexChanged, this, &TfrmProp::SmtpProviderChosen);
  return page;
}

QWidget* TfrmProp::BuildMailOperationsPage() {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(
      Hint(QStringLiteral(
               "    探测到新邮件后，Tolvane的Brushkin可以帮助你对邮件进行预处理，包括邮件简报、"
               "垃圾邮件自动清除等操作。其中，删除是指从邮件服务器直接删除。此外，你可以选择"
               "[拒收那些收件人地址并不是自己邮箱地址的信件]这个功能，以防范那些不是发给你的邮件"
               "[慎用！]"),
           page));
  auto check = [&](QCheckBox*& box, const char* name, const QString& text) {
    box = new QCheckBox(text, page);
    box->setObjectName(QString::fromLatin1(name));
    box->setAccessibleName(text);
  };
  check(chkSummary, "chkSummary", QStringLiteral("查看新邮件摘要"));
  check(chkDeleteMail, "chkDeleteMail", QStringLiteral("检测时自动删除垃圾邮件[新手慎用 ！]"));
  check(chkRdeliver, "chkRdeliver", QStringLiteral("拒收收件人地址并不是自已邮箱地址的信件!"));
  check(chkRnoMsg, "chkRnoMsg", QStringLiteral("拒收没有[发件人]与[收件人]的邮件"));
  check(chkSkipBytes, "chkSkipBytes", QStringLiteral("查看内容时,如果信件大小大于"));
  check(chkMmoreRub, "chkMmoreRub", QStringLiteral("如果信箱中的信件数超过"));
  check(chkMauto, "chkMauto", QStringLiteral("每隔"));
  check(CHKauto, "CHKauto", QStringLiteral("每次开机时都自动启动“Pelorix”"));
  check(chkQuarantine, "chkQuarantine", QStringLiteral("删除前保留邮件副本"));
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
  layout->addWidget(
      CheckWithNumber(chkSkipBytes, meBytes, QStringLiteral("KB则跳过,不进行预收检查"), page));
  layout->addWidget(CheckWithNumber(
      chkMmoreRub, meMoreRub, QStringLiteral("封则报警,并启动信箱清除器准备清空所有邮件!"), page));
  layout->addWidget(CheckWithNumber(chkMauto, meMmin,
                                    QStringLiteral("分钟自动检测新邮件并执行以上操作！"), page));
  layout->addWidget(
      CheckWithNumber(chkQuarantine, meQuarantineDays, QStringLiteral("天后清除副本"), page));
  // Named by what it holds rather than by the sentence around it.
  meQuarantineDays->setAccessibleName(QStringLiteral("副本保留天数"));
  layout->addWidget(CHKauto);

  auto* program = new QHBoxLayout;
  program->addWidget(Caption(QStringLiteral("邮件接收程序"), page));
  edtMailprog = TextField("edtMailprog", QStringLiteral("邮件接收程序"), page);
  program->addWidget(edtMailprog, 1);
  auto* browse = GlyphButton("SpeedButton46", style()->standardIcon(QStyle::SP_DirOpenIcon),
                             QStringLiteral("选择邮件接收程序"), page);
  program->addWidget(browse);
  layout->addLayout(program);
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
    failed << QStringLiteral("邮箱帐号：") + Q(error);
  else if (!SaveAccountSecurity())
    failed << QStringLiteral("邮箱帐号：") + kSecurityCaption;
  else if (!SaveAccountImap())
    failed << QStringLiteral("邮箱帐号：") + kDeleteModeCaption;
  else if (!SaveAccountLogins())
    failed << QStringLiteral("邮箱帐号：") + kLoginCaption;
  else if (!SaveAccountOAuth())
    failed << QStringLiteral("邮箱帐号：") + kProviderCaption;
  // 2
  if (!SaveFilterLists(store_, FilterListsFromControls()))
    failed << QStringLiteral("过滤条件");
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
    failed << QStringLiteral("邮件操作与发件服务器");
  // 5: only an edited table becomes the user's copy; an untouched one
  // leaves the delivered table in force.
  if (ipChanged_) {
    error.clear();
    if (!EnsureFolder(home_ / "modal", &error) || !SaveIpTable(home_, IpUserRows(), &error))
      failed << QStringLiteral("IP→地址：") + Q(error);
  }
  if (report && !failed.isEmpty()) {
    ShowMessage(this, kErrorCaption,
                QStringLiteral("以下设置没有保存：\n") + failed.join(QLatin1Char('\n')),
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

// ------------------------------------------------------------ POP3 accounts

void TfrmProp::ShowAccounts(int selected) {
  lvmail->clear();
  const QFont font = ListFont();
  QFont hintFont = font;
  hintFont.setItalic(true);
  for (const auto& a : accounts_) {
    auto* item = new QTreeWidgetItem(lvmail);
    item->setText(0, Q(a.Server));
    item->setText(1, Q(a.User));
    // Passwords are never shown: one "*" per character, or the red hint.
    QString password = Q(a.Password);
    if (!OAuthOf(a).empty()) {
      item->setText(kPasswordColumn, QStringLiteral("OAuth2"));
      item->setFont(kPasswordColumn, font);
    } else if (password.isEmpty()) {
      item->setText(kPasswordColumn, QStringLiteral("[没有密码，请重新设置]"));
      item->setFont(kPasswordColumn, hintFont);
      item->setForeground(kPasswordColumn, Qt::red);
    } else {
      item->setText(kPasswordColumn, QString(password.size(), QLatin1Char('*')));
      item->setFont(kPasswordColumn, font);
    }
    item->setText(kNoteColumn, Q(a.Note));
    item->setFont(kNoteColumn, font);
    item->setText(kSecurityColumn, SecurityCaption(SecurityOf(a)));
    item->setText(kProtocolColumn, ImapOf(a) ? QStringLiteral("IMAP") : QStringLiteral("POP3"));
    item->setText(kLoginColumn, LoginCaption(LoginOf(a)));
    if (!a.SecretProblem.empty()) {
      // Unread from the keyring, not lost: the cause instead of the red hint.
      item->setText(kPasswordColumn, Q(a.SecretProblem));
      item->setFont(kPasswordColumn, hintFont);
      item->setForeground(kPasswordColumn, Qt::red);
    }
  }
  for (int c = 0; c < kNoteColumn; ++c)
    lvmail->resizeColumnToContents(c);
  lvmail->setColumnWidth(kNoteColumn, 108);
  lvmail->resizeColumnToContents(kSecurityColumn);
  lvmail->resizeColumnToContents(kProtocolColumn);
  lvmail->resizeColumnToContents(kLoginColumn);
  if (selected >= 0 && selected < lvmail->topLevelItemCount())
    lvmail->setCurrentItem(lvmail->topLevelItem(selected));
}

void TfrmProp::SpeedButton12Click() {
  TAccount account{S(edtMpop->text()), S(edtMuser->text()), S(edtMkey->text()), S(edtnote->text())};
  const std::string provider = S(cboProvider->currentData().toString());
  if (edtMpop->text().trimmed().isEmpty() || edtMuser->text().trimmed().isEmpty() ||
      (edtMkey->text().trimmed().isEmpty() && provider.empty())) {
    ShowMessage(this, kErrorCaption, QStringLiteral("所填地址不能为空格"), TIcon::Warning);
    return;
  }
  std::string error;
  if (!AddAccount(accounts_, account, &error, !provider.empty())) {
    ShowMessage(this, kErrorCaption, Q(error), TIcon::Warning);
    return;
  }
  int row = 0;
  for (std::size_t i = 0; i < accounts_.size(); ++i) {
    if (IsSameAccount(accounts_[i], ascii::Trim(account.Server), ascii::Trim(account.User)))
      row = static_cast<int>(i);
  }
  const std::string key = AccountKey(accounts_[static_cast<std::size_t>(row)]);
  accountSecurity_[key] = ChosenMode(cboSecurity);
  if (const auto imap = ImapFromFields())
    accountImap_[key] = *imap;
  else
    accountImap_.erase(key);
  accountLogin_[key] = ChosenMode(cboLogin);
  accountOAuth_[key] = provider;
  ShowAccounts(row);
  for (QLineEdit* e : {edtnote, edtMuser, edtMkey, edtMpop})
    e->clear();
  ChooseMode(cboSecurity, std::string(kDefaultSecurity));
  ShowImapFields(std::nullopt);
  ChooseMode(cboLogin, std::string(kDefaultLogin));
  cboProvider->setCurrentIndex(0);
}

void TfrmProp::SpeedButton45Click() {
  if (accounts_.empty())
    return;
  int row = 0;
  const auto selected = lvmail->selectionModel()->selectedRows();
  if (!selected.isEmpty()) {
    row = selected.front().row();
    for (const auto& index : selected)
      row = std::min(row, index.row());
  }
  const TAccount a = accounts_[static_cast<std::size_t>(row)];
  edtMpop->setText(Q(a.Server));
  edtMuser->setText(Q(a.User));
  edtMkey->setText(Q(a.Password));
  edtnote->setText(Q(a.Note));
  ChooseMode(cboSecurity, SecurityOf(a));
  ShowImapFields(ImapOf(a));
  {
    // Choosing the provider fills the fields: the account's own stay.
    const QSignalBlocker quiet(cboProvider);
    const int index = cboProvider->findData(Q(OAuthOf(a)));
    cboProvider->setCurrentIndex(index >= 0 ? index : 0);
  }
  ChooseMode(cboLogin, LoginOf(a));
  accountSecurity_.erase(AccountKey(a));
  accountImap_.erase(AccountKey(a));
  accountLogin_.erase(AccountKey(a));
  accountOAuth_.erase(AccountKey(a));
  accounts_.erase(accounts_.begin() + row);
  ShowAccounts(-1);
}

std::string TfrmProp::SecurityOf(const TAccount& account) const {
  const auto found = accountSecurity_.find(AccountKey(account));
  return found == accountSecurity_.end() ? std::string(kDefaultSecurity) : found->second;
}

bool TfrmProp::SaveAccountSecurity() {
  const TConnectionPolicy stored = LoadConnectionPolicy(store_);
  return store_.Write([&] {
    for (const auto& [name, mode] : stored.Modes) {
      const bool listed = std::any_of(accounts_.begin(), accounts_.end(), [&](const TAccount& a) {
        return ascii::EqualNoCase(AccountKey(a), name);
      });
      if (!listed)
        WriteAccountSecurity(store_, name, kDefaultSecurity);  // removes the value
    }
    for (const auto& a : accounts_)
      WriteAccountSecurity(store_, AccountKey(a), SecurityOf(a));
  });
}

std::optional<TImapAccountSettings> TfrmProp::ImapOf(const TAccount& account) const {
  const auto found = accountImap_.find(AccountKey(account));
  if (found == accountImap_.end())
    return std::nullopt;
  return found->second;
}

std::optional<TImapAccountSettings> TfrmProp::ImapFromFields() const {
  if (!cboProtocol->currentData().toBool())
    return std::nullopt;
  TImapAccountSettings imap;
  imap.Folders = ParseFolderList(S(edtFolders->text()));
  imap.DeleteMode = ChosenMode(cboDeleteMode);
  return imap;
}

void TfrmProp::ShowImapFields(const std::optional<TImapAccountSettings>& imap) {
  const TImapAccountSettings shown = imap.value_or(TImapAccountSettings{});
  cboProtocol->setCurrentIndex(imap ? 1 : 0);
  edtFolders->setText(Q(FolderListText(shown.Folders)));
  ChooseMode(cboDeleteMode, shown.DeleteMode);
  edtFolders->setEnabled(imap.has_value());
  cboDeleteMode->setEnabled(imap.has_value());
}

bool TfrmProp::SaveAccountImap() {
  const TConnectionPolicy stored = LoadConnectionPolicy(store_);
  bool ok = true;
  const bool written = store_.Write([&] {
    for (const auto& [name, data] : stored.Imap) {
      const bool listed = std::any_of(accounts_.begin(), accounts_.end(), [&](const TAccount& a) {
        return ascii::EqualNoCase(AccountKey(a), name);
      });
      if (!listed)
        WriteImapSettings(store_, name, std::nullopt);
    }
    for (const auto& a : accounts_)
      ok = WriteImapSettings(store_, AccountKey(a), ImapOf(a)) && ok;
  });
  return written && ok;
}

std::string TfrmProp::LoginOf(const TAccount& account) const {
  const auto found = accountLogin_.find(AccountKey(account));
  return found == accountLogin_.end() ? std::string(kDefaultLogin) : found->second;
}

bool TfrmProp::SaveAccountLogins() {
  const TConnectionPolicy stored = LoadConnectionPolicy(store_);
  return store_.Write([&] {
    for (const auto& [name, method] : stored.Logins) {
      const bool listed = std::any_of(accounts_.begin(), accounts_.end(), [&](const TAccount& a) {
        return ascii::EqualNoCase(AccountKey(a), name);
      });
      if (!listed)
        WriteAccountLogin(store_, name, kDefaultLogin);  // removes the value
    }
    for (const auto& a : accounts_)
      WriteAccountLogin(store_, AccountKey(a), LoginOf(a));
  });
}

std::string TfrmProp::OAuthOf(const TAccount& account) const {
  const auto found = accountOAuth_.find(AccountKey(account));
  return found == accountOAuth_.end() ? std::string() : found->second;
}

bool TfrmProp::SaveAccountOAuth() {
  std::vector<std::string> stale;
  TSettingsKey key;
  if (OpenSettingsKey(store_, kAccountOAuthKey, false, key)) {
    for (const auto& name : store_.EnumValueNames(key)) {
      const bool listed = std::any_of(accounts_.begin(), accounts_.end(), [&](const TAccount& a) {
        return ascii::EqualNoCase(AccountKey(a), name) && !OAuthOf(a).empty();
      });
      if (!listed)
        stale.push_back(name);
    }
  }
  bool ok = true;
  for (const auto& name : stale) {
    // Its sign-in goes with it.
    RemoveOAuthTokens(store_, name);
    ok = WriteAccountOAuthProvider(store_, name, "") && ok;
  }
  for (const auto& a : accounts_) {
    if (!OAuthOf(a).empty())
      ok = WriteAccountOAuthProvider(store_, AccountKey(a), OAuthOf(a)) && ok;
  }
  return ok;
}

void TfrmProp::ProviderChosen() {
  const auto provider = FindOAuthProvider(store_, S(cboProvider->currentData().toString()));
  if (!provider)
    return;
  if (!provider->Pop3Server.empty())
    edtMpop->setText(Q(provider->Pop3Server));
  ChooseMode(cboSecurity, provider->Pop3Security);
  ChooseMode(cboLogin, provider->Mechanism);
  edtMkey->clear();
  if (provider->ClientId.empty())
    ShowMessage(this, kProviderCaption, Q(MissingClientIdHint(*provider)), TIcon::Warning);
}

void TfrmProp::SmtpProviderChosen() {
  const auto provider = FindOAuthProvider(store_, S(cboSmtpProvider->currentData().toString()));
  if (!provider)
    return;
  if (!provider->SmtpServer.empty())
    SMTPServer->setText(Q(provider->SmtpServer));
  {
    const QSignalBlocker quiet(cboSmtpSecurity);  // the provider's port, not the mode's
    ChooseMode(cboSmtpSecurity, provider->SmtpSecurity);
  }
  if (!provider->SmtpPort.empty())
    SMTPPort->setText(Q(provider->SmtpPort));
  ChooseMode(cboSmtpLogin, provider->Mechanism);
  cboAuthType->setCurrentIndex(1);
  edtPassword->clear();
}

void TfrmProp::OAuthLoginClick() {
  const QString caption = QStringLiteral("登录");
  if (oauthSignIn_.joinable()) {
    ShowMessage(this, caption, QStringLiteral("正在等待浏览器中的登录。"));
    return;
  }
  const auto selected = lvmail->selectionModel()->selectedRows();
  const int row = selected.isEmpty() ? -1 : selected.front().row();
  if (row < 0 || row >= static_cast<int>(accounts_.size()) ||
      OAuthOf(accounts_[static_cast<std::size_t>(row)]).empty()) {
    ShowMessage(this, caption, QStringLiteral("请先在列表中选择一个用 OAuth2 登录的帐号。"),
                TIcon::Warning);
    return;
  }
  const TAccount account = accounts_[static_cast<std::size_t>(row)];
  const auto provider = FindOAuthProvider(store_, OAuthOf(account));
  if (!provider || provider->ClientId.empty()) {
    ShowMessage(this, caption,
                provider ? Q(MissingClientIdHint(*provider)) : QStringLiteral("未知的提供者"),
                TIcon::Warning);
    return;
  }
  auto loopback = std::make_shared<TLoopbackRedirect>();
  std::string error;
  if (!loopback->Listen(&error)) {
    ShowMessage(this, caption, Q(error), TIcon::Critical);
    return;
  }
  const TPkce pkce = MakePkce();
  const std::string state = RandomUrlToken(16);
  const std::string url =
      AuthorizationUrl(*provider, loopback->RedirectUri(), state, pkce.Challenge, account.User);
  if (!Dialogs().OpenUrl(Q(url))) {
    ShowMessage(this, caption, QStringLiteral("无法打开浏览器。请打开以下地址：\n") + Q(url),
                TIcon::Warning);
  }
  btnOAuthLogin->setEnabled(false);
  oauthCancel_ = false;
  const std::string key = AccountKey(account);
  oauthSignIn_ = std::thread([this, loopback, provider = *provider, pkce, state, key] {
    const TRedirectResult redirect = loopback->Wait(state, 5 * 60 * 1000, &oauthCancel_);
    TTokenAnswer answer;
    if (redirect.Error.empty())
      answer =
          ExchangeAuthorizationCode(provider, redirect.Code, pkce.Verifier, loopback->RedirectUri(),
                                    static_cast<long long>(std::time(nullptr)));
    else
      answer.Error = redirect.Error;
    if (oauthCancel_)
      return;
    QMetaObject::invokeMethod(
        this,
        [this, answer, key] {
          oauthSignIn_.join();
          btnOAuthLogin->setEnabled(true);
          const QString caption = QStringLiteral("登录");
          if (!answer.Ok || answer.RefreshToken.empty()) {
            ShowMessage(this, caption,
                        QStringLiteral("登录失败：") +
                            Q(answer.Ok ? std::string("no refresh token") : answer.Cause()),
                        TIcon::Warning);
            return;
          }
          if (!WriteOAuthTokens(store_, key,
                                {answer.RefreshToken, answer.AccessToken, answer.ExpiresAt, ""})) {
            ShowMessage(this, caption, QStringLiteral("登录令牌不能保存。"), TIcon::Critical);
            return;
          }
          ShowMessage(this, caption, QStringLiteral("已登录：") + Q(key));
        },
        Qt::QueuedConnection);
  });
}

// Said once per home: where passwords go when the session has no keyring.
void TfrmProp::ShowKeyringNotice() {
  if (store_.Keyring() != nullptr)
    return;
  TSettingsKey refs;
  if (!OpenSettingsKey(store_, kSecretsKey, true, refs) ||
      ReadFlagValue(refs, kNoKeyringNoticeName, false))
    return;
  lblKeyring->setVisible(true);
  store_.Write([&] { WriteFlagValue(refs, kNoKeyringNoticeName, true); });
}

void TfrmProp::FlatSpeedButton1Click() {
  const QString caption = QStringLiteral("从Thunderbird导入帐号");
  const auto profiles = FindThunderbirdProfiles();
  if (profiles.empty()) {
    ShowMessage(this, caption, QStringLiteral("没有找到Thunderbird的配置文件。"));
    return;
  }
  int found = 0;
  QStringList refused;
  for (const auto& profile : profiles) {
    for (const bool imap : {false, true}) {
      for (const auto& imported : ReadThunderbirdAccounts(profile, imap)) {
        ++found;
        std::string error;
        if (!AddImportedAccount(accounts_, imported, &error))
          refused << Q(AccountKey(imported)) + QStringLiteral("：") + Q(error);
        else if (imap && !accountImap_.count(AccountKey(imported)))
          accountImap_[AccountKey(imported)] = TImapAccountSettings{};
      }
    }
  }
  ShowAccounts(-1);
  if (found == 0) {
    ShowMessage(this, caption, QStringLiteral("Thunderbird中没有POP3或IMAP帐号。"));
  } else if (!refused.isEmpty()) {
    ShowMessage(this, caption,
                QStringLiteral("以下帐号没有导入：\n") + refused.join(QLatin1Char('\n')),
                TIcon::Warning);
  }
}

// --------------------------------------------------------------------- SMTP

// The standard port follows the mode, as mail programs do; a port the user
// chose otherwise stays.
void TfrmProp::SmtpSecurityChanged() {
  if (loading_)
    return;
  const QString port = SMTPPort->text().trimmed();
  const bool tls = ChosenMode(cboSmtpSecurity) == "tls";
  if (tls && (port.isEmpty() || port == QLatin1String("25") || port == QLatin1String("587")))
    SMTPPort->setText(QStringLiteral("465"));
  else if (!tls && port == QLatin1String("465"))
    SMTPPort->setText(QStringLiteral("25"));
}

// ---------------------------------------------------------- mail operations

void TfrmProp::CHKautoClick(bool ticked) {
  std::string error;
  bool ok =
      ticked ? WriteAutostartEntry(CurrentProgramPath(), &error) : DeleteAutostartEntry(&error);
  if (!ok && !loading_) {
    ShowMessage(this, kErrorCaption, QStringLiteral("开机自动启动项不能写入：") + Q(error),
                TIcon::Warning);
  }
}

void TfrmProp::SpeedButton46Click() {
  // Programs live in the PATH folders here, not beside this one.
  QString folder = QStringLiteral("/usr/bin");
  QFileInfo current(edtMailprog->text().trimmed());
  if (!edtMailprog->text().trimmed().isEmpty() && current.dir().exists())
    folder = current.absolutePath();
  QString chosen = Dialogs().OpenFileName(this, QStringLiteral("邮件接收程序"), folder,
                                          QStringLiteral("邮件接收程序 (*)"));
  if (chosen.isEmpty())
    return;
  QFileInfo file(chosen);
  if (!file.isFile() || !file.isExecutable()) {
    ShowMessage(this, kErrorCaption, QStringLiteral("所选文件不是可执行的程序。"), TIcon::Warning);
    return;
  }
  if (!FitsAnsiBytes(file.absoluteFilePath(), kMaxTextBytes)) {
    ShowMessage(this, kErrorCaption, QStringLiteral("程序的路径长于255字节。"), TIcon::Warning);
    return;
  }
  edtMailprog->setText(file.absoluteFilePath());
}

void ShowSettingsWindow(QWidget* parent, const std::filesystem::path& home, TSettingsStore& store) {
  TfrmProp window(parent, home, store);
  window.exec();
}

}  // namespace pelorix::gui
