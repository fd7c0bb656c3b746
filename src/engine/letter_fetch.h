#pragma once
// One letter fetched on demand: a row whose body file is missing (a header
// check writes only the header lines) gets it from its server, the message
// found by its key as the deletion worker finds it, and written as a content
// check writes it. Nothing on the server changes: no DELE is ever sent.

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>

#include "engine/check_worker.h"

namespace pelorix {

class TRunState;
class TSettingsStore;
struct TMailRow;

struct TLetterFetch {
  TQueueEntry Account;
  int Number = 0;          // the row's message number, tried first
  std::string MessageKey;  // the row's key (its Message-ID)
};

enum class TLetterFetchStatus { Fetched, Gone, Failed };

struct TLetterFetchResult {
  TLetterFetchStatus Status = TLetterFetchStatus::Failed;
  std::string Line;  // for the user: what became of the fetch
};

// Whether the row's body file is missing (under tmp/ and tmp/deleted/).
bool LetterBodyMissing(const std::filesystem::path& home, const TMailRow& row);
// The fetch for a row: nothing when the row has no key, is marked deleted
// or its account is no longer set up.
std::optional<TLetterFetch> LetterFetchOf(TSettingsStore& store, const TMailRow& row);
// Whether letters are fetched on demand (MailCheck FetchLetters, on unless
// switched off).
bool FetchLettersOnDemand(TSettingsStore& store);

// Connects, finds the message (number n first, then every other one by
// its key), retrieves it and writes tmp/<k>, its ".txt" and, when missing,
// tmp/<k>.msg. Blocks: the window runs it on a thread of its own. `stop`
// is looked at between messages.
TLetterFetchResult FetchLetter(const std::filesystem::path& home, const TLetterFetch& fetch,
                               const TRunState& state, const std::atomic<bool>* stop = nullptr);

}  // namespace pelorix
