#pragma once
// A real Dovecot POP3 server (and IMAP over the same Maildir, special-use
// Junk and Trash folders included) on free loopback ports, for integration tests
// and benchmarks: its own temporary folder, configuration, users and Maildirs.
//
//   if (auto why = TDovecotServer::SkipReason(); !why.empty()) GTEST_SKIP() << why;
//   TDovecotServer dovecot;
//   dovecot.AddUser("alice", "secret", {"Subject: one\n\nbody\n"});
//   dovecot.Start();
//   ... connect to dovecot.HostPort() ...
//   EXPECT_EQ(dovecot.MessageCount("alice"), 1u);

#include <memory>
#include <string>
#include <vector>

#include "support/process.h"

namespace pelorix::test {

class TDovecotServer {
 public:
  // Empty when Dovecot can run here; otherwise why not (not root, not installed).
  static std::string SkipReason();

  TDovecotServer();
  ~TDovecotServer();
  TDovecotServer(const TDovecotServer&) = delete;
  TDovecotServer& operator=(const TDovecotServer&) = delete;

  // Messages are whole texts (header, empty line, body), LF or CR LF; they are
  // served in the given order as messages 1..n. Call before Start.
  void AddUser(const std::string& user, const std::string& password,
               const std::vector<std::string>& messages = {});
  // TLS with this certificate and key (PEM files): STLS on the plain
  // listener and TLS from the first byte on TlsPort(). With `required` no
  // plain-text login is allowed; Dovecot counts a client whose address is
  // its own as secure, so such a refusal shows only on 127.0.0.2 (the
  // listeners take both addresses). Call before Start.
  void EnableTls(const std::string& cert, const std::string& key, bool required = false);
  // IMAP beside POP3 (Debian dovecot-imapd): ImapPort(), and with TLS
  // STARTTLS there and TLS from the first byte on ImapTlsPort(). Call
  // before Start.
  void EnableImap() { imap_ = true; }
  static std::string ImapSkipReason();
  // XOAUTH2 and OAUTHBEARER besides PLAIN and LOGIN, the tokens checked
  // against an RFC 7662 introspection endpoint (POST token=...), whose
  // "username" must be the login name. Call before Start.
  void EnableOAuth2(const std::string& introspectionUrl);
  // Starts the server; throws std::runtime_error (with the log) when it fails.
  void Start();
  void Stop();

  int Port() const { return port_; }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
  int TlsPort() const { return tlsPort_; }
  std::string TlsHostPort() const { return "127.0.0.1:" + std::to_string(tlsPort_); }
  const std::string& Folder() const { return temp_.Path(); }
  int ImapPort() const { return imapPort_; }
  std::string ImapHostPort() const { return "127.0.0.1:" + std::to_string(imapPort_); }
  std::string ImapTlsHostPort() const { return "127.0.0.1:" + std::to_string(imapTlsPort_); }
  // Gives the user's INBOX a new UIDVALIDITY (as a restored server does).
  void RenumberInbox(const std::string& user);
  // Delivers one more message to the user's INBOX while the server runs.
  void Deliver(const std::string& user, const std::string& message);

  // The texts of the messages left in the user's Maildir (new and cur), in
  // file name order, with LF line ends as stored.
  std::vector<std::string> Messages(const std::string& user) const;
  // The same for another folder ("Junk", "Trash").
  std::vector<std::string> Messages(const std::string& user, const std::string& folder) const;
  std::size_t MessageCount(const std::string& user) const;
  std::string Log() const;

 private:
  std::string MaildirOf(const std::string& user) const;

  TTempFolder temp_{"pelorix-dovecot"};
  TChildProcess process_;
  int port_ = 0;
  int tlsPort_ = 0;
  bool imap_ = false;
  int imapPort_ = 0;
  int imapTlsPort_ = 0;
  int delivered_ = 0;
  std::string passwd_;
  std::string tlsConfig_;
  std::string introspectionUrl_;
};

}  // namespace pelorix::test
