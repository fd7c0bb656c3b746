#include "net/smtp_client.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>

#include "mime/mail_message.h"
#include "mime/transfer_decode.h"
#include "net/errors.h"
#include "pelorix_version.h"
#include "text/asciiutil.h"

namespace pelorix {

namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
// Longest line that 7bit and 8bit bodies may carry (RFC 5322: 998 + CR LF).
constexpr std::size_t kMaxBodyLine = 998;

bool IsPrintableAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string Base64(std::string_view bytes) {
  std::string out;
  for (const auto& line : EncodeBase64(bytes, 1 << 20)) {
    out += line;
  }
  return out;
}

// Length of the UTF-8 sequence starting with byte c (1 for stray bytes).
std::size_t Utf8Length(unsigned char c) {
  if (c >= 0xf0 && c < 0xf8)
    return 4;
  if (c >= 0xe0)
    return 3;
  if (c >= 0xc0)
    return 2;
  return 1;
}

// Encoded words for one run, split between characters so that no word
// exceeds 75 characters ("=?UTF-8?B?" + 60 + "?=" = 72).
std::string EncodeRun(std::string_view run) {
  constexpr std::size_t kChunk = 45;  // 45 bytes give 60 base64 characters
  std::string out;
  std::size_t pos = 0;
  while (pos < run.size()) {
    std::size_t end = pos;
    while (end < run.size()) {
      const std::size_t next =
          std::min(run.size(), end + Utf8Length(static_cast<unsigned char>(run[end])));
      if (next - pos > kChunk && end > pos) {
        break;
      }
      end = next;
    }
    if (!out.empty()) {
      out += ' ';
    }
    out += "=?UTF-8?B?" + Base64(run.substr(pos, end - pos)) + "?=";
    pos = end;
  }
  return out;
}

std::string QuoteName(std::string_view name) {
  std::string out = "\"";
  for (const char c : name) {
    if (c == '\\' || c == '"') {
      out += '\\';
    }
    out += c;
  }
  return out + "\"";
}

std::string FormatAddress(const TEmailAddress& address) {
  if (address.Raw) {
    return address.Address;
  }
  if (address.Name.empty()) {
    return address.Address;
  }
  const std::string name =
      IsPrintableAscii(address.Name) ? QuoteName(address.Name) : EncodeRun(address.Name);
  return name + " <" + address.Address + ">";
}

std::string FormatAddresses(const TEmailAddressList& list) {
  std::string out;
  for (const auto& item : list.Items) {
    if (item.Address.empty() && item.Name.empty()) {
      continue;
    }
    if (!out.empty()) {
      out += ", ";
    }
    out += FormatAddress(item);
  }
  return out;
}

// Body lines: elements holding line breaks become several lines.
std::vector<std::string> SplitBodyLines(const std::vector<std::string>& body) {
  std::vector<std::string> lines;
  for (const auto& element : body) {
    std::size_t start = 0;
    for (;;) {
      const auto lf = element.find('\n', start);
      std::string line = element.substr(start, lf == std::string::npos ? lf : lf - start);
      if (!line.empty() && line.back() == '\r') {
        line.pop_back();
      }
      lines.push_back(std::move(line));
      if (lf == std::string::npos) {
        break;
      }
      start = lf + 1;
    }
  }
  return lines;
}

// Quoted-printable lines (RFC 2045) for one text line.
void AppendQuotedPrintable(std::string_view line, std::vector<std::string>& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string current;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    const bool last = i + 1 == line.size();
    std::string piece;
    if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last)) {
      piece = static_cast<char>(c);
    } else {
      piece = {'=', kHex[c >> 4], kHex[c & 15]};
    }
    if (current.size() + piece.size() > 75) {
      out.push_back(current + "=");
      current.clear();
    }
    current += piece;
  }
  out.push_back(current);
}

// One line after DATA: a leading "." doubled (RFC 5321 4.5.2), CR LF added.
void AppendDataLine(std::string& data, std::string_view line) {
  if (!line.empty() && line.front() == '.') {
    data += '.';
  }
  data += line;
  data += "\r\n";
}

}  // namespace

std::string EncodeHeaderText(std::string_view text) {
  // Words are split at blanks; neighbouring non-ASCII words form one run so
  // that the blanks between them survive decoding.
  std::vector<std::string_view> words;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    const auto blank = text.find(' ', pos);
    const auto end = blank == std::string_view::npos ? text.size() : blank;
    words.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  std::string out;
  for (std::size_t i = 0; i < words.size();) {
    if (i > 0) {
      out += ' ';
    }
    if (IsPrintableAscii(words[i])) {
      out += words[i];
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    while (j < words.size() && !IsPrintableAscii(words[j])) {
      ++j;
    }
    const auto begin = words[i].data() - text.data();
    const auto end = words[j - 1].data() + words[j - 1].size() - text.data();
    out += EncodeRun(
        text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin)));
    i = j;
  }
  return out;
}

std::string SmtpDateText(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  const long offset = local.tm_gmtoff / 60;
  const long absOffset = offset < 0 ? -offset : offset;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %d %s %d %02d:%02d:%02d %c%02ld%02ld",
                kDayNames[local.tm_wday], local.tm_mday, kMonthNames[local.tm_mon],
                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
                offset < 0 ? '-' : '+', absOffset / 60, absOffset % 60);
  return text;
}

TSmtpClient::TSmtpClient() {
  Port = 25;
  // The send blocks the window thread: a silent server must not hang it.
  ReadTimeout = 60000;
}

void TSmtpClient::Connect(int timeout) {
  const TSecurity mode = EffectiveSecurity(Security, EffectivePort(), 465);
  ImplicitTls = mode == TSecurity::Tls;
  TLineClient::Connect(timeout);
  try {
    ReadReply();
    CheckReply({220});
    authenticated_ = false;
    std::string name = HeloName;
    if (name.empty()) {
      char host[256] = {};
      name = gethostname(host, sizeof host - 1) == 0 && host[0] != '\0' ? host : "localhost";
    }
    // STARTTLS is only announced in the EHLO answer.
    const bool ehlo = UseEhlo || AuthenticationType != atNone || mode == TSecurity::StartTls;
    const bool startTls = Greet(name, ehlo);
    if (mode == TSecurity::Auto || mode == TSecurity::StartTls) {
      if (startTls) {
        // A refusal after the offer fails the connection: no downgrade.
        SendCommand("STARTTLS", {220});
        StartTls();
        // What the server announced in plain text is forgotten (RFC 3207).
        Greet(name, ehlo);
      } else if (mode == TSecurity::StartTls) {
        throw ETlsNotOffered("STARTTLS");
      }
    }
  } catch (...) {
    Disconnect();
    throw;
  }
}

bool TSmtpClient::Greet(const std::string& name, bool ehlo) {
  schemes_.clear();
  eightBitMime_ = false;
  bool startTls = false;
  bool greeted = false;
  if (ehlo && SendCommand("EHLO " + name) == 250) {
    greeted = true;
    for (const auto& line : LastReply.Text) {
      const std::string head = ascii::ToUpper(std::string_view(line).substr(0, 5));
      if (head == "AUTH " || head == "AUTH=") {
        for (const auto& word : ParseAuthLine(line)) {
          if (std::find(schemes_.begin(), schemes_.end(), word) == schemes_.end()) {
            schemes_.push_back(word);
          }
        }
      } else if (ascii::EqualNoCase(ascii::Trim(line), "8BITMIME")) {
        eightBitMime_ = true;
      } else if (ascii::EqualNoCase(ascii::Trim(line), "STARTTLS")) {
        startTls = true;
      }
    }
  }
  if (!greeted) {
    SendCommand("HELO " + name, {250});
  }
  return startTls;
}

std::vector<std::string> ParseAuthLine(std::string_view line) {
  std::vector<std::string> words;
  std::string rest(line.substr(std::min<std::size_t>(4, line.size())));
  std::replace(rest.begin(), rest.end(), '=', ' ');
  std::size_t pos = 0;
  while (pos < rest.size()) {
    const auto blank = rest.find(' ', pos);
    const auto end = blank == std::string::npos ? rest.size() : blank;
    std::string word = ascii::ToUpper(ascii::Trim(std::string_view(rest).substr(pos, end - pos)));
    if (!word.empty()) {
      words.push_back(std::move(word));
    }
    pos = end + 1;
  }
  return words;
}

void TSmtpClient::Disconnect() {
  QuitAndDisconnect();
  authenticated_ = false;
}

TSaslMechanism SaslMechanismOf(TAuthenticationType type) {
  switch (type) {
    case atPlain:
      return TSaslMechanism::Plain;
    case atXOAuth2:
      return TSaslMechanism::XOAuth2;
    case atOAuthBearer:
      return TSaslMechanism::OAuthBearer;
    case atNone:
    case atLogin:
      break;
  }
  return TSaslMechanism::Login;
}

void TSmtpClient::Login() {
  const TSaslMechanism mechanism = SaslMechanismOf(AuthenticationType);
  std::string host;
  int port = 0;
  if (!SplitHostPort(Host, Port, host, port)) {
    host = Host;
  }
  TSaslExchange exchange(mechanism, Username, Password, host, EffectivePort());
  std::string command = "AUTH " + std::string(SaslMechanismName(mechanism));
  if (const auto first = exchange.InitialResponse()) {
    // RFC 4954 4: an empty initial response is a single "=".
    command += " " + (first->empty() ? std::string("=") : SaslBase64(*first));
    exchange.InitialResponseSent();
  }
  SendCommand(command);
  bool cancelled = false;
  while (LastReply.NumericCode() == 334) {
    if (cancelled) {
      throw EMailError("The server goes on with a cancelled SASL exchange.");
    }
    if (exchange.TooManySteps()) {
      // "*" cancels; the server answers 501 and the login fails.
      cancelled = true;
      SendCommand("*");
      continue;
    }
    const std::string_view text =
        LastReply.Text.empty() ? std::string_view() : ascii::Trim(LastReply.Text.front());
    SendCommand(SaslBase64(exchange.Respond(SaslUnbase64(text).value_or(std::string(text)))));
  }
  if (LastReply.NumericCode() != 235) {
    throw EAuthRefused(LastReply.NumericCode(), LastReply.FormattedText(), exchange.ErrorCause());
  }
  authenticated_ = true;
}

std::string TSmtpClient::DataText(const TMailMessage& msg, std::time_t now, bool& eightBit) const {
  // The body: plain lines, or the one text part of a message without attachments.
  std::vector<std::string> body;
  const TTextPart* textPart = nullptr;
  for (const auto& part : msg.MessageParts) {
    if (const auto* text = dynamic_cast<const TTextPart*>(part.get()); text != nullptr) {
      textPart = textPart == nullptr ? text : textPart;
    }
  }
  if (!msg.Body.empty() || textPart == nullptr) {
    body = SplitBodyLines(msg.Utf8Body());
  } else {
    body = SplitBodyLines(textPart->Utf8Body());
  }
  bool ascii = true;
  bool longLines = false;
  for (const auto& line : body) {
    ascii = ascii && IsAscii(line);
    longLines = longLines || line.size() > kMaxBodyLine;
  }
  std::string encoding = "7bit";
  eightBit = false;
  if (longLines || (!ascii && !eightBitMime_)) {
    encoding = "quoted-printable";
    std::vector<std::string> encoded;
    for (const auto& line : body) {
      AppendQuotedPrintable(line, encoded);
    }
    body = std::move(encoded);
  } else if (!ascii) {
    encoding = "8bit";
    eightBit = true;
  }

  THeaderList headers = msg.Headers;
  std::string type(
      ascii::Trim(std::string_view(msg.ContentType).substr(0, msg.ContentType.find(';'))));
  if (type.empty() || ascii::ToUpper(type).rfind("MULTIPART/", 0) == 0) {
    type = "text/plain";
  }
  std::string groups;
  for (const auto& group : msg.NewsGroups) {
    groups += (groups.empty() ? "" : ",") + group;
  }
  headers.SetValue("From", FormatAddress(msg.From));
  headers.SetValue("Subject", EncodeHeaderText(msg.Subject));
  headers.SetValue("To", FormatAddresses(msg.Recipients));
  headers.SetValue("Cc", FormatAddresses(msg.CCList));
  headers.SetValue("Newsgroups", groups);
  headers.SetValue("Content-Type", type + "; charset=\"UTF-8\"");
  headers.SetValue("MIME-Version", "1.0");
  headers.SetValue("Content-Transfer-Encoding", encoding);
  headers.SetValue("Sender", msg.Sender.Address.empty() ? std::string() : msg.Sender.Text());
  headers.SetValue("Reply-To", FormatAddresses(msg.ReplyTo));
  headers.SetValue("Organization", EncodeHeaderText(msg.Organization));
  headers.SetValue("Disposition-Notification-To", msg.ReceiptRecipient.Address.empty()
                                                      ? std::string()
                                                      : FormatAddress(msg.ReceiptRecipient));
  headers.SetValue("References", msg.References);
  headers.SetValue("Date", SmtpDateText(msg.Date != 0 ? msg.Date : now));
  headers.SetValue("X-Priority", std::to_string(static_cast<int>(msg.Priority) + 1));
  headers.SetValue("X-Library", "Pelorix " PELORIX_VERSION);
  headers.SetValue("X-Mailer", MailAgent);

  std::string data;
  for (const auto& line : headers.Folded(78)) {
    AppendDataLine(data, line);
  }
  data += "\r\n";
  for (const auto& line : body) {
    AppendDataLine(data, line);
  }
  return data;
}

std::string TSmtpClient::RawDataText(std::string_view message) {
  std::string data;
  data.reserve(message.size() + message.size() / 32 + 2);
  while (!message.empty()) {
    const auto lf = message.find('\n');
    std::string_view line = message.substr(0, lf);
    message = lf == std::string_view::npos ? std::string_view() : message.substr(lf + 1);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    AppendDataLine(data, line);
  }
  return data;
}

void TSmtpClient::PrepareSend() {
  SendCommand("RSET");
  if (AuthenticationType != atNone && !authenticated_ &&
      std::find(schemes_.begin(), schemes_.end(),
                SaslMechanismName(SaslMechanismOf(AuthenticationType))) != schemes_.end()) {
    Login();
  }
}

void TSmtpClient::Deliver(std::string_view from, bool eightBit,
                          const std::vector<std::string>& recipients, std::string_view data) {
  SendCommand("MAIL FROM:<" + std::string(from) + ">" + (eightBit ? " BODY=8BITMIME" : ""), {250});
  for (const auto& address : recipients) {
    SendCommand("RCPT TO:<" + address + ">", {250, 251});
  }
  SendCommand("DATA", {354});
  Write(data);
  SendCommand(".", {250});
}

void TSmtpClient::Send(const TMailMessage& msg) {
  for (const auto& part : msg.MessageParts) {
    if (dynamic_cast<const TAttachmentPart*>(part.get()) != nullptr) {
      throw EMailError("Attachments cannot be sent.");
    }
  }
  PrepareSend();
  bool eightBit = false;
  Status("Encoding text");
  const std::string data = DataText(msg, std::time(nullptr), eightBit);
  std::vector<std::string> recipients;
  for (const auto* list : {&msg.Recipients, &msg.CCList}) {
    for (const auto& item : list->Items) {
      // A name without an address cannot be delivered to.
      if (!item.Address.empty()) {
        recipients.push_back(item.Address);
      }
    }
  }
  Deliver(msg.From.Address, eightBit, recipients, data);
}

void TSmtpClient::SendRaw(std::string_view from, const std::vector<std::string>& recipients,
                          std::string_view message) {
  PrepareSend();
  // The bytes cannot be re-encoded: 8-bit text is announced where the
  // server allows it and sent as it is elsewhere.
  const bool eightBit = eightBitMime_ && !IsAscii(message);
  Deliver(from, eightBit, recipients, RawDataText(message));
}

}  // namespace pelorix
