#pragma once
// One mail message in memory: the raw header lines, the fields derived from
// them, and the body as plain lines or as decoded parts. Filled line by line
// from a TLineSource (a POP3 session or a test).

#include <cstddef>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mime/errors.h"
#include "mime/line_source.h"

namespace pelorix {

enum class TMessagePriority { mpHighest, mpHigh, mpNormal, mpLow, mpLowest };

struct TEmailAddress {
  std::string Name;     // UTF-8
  std::string Address;  // UTF-8
  // The header text could not be read as an address; Address holds it as it
  // stood and Text() returns it unchanged.
  bool Raw = false;
  // The composed form shown to the user ("Name <local@host>").
  std::string Text() const;
  // Parses one address; raises EEmailParseError "@ Outside address" for an
  // "@" after a closed <...> pair.
  void SetText(std::string_view text);
};

class TEmailAddressList {
 public:
  std::vector<TEmailAddress> Items;
  std::size_t Count() const { return Items.size(); }
  void Clear() { Items.clear(); }
  // Clears, then parses a "," / ";" separated list. A malformed piece keeps
  // its raw text as the address instead of failing the whole list.
  void SetText(std::string_view text);
  // The same, each piece passed through `convert` (e.g. encoded-word
  // decoding) after the split and before it is parsed.
  void SetText(std::string_view text, const std::function<std::string(std::string_view)>& convert);
  void Add(TEmailAddress a) { Items.push_back(std::move(a)); }
};

// One address; a malformed one keeps its trimmed text as a Raw address.
TEmailAddress ParseAddressLenient(std::string_view text);
// The pieces of an address list: split at "," and ";" outside quotes,
// comments and angle brackets, group names ("Friends:") dropped, trimmed,
// empty pieces left out.
std::vector<std::string> SplitAddressList(std::string_view text);

class THeaderList {
 public:
  std::vector<std::string> Lines;
  void Clear() { Lines.clear(); }
  void Add(std::string line) { Lines.push_back(std::move(line)); }
  // Value of the first line named `name` (ignoring case), continuation lines
  // unfolded with one blank, trimmed. Empty when there is none.
  std::string Values(std::string_view name) const;
  // The lines folded at blanks to at most `width` characters where possible,
  // continuation lines starting with a blank; for sending.
  std::vector<std::string> Folded(std::size_t width = 78) const;
  // Replaces the first line named `name` (and its continuations) or appends
  // one; an empty value removes it. For building messages to send.
  void SetValue(std::string_view name, std::string_view value);
};

class TMessagePart {
 public:
  virtual ~TMessagePart() = default;
  std::string ContentType, ContentTransfer, ContentDisposition, CharSet;
  std::vector<std::string> ExtraHeaders;
};

class TTextPart : public TMessagePart {
 public:
  std::vector<std::string> Body;  // transfer-decoded lines, bytes in CharSet
  // Body converted to UTF-8 (CharSet, else valid UTF-8 kept, else GB18030).
  std::vector<std::string> Utf8Body() const;
};

class TAttachmentPart : public TMessagePart {
 public:
  std::string FileName;  // UTF-8, as the message names it
  std::filesystem::path StoredFile;
};

using TMessageParts = std::vector<std::unique_ptr<TMessagePart>>;

class TAttachmentStore;

// Bounds that keep hostile input from growing memory or disk without limit.
struct TMessageLimits {
  std::size_t MaxHeaderBytes = 1 << 20;  // header lines kept (bytes + per-line cost)
  std::size_t MaxBodyBytes = 64 << 20;   // body lines read and kept, parts included
  std::size_t MaxParts = 10000;          // more parts are kept as plain body lines
  std::size_t MaxDepth = 32;             // deeper multipart nesting likewise
};

class TMailMessage {
 public:
  TMailMessage();
  ~TMailMessage();
  TMailMessage(const TMailMessage&) = delete;
  TMailMessage& operator=(const TMailMessage&) = delete;
  // A move takes the attachment files along; the target's old ones go.
  TMailMessage(TMailMessage&&) noexcept;
  TMailMessage& operator=(TMailMessage&&) noexcept;

  THeaderList Headers;  // raw header lines exactly as received (bytes)
  std::string Subject;  // UTF-8, encoded words decoded
  TEmailAddress From, Sender, ReceiptRecipient;
  TEmailAddressList Recipients, CCList, ReplyTo;
  std::string MessageId, Organization, References;  // UTF-8
  std::vector<std::string> NewsGroups;
  std::time_t Date = 0;  // UTC seconds since the epoch; 0 = absent or unreadable
  TMessagePriority Priority = TMessagePriority::mpNormal;
  std::string ContentType, CharSet, ContentTransferEncoding, ContentDisposition;
  std::vector<std::string> Body;  // plain body lines (bytes in CharSet), ".." unstuffed
  TMessageParts MessageParts;

  TMessageLimits Limits;
  // Set when a limit made reading drop header or body lines.
  bool Truncated = false;

  // Empties every field, removes attachment files.
  void Clear();
  // Reads header lines until a line equal to terminator (empty terminator:
  // until an empty line or "."), keeps them in Headers, derives the fields;
  // returns the line that ended the reading.
  std::string ReadHeader(TLineSource& source, std::string_view terminator);
  // Reads the body until the line ".". Raises EMailError "Unknown Message
  // Part Type." for a part whose headers end at ".".
  void ReadBody(TLineSource& source);
  // Derives the fields again from Headers. Never raises.
  void ProcessHeaders();

  // Plain body lines converted to UTF-8 (CharSet, else raw rules).
  std::vector<std::string> Utf8Body() const;

  // The private folder holding this message's attachment files (empty until
  // the first attachment is stored).
  std::filesystem::path AttachmentFolder() const;

 private:
  void ClearFields();
  std::unique_ptr<TAttachmentStore> store_;
};

// "Priority" / "X-Priority" text: "urgent" high, "non-urgent" and
// "non-priority" low, else the first token 1 (highest) .. 5 (lowest);
// anything else normal.
TMessagePriority PriorityFromText(std::string_view text);

// Bytes in `charset` to UTF-8 lines; an empty or unknown charset reads valid
// UTF-8 as it is and anything else as GB18030.
std::vector<std::string> LinesToUtf8(const std::vector<std::string>& lines,
                                     std::string_view charset);

}  // namespace pelorix
