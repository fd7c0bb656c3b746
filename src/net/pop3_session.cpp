#include "net/pop3_session.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>

#include "mime/mail_message.h"
#include "net/errors.h"
#include "net/pop3_fetch.h"
#include "net/text_util.h"
#include "text/asciiutil.h"

namespace pelorix {

namespace {

constexpr int kOk = 1;
constexpr int kErr = 2;

std::string FirstText(const TServerReply& reply) {
  return reply.Text.empty() ? std::string() : reply.Text.front();
}

// No POP3 message or mailbox is this large; a listing that says so is
// broken (and its kilobytes would overflow the run's totals).
constexpr long long kMaxListedSize = 1LL << 40;
constexpr long long kMaxListedTotal = 1LL << 53;

// Hands the session's lines to the message model and notes whether the
// answer's closing "." has been read. Lines of any length are read; those
// longer than `keep` reach the model cut.
class TAnswerSource : public TLineSource {
 public:
  TAnswerSource(TLineConnection& connection, std::size_t keep)
      : connection_(connection), keep_(std::max<std::size_t>(keep, 2)) {}
  std::string ReadLine() override {
    bool cut = false;
    std::string line = connection_.ReadAnswerLine(keep_, cut);
    Cut = Cut || cut;
    Ended = !cut && line == ".";
    return line;
  }
  bool Ended = false;
  bool Cut = false;

 private:
  TLineConnection& connection_;
  std::size_t keep_;
};

std::size_t HeaderKeep(const TMailMessage& msg) {
  return msg.Limits.MaxHeaderBytes;
}

std::size_t MessageKeep(const TMailMessage& msg) {
  return std::max(msg.Limits.MaxHeaderBytes, msg.Limits.MaxBodyBytes);
}

}  // namespace

std::string Md5Hex(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    hex += pair;
  }
  return hex;
}

TPop3Session::TPop3Session() {
  Port = 110;
  // A server that accepts and then says nothing must not hang a worker.
  ReadTimeout = 60000;
}

void TPop3Session::ReadReply() {
  ReadRawReply();
  MapStatus();
}

void TPop3Session::MapStatus() {
  const std::string status = ascii::ToUpper(LastReply.TextCode());
  if (status == "+OK") {
    LastReply.SetNumericCode(kOk);
  } else if (status == "-ERR") {
    LastReply.SetNumericCode(kErr);
    // "-ERR" fills all four code places: the blank after it is no text.
    if (!LastReply.Text.empty() && !LastReply.Text.front().empty() &&
        LastReply.Text.front().front() == ' ') {
      LastReply.Text.front().erase(0, 1);
    }
  } else {
    throw EMailError("Unrecognized POP3 Response Header:\n\"" + LastReply.FormattedText() + "\"");
  }
}

void TPop3Session::Connect(int timeout) {
  ForgetCapabilities();
  const TSecurity mode = EffectiveSecurity(Security, EffectivePort(), 995);
  ImplicitTls = mode == TSecurity::Tls;
  TLineClient::Connect(timeout);
  try {
    ReadReply();
    CheckReply({kOk});
    const std::string greeting = FirstText(LastReply);
    if (mode == TSecurity::Auto || mode == TSecurity::StartTls) {
      Capa();
      if (HasCapability("STLS")) {
        // A refusal after the offer fails the login: no downgrade.
        SendCommand("STLS", {kOk});
        StartTls();
        // Nothing the server said in plain text is trusted afterwards.
        ForgetCapabilities();
      } else if (mode == TSecurity::StartTls) {
        throw ETlsNotOffered("STLS");
      }
    }
    if (Sasl) {
      Authenticate(*Sasl);
    } else if (APOP) {
      const auto open = greeting.find('<');
      const auto close = open == std::string::npos ? open : greeting.find('>', open);
      if (close == std::string::npos) {
        throw EMailError("Server do not support APOP (no timestamp)");
      }
      const std::string stamp = greeting.substr(open, close - open + 1);
      SendCommand("APOP " + Username + " " + Md5Hex(stamp + Password), {kOk});
    } else {
      SendCommand("USER " + Username, {kOk});
      SendCommand("PASS " + Password, {kOk});
    }
    // A server may offer more once the user is logged in; ask again then.
    ForgetCapabilities();
  } catch (...) {
    Disconnect();
    throw;
  }
}

void TPop3Session::Authenticate(TSaslMechanism mechanism) {
  const std::string name(SaslMechanismName(mechanism));
  if (!capabilitiesKnown_) {
    Capa();
  }
  // A server that lists its mechanisms and not this one gets no secret.
  for (const std::string& line : capabilities_) {
    const std::string upper = ascii::ToUpper(line);
    if (upper.rfind("SASL", 0) == 0 && (upper.size() == 4 || upper[4] == ' ')) {
      const std::string words = " " + upper.substr(4) + " ";
      if (words.find(" " + name + " ") == std::string::npos) {
        throw EMechanismNotOffered(name);
      }
    }
  }
  std::string host;
  int port = 0;
  if (!SplitHostPort(Host, Port, host, port)) {
    host = Host;
  }
  TSaslExchange exchange(mechanism, Username, Password, host, EffectivePort());
  std::string command = "AUTH " + name;
  if (const auto first = exchange.InitialResponse()) {
    // RFC 5034 4: the initial response goes with the command when the line
    // stays within 255 octets; an empty one is a single "=".
    const std::string encoded = first->empty() ? std::string("=") : SaslBase64(*first);
    if (command.size() + 1 + encoded.size() + 2 <= 255) {
      command += " " + encoded;
      exchange.InitialResponseSent();
    }
  }
  WriteLine(command);
  bool cancelled = false;
  for (;;) {
    std::string line(ascii::Trim(ReadLine()));
    if (line.empty()) {
      continue;
    }
    if (line == "+" || line.rfind("+ ", 0) == 0) {
      if (cancelled) {
        throw EMailError("The server goes on with a cancelled SASL exchange.");
      }
      if (exchange.TooManySteps()) {
        // "*" cancels; the server answers "-ERR" and the login fails.
        WriteLine("*");
        cancelled = true;
        continue;
      }
      const std::string_view text = ascii::Trim(std::string_view(line).substr(1));
      WriteLine(SaslBase64(exchange.Respond(SaslUnbase64(text).value_or(std::string(text)))));
      continue;
    }
    LastReply.Clear();
    LastReply.SetTextCode(std::string(ascii::Trim(line.substr(0, 4))));
    LastReply.Text.push_back(line.size() > 4 ? line.substr(4) : std::string());
    MapStatus();
    if (LastReply.NumericCode() != kOk) {
      throw EAuthRefused(LastReply.NumericCode(), LastReply.FormattedText(), exchange.ErrorCause());
    }
    return;
  }
}

void TPop3Session::Disconnect() {
  QuitAndDisconnect();
}

void TPop3Session::DisconnectAndWait() {
  try {
    SendCommand("QUIT");
  } catch (const EConnectionError&) {
  }
  Disconnect();
}

std::string TPop3Session::RefusalText(int n) const {
  const auto& text = LastReply.Text;
  return "RETR " + std::to_string(n) + ": -ERR" + (text.empty() ? "" : " " + text.front());
}

std::unique_ptr<TMessageFetcher> TPop3Session::MakeFetcher(
    const TPop3Listing& listing, const std::function<bool(long long)>& whole) {
  return pelorix::MakeFetcher(*this, listing, whole);
}

int TPop3Session::MessageCount() {
  SendCommand("STAT", {kOk});
  const std::string text = FirstText(LastReply);
  if (text.empty()) {
    return 0;
  }
  const auto blank = text.find(' ');
  const std::string count = blank == std::string::npos ? std::string() : text.substr(0, blank);
  const long long value = StrToInt(count);
  if (value < 0 || value > 0x7fffffff) {
    throw EConvertError("'" + count + "' is not a valid integer value");
  }
  return static_cast<int>(value);
}

long long TPop3Session::MailboxSize() {
  return List(0).Total;
}

TPop3Listing TPop3Session::List(int count) {
  TPop3Listing listing;
  listing.Sizes.assign(static_cast<std::size_t>(std::max(count, 0)), TPop3Listing::kNotListed);
  try {
    SendCommand("LIST", {kOk});
  } catch (const std::exception&) {
    return listing;
  }
  long long total = 0;
  bool summing = true;  // the sum ends at an empty line
  bool broken = false;
  std::size_t listed = 0;
  try {
    for (;;) {
      bool cut = false;
      const std::string line = ReadAnswerLine(static_cast<std::size_t>(MaxLineLength), cut);
      if (!cut && line == ".") {
        break;
      }
      if (cut) {
        broken = true;
        continue;
      }
      if (line.empty()) {
        // The rest is still read, so the next command gets its own answer.
        summing = false;
        broken = true;
        continue;
      }
      const auto blank = line.find(' ');
      const std::string_view rest = blank == std::string::npos
                                        ? std::string_view(line)
                                        : std::string_view(line).substr(blank + 1);
      if (summing) {
        const long long value = StrToIntDef(rest, 0);
        if (value < 0 || value > kMaxListedSize || __builtin_add_overflow(total, value, &total) ||
            total > kMaxListedTotal) {
          summing = false;
          total = -1;
          broken = true;
        }
      }
      if (blank == std::string::npos) {
        broken = true;
        continue;
      }
      const long long number = StrToIntDef(std::string_view(line).substr(0, blank), 0);
      if (number < 1 || number > count) {
        broken = true;
        continue;
      }
      long long& size = listing.Sizes[static_cast<std::size_t>(number - 1)];
      if (size != TPop3Listing::kNotListed) {
        broken = true;
        continue;
      }
      size = StrToIntDef(rest, -1);
      ++listed;
    }
  } catch (const std::exception&) {
    listing.Total = -1;
    return listing;
  }
  listing.Total = total;
  listing.Complete = !broken && listed == listing.Sizes.size();
  return listing;
}

long long TPop3Session::MessageSize(int n) {
  SendCommand("LIST " + std::to_string(n), {kOk});
  const std::string text = FirstText(LastReply);
  const auto blank = text.find(' ');
  if (text.empty() || blank == std::string::npos) {
    return -1;
  }
  return StrToIntDef(text.substr(blank + 1), -1);
}

const std::vector<std::string>& TPop3Session::Capa() {
  capabilities_.clear();
  SendCommand("CAPA");
  capabilitiesKnown_ = true;
  if (LastReply.NumericCode() == kOk) {
    for (std::string line = ReadLine(); line != "."; line = ReadLine()) {
      capabilities_.emplace_back(ascii::Trim(line));
    }
  }
  return capabilities_;
}

bool TPop3Session::HasCapability(std::string_view name) const {
  for (const std::string& line : capabilities_) {
    const std::string_view word = std::string_view(line).substr(0, line.find(' '));
    if (ascii::EqualNoCase(word, name)) {
      return true;
    }
  }
  return false;
}

void TPop3Session::ForgetCapabilities() {
  capabilities_.clear();
  capabilitiesKnown_ = false;
}

void TPop3Session::SkipToEnd() {
  for (;;) {
    bool cut = false;
    if (ReadAnswerLine(1, cut) == "." && !cut) {
      return;
    }
  }
}

void TPop3Session::ReadAnswer(TMailMessage& msg, std::size_t keep,
                              const std::function<void(TLineSource&)>& read) {
  TAnswerSource answer(*this, keep);
  try {
    read(answer);
  } catch (const EConnectionError&) {
    throw;
  } catch (...) {
    msg.Truncated = msg.Truncated || answer.Cut;
    if (!answer.Ended) {
      SkipToEnd();
    }
    throw;
  }
  msg.Truncated = msg.Truncated || answer.Cut;
}

bool TPop3Session::FetchHeader(int n, TMailMessage& msg) {
  WriteLine("TOP " + std::to_string(n) + " " + std::to_string(std::max(0, PeekLines)));
  return PeekLines > 0 ? ReadMessageAnswer(msg) : ReadHeaderAnswer(msg);
}

bool TPop3Session::FetchMessage(int n, TMailMessage& msg) {
  WriteLine("RETR " + std::to_string(n));
  return ReadMessageAnswer(msg);
}

bool TPop3Session::ReadHeaderAnswer(TMailMessage& msg) {
  ReadReply();
  CheckReply({kOk});
  ReadAnswer(msg, HeaderKeep(msg), [&](TLineSource& lines) { msg.ReadHeader(lines, "."); });
  return true;
}

bool TPop3Session::ReadMessageAnswer(TMailMessage& msg) {
  ReadReply();
  if (LastReply.NumericCode() != kOk) {
    return false;
  }
  ReadAnswer(msg, MessageKeep(msg), [&](TLineSource& lines) {
    if (msg.ReadHeader(lines, "").empty()) {
      msg.ReadBody(lines);
    }
  });
  return true;
}

bool TPop3Session::RetrieveRaw(int n, std::string& raw) {
  WriteLine("RETR " + std::to_string(n));
  return ReadRawMessageAnswer(raw);
}

bool TPop3Session::ReadRawMessageAnswer(std::string& raw) {
  raw.clear();
  ReadReply();
  if (LastReply.NumericCode() != kOk) {
    return false;
  }
  try {
    while (AppendAnswerLine(raw, kMaxRawMessage)) {
    }
  } catch (const EConnectionError&) {
    throw;
  } catch (...) {
    // Too large: the rest is read so the next command gets its own answer.
    raw.clear();
    SkipToEnd();
    throw;
  }
  return true;
}

void TPop3Session::SkipAnswer() {
  ReadReply();
  if (LastReply.NumericCode() == kOk) {
    SkipToEnd();
  }
}

bool TPop3Session::DeleteMessage(int n) {
  SendCommand("DELE " + std::to_string(n), {kOk});
  return true;
}

bool TPop3Session::ResetSession() {
  SendCommand("RSET", {kOk});
  return true;
}

}  // namespace pelorix
