#pragma once
// POP3 client session (USER/PASS login, STAT, LIST, TOP, RETR, DELE, RSET,
// QUIT) used by the check and deletion workers; one session per thread.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "net/line_connection.h"

namespace pelorix {

class TMailMessage;

class TPop3Session : public TLineClient {
 public:
  TPop3Session();

  std::string Username;
  std::string Password;
  bool APOP = false;
  // Auto: TLS from the first byte on port 995; elsewhere CAPA after the
  // greeting and STLS before the login when the server lists it.
  TSecurity Security = TSecurity::Auto;

  // TCP connect (and TLS), greeting, STLS when due, login. On a failure
  // after the TCP connect the session disconnects and raises the same error
  // again. No password is sent before TLS when TLS was offered or required.
  void Connect(int timeout = -1) override;
  // "QUIT" when connected (the answer is not read), then close.
  void Disconnect() override;

  // "CAPA" (RFC 2449): reads and keeps the server's capability lines; a
  // server that answers "-ERR" has none. Nothing raised for "-ERR".
  const std::vector<std::string>& Capa();
  // Whether CAPA has been asked in this connection.
  bool CapabilitiesKnown() const { return capabilitiesKnown_; }
  // Whether a capability line starts with the word `name` (any case).
  bool HasCapability(std::string_view name) const;
  // Forgets what CAPA said (a new connection, or after STLS).
  void ForgetCapabilities();

  int MessageCount();
  // Sum of the LIST sizes, -1 on any error.
  long long MailboxSize();
  // Size of message n, -1 when the reply holds none.
  long long MessageSize(int n);
  bool FetchHeader(int n, TMailMessage& msg);
  // False (nothing raised) when the server answers "-ERR".
  bool FetchMessage(int n, TMailMessage& msg);
  bool DeleteMessage(int n);
  bool ResetSession();

  // Maps "+OK" to 1 and "-ERR" to 2; anything else raises EMailError.
  void ReadReply() override;

 private:
  // Reads the rest of a multi-line answer up to its "." line, so that a
  // failed parse does not leave the stream out of step with the commands.
  void SkipToEnd();
  // Runs a reader over a multi-line answer; when it fails on the answer's
  // content the rest of the answer is skipped before the error goes on.
  void ReadAnswer(const std::function<void(TLineSource&)>& read);

  std::vector<std::string> capabilities_;
  bool capabilitiesKnown_ = false;
};

// Lower-case hexadecimal MD5 digest (the APOP login).
std::string Md5Hex(std::string_view data);

}  // namespace pelorix
