// OAuth sign-in from the command line: accounts of a provider, the browser
// flow through the loopback address (or the device grant where the provider
// has one), signing out.
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <thread>

#include "app/args.h"
#include "app/cli_oauth.h"
#include "store/accounts.h"
#include "store/connection_security.h"
#include "store/oauth.h"
#include "store/oauth_account.h"

extern char** environ;

namespace pelorix {
namespace {

constexpr int kBrowserWaitMs = 5 * 60 * 1000;

[[noreturn]] void Fail(const std::string& message) {
  throw std::runtime_error(message);
}

long long Now() {
  return static_cast<long long>(std::time(nullptr));
}

std::unique_ptr<TSettingsStore> OpenStore(const CommandContext& ctx) {
  std::string error;
  auto store = TSettingsStore::Open(ctx.home, &error);
  if (!store)
    Fail(error);
  return store;
}

// $BROWSER, when set, opens the address (as xdg-open would); the child is
// waited for, so a browser that stays open must detach itself.
void OpenInBrowser(const std::string& url) {
  const char* browser = std::getenv("BROWSER");
  if (!browser || !*browser)
    return;
  const std::string command = std::string(browser) + " \"$1\"";
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), "sh", url.c_str(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ) == 0)
    std::thread([pid] {
      int status = 0;
      waitpid(pid, &status, 0);
    }).detach();
}

TOAuthProvider ProviderOf(TSettingsStore& store, const std::string& key) {
  const std::string id = ReadAccountOAuthProvider(store, key);
  if (id.empty())
    Fail(key + " does not sign in with OAuth (account add --oauth PROVIDER ...)");
  const auto provider = FindOAuthProvider(store, id);
  if (!provider)
    Fail("unknown OAuth provider " + id);
  if (provider->ClientId.empty())
    Fail(MissingClientIdHint(*provider));
  return *provider;
}

bool AccountExists(TSettingsStore& store, const std::string& key) {
  for (const auto& a : LoadAccounts(store)) {
    if (AccountKey(a) == key)
      return true;
  }
  return false;
}

TTokenAnswer DeviceSignIn(const CommandContext& ctx, const TOAuthProvider& provider) {
  const TDeviceAuthorization device = StartDeviceAuthorization(provider, Now());
  if (!device.Ok)
    Fail("the device sign-in did not start: " + device.Error);
  ctx.out << "请在浏览器中打开 " << device.VerificationUri << " 并输入代码 " << device.UserCode
          << std::endl;
  OpenInBrowser(device.VerificationUriComplete.empty() ? device.VerificationUri
                                                       : device.VerificationUriComplete);
  int interval = device.IntervalSeconds;
  for (;;) {
    if (device.ExpiresAt > 0 && Now() > device.ExpiresAt)
      Fail("the code expired before the sign-in was confirmed");
    std::this_thread::sleep_for(std::chrono::seconds(interval));
    TTokenAnswer answer = PollDeviceToken(provider, device.DeviceCode, Now());
    if (answer.Ok || (answer.Error != "authorization_pending" && answer.Error != "slow_down"))
      return answer;
    if (answer.Error == "slow_down")
      interval += 5;  // RFC 8628 3.5
  }
}

TTokenAnswer BrowserSignIn(const CommandContext& ctx, const TOAuthProvider& provider,
                           const std::string& user) {
  TLoopbackRedirect loopback;
  std::string error;
  if (!loopback.Listen(&error))
    Fail(error);
  const TPkce pkce = MakePkce();
  const std::string state = RandomUrlToken(16);
  const std::string url =
      AuthorizationUrl(provider, loopback.RedirectUri(), state, pkce.Challenge, user);
  ctx.out << "请在浏览器中打开以下地址登录：\n" << url << std::endl;
  OpenInBrowser(url);
  const TRedirectResult result = loopback.Wait(state, kBrowserWaitMs);
  if (!result.Error.empty())
    Fail("sign-in failed: " + result.Error);
  return ExchangeAuthorizationCode(provider, result.Code, pkce.Verifier, loopback.RedirectUri(),
                                   Now());
}

}  // namespace

int OAuthAccountAdd(CommandContext& ctx, const TOAuthAccountOptions& options) {
  auto store = OpenStore(ctx);
  const auto provider = FindOAuthProvider(*store, options.Provider);
  if (!provider)
    throw UsageError("unknown OAuth provider " + options.Provider + " (gmail, outlook or custom)");
  const std::string server = options.Server.value_or(provider->Pop3Server);
  if (server.empty())
    throw UsageError("--oauth custom needs --server");
  TAccount account{server, options.User, "", options.Note};
  auto accounts = LoadAccounts(*store);
  std::string error;
  const bool written = store->Write([&] {
    if (!AddAccount(accounts, account, &error, true) || !SaveAccounts(*store, accounts, &error))
      throw std::runtime_error(error);
    const std::string key = AccountKey(TAccount{std::string(server), options.User, "", ""});
    if (!WriteAccountSecurity(*store, key, options.Security.value_or(provider->Pop3Security)) ||
        !WriteAccountLogin(*store, key, provider->Mechanism) ||
        !WriteAccountOAuthProvider(*store, key, provider->Id))
      throw std::runtime_error("cannot write the settings file");
  });
  if (!written)
    Fail(error.empty() ? "cannot write the settings file" : error);
  const std::string key = options.User + "[" + server + "]";
  if (provider->ClientId.empty())
    ctx.err << MissingClientIdHint(*provider) << "\n";
  ctx.out << "添加了 " << key << "；请运行 pelorix account login " << key << " 登录\n";
  return 0;
}

int OAuthAccountLogin(CommandContext& ctx, const std::string& key, bool noDevice) {
  auto store = OpenStore(ctx);
  if (!AccountExists(*store, key))
    Fail("no account " + key);
  const TOAuthProvider provider = ProviderOf(*store, key);
  const std::string user = key.substr(0, key.find('['));
  const TTokenAnswer answer = !provider.DeviceEndpoint.empty() && !noDevice
                                  ? DeviceSignIn(ctx, provider)
                                  : BrowserSignIn(ctx, provider, user);
  if (!answer.Ok)
    Fail("sign-in refused: " + answer.Cause());
  if (answer.RefreshToken.empty())
    Fail("the provider gave no refresh token (scope offline_access missing?)");
  TStoredTokens tokens;
  tokens.Refresh = answer.RefreshToken;
  tokens.Access = answer.AccessToken;
  tokens.ExpiresAt = answer.ExpiresAt;
  if (!WriteOAuthTokens(*store, key, tokens))
    Fail("cannot write the settings file");
  ctx.out << "已登录: " << key << "\n";
  return 0;
}

int OAuthAccountLogout(CommandContext& ctx, const std::string& key) {
  auto store = OpenStore(ctx);
  const std::string id = ReadAccountOAuthProvider(*store, key);
  if (id.empty())
    Fail(key + " does not sign in with OAuth");
  const TStoredTokens tokens = ReadOAuthTokens(*store, key);
  const auto provider = FindOAuthProvider(*store, id);
  if (provider && !tokens.Refresh.empty()) {
    std::string error;
    if (!RevokeToken(*provider, tokens.Refresh, &error))
      ctx.err << "pelorix account logout: the token was not revoked: " << error << "\n";
  }
  RemoveOAuthTokens(*store, key);
  ctx.out << "已退出登录: " << key << "\n";
  return 0;
}

}  // namespace pelorix
