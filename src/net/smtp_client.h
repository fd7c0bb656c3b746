#pragma once
// SMTP client (EHLO/HELO, AUTH LOGIN, MAIL, RCPT, DATA) with which the
// letter window sends a reply; used on the window thread, one connection
// per send.

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "net/line_connection.h"
#include "net/sasl.h"

namespace pelorix {

class TMailMessage;

// atLogin is AUTH LOGIN; the others name their SASL mechanism.
enum TAuthenticationType { atNone, atLogin, atPlain, atXOAuth2, atOAuthBearer };
// The mechanism of a type other than atNone.
TSaslMechanism SaslMechanismOf(TAuthenticationType type);

class TSmtpClient : public TLineClient {
 public:
  TSmtpClient();

  // A login needs the EHLO greeting: it is sent whenever a type is set.
  TAuthenticationType AuthenticationType = atNone;
  bool UseEhlo = true;
  std::string HeloName;   // empty: the local host name
  std::string MailAgent;  // "X-Mailer"; empty: no such header
  std::string Username;
  std::string Password;  // or the OAuth access token
  // Auto: TLS from the first byte on port 465; elsewhere STARTTLS and a
  // second EHLO when the EHLO answer lists it, before any AUTH LOGIN.
  TSecurity Security = TSecurity::Auto;

  // TCP connect (and TLS), greeting (220), EHLO (or HELO after a refused
  // EHLO), STARTTLS and EHLO again when due.
  void Connect(int timeout = -1) override;
  // "QUIT" when connected (the answer is not read), then close.
  void Disconnect() override;
  // RSET, login when due, MAIL FROM, RCPT TO per recipient and copy, DATA,
  // header, body, ".". Messages with attachments are refused (EMailError)
  // before anything is sent.
  void Send(const TMailMessage& msg);
  // RSET, login when due, MAIL FROM, RCPT TO per recipient, DATA and the
  // given message unchanged but for CR LF line ends and dot-stuffing, ".".
  // For messages made elsewhere (a kept copy sent again).
  void SendRaw(std::string_view from, const std::vector<std::string>& recipients,
               std::string_view message);
  // AUTH with the mechanism of AuthenticationType (initial response where
  // the mechanism has one). A refusal raises EAuthRefused with the server's
  // text and, for the OAuth mechanisms, the decoded error payload.
  void Login();

  // Schemes announced in the EHLO reply, upper case, no duplicates.
  const std::vector<std::string>& AuthSchemes() const { return schemes_; }
  bool Authenticated() const { return authenticated_; }

  // The header lines and body as they go after DATA (CR LF line ends,
  // dot-stuffed, without the closing "."), and whether the body needs the
  // 8BITMIME extension. `now` stands in for a message without a date.
  std::string DataText(const TMailMessage& msg, std::time_t now, bool& eightBit) const;
  // A whole message as it goes after DATA: every line ended by CR LF (a
  // bare LF becomes CR LF, a last line without end gets one), dot-stuffed,
  // without the closing ".".
  static std::string RawDataText(std::string_view message);

 private:
  // RSET and, when due, the login before each message.
  void PrepareSend();
  // MAIL FROM, RCPT TO each, DATA, the data text and the closing ".".
  void Deliver(std::string_view from, bool eightBit, const std::vector<std::string>& recipients,
               std::string_view data);
  // EHLO (when ehlo is set; HELO after a refusal) and the schemes and
  // extensions it announces. True when STARTTLS is among them.
  bool Greet(const std::string& name, bool ehlo);

  std::vector<std::string> schemes_;
  bool eightBitMime_ = false;
  bool authenticated_ = false;
};

// The schemes of an EHLO line "AUTH LOGIN PLAIN" or "AUTH=LOGIN", upper case.
std::vector<std::string> ParseAuthLine(std::string_view line);

// Header helpers of the SMTP client, open for tests.
// "=?UTF-8?B?...?=" words (each at most 75 characters) for non-ASCII word
// runs; ASCII words stay plain.
std::string EncodeHeaderText(std::string_view text);
// RFC 2822 date in local time: "Tue, 8 Dec 2026 17:12:49 +0800".
std::string SmtpDateText(std::time_t when);

}  // namespace pelorix
