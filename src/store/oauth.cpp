#include "store/oauth.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>

#include "text/asciiutil.h"
#include "text/json.h"

namespace pelorix {

namespace {

constexpr long kHttpTimeoutSeconds = 30;
// A token this close to its end is refreshed before a session uses it.
constexpr long long kExpiryMarginSeconds = 300;

std::string Base64Url(const unsigned char* bytes, std::size_t size) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  std::size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    const unsigned v = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) {
      out += kAlphabet[(v >> shift) & 63];
    }
  }
  if (size - i == 1) {
    const unsigned v = bytes[i] << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
  } else if (size - i == 2) {
    const unsigned v = bytes[i] << 16 | bytes[i + 1] << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
  }
  return out;
}

// Plain http only to this machine (the tests' servers); everything else https.
bool AllowedEndpoint(std::string_view url) {
  if (url.rfind("https://", 0) == 0) {
    return true;
  }
  for (const std::string_view local : {"http://127.0.0.1", "http://[::1]", "http://localhost"}) {
    if (url.rfind(local, 0) == 0 &&
        (url.size() == local.size() || url[local.size()] == ':' || url[local.size()] == '/')) {
      return true;
    }
  }
  return false;
}

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* out) {
  auto* body = static_cast<std::string*>(out);
  // Token answers are small; a server sending megabytes is cut off.
  if (body->size() + size * count > (1u << 20)) {
    return 0;
  }
  body->append(data, size * count);
  return size * count;
}

struct TCurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct TSlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// POSTs a form; false with the transport error when no answer came.
bool PostForm(const std::string& url, const std::string& form, long& status, std::string& body,
              std::string& error) {
  if (!AllowedEndpoint(url)) {
    error = "the endpoint is not an https address: " + url;
    return false;
  }
  // Refreshes run in the workers, several at once: libcurl is set up once
  // before the first of them.
  static const bool curlReady = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  std::unique_ptr<CURL, TCurlDeleter> curl(curlReady ? curl_easy_init() : nullptr);
  if (!curl) {
    error = "libcurl cannot start";
    return false;
  }
  std::unique_ptr<curl_slist, TSlistDeleter> headers(
      curl_slist_append(nullptr, "Accept: application/json"));
  char curlError[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, form.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, curlError);
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, kHttpTimeoutSeconds);
  curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl.get(), CURLOPT_USERAGENT, "Pelorix");
  const CURLcode rc = curl_easy_perform(curl.get());
  if (rc != CURLE_OK) {
    error = curlError[0] != '\0' ? curlError : curl_easy_strerror(rc);
    return false;
  }
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
  return true;
}

std::string Field(std::string_view name, std::string_view value) {
  return FormEncode(name) + "=" + FormEncode(value);
}

std::string ClientFields(const TOAuthProvider& provider) {
  std::string out = Field("client_id", provider.ClientId);
  if (!provider.ClientSecret.empty()) {
    out += "&" + Field("client_secret", provider.ClientSecret);
  }
  return out;
}

long long ParseSeconds(const std::string& text) {
  long long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9' || value > 100000000) {
      return 0;
    }
    value = value * 10 + (c - '0');
  }
  return value;
}

TTokenAnswer TokenRequest(const TOAuthProvider& provider, const std::string& form, long long now) {
  TTokenAnswer answer;
  long status = 0;
  std::string body;
  if (provider.ClientId.empty()) {
    answer.Error = "no client ID";
    answer.ErrorDescription = MissingClientIdHint(provider);
    return answer;
  }
  if (!PostForm(provider.TokenEndpoint, form + "&" + ClientFields(provider), status, body,
                answer.Error)) {
    return answer;
  }
  const auto members = ParseJsonObjectMembers(body);
  if (!members) {
    answer.Error = "HTTP " + std::to_string(status);
    answer.ErrorDescription = "the token endpoint gave no JSON answer";
    return answer;
  }
  answer.AccessToken = JsonMember(*members, "access_token");
  answer.RefreshToken = JsonMember(*members, "refresh_token");
  answer.Error = JsonMember(*members, "error");
  answer.ErrorDescription = JsonMember(*members, "error_description");
  if (const long long expires = ParseSeconds(JsonMember(*members, "expires_in")); expires > 0) {
    answer.ExpiresAt = now + expires;
  }
  answer.Ok = status == 200 && answer.Error.empty() && !answer.AccessToken.empty();
  if (!answer.Ok && answer.Error.empty()) {
    answer.Error = "HTTP " + std::to_string(status);
  }
  return answer;
}

std::string Param(std::string_view query, std::string_view name) {
  std::size_t pos = 0;
  while (pos <= query.size()) {
    const auto amp = query.find('&', pos);
    const std::string_view pair =
        query.substr(pos, amp == std::string_view::npos ? std::string_view::npos : amp - pos);
    const auto eq = pair.find('=');
    if (FormDecode(pair.substr(0, eq)) == name) {
      return eq == std::string_view::npos ? std::string() : FormDecode(pair.substr(eq + 1));
    }
    if (amp == std::string_view::npos) {
      break;
    }
    pos = amp + 1;
  }
  return {};
}

}  // namespace

std::vector<TOAuthProvider> BuiltInOAuthProviders() {
  TOAuthProvider gmail;
  gmail.Id = "gmail";
  gmail.Caption = "Gmail";
  gmail.AuthorizationEndpoint = "https://accounts.google.com/o/oauth2/v2/auth";
  gmail.TokenEndpoint = "https://oauth2.googleapis.com/token";
  gmail.RevocationEndpoint = "https://oauth2.googleapis.com/revoke";
  gmail.Scope = "https://mail.google.com/";
  gmail.ClientId = PELORIX_GMAIL_CLIENT_ID;
  gmail.Pop3Server = "pop.gmail.com:995";
  gmail.Pop3Security = "tls";
  gmail.SmtpServer = "smtp.gmail.com";
  gmail.SmtpPort = "465";
  gmail.SmtpSecurity = "tls";
  gmail.Mechanism = "oauthbearer";

  TOAuthProvider outlook;
  outlook.Id = "outlook";
  outlook.Caption = "Outlook.com / Microsoft 365";
  outlook.AuthorizationEndpoint = "https://login.microsoftonline.com/common/oauth2/v2.0/authorize";
  outlook.TokenEndpoint = "https://login.microsoftonline.com/common/oauth2/v2.0/token";
  outlook.DeviceEndpoint = "https://login.microsoftonline.com/common/oauth2/v2.0/devicecode";
  outlook.Scope =
      "https://outlook.office.com/POP.AccessAsUser.All https://outlook.office.com/SMTP.Send "
      "offline_access";
  outlook.ClientId = PELORIX_OUTLOOK_CLIENT_ID;
  outlook.Pop3Server = "outlook.office365.com:995";
  outlook.Pop3Security = "tls";
  outlook.SmtpServer = "smtp.office365.com";
  outlook.SmtpPort = "587";
  outlook.SmtpSecurity = "starttls";
  // Microsoft documents XOAUTH2 for POP3 and SMTP.
  outlook.Mechanism = "xoauth2";

  TOAuthProvider custom;
  custom.Id = "custom";
  custom.Caption = "其他 (自行填写)";
  custom.Pop3Security = "tls";
  custom.SmtpSecurity = "auto";
  custom.Mechanism = "oauthbearer";
  return {gmail, outlook, custom};
}

std::optional<TOAuthProvider> FindOAuthProvider(TSettingsStore& store, std::string_view id) {
  for (TOAuthProvider provider : BuiltInOAuthProviders()) {
    if (!ascii::EqualNoCase(provider.Id, id)) {
      continue;
    }
    TSettingsKey key;
    if (OpenSettingsKey(store, std::string(kOAuthKey) + "\\" + provider.Id, false, key)) {
      const auto take = [&](std::string_view name, std::string& field) {
        const std::string value(ascii::Trim(ReadTextValue(key, name, "")));
        if (!value.empty()) {
          field = value;
        }
      };
      take("ClientId", provider.ClientId);
      take("ClientSecret", provider.ClientSecret);
      if (provider.Id == "custom") {
        take("AuthorizationEndpoint", provider.AuthorizationEndpoint);
        take("TokenEndpoint", provider.TokenEndpoint);
        take("DeviceEndpoint", provider.DeviceEndpoint);
        take("RevocationEndpoint", provider.RevocationEndpoint);
        take("Scope", provider.Scope);
        take("Mechanism", provider.Mechanism);
      }
    }
    return provider;
  }
  return std::nullopt;
}

std::string MissingClientIdHint(const TOAuthProvider& provider) {
  const std::string where = provider.Id == "gmail" ? "Google Cloud Console (桌面应用)"
                            : provider.Id == "outlook"
                                ? "Microsoft Entra 应用注册 (公共客户端, 重定向 http://localhost)"
                                : "您的授权服务器";
  return "没有 " + provider.Caption + " 的客户端 ID：请在 " + where +
         " 注册一个客户端，然后在设置中填写它 (pelorix set OAuth\\" + provider.Id +
         " ClientId ID)。";
}

std::string RandomUrlToken(std::size_t bytes) {
  std::string raw(bytes, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(raw.data()), static_cast<int>(bytes)) != 1) {
    throw std::runtime_error("no random bytes");
  }
  return Base64Url(reinterpret_cast<const unsigned char*>(raw.data()), raw.size());
}

std::string PkceS256(std::string_view verifier) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(verifier.data(), verifier.size(), digest, &length, EVP_sha256(), nullptr);
  return Base64Url(digest, length);
}

TPkce MakePkce() {
  TPkce pkce;
  pkce.Verifier = RandomUrlToken(32);  // 43 characters
  pkce.Challenge = PkceS256(pkce.Verifier);
  return pkce;
}

std::string FormEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string FormDecode(std::string_view text) {
  const auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9')
      return c - '0';
    if (c >= 'a' && c <= 'f')
      return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
      return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
               hex(text[i + 2]) >= 0) {
      out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string AuthorizationUrl(const TOAuthProvider& provider, std::string_view redirectUri,
                             std::string_view state, std::string_view challenge,
                             std::string_view loginHint) {
  std::string url = provider.AuthorizationEndpoint;
  url += url.find('?') == std::string::npos ? '?' : '&';
  url += Field("response_type", "code") + "&" + Field("client_id", provider.ClientId) + "&" +
         Field("redirect_uri", redirectUri) + "&" + Field("scope", provider.Scope) + "&" +
         Field("state", state) + "&" + Field("code_challenge", challenge) + "&" +
         Field("code_challenge_method", "S256");
  if (provider.Id == "gmail") {
    // Without these Google gives no refresh token on a second sign-in.
    url += "&" + Field("access_type", "offline") + "&" + Field("prompt", "consent");
  }
  if (!loginHint.empty()) {
    url += "&" + Field("login_hint", loginHint);
  }
  return url;
}

TRedirectResult ParseRedirectTarget(std::string_view target, std::string_view expectedState) {
  TRedirectResult result;
  const auto question = target.find('?');
  const std::string_view query =
      question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
  const std::string error = Param(query, "error");
  if (!error.empty()) {
    const std::string description = Param(query, "error_description");
    result.Error = description.empty() ? error : error + ": " + description;
    return result;
  }
  // RFC 6749 10.12: an answer to someone else's request is no answer.
  if (expectedState.empty() || Param(query, "state") != expectedState) {
    result.Error = "state mismatch";
    return result;
  }
  result.Code = Param(query, "code");
  if (result.Code.empty()) {
    result.Error = "no authorization code";
  }
  return result;
}

TLoopbackRedirect::~TLoopbackRedirect() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

bool TLoopbackRedirect::Listen(std::string* error) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(fd_, 4) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
    if (error) {
      *error = "cannot listen on 127.0.0.1";
    }
    return false;
  }
  port_ = ntohs(addr.sin_port);
  return true;
}

std::string TLoopbackRedirect::RedirectUri() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

TRedirectResult TLoopbackRedirect::Wait(std::string_view expectedState, int timeoutMs,
                                        const std::atomic<bool>* cancel) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  const auto left = [&] {
    return static_cast<int>(std::max<long long>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
  };
  TRedirectResult result;
  result.Error = "no answer from the browser in time";
  if (fd_ < 0) {
    return result;
  }
  // Browsers open spare connections; the one that sends a request line counts.
  while (left() > 0) {
    if (cancel && cancel->load()) {
      result.Error = "cancelled";
      break;
    }
    pollfd listening{fd_, POLLIN, 0};
    const int ready = ::poll(&listening, 1, std::min(left(), 200));
    if (ready < 0) {
      break;
    }
    if (ready == 0) {
      continue;
    }
    const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      continue;
    }
    std::string request;
    while (request.find("\r\n") == std::string::npos && request.size() < 8192 && left() > 0) {
      pollfd readable{client, POLLIN, 0};
      if (::poll(&readable, 1, left()) <= 0) {
        break;
      }
      char buffer[2048];
      const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) {
        break;
      }
      request.append(buffer, static_cast<std::size_t>(n));
    }
    const auto lineEnd = request.find("\r\n");
    const std::string_view line = std::string_view(request).substr(0, lineEnd);
    const auto first = line.find(' ');
    const auto second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    if (lineEnd == std::string::npos || line.substr(0, first) != "GET" ||
        second == std::string_view::npos) {
      ::close(client);
      continue;
    }
    const std::string_view target = line.substr(first + 1, second - first - 1);
    if (target.rfind("/favicon", 0) == 0) {
      static constexpr std::string_view kNotFound =
          "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
      (void)::send(client, kNotFound.data(), kNotFound.size(), MSG_NOSIGNAL);
      ::close(client);
      continue;
    }
    result = ParseRedirectTarget(target, expectedState);
    const std::string page =
        result.Error.empty()
            ? "<html><body><p>Pelorix 已登录，可以关闭这个窗口。</p></body></html>"
            : "<html><body><p>Pelorix 登录失败：" + result.Error + "</p></body></html>";
    const std::string answer =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
        "Content-Length: " +
        std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n" + page;
    (void)::send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
    ::close(client);
    break;
  }
  // Served once: a later request finds nobody listening.
  ::close(fd_);
  fd_ = -1;
  return result;
}

std::string TTokenAnswer::Cause() const {
  return ErrorDescription.empty() ? Error : Error + ": " + ErrorDescription;
}

TTokenAnswer ExchangeAuthorizationCode(const TOAuthProvider& provider, std::string_view code,
                                       std::string_view verifier, std::string_view redirectUri,
                                       long long now) {
  return TokenRequest(provider,
                      Field("grant_type", "authorization_code") + "&" + Field("code", code) + "&" +
                          Field("redirect_uri", redirectUri) + "&" +
                          Field("code_verifier", verifier),
                      now);
}

TTokenAnswer RefreshAccessToken(const TOAuthProvider& provider, std::string_view refreshToken,
                                long long now) {
  return TokenRequest(provider,
                      Field("grant_type", "refresh_token") + "&" +
                          Field("refresh_token", refreshToken) + "&" +
                          Field("scope", provider.Scope),
                      now);
}

bool RevokeToken(const TOAuthProvider& provider, std::string_view token, std::string* error) {
  std::string why;
  long status = 0;
  std::string body;
  if (provider.RevocationEndpoint.empty()) {
    why = "the provider offers no revocation";
  } else if (PostForm(provider.RevocationEndpoint,
                      Field("token", token) + "&" + ClientFields(provider), status, body, why)) {
    if (status == 200) {
      return true;
    }
    why = "HTTP " + std::to_string(status);
  }
  if (error) {
    *error = why;
  }
  return false;
}

TDeviceAuthorization StartDeviceAuthorization(const TOAuthProvider& provider, long long now) {
  TDeviceAuthorization device;
  long status = 0;
  std::string body;
  if (provider.DeviceEndpoint.empty()) {
    device.Error = "the provider offers no device sign-in";
    return device;
  }
  if (!PostForm(provider.DeviceEndpoint,
                ClientFields(provider) + "&" + Field("scope", provider.Scope), status, body,
                device.Error)) {
    return device;
  }
  const auto members = ParseJsonObjectMembers(body);
  if (!members) {
    device.Error = "HTTP " + std::to_string(status);
    return device;
  }
  device.DeviceCode = JsonMember(*members, "device_code");
  device.UserCode = JsonMember(*members, "user_code");
  device.VerificationUri = JsonMember(*members, "verification_uri");
  device.VerificationUriComplete = JsonMember(*members, "verification_uri_complete");
  if (const long long interval = ParseSeconds(JsonMember(*members, "interval")); interval > 0) {
    device.IntervalSeconds = static_cast<int>(std::min<long long>(interval, 60));
  }
  if (const long long expires = ParseSeconds(JsonMember(*members, "expires_in")); expires > 0) {
    device.ExpiresAt = now + expires;
  }
  device.Error = JsonMember(*members, "error");
  device.Ok = status == 200 && device.Error.empty() && !device.DeviceCode.empty() &&
              !device.UserCode.empty() && !device.VerificationUri.empty();
  if (!device.Ok && device.Error.empty()) {
    device.Error = "HTTP " + std::to_string(status);
  }
  return device;
}

TTokenAnswer PollDeviceToken(const TOAuthProvider& provider, std::string_view deviceCode,
                             long long now) {
  return TokenRequest(provider,
                      Field("grant_type", "urn:ietf:params:oauth:grant-type:device_code") + "&" +
                          Field("device_code", deviceCode),
                      now);
}

bool TokenNearExpiry(long long expiresAt, long long now) {
  return expiresAt <= 0 || expiresAt - now <= kExpiryMarginSeconds;
}

}  // namespace pelorix
