#include "engine/account_secret.h"

#include <ctime>

#include "engine/run_state.h"
#include "store/oauth_account.h"

namespace pelorix {

std::string TakeAccountToken(TSettingsStore* store, TQueueEntry& entry) {
  if (store == nullptr || entry.Server.empty())
    return {};
  const std::string key = entry.User + "[" + entry.Server + "]";
  if (ReadAccountOAuthProvider(*store, key).empty())
    return {};
  const TAccessToken token =
      FreshAccessToken(*store, key, static_cast<long long>(std::time(nullptr)));
  entry.Password = token.Token;
  return token.Problem;
}

TQueueEntry WithAccountSecret(TRunState& state, TQueueEntry entry) {
  if (std::string problem = TakeAccountToken(state.Store, entry); !problem.empty())
    state.AddSecretProblem(entry.User + "[" + entry.Server + "]", std::move(problem));
  return entry;
}

}  // namespace pelorix
