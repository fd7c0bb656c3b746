// The learning judge end to end, as a new user meets it: a fresh home
// learns the earlier half of each class of a corpus folder (spam/, ham/)
// the way `pelorix learn` does, then a header check of a Dovecot mailbox
// holding the later half marks spam at the default cuts. Prints spam
// caught, good mail marked spam and unsure rows, and the check's time with
// and without the judge.
//
//   pelorix_judge_e2e CORPUS
//
// Needs root and Dovecot (Debian dovecot-pop3d); skips itself otherwise.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "common/bench_server.h"
#include "engine/check_run.h"
#include "engine/learn_sources.h"
#include "engine/origin.h"
#include "engine/quarantine.h"
#include "engine/record_files.h"
#include "store/accounts.h"
#include "store/mail_plan.h"
#include "store/settings_store.h"
#include "support/dovecot.h"
#include "support/process.h"

using namespace pelorix;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

double Check(const fs::path& home, TSettingsStore& store, bool judge) {
  TMailPlan plan;
  plan.Load(store);
  plan.AutoJudge = judge;
  plan.Save(store);
  TQuietSink sink;
  TTmpSweep sweep = PrepareTmpFolder(home);
  const auto start = std::chrono::steady_clock::now();
  TCheckEngine engine(home, store, sink);
  engine.LoadPlan();
  engine.StartHeaderCheck();
  engine.WaitForWorkers();
  engine.CheckFinished();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: pelorix_judge_e2e CORPUS\n");
    return 2;
  }
  if (auto why = test::TDovecotServer::SkipReason(); !why.empty()) {
    std::fprintf(stderr, "skipped: %s\n", why.c_str());
    return 0;
  }
  const fs::path corpus = argv[1];
  test::TTempFolder work("pelorix-judge-e2e");
  const fs::path home = fs::path(work.Path()) / "home";
  std::vector<std::string> mailbox;
  std::map<std::string, bool> spamById;  // Message-ID -> spam
  std::vector<fs::path> learn[2];
  for (int spam = 0; spam < 2; ++spam) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(corpus / (spam ? "spam" : "ham")))
      files.push_back(e.path());
    std::sort(files.begin(), files.end());
    const fs::path folder = fs::path(work.Path()) / (spam ? "learn-spam" : "learn-ham");
    fs::create_directories(folder);
    for (std::size_t k = 0; k < files.size(); ++k) {
      if (2 * k < files.size()) {
        fs::copy_file(files[k], folder / files[k].filename());
      } else {
        const std::string text = ReadAll(files[k]);
        mailbox.push_back(text);
        spamById[MessageIdOf(text)] = spam;
      }
    }
    learn[spam].push_back(folder);
  }
  test::TDovecotServer dovecot;
  dovecot.AddUser("bob", "pw", mailbox);
  dovecot.Start();

  auto store = TSettingsStore::Open(home);
  SaveAccounts(*store, {{dovecot.HostPort(), "bob", "pw", ""}});
  TMailPlan plan;
  plan.Load(*store);
  plan.CheckSummary = true;
  plan.Save(*store);
  {
    auto learnt = TTokenStore::Open(TTokenStore::PathIn(home));
    TIpLocationTable table(home);
    table.Refresh();
    const auto start = std::chrono::steady_clock::now();
    const TLearnTotals s = LearnSources(*learnt, learn[1], TLearnClass::Spam, table);
    const TLearnTotals g = LearnSources(*learnt, learn[0], TLearnClass::Good, table);
    std::printf("learnt %d spam and %d good messages in %.2f s\n", s.Total(), g.Total(),
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  // PELORIX_E2E_SERVE=SECONDS: leave the home and the server up for a look
  // at the window (which checks by itself after a minute) instead.
  if (const char* serve = std::getenv("PELORIX_E2E_SERVE")) {
    TMailPlan auto_;
    auto_.Load(*store);
    auto_.autocheck = true;
    auto_.checkTime = 1;
    auto_.Save(*store);
    store.reset();
    std::printf("home %s\n", home.c_str());
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(std::atoi(serve)));
    return 0;
  }
  const double off = Check(home, *store, false);
  const double on = Check(home, *store, true);
  int spam = 0, good = 0, caught = 0, marked = 0, unsure = 0, unknown = 0;
  TMailList list;
  list.LoadRecordFile(AllRecordPath(home), true);
  for (const TMailRow& row : list.Rows()) {
    const auto it = spamById.find(row.Items[mcMessageKey]);
    if (it == spamById.end()) {
      ++unknown;
      continue;
    }
    const bool yes = row.Items[mcVerdictMark] == "Yes";
    if (std::getenv("PELORIX_E2E_SCORES"))
      std::printf("%s %d %s %s\n", it->second ? "spam" : "ham", row.Score,
                  row.Items[mcMessageKey].c_str(), row.Clues.c_str());
    (it->second ? spam : good) += 1;
    if (it->second && yes)
      ++caught;
    if (!it->second && yes)
      ++marked;
    unsure += row.Unsure;
  }
  std::printf(
      "header check of %zu messages at SpamCut %d / UnsureCut %d: spam caught %d of %d (%.1f%%), "
      "good marked spam %d of %d (%.2f%%), unsure %d; %d rows without a known Message-ID\n"
      "check %.2f s with the judge, %.2f s without\n",
      list.Count(), plan.SpamCut, plan.UnsureCut, caught, spam, 100.0 * caught / std::max(1, spam),
      marked, good, 100.0 * marked / std::max(1, good), unsure, unknown, on, off);
  return 0;
}
