#pragma once
// Command-line mode: each command group lives in its own file and gets the
// resolved home folder and the arguments after the command word.

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace pelorix {

struct CommandContext {
  std::filesystem::path home;
  std::vector<std::string> args;  // after the command word
  std::ostream& out;
  std::ostream& err;
};

// Starts the window for a home folder with the arguments that were not
// options (the first may hold "auto"); returns the exit status.
using WindowStart =
    std::function<int(const std::filesystem::path& home, const std::vector<std::string>& args)>;

// Exit status: 0 done, 1 failure (one line on err), 2 usage error.
// Without a command the window starts through startWindow, when given.
int RunCommandLine(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err,
                   const WindowStart& startWindow = {});

// Settings and storage commands (cli_store.cpp).
int RunAccountCommand(CommandContext& ctx);
int RunFilterCommand(CommandContext& ctx);
int RunSetCommand(CommandContext& ctx);
int RunGetCommand(CommandContext& ctx);
int RunIpTableCommand(CommandContext& ctx);

// Engine commands (cli_engine.cpp).
int RunCheckCommand(CommandContext& ctx);
int RunDeleteCommand(CommandContext& ctx);
// Kept copies of deleted mail (cli_restore.cpp).
int RunRestoreCommand(CommandContext& ctx);

// The learning judge (cli_learn.cpp).
int RunLearnCommand(CommandContext& ctx);
int RunMarkCommand(CommandContext& ctx);
int RunClassifyCommand(CommandContext& ctx);
int RunFriendsCommand(CommandContext& ctx);

// Certificate commands (cli_tls.cpp).
int RunTlsCommand(CommandContext& ctx);

// Text of `pelorix --help`.
std::string UsageText();

}  // namespace pelorix
