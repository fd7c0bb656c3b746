// Getting deleted mail back: the whole copies kept before each deletion.
#include <algorithm>
#include <optional>
#include <ostream>

#include "app/args.h"
#include "app/commands.h"
#include "engine/learn_sources.h"
#include "engine/quarantine.h"
#include "engine/reply.h"
#include "engine/restore.h"
#include "engine/run_state.h"
#include "store/settings_store.h"

namespace pelorix {

int RunRestoreCommand(CommandContext& ctx) {
  bool list = false;
  bool resend = false;
  std::optional<std::string> account;
  std::optional<std::string> mboxFile;
  std::vector<std::string> keys;
  ArgParser(ctx.args)
      .Switch("--list", &list)
      .Switch("--resend", &resend)
      .Option("--account", &account)
      .Option("--mbox", &mboxFile)
      .Positionals(&keys, 0, -1)
      .Parse();
  if (int(list) + int(resend) + int(mboxFile.has_value()) != 1) {
    throw UsageError("give one of --list, --mbox FILE or --resend");
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
    // One line per copy, fields split by tabs: texts from mail lose theirs.
    auto field = [](std::string text) {
      std::replace_if(
          text.begin(), text.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; },
          ' ');
      return text;
    };
    for (const TQuarantineEntry& e : chosen) {
      ctx.out << field(e.AccountKey) << '\t' << LocalDateTimeText(e.Saved) << '\t'
              << field(e.Sender) << '\t' << field(e.Subject) << '\t'
              << field(e.MessageKey.empty() ? e.File.stem().string() : e.MessageKey) << '\t'
              << e.Size << '\n';
    }
    return 0;
  }
  if (chosen.empty()) {
    ctx.err << "pelorix restore: no kept copy matches\n";
    return 1;
  }
  std::string error;
  if (mboxFile) {
    if (!AppendCopiesToMbox(chosen, *mboxFile, &error)) {
      ctx.err << "pelorix restore: " << error << "\n";
      return 1;
    }
    std::vector<std::filesystem::path> copies;
    for (const auto& e : chosen)
      copies.push_back(e.File);
    LearnRestored(ctx.home, copies);
    ctx.out << "restored " << chosen.size() << " messages to " << *mboxFile << "\n";
    return 0;
  }

  auto store = TSettingsStore::Open(ctx.home, &error);
  if (!store) {
    ctx.err << "pelorix restore: " << error << "\n";
    return 1;
  }
  const TSmtpSettings settings = ReadSmtpSettings(*store);
  std::vector<std::filesystem::path> files;
  // Oldest first, as they arrived the first time.
  for (auto it = chosen.rbegin(); it != chosen.rend(); ++it)
    files.push_back(it->File);
  const int sent = ResendMessages(settings, files, &error);
  LearnRestored(ctx.home, std::vector<std::filesystem::path>(files.begin(),
                                                             files.begin() + std::max(0, sent)));
  if (static_cast<std::size_t>(sent) != files.size()) {
    // A server's reply may span lines; the failure stays one line.
    std::replace_if(
        error.begin(), error.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    ctx.err << "pelorix restore: " << sent << " of " << files.size() << " sent: " << error << "\n";
    return 1;
  }
  ctx.out << "sent " << sent << " messages to " << settings.MyEmail << "\n";
  return 0;
}

}  // namespace pelorix
