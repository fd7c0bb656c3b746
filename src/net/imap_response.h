#pragma once
// IMAP server responses (RFC 3501 / RFC 9051): tagged and untagged status
// responses with their response codes, untagged data (numbers, atoms,
// quoted strings, literals of any size, nested lists) and continuation
// requests. The parser pulls line pieces and literal bytes from a source,
// keeping memory bounded whatever sizes a server announces.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/errors.h"

namespace pelorix {

// The server broke the response grammar or a limit; the stream can no
// longer be trusted, so the connection is given up.
class EImapProtocolError : public EConnectionError {
 public:
  explicit EImapProtocolError(const std::string& what)
      : EConnectionError("IMAP protocol error: " + what) {}
};

struct TImapValue {
  enum class TKind { Atom, Number, String, Nil, List };
  TKind Kind = TKind::Atom;
  std::string Text;  // atom, number text or string bytes
  std::uint64_t Number = 0;
  std::vector<TImapValue> Items;
  // A literal longer than the bytes the parser keeps: only its head is here.
  bool Truncated = false;

  bool IsAtom(std::string_view name) const;  // any case
  bool IsString() const { return Kind == TKind::String || Kind == TKind::Atom; }
};

struct TImapResponse {
  enum class TType { Untagged, Tagged, Continuation };
  TType Type = TType::Untagged;
  std::string Tag;
  // Status responses: "OK", "NO", "BAD", "PREAUTH" or "BYE"; empty for data.
  std::string Status;
  std::string Code;      // response code name, upper case ("UIDVALIDITY")
  std::string CodeArgs;  // the rest inside the brackets, as it stood
  std::string Text;      // human-readable text (a continuation's base64 too)
  // Data: "* 5 EXISTS" has Number 5 and Name "EXISTS"; "* SEARCH 2 4" has
  // Name "SEARCH" and the numbers in Data.
  std::optional<std::uint64_t> Number;
  std::string Name;  // upper case
  std::vector<TImapValue> Data;

  bool IsStatus() const { return !Status.empty(); }
};

struct TImapLimits {
  std::size_t MaxLine = 4u << 20;  // one piece of a response line
  // Literal bytes kept per response; longer literals are read and dropped
  // past it (the value marked Truncated).
  std::uint64_t MaxKept = 1ull << 30;
  // A literal announced larger than this cannot be meant: protocol error.
  std::uint64_t MaxLiteral = 4ull << 30;
  std::size_t MaxDepth = 64;         // list nesting
  std::size_t MaxValues = 1u << 21;  // values in one response
};

// Where the parser reads from: the line connection, or bytes in memory.
class TImapSource {
 public:
  virtual ~TImapSource() = default;
  // The next piece up to LF, the CR before it removed; raises when longer
  // than maxLength.
  virtual std::string Line(std::size_t maxLength) = 0;
  // Exactly count bytes; the first `keep` appended to out, the rest dropped.
  virtual void Bytes(std::uint64_t count, std::string& out, std::uint64_t keep) = 0;
};

// Reads one whole response (through all its literals).
TImapResponse ReadImapResponse(TImapSource& source, const TImapLimits& limits = {});

// A source over bytes in memory (fuzzing, tests), which must outlive it.
// Running out of bytes raises EConnClosedGracefully, as a closed
// connection does.
class TImapBufferSource : public TImapSource {
 public:
  explicit TImapBufferSource(std::string_view bytes) : bytes_(bytes) {}
  std::string Line(std::size_t maxLength) override;
  void Bytes(std::uint64_t count, std::string& out, std::uint64_t keep) override;
  bool AtEnd() const { return pos_ >= bytes_.size(); }

 private:
  std::string_view bytes_;
  std::size_t pos_ = 0;
};

// The value after `name` in a FETCH response's list ("UID", "RFC822.SIZE",
// "BODY[HEADER]"; any case); nothing when absent.
const TImapValue* FetchItem(const TImapResponse& response, std::string_view name);

// Text as an IMAP string argument: an atom-safe quoted string when it
// can be one, else nothing (the caller sends a literal).
std::optional<std::string> ImapQuoted(std::string_view text);

// Modified UTF-7 mailbox names (RFC 3501 5.1.3) to and from UTF-8.
std::string EncodeMailboxName(std::string_view utf8);
std::string DecodeMailboxName(std::string_view wire);

}  // namespace pelorix
