#include "net/tls.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <ctime>

#include "net/errors.h"
#include "net/socket_error.h"
#include "text/asciiutil.h"

namespace pelorix {

namespace {

using TClock = std::chrono::steady_clock;

bool IsIpAddress(const std::string& host) {
  in6_addr addr6{};
  in_addr addr4{};
  return inet_pton(AF_INET, host.c_str(), &addr4) == 1 ||
         inet_pton(AF_INET6, host.c_str(), &addr6) == 1;
}

// The reason of the last OpenSSL error, or `fallback`.
std::string OpenSslReason(const char* fallback) {
  const unsigned long code = ERR_peek_last_error();
  ERR_clear_error();
  if (code == 0) {
    return fallback;
  }
  const char* reason = ERR_reason_error_string(code);
  return reason != nullptr ? reason : fallback;
}

std::string NameText(const X509_NAME* name) {
  BIO* out = BIO_new(BIO_s_mem());
  X509_NAME_print_ex(out, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  const long size = BIO_get_mem_data(out, &data);
  std::string text(data, static_cast<std::size_t>(std::max(size, 0L)));
  BIO_free(out);
  return text;
}

std::string TimeText(const ASN1_TIME* time) {
  std::tm tm{};
  if (time == nullptr || ASN1_TIME_to_tm(time, &tm) != 1) {
    return {};
  }
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return text;
}

std::string FingerprintOf(X509* cert) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  X509_digest(cert, EVP_sha256(), digest, &length);
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : ":%02X", digest[i]);
    text += pair;
  }
  return text;
}

}  // namespace

// The BIO moves bytes with send(MSG_NOSIGNAL)/recv on the socket, so a peer
// that has gone away raises an error instead of a SIGPIPE.
struct TTlsCallbacks {
  static int Write(BIO* bio, const char* data, int size) {
    auto* channel = static_cast<TTlsChannel*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    const ssize_t n =
        ::send(channel->fd_, data, static_cast<std::size_t>(size), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      return static_cast<int>(n);
    }
    channel->lastErrno_ = errno;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      BIO_set_retry_write(bio);
    }
    return -1;
  }
  static int Read(BIO* bio, char* data, int size) {
    auto* channel = static_cast<TTlsChannel*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    const ssize_t n = ::recv(channel->fd_, data, static_cast<std::size_t>(size), MSG_DONTWAIT);
    if (n >= 0) {
      return static_cast<int>(n);
    }
    channel->lastErrno_ = errno;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      BIO_set_retry_read(bio);
    }
    return -1;
  }
  static long Control(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }
  static int Create(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
  }
  // Lets the handshake finish whatever the chain says and keeps the first
  // problem, so that a pin can still accept the certificate afterwards.
  static int Verify(int ok, X509_STORE_CTX* store) {
    if (ok == 0) {
      auto* ssl = static_cast<SSL*>(
          X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
      auto* channel = static_cast<TTlsChannel*>(SSL_get_app_data(ssl));
      if (channel != nullptr && channel->firstProblem_.empty()) {
        channel->firstProblem_ = X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
      }
    }
    return 1;
  }
};

std::string_view SecurityName(TSecurity mode) {
  switch (mode) {
    case TSecurity::Tls:
      return "tls";
    case TSecurity::StartTls:
      return "starttls";
    case TSecurity::None:
      return "none";
    case TSecurity::Auto:
      break;
  }
  return "auto";
}

std::optional<TSecurity> ParseSecurity(std::string_view name) {
  name = ascii::Trim(name);
  for (const TSecurity mode :
       {TSecurity::Auto, TSecurity::Tls, TSecurity::StartTls, TSecurity::None}) {
    if (ascii::EqualNoCase(name, SecurityName(mode))) {
      return mode;
    }
  }
  return std::nullopt;
}

TSecurity EffectiveSecurity(TSecurity mode, int port, int implicitPort) {
  return mode == TSecurity::Auto && port == implicitPort ? TSecurity::Tls : mode;
}

std::string NormalizeFingerprint(std::string_view text) {
  std::string digits;
  for (const char c : text) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) {
      digits += static_cast<char>(c >= 'a' ? c - 'a' + 'A' : c);
    }
  }
  return digits;
}

TTlsChannel::TTlsChannel(int fd, const std::string& host) : fd_(fd), host_(host) {
  method_ = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "pelorix socket");
  ctx_ = SSL_CTX_new(TLS_client_method());
  if (method_ == nullptr || ctx_ == nullptr) {
    Free();
    throw ETlsError("TLS handshake failed: out of memory", "out of memory");
  }
  BIO_meth_set_write(method_, TTlsCallbacks::Write);
  BIO_meth_set_read(method_, TTlsCallbacks::Read);
  BIO_meth_set_ctrl(method_, TTlsCallbacks::Control);
  BIO_meth_set_create(method_, TTlsCallbacks::Create);
  SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
  // The system's trust store; OpenSSL honours SSL_CERT_FILE and SSL_CERT_DIR.
  SSL_CTX_set_default_verify_paths(ctx_);
  SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, TTlsCallbacks::Verify);
  // Line protocols end in their own terminators: a missing close_notify is
  // an ordinary close, not an error.
  SSL_CTX_set_options(ctx_, SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_mode(ctx_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  ssl_ = SSL_new(ctx_);
  BIO* bio = ssl_ != nullptr ? BIO_new(method_) : nullptr;
  if (bio == nullptr) {
    Free();
    throw ETlsError("TLS handshake failed: out of memory", "out of memory");
  }
  BIO_set_data(bio, this);
  SSL_set_bio(ssl_, bio, bio);
  SSL_set_app_data(ssl_, this);
  if (IsIpAddress(host_)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host_.c_str());
  } else {
    SSL_set_tlsext_host_name(ssl_, host_.c_str());
    SSL_set1_host(ssl_, host_.c_str());
  }
}

TTlsChannel::~TTlsChannel() {
  Free();
}

void TTlsChannel::Free() {
  if (ssl_ != nullptr) {
    SSL_free(ssl_);
    ssl_ = nullptr;
  }
  if (ctx_ != nullptr) {
    SSL_CTX_free(ctx_);
    ctx_ = nullptr;
  }
  if (method_ != nullptr) {
    BIO_meth_free(method_);
    method_ = nullptr;
  }
}

void TTlsChannel::Handshake(int timeoutMs) {
  const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    ERR_clear_error();
    lastErrno_ = 0;
    const int rc = SSL_connect(ssl_);
    if (rc == 1) {
      return;
    }
    short events = POLLIN;
    switch (SSL_get_error(ssl_, rc)) {
      case SSL_ERROR_WANT_READ:
        break;
      case SSL_ERROR_WANT_WRITE:
        events = POLLOUT;
        break;
      case SSL_ERROR_SYSCALL:
      case SSL_ERROR_ZERO_RETURN:
        if (lastErrno_ != 0) {
          const std::string why = WinsockText(WinsockCode(lastErrno_));
          throw ETlsError("TLS handshake failed: " + why, why);
        }
        throw ETlsError("TLS handshake failed: the server closed the connection",
                        "the server closed the connection");
      default: {
        const std::string why = OpenSslReason("protocol error");
        throw ETlsError("TLS handshake failed: " + why, why);
      }
    }
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
      if (left <= 0) {
        throw ETlsError("TLS handshake failed: Read Timeout", "Read Timeout");
      }
      pollfd pfd{fd_, events, 0};
      const int ready = ::poll(&pfd, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
      if (ready > 0) {
        break;
      }
      if (ready < 0 && errno != EINTR) {
        RaiseSocketError(errno);
      }
    }
  }
}

void TTlsChannel::CheckPeer(std::string_view pin) const {
  X509* cert = SSL_get0_peer_certificate(ssl_);
  if (cert == nullptr) {
    throw ECertificateError("the server sent no certificate");
  }
  if (!NormalizeFingerprint(pin).empty()) {
    const std::string fingerprint = FingerprintOf(cert);
    if (NormalizeFingerprint(pin) == NormalizeFingerprint(fingerprint)) {
      return;
    }
    throw ECertificateError("the certificate no longer matches the pinned fingerprint (" +
                            fingerprint + ")");
  }
  const long result = SSL_get_verify_result(ssl_);
  if (!firstProblem_.empty()) {
    throw ECertificateError(firstProblem_);
  }
  if (result != X509_V_OK) {
    throw ECertificateError(X509_verify_cert_error_string(result));
  }
}

TCertificateInfo TTlsChannel::PeerCertificate() const {
  TCertificateInfo info;
  X509* cert = SSL_get0_peer_certificate(ssl_);
  if (cert == nullptr) {
    info.Problem = "the server sent no certificate";
    return info;
  }
  info.Subject = NameText(X509_get_subject_name(cert));
  info.Issuer = NameText(X509_get_issuer_name(cert));
  info.NotBefore = TimeText(X509_get0_notBefore(cert));
  info.NotAfter = TimeText(X509_get0_notAfter(cert));
  info.Fingerprint = FingerprintOf(cert);
  info.Problem = firstProblem_;
  if (info.Problem.empty() && SSL_get_verify_result(ssl_) != X509_V_OK) {
    info.Problem = X509_verify_cert_error_string(SSL_get_verify_result(ssl_));
  }
  return info;
}

long TTlsChannel::Result(int rc) {
  if (rc > 0) {
    return rc;
  }
  switch (SSL_get_error(ssl_, rc)) {
    case SSL_ERROR_WANT_READ:
      return kWantRead;
    case SSL_ERROR_WANT_WRITE:
      return kWantWrite;
    case SSL_ERROR_ZERO_RETURN:
      return 0;
    case SSL_ERROR_SYSCALL:
      return lastErrno_ != 0 ? kSysError : 0;
    default:
      throw ETlsError(OpenSslReason("protocol error"));
  }
}

long TTlsChannel::Read(char* data, std::size_t size) {
  ERR_clear_error();
  lastErrno_ = 0;
  return Result(SSL_read(ssl_, data, static_cast<int>(std::min<std::size_t>(size, INT_MAX))));
}

long TTlsChannel::Write(const char* data, std::size_t size) {
  ERR_clear_error();
  lastErrno_ = 0;
  return Result(SSL_write(ssl_, data, static_cast<int>(std::min<std::size_t>(size, INT_MAX))));
}

bool TTlsChannel::HasPending() const {
  return SSL_has_pending(ssl_) == 1;
}

void TTlsChannel::Shutdown() {
  if (SSL_is_init_finished(ssl_) == 1) {
    ERR_clear_error();
    SSL_shutdown(ssl_);
    ERR_clear_error();
  }
}

}  // namespace pelorix
