// Check and deletion commands. Filled in with the check engine.
#include <ostream>

#include "app/commands.h"

namespace pelorix {

int RunCheckCommand(CommandContext& ctx) {
  ctx.err << "pelorix check: not available yet\n";
  return 1;
}
int RunDeleteCommand(CommandContext& ctx) {
  ctx.err << "pelorix delete: not available yet\n";
  return 1;
}

}  // namespace pelorix
