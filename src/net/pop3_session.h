#pragma once
// POP3 client session (USER/PASS login, STAT, LIST, TOP, RETR, DELE, RSET,
// QUIT) used by the check and deletion workers; one session per thread.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/line_connection.h"
#include "net/mailbox_session.h"
#include "net/sasl.h"

namespace pelorix {

class TMailMessage;

// The whole "LIST" answer: the mailbox total and each message's size.
struct TPop3Listing {
  // MailboxSize's sum; -1 when the command failed or the listing is broken
  // (a size below zero or absurdly large, a sum that would overflow).
  long long Total = -1;
  // Size of message n at [n - 1], as "LIST n" would give it (-1 when the
  // line holds no number); kNotListed where the listing has no line for n.
  std::vector<long long> Sizes;
  // Every message 1..count has exactly one line, and the listing was read
  // to its end: the sizes can stand in for "LIST n".
  bool Complete = false;

  static constexpr long long kNotListed = -2;
};

class TPop3Session : public TLineClient, public TMailboxSession {
 public:
  TPop3Session();

  static constexpr std::size_t kMaxRawMessage = std::size_t{1} << 30;

  std::string Username;
  std::string Password;
  bool APOP = false;
  // Login by AUTH (RFC 5034) with this mechanism instead of USER/PASS or
  // APOP; Password then holds the password or the OAuth access token.
  std::optional<TSaslMechanism> Sasl;
  // Auto: TLS from the first byte on port 995; elsewhere CAPA after the
  // greeting and STLS before the login when the server lists it.
  TSecurity Security = TSecurity::Auto;

  // TCP connect (and TLS), greeting, STLS when due, login. On a failure
  // after the TCP connect the session disconnects and raises the same error
  // again. No password is sent before TLS when TLS was offered or required.
  void Connect(int timeout = -1) override;
  // "QUIT" when connected (the answer is not read), then close.
  void Disconnect() override;
  bool IsConnected() override { return TLineConnection::IsConnected(); }
  // "QUIT" with its answer read: the server has removed the marked messages.
  void DisconnectAndWait() override;
  // Closes without QUIT: the server deletes nothing of this session.
  void Abandon() override { TLineConnection::Disconnect(); }

  // "CAPA" (RFC 2449): reads and keeps the server's capability lines; a
  // server that answers "-ERR" has none. Nothing raised for "-ERR".
  const std::vector<std::string>& Capa();
  // Whether CAPA has been asked in this connection.
  bool CapabilitiesKnown() const { return capabilitiesKnown_; }
  // Whether a capability line starts with the word `name` (any case).
  bool HasCapability(std::string_view name) const;
  // Forgets what CAPA said (a new connection, or after STLS).
  void ForgetCapabilities();

  int MessageCount() override;
  // Sum of the LIST sizes, -1 on any error.
  long long MailboxSize();
  // One "LIST" for the whole mailbox of `count` messages; never raises.
  TPop3Listing List(int count) override;
  // Size of message n, -1 when the reply holds none.
  long long MessageSize(int n) override;
  // "TOP n K": the header lines, and the first PeekLines body lines when set.
  bool FetchHeader(int n, TMailMessage& msg) override;
  int PeekLines = 0;
  void SetPeekLines(int lines) override { PeekLines = lines; }
  // False (nothing raised) when the server answers "-ERR".
  bool FetchMessage(int n, TMailMessage& msg) override;
  // "RETR n" with the message kept as it came (dot-unstuffed, line ends
  // as sent) in `raw`; false (nothing raised) when the server answers
  // "-ERR". A message over kMaxRawMessage raises after its answer is read.
  bool RetrieveRaw(int n, std::string& raw) override;
  bool DeleteMessage(int n) override;
  bool ResetSession() override;
  // "RETR n: -ERR" and the server's text.
  std::string RefusalText(int n) const override;
  // MakeFetcher (pop3_fetch.h) over this session.
  std::unique_ptr<TMessageFetcher> MakeFetcher(
      const TPop3Listing& listing, const std::function<bool(long long)>& whole) override;

  // The answer parts of FetchHeader and FetchMessage, for readers that send
  // their commands ahead (TPop3Fetcher): the reply line, then the lines.
  bool ReadHeaderAnswer(TMailMessage& msg);
  bool ReadMessageAnswer(TMailMessage& msg);
  bool ReadRawMessageAnswer(std::string& raw);
  // Reads and drops one answer of a multi-line command.
  void SkipAnswer();

  // The AUTH exchange (Connect runs it when Sasl is set); a refusal raises
  // EAuthRefused with the server's text and, for the OAuth mechanisms, the
  // decoded error payload.
  void Authenticate(TSaslMechanism mechanism);

  // Maps "+OK" to 1 and "-ERR" to 2; anything else raises EMailError.
  void ReadReply() override;

 private:
  // The "+OK"/"-ERR" mapping of ReadReply on the reply in LastReply.
  void MapStatus();
  // Reads the rest of a multi-line answer up to its "." line, so that a
  // failed parse does not leave the stream out of step with the commands.
  void SkipToEnd();
  // Runs a reader over a multi-line answer; when it fails on the answer's
  // content the rest of the answer is skipped before the error goes on.
  // Lines longer than `keep` are cut there and the message marked truncated.
  void ReadAnswer(TMailMessage& msg, std::size_t keep,
                  const std::function<void(TLineSource&)>& read);

  std::vector<std::string> capabilities_;
  bool capabilitiesKnown_ = false;
};

// Lower-case hexadecimal MD5 digest (the APOP login).
std::string Md5Hex(std::string_view data);

}  // namespace pelorix
