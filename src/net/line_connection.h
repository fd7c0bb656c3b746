#pragma once
// Blocking line-oriented TCP client: connect by host name and port, write
// command lines, read LF terminated lines, read and check server replies.
// One object is only ever driven by one thread.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mime/line_source.h"
#include "net/tls.h"

namespace pelorix {

enum class TConnectionStatus {
  Resolving,
  Connecting,
  Connected,
  Disconnecting,
  Disconnected,
  Text
};

enum class TMaxLineAction { Exception, Split };

// The last reply of the server. TextCode and NumericCode follow each other.
class TServerReply {
 public:
  const std::string& TextCode() const { return textCode_; }
  int NumericCode() const { return numericCode_; }
  // A non-empty text also sets the numeric code (0 when not a number).
  void SetTextCode(std::string code);
  // A positive number also sets the text code.
  void SetNumericCode(int code);
  void Clear();
  // All Text lines, each followed by CR LF (the message of reply errors).
  std::string FormattedText() const;

  std::vector<std::string> Text;

 private:
  std::string textCode_;
  int numericCode_ = 0;
};

// Splits a server text into host and port: "host", "host:port",
// "[v6addr]" or "[v6addr]:port"; a bare IPv6 address keeps defaultPort.
// Returns false when the port part is not a number from 1 to 65535.
bool SplitHostPort(std::string_view text, int defaultPort, std::string& host, int& port);
// "host:port" ("[v6addr]:port"), the port filled in: the name under which a
// server's certificate is pinned. Empty when the text is no server.
std::string HostPortKey(std::string_view server, int defaultPort);

class TLineConnection : public TLineSource {
 public:
  using TStatusHandler = std::function<void(TConnectionStatus, const std::string&)>;

  TLineConnection();
  TLineConnection(const TLineConnection&) = delete;
  TLineConnection& operator=(const TLineConnection&) = delete;
  ~TLineConnection() override;

  std::string Host;
  int Port = 0;
  int MaxLineLength = 16384;
  TMaxLineAction MaxLineAction = TMaxLineAction::Exception;
  int ReadTimeout = 0;  // milliseconds, 0 = wait without limit
  int RecvBufferSize = 32768;
  int SendBufferSize = 32768;
  TStatusHandler OnStatus;
  // TLS from the first byte (the ports 995 and 465): Connect runs the
  // handshake right after the TCP connect.
  bool ImplicitTls = false;
  // SHA-256 fingerprint of the server certificate the user trusts for this
  // host and port; a match is accepted whatever the chain says, a mismatch
  // fails. Empty: the system's trust store and the host name decide.
  std::string PinnedCertificate;
  // Only looks at the server's certificate and never refuses it (showing
  // and pinning a certificate); never for a connection that logs in.
  bool InspectCertificate = false;

  // timeout < 0: the connect blocks until the system completes or refuses it;
  // timeout > 0: raises EConnectTimeout after that many milliseconds.
  virtual void Connect(int timeout = -1);
  // Takes over an already connected stream socket (a socket pair in fuzzers
  // and tests); it is closed like one that Connect opened.
  void AttachSocket(int fd);
  virtual void Disconnect();
  virtual bool IsConnected();

  // TLS handshake over the open connection (after STLS/STARTTLS). Bytes the
  // server sent before the handshake are refused. Any failure closes the
  // socket: nothing goes on in plain text.
  void StartTls();
  bool TlsActive() const { return tls_ != nullptr; }
  // The certificate of the current TLS session.
  std::optional<TCertificateInfo> PeerCertificate() const;
  // The port Connect uses: the one in Host, else Port.
  int EffectivePort() const;

  void WriteLine(std::string_view text);
  // Writes bytes as they are (callers add their own line ends).
  void Write(std::string_view bytes);

  // Next line up to LF, the CR before it removed.
  std::string ReadLine() override;
  // timeout < 0 uses ReadTimeout and raises EReadTimeout on expiry; an
  // explicit timeout returns an empty line instead. maxLength < 0 uses
  // MaxLineLength.
  std::string ReadLine(std::string_view terminator, int timeout = -1, int maxLength = -1);
  // A line of a multi-line answer (LF terminated), whatever its length: the
  // first `keep` bytes are returned and the rest up to the LF is read and
  // dropped, setting `cut`, so the reader stays in step with the server.
  // The CR before the LF is removed from a line that was not cut.
  std::string ReadAnswerLine(std::size_t keep, bool& cut);
  // The next line of a multi-line answer appended to `out` as it came, line
  // end included, with the leading dot of a stuffed line removed. False,
  // with nothing appended, at the answer's closing ".". Raises EMailError
  // when `out` would grow beyond `limit` bytes (the line is still read).
  bool AppendAnswerLine(std::string& out, std::size_t limit);
  // Exactly `count` bytes (an IMAP literal): the first `keep` of them are
  // appended to `out`, the rest read and dropped as they arrive.
  void ReadBytes(std::uint64_t count, std::string& out, std::uint64_t keep);

  // Emits a free status text.
  void Status(const std::string& text) { DoStatus(TConnectionStatus::Text, text); }

 protected:
  void DoStatus(TConnectionStatus status, const std::string& text);
  bool SocketOpen() const { return fd_ >= 0; }

 private:
  int OpenSocket(int family, int type, int protocol);
  void ConnectAddress(int fd, const void* addr, unsigned addrLen, int timeout);
  // Waits for and appends received bytes; false when an explicit timeout expired.
  bool Receive(int timeout);
  void CloseSocket();
  // Drops bytes read from the front of the input buffer.
  void Consume(std::size_t bytes);
  // Receive space of RecvBufferSize bytes, kept between reads.
  char* RecvScratch();

  int fd_ = -1;
  std::unique_ptr<TTlsChannel> tls_;
  std::string buffer_;
  std::vector<char> recvScratch_;
  std::size_t bufferStart_ = 0;
  bool closedByPeer_ = false;
};

// A connection that reads and checks server replies.
class TLineClient : public TLineConnection {
 public:
  TServerReply LastReply;

  // Reads one reply into LastReply.
  virtual void ReadReply();
  // WriteLine, ReadReply, then the allowed-code check; returns NumericCode.
  int SendCommand(std::string_view line, std::initializer_list<int> allowed = {});
  // Raises EProtocolReplyError when allowed is not empty and lacks NumericCode.
  void CheckReply(std::initializer_list<int> allowed) const;

 protected:
  // The generic reply reading and parsing (multi-line replies included).
  void ReadRawReply();
  // Says QUIT while the socket is open (a peer already gone is no error),
  // then closes the connection.
  void QuitAndDisconnect();
};

}  // namespace pelorix
