#pragma once
// The settings window TfrmProp "邮箱属性": accounts, SMTP, mail operations,
// filter lists and the IP table. There is no OK or Cancel: closing the
// window, whichever way, saves everything.

#include <QDialog>
#include <atomic>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "store/account_imap.h"
#include "store/accounts.h"
#include "store/filter_lists.h"
#include "store/ip_table.h"
#include "store/mail_plan.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QPlainTextEdit;
class QStackedWidget;
class QTabWidget;
class QToolButton;
class QTableView;
class QTreeWidget;

namespace pelorix {
class TSettingsStore;
}

namespace pelorix::gui {

class TDigitsSpinBox;
class TIpTableModel;

class TfrmProp final : public QDialog {
  Q_OBJECT

 public:
  // Loads every control from the store.
  TfrmProp(QWidget* parent, std::filesystem::path home, TSettingsStore& store);
  ~TfrmProp() override;

  // Every way of closing ends here: saves, then closes. A filter entry the
  // store cannot hold keeps the window open with a message.
  void done(int result) override;

 private:
  QWidget* BuildAccountsPage();
  QWidget* BuildPop3Page();
  QWidget* BuildSmtpPage();
  QWidget* BuildMailOperationsPage();
  QWidget* BuildFilterPage();
  QWidget* BuildIpPage();
  QWidget* BuildJudgePage();

  void LoadWindowSettings();
  void SaveWindowSettings(bool report);
  bool FilterEntriesFit();

  // POP3 accounts
  void ShowAccounts(int selected);
  void SpeedButton12Click();
  void SpeedButton45Click();
  void FlatSpeedButton1Click();
  // The connection security of a listed account: "auto" unless chosen.
  std::string SecurityOf(const TAccount& account) const;
  // Writes the modes of the listed accounts and drops those of accounts no
  // longer listed. False when the store refused a write.
  bool SaveAccountSecurity();
  // IMAP: the protocol, folders and way of deleting of a listed account
  // (nothing for POP3), and their fields.
  std::optional<TImapAccountSettings> ImapOf(const TAccount& account) const;
  std::optional<TImapAccountSettings> ImapFromFields() const;
  void ShowImapFields(const std::optional<TImapAccountSettings>& imap);
  bool SaveAccountImap();
  // The login method of a listed account: "user" unless chosen; saved alike.
  std::string LoginOf(const TAccount& account) const;
  bool SaveAccountLogins();
  // Shows, the first time only, that passwords stay in the settings file.
  void ShowKeyringNotice();
  // OAuth2: the provider of a listed account ("" signs in with a password),
  // the choice that fills the fields, the browser sign-in of the selected
  // account (its answer awaited on a thread of its own).
  std::string OAuthOf(const TAccount& account) const;
  bool SaveAccountOAuth();
  void ProviderChosen();
  void SmtpProviderChosen();
  void OAuthLoginClick();
  // SMTP
  void SmtpSecurityChanged();
  // Mail operations
  void CHKautoClick(bool ticked);
  void SpeedButton46Click();
  // The learning judge
  void LoadJudgeControls(const TPropSettings& s);
  void SaveJudgeControls(TPropSettings& s) const;
  void ShowJudgeState();
  void LearnFromThunderbirdClick();
  void ClearLearningClick();
  // Filter lists
  TFilterLists FilterListsFromControls() const;
  void ShowFilterLists(const TFilterLists& lists);
  void ShowLengthRules();
  void AddLengthRuleClick();
  void TakeOutLengthRuleClick();
  void ImportFilterFileClick();
  void ExportFilterFileClick();
  // IP table
  // The user's rows, or (all) every row a lookup can find, shown then
  // without editing.
  void StartLoadingIpTable(bool all = false);
  void ShowAllIpRows(bool all);
  // Once, for a user's table copied whole from the delivered one.
  void OfferIpTableSlimming(std::size_t copied);
  const std::vector<TIpRecord>& IpUserRows() const;
  void SpeedButton27Click();
  void SpeedButton32Click();
  void SpeedButton53Click();
  void SpeedButton54Click();

  std::filesystem::path home_;
  TSettingsStore& store_;
  std::vector<TAccount> accounts_;
  // Connection security per account key (user[server]), kept with the
  // account while it is listed or taken out into the fields.
  std::map<std::string, std::string> accountSecurity_;
  std::map<std::string, TImapAccountSettings> accountImap_;
  // Login method per account key, kept the same way.
  std::map<std::string, std::string> accountLogin_;
  std::map<std::string, std::string> accountOAuth_;
  std::thread oauthSignIn_;
  std::atomic<bool> oauthCancel_{false};
  std::vector<std::string> lengthRules_;
  bool loading_ = false;
  bool saved_ = false;
  bool ipChanged_ = false;

  QTabWidget* PageControl7 = nullptr;
  QToolButton* FlatButton1 = nullptr;
  QToolButton* FlatButton2 = nullptr;
  QStackedWidget* Notebook3 = nullptr;
  // POP3
  QLineEdit* edtnote = nullptr;
  QLineEdit* edtMuser = nullptr;
  QLineEdit* edtMkey = nullptr;
  QLineEdit* edtMpop = nullptr;
  QComboBox* cboSecurity = nullptr;
  QComboBox* cboProtocol = nullptr;
  QLineEdit* edtFolders = nullptr;
  QComboBox* cboDeleteMode = nullptr;
  QComboBox* cboLogin = nullptr;
  QComboBox* cboProvider = nullptr;
  QPushButton* btnOAuthLogin = nullptr;
  QLabel* lblKeyring = nullptr;
  QTreeWidget* lvmail = nullptr;
  // SMTP
  QLineEdit* SMTPServer = nullptr;
  QLineEdit* SMTPPort = nullptr;
  QComboBox* cboSmtpSecurity = nullptr;
  QComboBox* cboAuthType = nullptr;
  QComboBox* cboSmtpLogin = nullptr;
  QComboBox* cboSmtpProvider = nullptr;
  QLineEdit* edtAccount = nullptr;
  QLineEdit* edtPassword = nullptr;
  QLineEdit* edtEmailaddr = nullptr;
  // Mail operations
  QCheckBox* chkSummary = nullptr;
  QCheckBox* chkDeleteMail = nullptr;
  QCheckBox* chkRdeliver = nullptr;
  QCheckBox* chkRnoMsg = nullptr;
  QCheckBox* chkSkipBytes = nullptr;
  QLineEdit* meBytes = nullptr;
  QCheckBox* chkMmoreRub = nullptr;
  QLineEdit* meMoreRub = nullptr;
  QCheckBox* chkMauto = nullptr;
  QLineEdit* meMmin = nullptr;
  QCheckBox* CHKauto = nullptr;
  QLineEdit* edtMailprog = nullptr;
  QCheckBox* chkQuarantine = nullptr;
  QLineEdit* meQuarantineDays = nullptr;
  QCheckBox* chkFetchLetters = nullptr;
  // The window's language, applied at the next start.
  QComboBox* cboLanguage = nullptr;
  // The learning judge
  QCheckBox* chkAutoJudge = nullptr;
  QLineEdit* meSpamCut = nullptr;
  QLineEdit* meUnsureCut = nullptr;
  QLineEdit* mePeekLines = nullptr;
  QLabel* lblLearnt = nullptr;
  QListWidget* lvFriends = nullptr;
  // Filter lists
  QTabWidget* PageControl1 = nullptr;
  QPlainTextEdit* lvRtitle = nullptr;
  QPlainTextEdit* lvRmail = nullptr;
  QPlainTextEdit* lvRmid = nullptr;
  QPlainTextEdit* lvRdeliver = nullptr;
  QListWidget* lvRlen = nullptr;
  QComboBox* cbxRlenOpr = nullptr;
  TDigitsSpinBox* edtRlen = nullptr;
  // IP table: read on a thread of its own, since a delivered table runs to
  // a million rows; the page stays disabled until its rows arrive.
  std::thread ipLoader_;
  QWidget* ipPage_ = nullptr;
  QLabel* ipLoading_ = nullptr;
  TIpTableModel* ipModel_ = nullptr;
  QCheckBox* chkIpAll = nullptr;
  std::vector<QWidget*> ipEditors_;
  bool ipAllShown_ = false;
  std::vector<TIpRecord> ipUserRows_;  // kept while every row is shown
  QTableView* lvIP = nullptr;
  QLineEdit* meIPstart = nullptr;
  QLineEdit* meIPstop = nullptr;
  QLineEdit* edtArea = nullptr;
  QLineEdit* edtPlace = nullptr;
};

// Runs the settings window modally over parent and returns once it has
// closed; closing saves everything, whichever way it was closed.
void ShowSettingsWindow(QWidget* parent, const std::filesystem::path& home, TSettingsStore& store);

}  // namespace pelorix::gui
