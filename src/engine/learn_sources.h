#pragma once
// Teaching the learning judge from what the user did and from mail kept
// elsewhere: a message's files in tmp/ or its kept copy, mbox files,
// Maildirs, folders of .eml files and Thunderbird profiles. The command
// line and the window call the same functions.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "classify/token_store.h"

namespace pelorix {

class TMailMessage;
class TIpLocationTable;

struct TLearnTotals {
  int Learnt = 0;
  int Already = 0;
  int Moved = 0;
  int Unreadable = 0;
  int Total() const { return Learnt + Already + Moved; }
};

// Learns a message as `cls`. `body` holds the body lines read of it (nullptr:
// the header only), `mode` says what they are (0 header, -1 whole, K first
// lines). A message learnt before with another mode is first taken back
// with the tokens of that mode, so counts stay exact.
TLearnOutcome LearnParsedMessage(TTokenStore& store, const TMailMessage& message,
                                 const std::vector<std::string>* body, int mode, TLearnClass cls,
                                 const TIpLocationTable& table);
// Takes a message back; false when it was not learnt.
bool UnlearnParsedMessage(TTokenStore& store, const TMailMessage& message,
                          const std::vector<std::string>* body, const TIpLocationTable& table);

// A whole message's text (as kept, or a .eml) learnt, whole.
TLearnOutcome LearnMessageText(TTokenStore& store, std::string_view text, TLearnClass cls,
                               const TIpLocationTable& table);

// The messages of an mbox file (mboxrd/mboxo), a Maildir (cur/, new/), a
// folder of files (searched below, .msf and hidden files skipped) or one
// message file, each handed over in turn. False when the path cannot be read.
bool ForEachMessage(const std::filesystem::path& source,
                    const std::function<void(std::string_view text)>& fn);

// Learns every message of the sources as `cls`, in transactions of a
// thousand; `progress` hears the count now and then.
TLearnTotals LearnSources(TTokenStore& store, const std::vector<std::filesystem::path>& sources,
                          TLearnClass cls, const TIpLocationTable& table,
                          const std::function<void(int done)>& progress = {});

// The mail folders of a Thunderbird profile: Junk folders (spam), or the
// Inbox and Sent folders (good), local and IMAP.
std::vector<std::filesystem::path> ThunderbirdFolders(const std::filesystem::path& profile,
                                                      bool junk);
// Addresses of a Thunderbird profile's address books (abook*.sqlite,
// history.sqlite), lower case.
std::vector<std::string> ThunderbirdAddresses(const std::filesystem::path& profile);

// `pelorix learn --thunderbird` and "从Thunderbird学习": the profile's Junk
// folders as spam, Inbox and Sent as good, its address books as friends.
struct TThunderbirdLearnt {
  TLearnTotals Spam, Good;
  int Friends = 0;
};
TThunderbirdLearnt LearnFromThunderbird(TTokenStore& store, const std::filesystem::path& profile,
                                        const TIpLocationTable& table,
                                        const std::function<void(int done)>& progress = {});

// A message of the list by its key, as the judge reads it: the header file
// and the body file of tmp/ or tmp/deleted/, else its kept copy. False
// when none is there.
bool LoadMessageByKey(const std::filesystem::path& home, std::string_view messageKey,
                      TMailMessage& message, std::vector<std::string>& body, bool& hasBody);

// "标为垃圾邮件" / "标为正常邮件" and `pelorix mark`: learns the message of
// each key; returns how many were found. Their waiting entries are dropped.
int MarkMessages(const std::filesystem::path& home, const std::vector<std::string>& keys,
                 TLearnClass cls, std::string* error = nullptr);

// The addresses a reply went to become friends of the judge.
void AddRepliedFriends(const std::filesystem::path& home, std::string_view sendto,
                       std::string_view cc);

// "恢复邮件" and `pelorix restore`: each restored copy is learnt as good,
// taking back its spam learning; returns how many.
int LearnRestored(const std::filesystem::path& home,
                  const std::vector<std::filesystem::path>& copies);

}  // namespace pelorix
