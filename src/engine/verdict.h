#pragma once
// The spam verdict of one fetched message: the header scan, the recipient
// test and the rules in their fixed order, writing the message's block of
// the worker's report on the way.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "store/filter_lists.h"

namespace pelorix {

class TMailMessage;
class TReportSink;
class TIpLocationTable;

struct THeaderScan {
  std::vector<std::string> RecipientLines;
  std::vector<std::string> ReceivedLines;
  std::string ToValue;
  std::string RelayMatch;
};

// Scans the decoded header lines in order.
THeaderScan ScanHeaders(const std::vector<std::string>& decodedLines,
                        const std::vector<std::string>& senderList);

// The header lines as the rules see them: each raw line decoded to UTF-8,
// encoded words decoded; lines without encoded words keep their blanks.
std::vector<std::string> DecodedHeaderLines(const std::vector<std::string>& rawLines);

// True when no recipient line names the user or holds an accepted entry.
bool NotAddressedToMe(const std::vector<std::string>& recipientLines, std::string_view user,
                      const std::vector<std::string>& acceptedList);

// One length rule ("==500", ">=  0", "<=1000") against a size (-1 unknown).
bool LengthRuleMatches(std::string_view rule, long long size);

struct TJudgeInput {
  const TMailMessage* Message = nullptr;
  long long Size = -1;   // from LIST n, -1 when unknown
  std::string User;      // the account's user name, trimmed
  std::string DateText;  // as stored in the record
  bool WholeMessage = false;
  std::vector<std::string> BodyLines;  // with the whole-message switch
  bool CheckNoMsg = false;
  bool CheckDeliver = false;
  const TFilterLists* Lists = nullptr;
  std::filesystem::path Home;  // for the IP table
  // The table a worker keeps open; without one it is looked for per message.
  const TIpLocationTable* IpTable = nullptr;
};

struct TVerdict {
  bool Spam = false;
  bool BlacklistHit = false;
  bool JudgedSpam = false;  // the learning judge, not a list, found it spam
  bool NotAddressedToMe = true;
  std::string Reason;
  std::string SenderText;
  std::string SubjectText;
  std::string SenderRoute;     // "→" + location per hop
  std::string RecipientsText;  // "→" + recipient per recipient line
  THeaderScan Scan;
};

// Judges the message and writes its block to the report, up to (not
// including) the verdict line.
TVerdict Judge(const TJudgeInput& input, TReportSink& report);

// The verdict line of a spam verdict.
std::string VerdictLine(const TVerdict& verdict, bool deleteRubbish);

// "5" highest .. "1" lowest, and the report's word for it.
std::string PriorityDigit(const TMailMessage& message);
std::string PriorityWord(std::string_view digit);

}  // namespace pelorix
