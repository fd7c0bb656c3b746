#include <functional>
#include <iostream>

#include "app/commands.h"
#include "classify/classifier.h"
#include "engine/learn_sources.h"
#include "engine/learning.h"
#include "engine/message_file.h"
#include "engine/origin.h"
#include "mime/mail_message.h"
#include "store/accounts.h"
#include "store/atomic_file.h"
#include "store/mail_plan.h"
#include "store/settings_store.h"

namespace pelorix {

namespace fs = std::filesystem;

namespace {

std::unique_ptr<TTokenStore> OpenStore(CommandContext& ctx, const char* command) {
  std::string error;
  auto store = TTokenStore::Open(TTokenStore::PathIn(ctx.home), &error);
  if (!store)
    ctx.err << "pelorix " << command << ": cannot open the learning store: " << error << "\n";
  return store;
}

// The profile named, else the first one found.
std::optional<fs::path> ProfileArg(CommandContext& ctx, std::size_t at, const char* command) {
  if (at < ctx.args.size())
    return fs::path(ctx.args[at]);
  const auto profiles = FindThunderbirdProfiles();
  if (profiles.empty()) {
    ctx.err << "pelorix " << command << ": no Thunderbird profile found\n";
    return std::nullopt;
  }
  return profiles.front();
}

void PrintFriendsAdded(CommandContext& ctx, int added, const fs::path& profile) {
  ctx.out << "friends: " << added << " addresses added from " << profile.string() << "\n";
}

// One progress line, rewritten in place.
std::function<void(int)> Progress(CommandContext& ctx, const char* what) {
  return [&ctx, what](int done) {
    ctx.err << "\r" << what << ": " << done << " messages" << std::flush;
  };
}

void PrintTotals(CommandContext& ctx, const char* what, const TLearnTotals& t) {
  ctx.out << what << ": " << t.Learnt << " learnt, " << t.Moved << " moved from the other class, "
          << t.Already << " already learnt";
  if (t.Unreadable)
    ctx.out << ", " << t.Unreadable << " sources unreadable";
  ctx.out << "\n";
}

}  // namespace

int RunLearnCommand(CommandContext& ctx) {
  const auto& a = ctx.args;
  if (a.empty()) {
    ctx.err
        << "pelorix learn: say what to learn (--spam, --ham, --thunderbird, --status, --clear)\n";
    return 2;
  }
  auto store = OpenStore(ctx, "learn");
  if (!store)
    return 1;
  if (a[0] == "--status") {
    ctx.out << "spam " << store->SpamMessages() << "\ngood " << store->GoodMessages() << "\ntokens "
            << store->TokenCount() << "\nwaiting " << store->PendingCount() << "\nfriends "
            << store->Friends().size() << "\n";
    return 0;
  }
  if (a[0] == "--clear") {
    if (!store->Clear()) {
      ctx.err << "pelorix learn: " << store->LastError() << "\n";
      return 1;
    }
    ctx.out << "learning store cleared\n";
    return 0;
  }
  TIpLocationTable table(ctx.home);
  table.Refresh();
  if (a[0] == "--thunderbird") {
    const auto profile = ProfileArg(ctx, 1, "learn");
    if (!profile)
      return 1;
    const TThunderbirdLearnt t =
        LearnFromThunderbird(*store, *profile, table, Progress(ctx, "thunderbird"));
    ctx.err << "\n";
    PrintFriendsAdded(ctx, t.Friends, *profile);
    PrintTotals(ctx, "spam", t.Spam);
    PrintTotals(ctx, "good", t.Good);
    ctx.out << JudgeStatusText(store->SpamMessages(), store->GoodMessages()) << "\n";
    return t.Spam.Unreadable || t.Good.Unreadable ? 1 : 0;
  }
  std::vector<fs::path> spam, ham;
  {
    std::vector<fs::path>* into = nullptr;
    for (const auto& arg : a) {
      if (arg == "--spam") {
        into = &spam;
      } else if (arg == "--ham" || arg == "--good") {
        into = &ham;
      } else if (!into) {
        ctx.err << "pelorix learn: " << arg << ": say --spam or --ham before it\n";
        return 2;
      } else {
        into->emplace_back(arg);
      }
    }
  }
  int status = 0;
  for (auto [paths, cls, what] : {std::tuple{&spam, TLearnClass::Spam, "spam"},
                                  std::tuple{&ham, TLearnClass::Good, "good"}}) {
    if (paths->empty())
      continue;
    const TLearnTotals t = LearnSources(*store, *paths, cls, table, Progress(ctx, what));
    ctx.err << "\n";
    PrintTotals(ctx, what, t);
    if (t.Unreadable)
      status = 1;
  }
  ctx.out << JudgeStatusText(store->SpamMessages(), store->GoodMessages()) << "\n";
  return status;
}

int RunMarkCommand(CommandContext& ctx) {
  const auto& a = ctx.args;
  if (a.size() < 2 || (a[0] != "spam" && a[0] != "ham" && a[0] != "good")) {
    ctx.err << "pelorix mark: usage: pelorix mark spam|ham KEY...\n";
    return 2;
  }
  const std::vector<std::string> keys(a.begin() + 1, a.end());
  std::string error;
  const int found =
      MarkMessages(ctx.home, keys, a[0] == "spam" ? TLearnClass::Spam : TLearnClass::Good, &error);
  if (!error.empty()) {
    ctx.err << "pelorix mark: " << error << "\n";
    return 1;
  }
  ctx.out << "marked " << found << " of " << keys.size() << " messages as "
          << (a[0] == "spam" ? "spam" : "good") << "\n";
  if (found != static_cast<int>(keys.size())) {
    ctx.err << "pelorix mark: " << keys.size() - static_cast<std::size_t>(found)
            << " keys have no message in the list's files or the kept copies\n";
    return 1;
  }
  return 0;
}

int RunClassifyCommand(CommandContext& ctx) {
  if (ctx.args.empty()) {
    ctx.err << "pelorix classify: usage: pelorix classify FILE...\n";
    return 2;
  }
  TMailPlan plan;
  if (auto settings = TSettingsStore::Open(ctx.home))
    plan.Load(*settings);
  const auto judge = TClassifier::Load(ctx.home, {plan.SpamCut, plan.UnsureCut});
  if (!judge->Ready()) {
    ctx.err << "pelorix classify: " << JudgeStatusText(judge->SpamMessages(), judge->GoodMessages())
            << "\n";
    return 1;
  }
  TIpLocationTable table(ctx.home);
  table.Refresh();
  int status = 0;
  for (const auto& file : ctx.args) {
    auto text = store::ReadWholeFile(file);
    if (!text) {
      ctx.err << "pelorix classify: " << file << ": cannot be read\n";
      status = 1;
      continue;
    }
    TMailMessage m;
    ParseMessageText(*text, m, true);
    const std::vector<std::string> body = BodyLines(m);
    const auto c =
        judge->Classify(MessageTokens(m, &body, SenderRouteOf(m, table)), m.From.Address);
    const char* word = c.Judgement == TJudgement::Spam     ? "spam"
                       : c.Judgement == TJudgement::Unsure ? "unsure"
                                                           : "good";
    ctx.out << c.Score << '\t' << word << '\t' << file << '\t' << (c.Friend ? "friend, " : "")
            << CluesText(c.Clues) << "\n";
  }
  return status;
}

int RunFriendsCommand(CommandContext& ctx) {
  const auto& a = ctx.args;
  if (a.empty() || (a[0] != "list" && a[0] != "add" && a[0] != "import-thunderbird")) {
    ctx.err << "pelorix friends: usage: pelorix friends list | add ADDRESS... | import-thunderbird "
               "[PROFILE_DIR]\n";
    return 2;
  }
  auto store = OpenStore(ctx, "friends");
  if (!store)
    return 1;
  if (a[0] == "list") {
    for (const auto& f : store->Friends())
      ctx.out << f << "\n";
    return 0;
  }
  if (a[0] == "add") {
    int bad = 0;
    for (std::size_t i = 1; i < a.size(); ++i) {
      if (a[i].find('@') == std::string::npos) {
        ctx.err << "pelorix friends: " << a[i] << " is no mail address\n";
        ++bad;
        continue;
      }
      store->AddFriend(a[i], "user");
    }
    return bad ? 1 : 0;
  }
  const auto profile = ProfileArg(ctx, 1, "friends");
  if (!profile)
    return 1;
  PrintFriendsAdded(ctx, store->AddFriends(ThunderbirdAddresses(*profile), "thunderbird"),
                    *profile);
  return 0;
}

}  // namespace pelorix
