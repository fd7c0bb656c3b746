#pragma once
// What the check and deletion workers need of a mailbox, whatever protocol
// serves it: count, sizes, header or whole message in order, delete a set,
// withdraw, end. TPop3Session and TImapSession implement it.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pelorix {

class TMailMessage;
struct TPop3Listing;

// Messages 1..count in order, commands sent ahead where the server allows.
class TMessageFetcher {
 public:
  virtual ~TMessageFetcher() = default;
  // The next message's header or whole text into msg (cleared by the
  // caller); false when the server refused the whole message.
  virtual bool Next(TMailMessage& msg) = 0;
  // Deletes (or marks for deletion) message n, in order after what was sent.
  virtual bool Delete(int n) = 0;
  // Message n whole as it came, in order after what was sent.
  virtual bool Retrieve(int n, std::string& raw) = 0;
  // Sends nothing more and reads what is still on its way.
  virtual void Drain() = 0;
  // Asks for each of `numbers` whole, behind what was sent and all at once
  // where the server allows; Retrieve then takes them in the same order.
  virtual void Prefetch(const std::vector<int>& /*numbers*/) {}
  // Deletes each of `numbers`, all at once where the server allows.
  virtual void DeleteEach(const std::vector<int>& numbers) {
    for (const int n : numbers)
      Delete(n);
  }
};

class TMailboxSession {
 public:
  virtual ~TMailboxSession() = default;

  // Connects and logs in; raises on failure (disconnected then).
  virtual void Connect(int timeout = -1) = 0;
  virtual bool IsConnected() = 0;
  // Ends the session normally: deletions asked for are carried out.
  virtual void Disconnect() = 0;
  // As Disconnect, and waits until the server says they are carried out.
  virtual void DisconnectAndWait() = 0;
  // Closes without ending the session: nothing asked for is carried out.
  virtual void Abandon() = 0;

  virtual int MessageCount() = 0;
  virtual TPop3Listing List(int count) = 0;
  virtual long long MessageSize(int n) = 0;
  virtual bool FetchHeader(int n, TMailMessage& msg) = 0;
  virtual bool FetchMessage(int n, TMailMessage& msg) = 0;
  virtual bool RetrieveRaw(int n, std::string& raw) = 0;
  virtual bool DeleteMessage(int n) = 0;
  // Withdraws every deletion of this session; false when it could not.
  virtual bool ResetSession() = 0;
  // Why the last RetrieveRaw (message n) was refused, for the event log.
  virtual std::string RefusalText(int n) const = 0;

  // A fetcher over 1..count per the listing, or nothing when the walk must
  // go message by message. `whole(size)` picks the whole message.
  virtual std::unique_ptr<TMessageFetcher> MakeFetcher(
      const TPop3Listing& listing, const std::function<bool(long long)>& whole) = 0;

  // Body lines a header fetch brings as well (0: none), where the protocol
  // can; a session that cannot fetches the header alone.
  virtual void SetPeekLines(int /*lines*/) {}

  // Where message n lives, for matching it again later ("" where the
  // message key alone identifies it).
  virtual std::string MessageRef(int /*n*/) const { return {}; }
  // Why messages known by these references may not be deleted now (the
  // mailbox was renumbered since), or "".
  virtual std::string RefsProblem(const std::vector<std::string>& /*refs*/) const { return {}; }
  // Whether the deletion of message n was carried out on the server (true)
  // or not (false); nothing when the session's end decides (POP3: QUIT
  // carries out all of them, a withdrawal none).
  virtual std::optional<bool> DeletionDone(int /*n*/) const { return std::nullopt; }
  // Whether a withdrawal can undo deletions already sent (POP3's RSET);
  // IMAP has no RSET: what was moved stays moved.
  virtual bool UndoesDeletions() const { return true; }
  // Stop requests seen between the commands of a long deletion.
  void SetStopFlag(const std::atomic<bool>* stop) { stop_ = stop; }

 protected:
  bool StopRequested() const { return stop_ != nullptr && stop_->load(); }

 private:
  const std::atomic<bool>* stop_ = nullptr;
};

}  // namespace pelorix
