// The settings window's accounts page: the POP3/IMAP accounts with their
// connection security, protocol and login, and the SMTP server.
#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/dialogs.h"
#include "gui/settings_parts.h"
#include "gui/settings_window.h"
#include "gui/tr.h"
#include "store/account_imap.h"
#include "store/accounts.h"
#include "store/connection_security.h"
#include "store/oauth.h"
#include "store/oauth_account.h"
#include "store/secret_store.h"
#include "store/settings_store.h"
#include "text/asciiutil.h"

namespace pelorix::gui {

using namespace settings;

namespace {

constexpr int kPasswordColumn = 2;
constexpr int kNoteColumn = 3;
constexpr int kSecurityColumn = 4;
constexpr int kProtocolColumn = 5;
constexpr int kLoginColumn = 6;

// The connection security modes as stored, with what the user reads.
struct TSecurityChoice {
  const char* mode;
  const char* caption;
};
constexpr TSecurityChoice kSecurityChoices[] = {{"auto", QT_TR_NOOP("自动")},
                                                {"tls", "SSL/TLS"},
                                                {"starttls", "STARTTLS"},
                                                {"none", QT_TR_NOOP("不加密")}};

QString SecurityCaption(const std::string& mode) {
  for (const auto& c : kSecurityChoices) {
    if (mode == c.mode)
      return Tr(c.caption);
  }
  return Tr(kSecurityChoices[0].caption);
}

// What "delete" does on an IMAP account, as stored and as the user reads it.
constexpr TSecurityChoice kDeleteModeChoices[] = {
    {"auto", QT_TR_NOOP("移到垃圾邮件文件夹 (没有则移到已删除)")},
    {"junk", QT_TR_NOOP("移到垃圾邮件文件夹 (Junk)")},
    {"trash", QT_TR_NOOP("移到已删除文件夹 (Trash)")},
    {"expunge", QT_TR_NOOP("彻底删除 (服务器须支持 UIDPLUS)")}};

QComboBox* SecurityCombo(const char* objectName, QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(QString::fromLatin1(objectName));
  combo->setAccessibleName(SecurityFieldCaption());
  for (const auto& c : kSecurityChoices)
    combo->addItem(Tr(c.caption), QString::fromLatin1(c.mode));
  return combo;
}

// The login methods as stored; the OAuth ones take an access token as the password.
constexpr TSecurityChoice kLoginChoices[] = {{"user", "USER/PASS"},
                                             {"apop", "APOP"},
                                             {"plain", "SASL PLAIN"},
                                             {"login", "SASL LOGIN"},
                                             {"xoauth2", QT_TR_NOOP("XOAUTH2 (访问令牌)")},
                                             {"oauthbearer", QT_TR_NOOP("OAUTHBEARER (访问令牌)")}};

// SMTP skips USER/PASS and APOP, which only POP3 has.
QComboBox* LoginCombo(const char* objectName, QWidget* parent, bool smtp) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(QString::fromLatin1(objectName));
  combo->setAccessibleName(LoginFieldCaption());
  for (std::size_t i = smtp ? 2 : 0; i < std::size(kLoginChoices); ++i)
    combo->addItem(Tr(kLoginChoices[i].caption), QString::fromLatin1(kLoginChoices[i].mode));
  return combo;
}

QString LoginCaption(const std::string& method) {
  for (const auto& c : kLoginChoices) {
    if (method == c.mode)
      return Tr(c.caption);
  }
  return Tr(kLoginChoices[0].caption);
}

QComboBox* ProviderCombo(const char* objectName, QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(QString::fromLatin1(objectName));
  combo->setAccessibleName(ProviderCaption());
  combo->addItem(Tr("无 (密码)"), QString());
  for (const auto& p : BuiltInOAuthProviders())
    combo->addItem(Q(p.Caption), Q(p.Id));
  return combo;
}

// Set once the window has said that passwords stay in the settings file.
constexpr std::string_view kNoKeyringNoticeName = "NoKeyringNoticeShown";

// The password and note columns are drawn in this face (the original's
// SimSun is rarely installed; the CJK face of the desktop stands in).
QFont ListFont() {
  QFont font(QStringLiteral("Noto Sans CJK SC"), 9);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

}  // namespace

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
  const TRow rows[] = {{&edtnote, "edtnote", QT_TR_NOOP("说明")},
                       {&edtMuser, "edtMuser", QT_TR_NOOP("用户名")},
                       {&edtMkey, "edtMkey", QT_TR_NOOP("密码")},
                       {&edtMpop, "edtMpop", QT_TR_NOOP("POP3服务器")}};
  int r = 0;
  for (const auto& row : rows) {
    const QString caption = Tr(row.caption);
    *row.field = TextField(row.name, caption, page);
    fields->addWidget(Caption(caption, page), r, 0);
    fields->addWidget(*row.field, r, 1);
    ++r;
  }
  cboSecurity = SecurityCombo("cboSecurity", page);
  fields->addWidget(Caption(SecurityFieldCaption(), page), r, 0);
  fields->addWidget(cboSecurity, r++, 1);
  // IMAP accounts: protocol, the folders to check and what deleting does.
  cboProtocol = new QComboBox(page);
  cboProtocol->setObjectName(QStringLiteral("cboProtocol"));
  cboProtocol->setAccessibleName(Tr("协议"));
  cboProtocol->addItem(QStringLiteral("POP3"), false);
  cboProtocol->addItem(QStringLiteral("IMAP"), true);
  fields->addWidget(Caption(Tr("协议"), page), r, 0);
  fields->addWidget(cboProtocol, r++, 1);
  edtFolders = TextField("edtFolders", Tr("检查的文件夹"), page);
  edtFolders->setToolTip(Tr("用逗号分隔，例如 INBOX, 工作"));
  fields->addWidget(Caption(Tr("检查的文件夹"), page), r, 0);
  fields->addWidget(edtFolders, r++, 1);
  cboDeleteMode = new QComboBox(page);
  cboDeleteMode->setObjectName(QStringLiteral("cboDeleteMode"));
  cboDeleteMode->setAccessibleName(DeleteModeCaption());
  for (const auto& c : kDeleteModeChoices)
    cboDeleteMode->addItem(Tr(c.caption), QString::fromLatin1(c.mode));
  fields->addWidget(Caption(DeleteModeCaption(), page), r, 0);
  fields->addWidget(cboDeleteMode, r++, 1);
  ShowImapFields(std::nullopt);
  connect(cboProtocol, &QComboBox::currentIndexChanged, this, [this] {
    const bool imap = cboProtocol->currentData().toBool();
    edtFolders->setEnabled(imap);
    cboDeleteMode->setEnabled(imap);
  });
  cboLogin = LoginCombo("cboLogin", page, false);
  fields->addWidget(Caption(LoginFieldCaption(), page), r, 0);
  fields->addWidget(cboLogin, r, 1);
  ++r;
  cboProvider = ProviderCombo("cboProvider", page);
  fields->addWidget(Caption(ProviderCaption(), page), r, 0);
  fields->addWidget(cboProvider, r, 1);
  edtMkey->setEchoMode(QLineEdit::Password);
  top->addLayout(fields, 1);

  auto* buttons = new QVBoxLayout;
  auto* add = GlyphButton("SpeedButton12", style()->standardIcon(QStyle::SP_ArrowDown),
                          Tr("将邮件帐号加入列表中"), page);
  auto* takeOut = GlyphButton("SpeedButton45", style()->standardIcon(QStyle::SP_ArrowUp),
                              Tr("将邮件帐号从列表中取出"), page);
  auto* import = TextButton("FlatSpeedButton1", Tr("从Thunderbird导入帐号"), page);
  buttons->addWidget(add);
  buttons->addWidget(takeOut);
  buttons->addWidget(import);
  btnOAuthLogin = TextButton("btnOAuthLogin", Tr("登录…"), page);
  btnOAuthLogin->setToolTip(Tr("在浏览器中为所选的 OAuth2 帐号登录"));
  buttons->addWidget(btnOAuthLogin);
  buttons->addStretch();
  top->addLayout(buttons);
  top->addWidget(Hint(Tr("在左边的选项填写你要检测的邮箱账号，以便话费清单自动检测。"), page), 1);
  layout->addLayout(top);
  lblKeyring = Hint(Tr("没有找到桌面密钥环 (Secret Service)：密码以扰码形式保存在"
                       "只有您能读取的设置文件 registry.db 中。"),
                    page);
  lblKeyring->setObjectName(QStringLiteral("lblKeyring"));
  lblKeyring->setVisible(false);
  layout->addWidget(lblKeyring);

  lvmail = new QTreeWidget(page);
  lvmail->setObjectName(QStringLiteral("lvmail"));
  lvmail->setAccessibleName(Tr("邮箱帐号"));
  lvmail->setHeaderLabels({QStringLiteral("POP3"), Tr("用户"), Tr("密码"), Tr("说明"),
                           SecurityFieldCaption(), Tr("协议"), LoginFieldCaption()});
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
  SMTPServer = TextField("SMTPServer", Tr("发件服务器 (SMTP)"), page);
  SMTPPort = DigitsField("SMTPPort", Tr("端口："), MaxDigits(kSmtpKey, "smtpPort"), page);
  cboSmtpSecurity = SecurityCombo("cboSmtpSecurity", page);
  cboAuthType = new QComboBox(page);
  cboAuthType->setObjectName(QStringLiteral("cboAuthType"));
  cboAuthType->setAccessibleName(Tr("是否验证："));
  cboAuthType->addItems({Tr("不要验证"), Tr("简单登录")});
  cboSmtpLogin = LoginCombo("cboSmtpLogin", page, true);
  cboSmtpProvider = ProviderCombo("cboSmtpProvider", page);
  edtAccount = TextField("edtAccount", Tr("帐号："), page);
  edtPassword = TextField("edtPassword", Tr("口令"), page);
  edtPassword->setEchoMode(QLineEdit::Password);
  edtEmailaddr = TextField("edtEmailaddr", Tr("您的电子邮件地址："), page);
  const std::pair<QWidget*, QString> rows[] = {{SMTPServer, Tr("发件服务器 (SMTP)")},
                                               {SMTPPort, Tr("端口：")},
                                               {cboSmtpSecurity, SecurityFieldCaption()},
                                               {cboAuthType, Tr("是否验证：")},
                                               {cboSmtpProvider, ProviderCaption()},
                                               {cboSmtpLogin, LoginFieldCaption()},
                                               {edtAccount, Tr("帐号：")},
                                               {edtPassword, Tr("口令")},
                                               {edtEmailaddr, Tr("您的电子邮件地址：")}};
  int r = 0;
  for (const auto& [field, caption] : rows) {
    grid->addWidget(Caption(caption, page), r, 0);
    grid->addWidget(field, r, 1);
    ++r;
  }
  layout->addLayout(grid);
  layout->addWidget(
      Hint(Tr("请在这里填写发件服务器的属性，有的SMTP服务器需要你的帐号和口令，请在填写完整，"
              "并将是否验证选择为“简单登录”。注意：“您的电子邮件地址”必须是正确的真实地址。"),
           page));
  layout->addStretch();
  connect(cboSmtpSecurity, &QComboBox::currentIndexChanged, this, &TfrmProp::SmtpSecurityChanged);
  connect(cboSmtpProvider, &QComboBox::currentIndexChanged, this, &TfrmProp::SmtpProviderChosen);
  return page;
}

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
      item->setText(kPasswordColumn, Tr("[没有密码，请重新设置]"));
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
    ShowMessage(this, ErrorCaption(), Tr("所填地址不能为空格"), TIcon::Warning);
    return;
  }
  std::string error;
  if (!AddAccount(accounts_, account, &error, !provider.empty())) {
    ShowMessage(this, ErrorCaption(), Q(error), TIcon::Warning);
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
  const QString caption = Tr("从Thunderbird导入帐号");
  const auto profiles = FindThunderbirdProfiles();
  if (profiles.empty()) {
    ShowMessage(this, caption, Tr("没有找到Thunderbird的配置文件。"));
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
          refused << Q(AccountKey(imported)) + Tr("：") + Q(error);
        else if (imap && !accountImap_.count(AccountKey(imported)))
          accountImap_[AccountKey(imported)] = TImapAccountSettings{};
      }
    }
  }
  ShowAccounts(-1);
  if (found == 0) {
    ShowMessage(this, caption, Tr("Thunderbird中没有POP3或IMAP帐号。"));
  } else if (!refused.isEmpty()) {
    ShowMessage(this, caption, Tr("以下帐号没有导入：\n") + refused.join(QLatin1Char('\n')),
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

}  // namespace pelorix::gui
