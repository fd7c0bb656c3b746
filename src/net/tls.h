#pragma once
// TLS under the line connection (OpenSSL): the handshake with the host name
// and certificate checks, and record reads and writes over the connection's
// non-blocking socket.

#include <optional>
#include <string>
#include <string_view>

struct ssl_st;
struct ssl_ctx_st;
struct bio_method_st;

namespace pelorix {

// Connection security of a POP3 account or of the SMTP server.
enum class TSecurity {
  Auto,      // TLS on the implicit-TLS port, else upgrade when offered
  Tls,       // TLS from the first byte
  StartTls,  // plain connect, then STLS/STARTTLS, required
  None       // plain text only
};

std::string_view SecurityName(TSecurity mode);
// "auto", "tls", "starttls", "none" in any case; nothing for anything else.
std::optional<TSecurity> ParseSecurity(std::string_view name);
// Auto on the implicit-TLS port (995 for POP3, 465 for SMTP) is Tls.
TSecurity EffectiveSecurity(TSecurity mode, int port, int implicitPort);

struct TCertificateInfo {
  std::string Subject;
  std::string Issuer;
  std::string NotBefore;  // "2026-12-08 23:40:09 UTC"
  std::string NotAfter;
  std::string Fingerprint;  // SHA-256 of the DER certificate, "AB:CD:..."
  std::string Problem;      // why verification failed; empty when it passed
};

// Upper-case hexadecimal digits only ("ab:cd 01" -> "ABCD01"), the form in
// which pins are compared.
std::string NormalizeFingerprint(std::string_view text);

// One TLS session over a connected non-blocking socket that the caller owns.
class TTlsChannel {
 public:
  // Read and Write results besides a byte count (> 0) and 0 (closed).
  static constexpr long kWantRead = -1;
  static constexpr long kWantWrite = -2;
  static constexpr long kSysError = -3;  // LastErrno() tells which

  TTlsChannel(int fd, const std::string& host);
  ~TTlsChannel();
  TTlsChannel(const TTlsChannel&) = delete;
  TTlsChannel& operator=(const TTlsChannel&) = delete;

  // Runs the handshake; raises ETlsError (also when timeoutMs passes).
  void Handshake(int timeoutMs);
  // A matching pin is accepted whatever the chain says; a pin that does not
  // match, or (without a pin) a failed verification, raises ECertificateError.
  void CheckPeer(std::string_view pin) const;
  TCertificateInfo PeerCertificate() const;

  long Read(char* data, std::size_t size);
  long Write(const char* data, std::size_t size);
  // Bytes that OpenSSL holds already, which poll() cannot see.
  bool HasPending() const;
  int LastErrno() const { return lastErrno_; }
  // Sends close_notify once without waiting for the answer.
  void Shutdown();

  // The channel's BIO and verify callbacks.
  friend struct TTlsCallbacks;

 private:
  long Result(int rc);
  void Free();

  int fd_;
  int lastErrno_ = 0;
  std::string firstProblem_;  // the first verification error seen
  std::string host_;
  bio_method_st* method_ = nullptr;
  ssl_ctx_st* ctx_ = nullptr;
  ssl_st* ssl_ = nullptr;
};

}  // namespace pelorix
