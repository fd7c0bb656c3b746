#pragma once
// OAuth sign-in commands (cli_oauth.cpp), called by the account commands.

#include <optional>
#include <string>

#include "app/commands.h"

namespace pelorix {

struct TOAuthAccountOptions {
  std::string Provider;
  std::string User;
  std::optional<std::string> Server;    // the provider's when not given
  std::optional<std::string> Security;  // the provider's when not given
  std::string Note;
};
// account add --oauth PROVIDER --user U [--server S] [--security MODE] [--note N]
int OAuthAccountAdd(CommandContext& ctx, const TOAuthAccountOptions& options);
// account login USER[HOST] [--browser]: the device grant where the provider
// has one, unless noDevice; else the browser through the loopback address.
int OAuthAccountLogin(CommandContext& ctx, const std::string& key, bool noDevice);
// account logout USER[HOST]: revokes where the provider allows, removes the tokens.
int OAuthAccountLogout(CommandContext& ctx, const std::string& key);

}  // namespace pelorix
