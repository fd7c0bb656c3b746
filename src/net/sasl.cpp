#include "net/sasl.h"

#include <array>

#include "text/asciiutil.h"
#include "text/json.h"

namespace pelorix {

namespace {

constexpr std::array<std::string_view, 4> kNames = {"PLAIN", "LOGIN", "XOAUTH2", "OAUTHBEARER"};
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// RFC 7628 3.1: "," and "=" in the authorization identity are escaped.
std::string EscapeSaslName(std::string_view name) {
  std::string out;
  for (const char c : name) {
    if (c == ',') {
      out += "=2C";
    } else if (c == '=') {
      out += "=3D";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string_view SaslMechanismName(TSaslMechanism mechanism) {
  return kNames[static_cast<std::size_t>(mechanism)];
}

std::optional<TSaslMechanism> ParseSaslMechanism(std::string_view name) {
  name = ascii::Trim(name);
  for (std::size_t i = 0; i < kNames.size(); ++i) {
    if (ascii::EqualNoCase(name, kNames[i])) {
      return static_cast<TSaslMechanism>(i);
    }
  }
  return std::nullopt;
}

bool IsOAuthMechanism(TSaslMechanism mechanism) {
  return mechanism == TSaslMechanism::XOAuth2 || mechanism == TSaslMechanism::OAuthBearer;
}

std::optional<TOAuthErrorPayload> ParseOAuthErrorPayload(std::string_view json) {
  const auto members = ParseJsonObjectMembers(json);
  if (!members || !HasJsonMember(*members, "status")) {
    return std::nullopt;
  }
  TOAuthErrorPayload payload;
  payload.Status = JsonMember(*members, "status");
  payload.Scope = JsonMember(*members, "scope");
  payload.Schemes = JsonMember(*members, "schemes");
  payload.OpenIdConfiguration = JsonMember(*members, "openid-configuration");
  return payload;
}

std::string DescribeOAuthError(const TOAuthErrorPayload& payload) {
  // RFC 7628 names the error codes of RFC 6750; Google and Microsoft send
  // the HTTP status instead.
  const std::string& s = payload.Status;
  std::string words;
  if (s == "invalid_token" || s == "401") {
    words = "token expired or revoked";
  } else if (s == "insufficient_scope" || s == "403") {
    words = "invalid scope";
  } else if (s == "invalid_request" || s == "400") {
    words = "invalid request";
  } else {
    words = "token refused";
  }
  std::string out = words + " (status " + s;
  if (!payload.Scope.empty()) {
    out += ", scope " + payload.Scope;
  }
  return out + ")";
}

TSaslExchange::TSaslExchange(TSaslMechanism mechanism, std::string user, std::string secret,
                             std::string host, int port)
    : mechanism_(mechanism),
      user_(std::move(user)),
      secret_(std::move(secret)),
      host_(std::move(host)),
      port_(port) {}

std::string TSaslExchange::Credentials() const {
  switch (mechanism_) {
    case TSaslMechanism::Plain:
      return std::string(1, '\0') + user_ + std::string(1, '\0') + secret_;
    case TSaslMechanism::Login:
      return user_;
    case TSaslMechanism::XOAuth2:
      return "user=" + user_ + "\x01" + "auth=Bearer " + secret_ + "\x01\x01";
    case TSaslMechanism::OAuthBearer: {
      std::string out = "n,a=" + EscapeSaslName(user_) + ",\x01";
      if (!host_.empty()) {
        out += "host=" + host_ + "\x01";
      }
      if (port_ > 0) {
        out += "port=" + std::to_string(port_) + "\x01";
      }
      return out + "auth=Bearer " + secret_ + "\x01\x01";
    }
  }
  return {};
}

std::optional<std::string> TSaslExchange::InitialResponse() const {
  if (mechanism_ == TSaslMechanism::Login) {
    return std::nullopt;
  }
  return Credentials();
}

std::string TSaslExchange::Respond(std::string_view challenge) {
  ++steps_;
  if (mechanism_ == TSaslMechanism::Login) {
    // "Username:" then "Password:"; the prompts' wording varies, their order not.
    if (steps_ == 1) {
      return user_;
    }
    if (steps_ == 2) {
      sent_ = true;
      return secret_;
    }
    return {};
  }
  if (!sent_) {
    // The server asked for the first message instead of taking it with the command.
    sent_ = true;
    return Credentials();
  }
  if (IsOAuthMechanism(mechanism_)) {
    if (const auto payload = ParseOAuthErrorPayload(challenge)) {
      errorCause_ = DescribeOAuthError(*payload);
    } else if (errorCause_.empty()) {
      errorCause_ = "token refused";
    }
    // RFC 7628 3.2.3: a single 0x01 ends the failed exchange; XOAUTH2 an empty line.
    return mechanism_ == TSaslMechanism::OAuthBearer ? std::string("\x01") : std::string();
  }
  return {};
}

std::string SaslBase64(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                       static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) {
      v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    }
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::optional<std::string> SaslUnbase64(std::string_view text) {
  if (text.size() % 4 != 0) {
    return std::nullopt;
  }
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    unsigned v = 0;
    int pad = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const char c = text[i + k];
      unsigned d = 0;
      if (c == '=') {
        // Padding only at the very end, and at most two.
        if (i + 4 != text.size() || k < 2) {
          return std::nullopt;
        }
        ++pad;
      } else {
        if (pad > 0) {
          return std::nullopt;
        }
        const char* at = nullptr;
        for (const char* p = kAlphabet; *p != '\0'; ++p) {
          if (*p == c) {
            at = p;
            break;
          }
        }
        if (at == nullptr) {
          return std::nullopt;
        }
        d = static_cast<unsigned>(at - kAlphabet);
      }
      v = v << 6 | d;
    }
    out += static_cast<char>((v >> 16) & 0xff);
    if (pad < 2) {
      out += static_cast<char>((v >> 8) & 0xff);
    }
    if (pad < 1) {
      out += static_cast<char>(v & 0xff);
    }
  }
  return out;
}

}  // namespace pelorix
