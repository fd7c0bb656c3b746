#pragma once
// IMAP client session (IMAP4rev1, IMAP4rev2 where offered) for the check and
// deletion workers: login (LOGIN, or AUTHENTICATE with SASL), STARTTLS or TLS from
// the first byte, the folders to check read without setting \Seen, and the
// deletions carried out at the end by move to Junk/Trash or UID EXPUNGE of
// exactly the UIDs asked for (never a bare EXPUNGE).

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "net/imap_response.h"
#include "net/line_connection.h"
#include "net/mailbox_session.h"
#include "net/pop3_fetch.h"
#include "net/sasl.h"

namespace pelorix {

// A tagged NO or BAD (or a BYE instead of the answer). Code is the response
// code ("AUTHENTICATIONFAILED"), Status "NO" / "BAD" / "BYE".
class EImapReplyError : public EProtocolReplyError {
 public:
  EImapReplyError(std::string status, std::string code, const std::string& text)
      : EProtocolReplyError(status == "NO" ? 2 : 3, text),
        Status(std::move(status)),
        Code(std::move(code)) {}
  std::string Status;
  std::string Code;
};

// The server said BYE and is closing the connection.
class EImapBye : public EConnectionError {
 public:
  explicit EImapBye(const std::string& text)
      : EConnectionError("The server closed the session: " + text), Text(text) {}
  std::string Text;
};

// A deletion the server cannot carry out the way the account asks; nothing
// was deleted. Reason is the user's text.
class EImapDeletionRefused : public EPelorixError {
 public:
  explicit EImapDeletionRefused(const std::string& reason) : EPelorixError(reason) {}
};

// What "delete" does on an IMAP account.
enum class TImapDeleteMode {
  Auto,     // move to the \Junk folder when the server names one, else Trash
  Junk,     // move to the \Junk folder
  Trash,    // move to the \Trash folder
  Expunge,  // \Deleted and UID EXPUNGE of the UIDs (needs UIDPLUS)
};
std::string_view DeleteModeName(TImapDeleteMode mode);
std::optional<TImapDeleteMode> ParseDeleteMode(std::string_view name);

struct TImapFolderInfo {
  std::string Name;  // as on the wire (modified UTF-7)
  std::vector<std::string> Attributes;
  bool Has(std::string_view attribute) const;  // any case, "\Junk"
};

struct TImapSelected {
  std::uint64_t Exists = 0;
  std::uint64_t UidValidity = 0;
  std::uint64_t UidNext = 0;
  bool ReadOnly = false;
};

class TImapSession : public TLineConnection, public TMailboxSession {
 public:
  TImapSession();

  std::string Username;
  std::string Password;  // or the OAuth access token
  // AUTHENTICATE with this mechanism (the initial response with the command
  // where SASL-IR is offered). Without one: AUTHENTICATE PLAIN where the
  // server offers it, else the LOGIN command.
  std::optional<TSaslMechanism> Sasl;
  // Auto: TLS from the first byte on port 993; elsewhere STARTTLS before
  // the login when the server offers it.
  TSecurity Security = TSecurity::Auto;
  std::vector<std::string> Folders{"INBOX"};  // UTF-8 names, checked in order
  TImapDeleteMode DeleteMode = TImapDeleteMode::Auto;
  TImapLimits Limits;
  TPipelineLimits Pipeline;
  // Header fetches bring the first PeekLines lines of the body as well
  // (as POP3's "TOP n K"), from a bounded first part of the text.
  int PeekLines = 0;
  void SetPeekLines(int lines) override { PeekLines = lines; }
  // The first bytes of the text fetched for them (a line counted as 256).
  long long PeekBytes() const { return std::clamp(PeekLines, 0, 4096) * 256LL; }
  // UIDs per move or expunge command: a stop waits at most one of them.
  std::size_t DeleteChunk = 500;

  // TMailboxSession
  void Connect(int timeout = -1) override;
  bool IsConnected() override { return TLineConnection::IsConnected(); }
  // Carries out the deletions asked for, then LOGOUT and close. Raises when
  // the deletions fail (the connection is closed then as well).
  void Disconnect() override;
  void DisconnectAndWait() override { Disconnect(); }
  void Abandon() override;
  int MessageCount() override;
  TPop3Listing List(int count) override;
  long long MessageSize(int n) override;
  bool FetchHeader(int n, TMailMessage& msg) override;
  bool FetchMessage(int n, TMailMessage& msg) override;
  bool RetrieveRaw(int n, std::string& raw) override;
  bool DeleteMessage(int n) override;
  bool ResetSession() override;
  std::string RefusalText(int n) const override;
  std::unique_ptr<TMessageFetcher> MakeFetcher(
      const TPop3Listing& listing, const std::function<bool(long long)>& whole) override;
  std::string MessageRef(int n) const override;
  std::string RefsProblem(const std::vector<std::string>& refs) const override;
  std::optional<bool> DeletionDone(int n) const override;
  bool UndoesDeletions() const override { return false; }

  // The commands themselves.
  const std::vector<std::string>& Capabilities();
  bool HasCapability(std::string_view name) const;  // any case
  // Runs one command; untagged responses go to `untagged` (after the
  // session has taken what it tracks). Returns the tagged OK; raises
  // EImapReplyError for NO / BAD.
  TImapResponse Command(std::string_view command,
                        const std::function<void(const TImapResponse&)>& untagged = {});
  // Writes a command without waiting; returns its tag.
  std::string Send(std::string_view command);
  // Reads up to the completion of `tag` (completions of other commands
  // are kept for their own Await).
  TImapResponse Await(const std::string& tag,
                      const std::function<void(const TImapResponse&)>& untagged = {},
                      const TImapLimits* limits = nullptr);
  TImapSelected Select(std::string_view wireName, bool readOnly);
  std::vector<TImapFolderInfo> ListFolders();
  std::vector<std::uint64_t> UidSearch(std::string_view criteria);
  void Noop() { Command("NOOP"); }
  void Logout();
  // The AUTHENTICATE exchange; a refusal raises EImapReplyError, or for
  // the OAuth mechanisms EAuthRefused with the server's error payload in
  // plain words.
  void Authenticate(TSaslMechanism mechanism);

  // The folder that `DeleteMode` moves to ("" for Expunge); raises
  // EImapDeletionRefused when there is none.
  std::string DeletionTarget();

  // Where message n lives.
  struct TItem {
    std::size_t Folder = 0;
    std::uint64_t Uid = 0;
    long long Size = -1;
  };
  const std::vector<TItem>& Items() const { return items_; }
  // Selects the item's folder (read-only unless readWrite) when it is not.
  void Enter(std::size_t folder, bool readWrite);
  std::size_t CurrentFolder() const { return current_; }

  // RetrieveRaw with the FETCH answers of other commands handed on.
  bool RetrieveRaw(int n, std::string& raw,
                   const std::function<void(const TImapResponse&)>& others);
  // The FETCH items a header or whole fetch asks for, and the text of its
  // answer (header and peeked lines joined); nothing when r lacks it.
  std::string FetchItems(bool whole) const;
  std::optional<TImapValue> FetchedBody(const TImapResponse& r, bool whole) const;
  // Reads a fetched message body (header only, or with its body) into msg.
  void ReadFetched(const TImapValue& body, bool whole, TMailMessage& msg) const;

 private:
  void Greeting();
  void Login();
  void Observe(const TImapResponse& r);
  void Commit();
  void CommitFolder(std::size_t folder, const std::vector<std::uint64_t>& uids,
                    const std::string& target);
  // The body of message n (header or whole) fetched alone.
  TImapValue FetchOne(int n, bool whole, const TImapLimits& limits,
                      const std::function<void(const TImapResponse&)>& others = {});
  const TItem& ItemOf(int n) const;

  std::vector<std::string> capabilities_;
  bool capabilitiesKnown_ = false;
  unsigned tagCounter_ = 0;
  std::map<std::string, TImapResponse> completed_;
  bool loggingOut_ = false;
  bool preauth_ = false;
  TImapSelected selected_;
  std::size_t current_ = SIZE_MAX;
  bool currentWritable_ = false;
  std::vector<std::string> wireFolders_;
  std::vector<std::uint64_t> validity_;  // per folder, at MessageCount
  std::vector<TItem> items_;
  std::set<int> pending_;  // message numbers to delete
  std::set<int> carried_;
  bool committed_ = false;
  std::string refusal_;
};

// The message fetcher over one IMAP session: UID FETCH commands in a window
// bounded by count and expected bytes, answers matched by UID.
class TImapFetcher : public TMessageFetcher {
 public:
  TImapFetcher(TImapSession& session, std::vector<TFetchItem> items, TPipelineLimits limits);
  bool Next(TMailMessage& msg) override;
  bool Delete(int n) override { return session_.DeleteMessage(n); }
  bool Retrieve(int n, std::string& raw) override;
  void Drain() override;

 private:
  // Sends more commands while the window allows; `enter` lets it select
  // the next folder when nothing is in flight.
  void Fill(bool enter);
  void Keep(const TImapResponse& r);
  std::string Command(const TFetchItem& item) const;

  TImapSession& session_;
  std::vector<TFetchItem> items_;
  TPipelineLimits limits_;
  TImapLimits parse_;
  std::size_t next_ = 0, sent_ = 0;
  long long inFlightBytes_ = 0;
  std::deque<std::string> tags_;
  std::map<std::uint64_t, TImapValue> got_;
  std::size_t keptBytes_ = 0;
  static constexpr std::size_t kKeptBudget = std::size_t{256} << 20;
};

}  // namespace pelorix
