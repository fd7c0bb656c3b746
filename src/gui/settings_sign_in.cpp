// The settings window's OAuth2 sign-in: an account's provider, the choice
// that fills the fields, and the browser sign-in on a thread of its own.
#include <QComboBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <algorithm>
#include <ctime>
#include <memory>

#include "gui/dialogs.h"
#include "gui/settings_parts.h"
#include "gui/settings_window.h"
#include "gui/tr.h"
#include "store/accounts.h"
#include "store/oauth.h"
#include "store/oauth_account.h"
#include "store/settings_store.h"
#include "text/asciiutil.h"

namespace pelorix::gui {

using namespace settings;

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
    ShowMessage(this, ProviderCaption(), Q(MissingClientIdHint(*provider)), TIcon::Warning);
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
  const QString caption = Tr("登录");
  if (oauthSignIn_.joinable()) {
    ShowMessage(this, caption, Tr("正在等待浏览器中的登录。"));
    return;
  }
  const auto selected = lvmail->selectionModel()->selectedRows();
  const int row = selected.isEmpty() ? -1 : selected.front().row();
  if (row < 0 || row >= static_cast<int>(accounts_.size()) ||
      OAuthOf(accounts_[static_cast<std::size_t>(row)]).empty()) {
    ShowMessage(this, caption, Tr("请先在列表中选择一个用 OAuth2 登录的帐号。"), TIcon::Warning);
    return;
  }
  const TAccount account = accounts_[static_cast<std::size_t>(row)];
  const auto provider = FindOAuthProvider(store_, OAuthOf(account));
  if (!provider || provider->ClientId.empty()) {
    ShowMessage(this, caption, provider ? Q(MissingClientIdHint(*provider)) : Tr("未知的提供者"),
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
    ShowMessage(this, caption, Tr("无法打开浏览器。请打开以下地址：\n") + Q(url), TIcon::Warning);
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
          const QString caption = Tr("登录");
          if (!answer.Ok || answer.RefreshToken.empty()) {
            ShowMessage(
                this, caption,
                Tr("登录失败：") + Q(answer.Ok ? std::string("no refresh token") : answer.Cause()),
                TIcon::Warning);
            return;
          }
          if (!WriteOAuthTokens(store_, key,
                                {answer.RefreshToken, answer.AccessToken, answer.ExpiresAt, ""})) {
            ShowMessage(this, caption, Tr("登录令牌不能保存。"), TIcon::Critical);
            return;
          }
          ShowMessage(this, caption, Tr("已登录：") + Q(key));
        },
        Qt::QueuedConnection);
  });
}

// Said once per home: where passwords go when the session has no keyring.
}  // namespace pelorix::gui
