#include "engine/account_secret.h"

#include <ctime>

#include "engine/run_state.h"
#include "store/oauth_account.h"

namespace pelorix {

TQueueEntry WithAccountSecret(TRunState& state, TQueueEntry entry) {
  if (state.Store == nullptr || entry.Server.empty())
    return entry;
  const std::string key = entry.User + "[" + entry.Server + "]";
  if (ReadAccountOAuthProvider(*state.Store, key).empty())
    return entry;
  const TAccessToken token =
      FreshAccessToken(*state.Store, key, static_cast<long long>(std::time(nullptr)));
  entry.Password = token.Token;
  if (!token.Problem.empty())
    state.AddSecretProblem(key, token.Problem);
  return entry;
}

}  // namespace pelorix
