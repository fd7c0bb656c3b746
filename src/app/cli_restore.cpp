// Getting deleted mail back: the whole copies kept before each deletion.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>

#include "app/args.h"
#include "app/commands.h"
#include "engine/quarantine.h"
#include "engine/run_state.h"
#include "mime/mail_message.h"

namespace pelorix {

int RunRestoreCommand(CommandContext& ctx) {
  bool list = false;
  std::optional<std::string> account;
  std::optional<std::string> mboxFile;
  std::vector<std::string> keys;
  ArgParser(ctx.args)
      .Switch("--list", &list)
      .Option("--account", &account)
      .Option("--mbox", &mboxFile)
      .Positionals(&keys, 0, -1)
      .Parse();
  if (list == mboxFile.has_value()) {
    throw UsageError("give --list or --mbox FILE");
  }

  std::vector<TQuarantineEntry> chosen;
  for (TQuarantineEntry& entry : ListQuarantine(ctx.home)) {
    if (account && entry.AccountKey != *account)
      continue;
    const std::string stem = entry.File.stem().string();
    if (!keys.empty() && std::none_of(keys.begin(), keys.end(), [&](const std::string& k) {
          return k == entry.MessageKey || k == stem;
        })) {
      continue;
    }
    chosen.push_back(std::move(entry));
  }

  if (list) {
    for (const TQuarantineEntry& e : chosen) {
      ctx.out << e.AccountKey << '\t' << LocalDateTimeText(e.Saved) << '\t' << e.Sender << '\t'
              << e.Subject << '\t' << (e.MessageKey.empty() ? e.File.stem().string() : e.MessageKey)
              << '\t' << e.Size << '\n';
    }
    return 0;
  }
  if (chosen.empty()) {
    ctx.err << "pelorix restore: no kept copy matches\n";
    return 1;
  }
  std::string mbox;
  // Oldest first, as a mail program would have received them.
  for (auto it = chosen.rbegin(); it != chosen.rend(); ++it) {
    std::ifstream in(it->File, std::ios::binary);
    const std::string message((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
      ctx.err << "pelorix restore: cannot read " << it->File.string() << "\n";
      return 1;
    }
    TEmailAddress from = ParseAddressLenient(it->Sender);
    AppendMboxrd(mbox, message, from.Address, it->Saved);
  }
  std::ofstream out(*mboxFile, std::ios::binary | std::ios::app);
  out << mbox;
  out.flush();
  if (!out) {
    ctx.err << "pelorix restore: cannot write " << *mboxFile << "\n";
    return 1;
  }
  ctx.out << "restored " << chosen.size() << " messages to " << *mboxFile << "\n";
  return 0;
}

}  // namespace pelorix
