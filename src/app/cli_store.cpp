// Settings and storage commands. Filled in with the settings store.
#include <ostream>

#include "app/commands.h"

namespace pelorix {
namespace {
int NotYet(CommandContext& ctx, const char* name) {
  ctx.err << "pelorix " << name << ": not available yet\n";
  return 1;
}
}  // namespace

int RunAccountCommand(CommandContext& ctx) { return NotYet(ctx, "account"); }
int RunFilterCommand(CommandContext& ctx) { return NotYet(ctx, "filter"); }
int RunSetCommand(CommandContext& ctx) { return NotYet(ctx, "set"); }
int RunGetCommand(CommandContext& ctx) { return NotYet(ctx, "get"); }
int RunIpTableCommand(CommandContext& ctx) { return NotYet(ctx, "iptable"); }

}  // namespace pelorix
