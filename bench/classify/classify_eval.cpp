// Two-fold run of the learning judge over a corpus folder (spam/, ham/):
// learns one half through the real token store, scores the other, and the
// other way round. Prints "label score file" per message and the learning
// and judging speed, so that a driver can set the figures beside peers'.
//
//   pelorix_classify_eval CORPUS header|whole|peekK [STORE_DIR] [--alternate]
//
// The halves are the earlier and the later messages of each class in file
// order (as a user learns from older mail and judges newer), or with
// --alternate every other message.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "classify/classifier.h"
#include "engine/learning.h"
#include "engine/message_file.h"
#include "engine/origin.h"
#include "mime/mail_message.h"

namespace fs = std::filesystem;
using namespace pelorix;

namespace {

struct TItem {
  fs::path File;
  bool Spam = false;
  int Fold = 0;
  std::vector<std::string> Tokens;
  std::uint64_t Identity = 0;
  std::vector<std::string> LearnTokens;  // with --learn-whole: the whole message's
};

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: pelorix_classify_eval CORPUS header|whole|peekK [STORE_DIR]\n";
    return 2;
  }
  const fs::path corpus = argv[1];
  const std::string modeText = argv[2];
  const int mode = modeText == "header"  ? 0
                   : modeText == "whole" ? -1
                                         : std::stoi(modeText.substr(4));
  bool alternate = false;
  // Learn whole messages (as `pelorix learn` does) and judge by the mode.
  bool learnWhole = false;
  TScoringParams params;  // --params=STRENGTH,PRIOR,MINDEV,MAXCLUES
  // Token families left out, for trying what a family is worth: "ho:,hn:".
  std::string drop;
  fs::path storeDir = fs::temp_directory_path() / "pelorix-eval";
  for (int i = 3; i < argc; ++i) {
    if (std::string(argv[i]) == "--alternate")
      alternate = true;
    else if (std::string(argv[i]) == "--learn-whole")
      learnWhole = true;
    else if (std::string(argv[i]).rfind("--drop=", 0) == 0)
      drop = argv[i] + 7;
    else if (std::string(argv[i]).rfind("--params=", 0) == 0)
      std::sscanf(argv[i] + 9, "%lf,%lf,%lf,%zu", &params.Strength, &params.UnknownProbability,
                  &params.MinDeviation, &params.MaxClues);
    else
      storeDir = argv[i];
  }
  TIpLocationTable table(storeDir / "home");
  table.Refresh();

  std::vector<TItem> items;
  for (const char* cls : {"spam", "ham"}) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(corpus / cls))
      files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (std::size_t k = 0; k < files.size(); ++k) {
      const int fold = alternate ? static_cast<int>(k % 2) : (2 * k < files.size() ? 0 : 1);
      items.push_back({files[k], std::string(cls) == "spam", fold, {}, 0, {}});
    }
  }

  const auto tokenizeStart = std::chrono::steady_clock::now();
  for (auto& item : items) {
    TMailMessage m;
    ParseMessageText(ReadAll(item.File), m, mode != 0);
    std::vector<std::string> body;
    if (mode != 0)
      body = BodyLinesForMode(BodyLines(m), mode);
    item.Tokens = MessageTokens(m, mode != 0 ? &body : nullptr, SenderRouteOf(m, table));
    item.Identity = MessageIdentity(m);
    if (learnWhole) {
      TMailMessage whole;
      ParseMessageText(ReadAll(item.File), whole, true);
      const std::vector<std::string> all = BodyLines(whole);
      item.LearnTokens = MessageTokens(whole, &all, SenderRouteOf(whole, table));
    }
    if (!drop.empty()) {
      std::erase_if(item.Tokens, [&drop](const std::string& t) {
        for (std::size_t b = 0; b < drop.size();) {
          const auto e = std::min(drop.find(',', b), drop.size());
          if (e > b && t.compare(0, e - b, drop, b, e - b) == 0)
            return true;
          b = e + 1;
        }
        return false;
      });
    }
  }
  const double tokenizeSeconds = Seconds(tokenizeStart);

  double learnSeconds = 0, scoreSeconds = 0;
  std::size_t learnt = 0, scored = 0;
  std::uintmax_t storeBytes = 0;
  for (int fold = 0; fold < 2; ++fold) {
    fs::remove_all(storeDir);
    fs::create_directories(storeDir);
    auto store = TTokenStore::Open(TTokenStore::PathIn(storeDir));
    if (!store) {
      std::cerr << "cannot open the store in " << storeDir << "\n";
      return 1;
    }
    auto start = std::chrono::steady_clock::now();
    store->Begin();
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (items[i].Fold == fold)
        continue;
      store->Learn(items[i].Identity, items[i].Spam ? TLearnClass::Spam : TLearnClass::Good, mode,
                   TokenHashes(learnWhole ? items[i].LearnTokens : items[i].Tokens));
      ++learnt;
    }
    store->Commit();
    learnSeconds += Seconds(start);
    storeBytes = std::max(storeBytes, fs::file_size(TTokenStore::PathIn(storeDir)));
    const TTokenSnapshot snap = store->Snapshot();
    start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (items[i].Fold != fold)
        continue;
      const TScore s = ScoreTokens(
          items[i].Tokens, [&snap](const std::string& t) { return snap.Find(TokenHash(t)); },
          snap.SpamMessages, snap.GoodMessages, params);
      ++scored;
      std::printf("%s %.6f %s %s\n", items[i].Spam ? "spam" : "ham", s.Probability,
                  items[i].File.filename().c_str(), CluesText(s.Clues, 3).c_str());
    }
    scoreSeconds += Seconds(start);
  }
  std::fprintf(stderr,
               "pelorix %s: tokenize %.1f us/msg, learn %.1f us/msg, score %.1f us/msg, store %ju "
               "bytes\n",
               modeText.c_str(), 1e6 * tokenizeSeconds / double(items.size()),
               1e6 * learnSeconds / double(learnt), 1e6 * scoreSeconds / double(scored),
               storeBytes);
  fs::remove_all(storeDir);
  return 0;
}
