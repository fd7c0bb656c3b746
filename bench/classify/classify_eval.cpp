// Two-fold run of the learning judge over a corpus folder (spam/, ham/):
// learns one half through the real token store, scores the other, and the
// other way round. Prints "label score file" per message and the learning
// and judging speed, so that a driver can set the figures beside peers'.
//
//   pelorix_classify_eval CORPUS header|whole|peekK [STORE_DIR]

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
  std::vector<std::string> Tokens;
  std::uint64_t Identity = 0;
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
  const fs::path storeDir =
      argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path() / "pelorix-eval";
  TIpLocationTable table(storeDir / "home");
  table.Refresh();

  std::vector<TItem> items;
  for (const char* cls : {"spam", "ham"}) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(corpus / cls))
      files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files)
      items.push_back({f, std::string(cls) == "spam", {}, 0});
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
      if (static_cast<int>(i % 2) == fold)
        continue;
      store->Learn(items[i].Identity, items[i].Spam ? TLearnClass::Spam : TLearnClass::Good, mode,
                   TokenHashes(items[i].Tokens));
      ++learnt;
    }
    store->Commit();
    learnSeconds += Seconds(start);
    storeBytes = std::max(storeBytes, fs::file_size(TTokenStore::PathIn(storeDir)));
    const TClassifier judge(store->Snapshot(), {}, TCuts{});
    start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (static_cast<int>(i % 2) != fold)
        continue;
      const TScore s = judge.Score(items[i].Tokens);
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
