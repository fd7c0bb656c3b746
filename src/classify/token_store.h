#pragma once
// What the judge has learnt, in one SQLite file of the home folder: token
// counts, the messages learnt (so a message counts once and can be moved to
// the other class), messages waiting to be learnt as good once the user's
// mail program took them, and the user's friends. Every change is one
// transaction; a crash leaves the store as it was before or after it.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "classify/bayes.h"

struct sqlite3;

namespace pelorix {

inline constexpr const char* kLearnStoreName = "learn.db";

// Counts of every token, in memory for scoring a run's messages.
struct TTokenSnapshot {
  std::unordered_map<std::uint64_t, TTokenCounts> Tokens;
  std::uint64_t SpamMessages = 0;
  std::uint64_t GoodMessages = 0;
  TTokenCounts Find(std::uint64_t hash) const {
    const auto it = Tokens.find(hash);
    return it == Tokens.end() ? TTokenCounts{} : it->second;
  }
};

enum class TLearnClass { Good = 0, Spam = 1 };

enum class TLearnOutcome {
  Learnt,   // new
  Already,  // learnt before as the same class: nothing changed
  Moved,    // learnt before as the other class: moved over
};

struct TLearntMessage {
  TLearnClass Class = TLearnClass::Good;
  int Mode = 0;  // what was read of it: 0 header, -1 whole, K first body lines
};

// A message seen at a check, left alone, waiting to be gone from its server.
struct TPendingMessage {
  std::string AccountKey;
  std::string MessageKey;
  std::uint64_t Identity = 0;
  int Mode = 0;
  std::vector<std::uint64_t> Tokens;
};

class TTokenStore {
 public:
  // Opens (creating) the store; nullptr with the reason when it cannot.
  static std::unique_ptr<TTokenStore> Open(const std::filesystem::path& file,
                                           std::string* error = nullptr);
  static std::filesystem::path PathIn(const std::filesystem::path& home) {
    return home / kLearnStoreName;
  }
  struct TOpenTag {
   private:
    TOpenTag() = default;
    friend class TTokenStore;
  };
  explicit TTokenStore(TOpenTag) {}
  ~TTokenStore();
  TTokenStore(const TTokenStore&) = delete;
  TTokenStore& operator=(const TTokenStore&) = delete;

  TTokenSnapshot Snapshot();
  std::uint64_t SpamMessages();
  std::uint64_t GoodMessages();
  std::uint64_t TokenCount();

  // Changes made between Begin and Commit go to disk together; without
  // Begin each call is its own transaction. Token counts are gathered in
  // memory until Commit.
  bool Begin();
  bool Commit();
  void Rollback();

  // Learns a message's tokens as `cls`; `identity` names the message.
  TLearnOutcome Learn(std::uint64_t identity, TLearnClass cls, int mode,
                      const std::vector<std::uint64_t>& tokens);
  // Takes back what Learn counted for the message; false when it was not learnt.
  bool Unlearn(std::uint64_t identity, const std::vector<std::uint64_t>& tokens);
  std::optional<TLearntMessage> Learnt(std::uint64_t identity);

  // Messages left alone at a check, by account; one of the same key already
  // waiting stays as it is.
  void AddPending(const TPendingMessage& message);
  // The keys of the account's waiting messages.
  std::unordered_set<std::string> PendingKeys(const std::string& accountKey);
  // Keeps only the newest `keep` waiting messages of the account.
  void CapPending(const std::string& accountKey, std::size_t keep);
  // Learns as good every pending message of the account whose key is not
  // among `present`, and drops it; returns how many.
  int LearnGone(const std::string& accountKey, const std::vector<std::string>& present);
  void DropPending(const std::string& accountKey, const std::string& messageKey);
  std::size_t PendingCount();

  void AddFriend(const std::string& address, const std::string& source);
  bool IsFriend(const std::string& address);
  // Adds those not yet friends; returns how many.
  int AddFriends(const std::vector<std::string>& addresses, const std::string& source);
  std::vector<std::string> Friends();  // lower case, sorted

  // Forgets everything learnt (friends stay).
  bool Clear();
  // Drops the rarest, oldest tokens beyond `maxTokens`; returns how many.
  std::size_t Expire(std::size_t maxTokens);

  const std::string& LastError() const { return error_; }

 private:
  bool Exec(const char* sql);
  std::uint64_t Meta(const char* name);
  void AddMeta(const char* name, long long delta);
  bool Flush();
  void Count(const std::vector<std::uint64_t>& tokens, TLearnClass cls, int delta);
  bool InTransaction() const { return depth_ > 0; }

  sqlite3* db_ = nullptr;
  int depth_ = 0;
  std::string error_;
  std::unordered_map<std::uint64_t, std::pair<long long, long long>> deltas_;
  long long spamDelta_ = 0, goodDelta_ = 0;
};

}  // namespace pelorix
