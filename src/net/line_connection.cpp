#include "net/line_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <memory>

#include "net/errors.h"
#include "net/socket_error.h"
#include "net/text_util.h"
#include "text/asciiutil.h"

namespace pelorix {

namespace {

using TClock = std::chrono::steady_clock;

// Waits for events on fd; timeout < 0 waits without limit. Returns false on expiry.
bool WaitFor(int fd, short events, int timeout) {
  const auto deadline = TClock::now() + std::chrono::milliseconds(std::max(timeout, 0));
  for (;;) {
    int wait = -1;
    if (timeout >= 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
      wait = static_cast<int>(std::max<long long>(left.count(), 0));
    }
    pollfd pfd{fd, events, 0};
    const int rc = ::poll(&pfd, 1, wait);
    if (rc > 0) {
      return true;
    }
    if (rc == 0) {
      return false;
    }
    if (errno != EINTR) {
      RaiseSocketError(errno);
    }
  }
}

bool IsNumericAddress(const std::string& host) {
  in6_addr addr6{};
  in_addr addr4{};
  return inet_pton(AF_INET, host.c_str(), &addr4) == 1 ||
         inet_pton(AF_INET6, host.c_str(), &addr6) == 1;
}

std::string AddressText(const sockaddr* addr) {
  char text[INET6_ADDRSTRLEN] = {};
  if (addr->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(addr)->sin_addr, text, sizeof text);
  } else if (addr->sa_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(addr)->sin6_addr, text, sizeof text);
  }
  return text;
}

struct TAddrInfoFree {
  void operator()(addrinfo* info) const { freeaddrinfo(info); }
};

bool ParsePort(std::string_view text, int& port) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > 65535) {
    return false;
  }
  port = value;
  return true;
}

}  // namespace

void TServerReply::SetTextCode(std::string code) {
  textCode_ = std::move(code);
  if (!textCode_.empty()) {
    const long long value = StrToIntDef(textCode_, 0);
    numericCode_ = (value >= INT_MIN && value <= INT_MAX) ? static_cast<int>(value) : 0;
  }
}

void TServerReply::SetNumericCode(int code) {
  numericCode_ = code;
  if (code > 0) {
    textCode_ = std::to_string(code);
  }
}

void TServerReply::Clear() {
  textCode_.clear();
  numericCode_ = 0;
  Text.clear();
}

std::string TServerReply::FormattedText() const {
  std::string result;
  for (const auto& line : Text) {
    result += line;
    result += "\r\n";
  }
  return result;
}

bool SplitHostPort(std::string_view text, int defaultPort, std::string& host, int& port) {
  port = defaultPort;
  if (!text.empty() && text.front() == '[') {
    const auto close = text.find(']');
    if (close == std::string_view::npos) {
      return false;
    }
    host = std::string(text.substr(1, close - 1));
    const auto rest = text.substr(close + 1);
    if (rest.empty()) {
      return true;
    }
    return rest.front() == ':' && ParsePort(rest.substr(1), port);
  }
  const auto colon = text.find(':');
  if (colon == std::string_view::npos || text.find(':', colon + 1) != std::string_view::npos) {
    host = std::string(text);  // a name, or a bare IPv6 address
    return true;
  }
  host = std::string(text.substr(0, colon));
  return ParsePort(text.substr(colon + 1), port);
}

std::string HostPortKey(std::string_view server, int defaultPort) {
  std::string host;
  int port = 0;
  if (!SplitHostPort(ascii::Trim(server), defaultPort, host, port) || host.empty()) {
    return {};
  }
  if (host.find(':') != std::string::npos) {
    host = "[" + host + "]";
  }
  return host + ":" + std::to_string(port);
}

TLineConnection::TLineConnection() = default;

TLineConnection::~TLineConnection() {
  CloseSocket();
}

void TLineConnection::DoStatus(TConnectionStatus status, const std::string& text) {
  if (OnStatus) {
    OnStatus(status, text);
  }
}

void TLineConnection::Connect(int timeout) {
  if (fd_ >= 0) {
    throw EAlreadyConnected();
  }
  buffer_.clear();
  bufferStart_ = 0;
  closedByPeer_ = false;
  try {
    std::string host;
    int port = 0;
    if (!SplitHostPort(Host, Port, host, port) || host.empty() || port <= 0) {
      RaiseWinsockError(11001);
    }
    if (!IsNumericAddress(host)) {
      DoStatus(TConnectionStatus::Resolving, "Resolving hostname " + host + ".");
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
      RaiseWinsockError(ResolverCode(rc));
    }
    std::unique_ptr<addrinfo, TAddrInfoFree> list(found);
    // Try every address the name has (localhost: ::1, then 127.0.0.1);
    // the last failure is the one reported.
    for (addrinfo* ai = list.get(); ai != nullptr; ai = ai->ai_next) {
      int fd = -1;
      try {
        fd = OpenSocket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
        DoStatus(TConnectionStatus::Connecting, "Connecting to " + AddressText(ai->ai_addr) + ".");
        ConnectAddress(fd, ai->ai_addr, ai->ai_addrlen, timeout);
        fd_ = fd;
        break;
      } catch (const ESocketError&) {
        if (fd >= 0) {
          ::close(fd);
        }
        if (ai->ai_next == nullptr) {
          throw;
        }
      } catch (...) {
        if (fd >= 0) {
          ::close(fd);
        }
        throw;
      }
    }
    if (fd_ < 0) {
      RaiseWinsockError(11001);
    }
    const int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    DoStatus(TConnectionStatus::Connected, "Connected.");
    if (ImplicitTls) {
      StartTls();
    }
  } catch (...) {
    CloseSocket();
    throw;
  }
}

void TLineConnection::AttachSocket(int fd) {
  if (fd_ >= 0) {
    throw EAlreadyConnected();
  }
  buffer_.clear();
  bufferStart_ = 0;
  closedByPeer_ = false;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  fd_ = fd;
}

int TLineConnection::OpenSocket(int family, int type, int protocol) {
  const int fd = ::socket(family, type | SOCK_CLOEXEC | SOCK_NONBLOCK, protocol);
  if (fd < 0) {
    RaiseSocketError(errno);
  }
  return fd;
}

void TLineConnection::ConnectAddress(int fd, const void* addr, unsigned addrLen, int timeout) {
  if (::connect(fd, static_cast<const sockaddr*>(addr), addrLen) == 0) {
    return;
  }
  if (errno != EINPROGRESS && errno != EINTR) {
    RaiseSocketError(errno);
  }
  if (!WaitFor(fd, POLLOUT, timeout > 0 ? timeout : -1)) {
    throw EConnectTimeout();
  }
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
    RaiseSocketError(errno);
  }
  if (err != 0) {
    RaiseSocketError(err);
  }
}

void TLineConnection::CloseSocket() {
  if (tls_) {
    tls_->Shutdown();
    tls_.reset();
  }
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

void TLineConnection::Disconnect() {
  DoStatus(TConnectionStatus::Disconnecting, "Disconnecting.");
  CloseSocket();
  buffer_.clear();
  bufferStart_ = 0;
  closedByPeer_ = false;
  DoStatus(TConnectionStatus::Disconnected, "Disconnected.");
}

bool TLineConnection::IsConnected() {
  if (fd_ < 0) {
    return false;
  }
  bool closed = closedByPeer_;
  if (!closed) {
    pollfd pfd{fd_, POLLIN, 0};
    if ((tls_ && tls_->HasPending()) || ::poll(&pfd, 1, 0) > 0) {
      // Readable: either data (kept for the next read) or the peer's close.
      char* chunk = RecvScratch();
      if (tls_) {
        long n = TTlsChannel::kSysError;
        try {
          n = tls_->Read(chunk, recvScratch_.size());
        } catch (const ETlsError&) {
        }
        if (n > 0) {
          buffer_.append(chunk, static_cast<std::size_t>(n));
        } else if (n == 0 || n == TTlsChannel::kSysError) {
          closed = true;
          closedByPeer_ = true;
        }
      } else {
        const ssize_t n = ::recv(fd_, chunk, recvScratch_.size(), 0);
        if (n > 0) {
          buffer_.append(chunk, static_cast<std::size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
          closed = true;
          closedByPeer_ = true;
        }
      }
    }
  }
  if (closed) {
    CloseSocket();
    DoStatus(TConnectionStatus::Disconnected, "Disconnected.");
    return false;
  }
  return true;
}

void TLineConnection::WriteLine(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 2);
  line.append(text);
  line.append("\r\n");
  Write(line);
}

void TLineConnection::Write(std::string_view bytes) {
  if (fd_ < 0) {
    throw ENotConnected();
  }
  const std::size_t chunk = static_cast<std::size_t>(std::max(SendBufferSize, 1));
  while (!bytes.empty()) {
    if (tls_) {
      const long n = tls_->Write(bytes.data(), std::min(chunk, bytes.size()));
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
        continue;
      }
      if (n == TTlsChannel::kSysError) {
        RaiseSocketError(tls_->LastErrno());
      }
      if (n == 0) {
        RaiseWinsockError(10054);
      }
      if (!WaitFor(fd_, n == TTlsChannel::kWantRead ? POLLIN : POLLOUT,
                   ReadTimeout > 0 ? ReadTimeout : -1)) {
        RaiseWinsockError(10060);
      }
      continue;
    }
    const ssize_t n = ::send(fd_, bytes.data(), std::min(chunk, bytes.size()), MSG_NOSIGNAL);
    if (n >= 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (errno == EINTR) {
      continue;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      RaiseSocketError(errno);
    }
    // A peer that stops reading must not block us forever either.
    if (!WaitFor(fd_, POLLOUT, ReadTimeout > 0 ? ReadTimeout : -1)) {
      RaiseWinsockError(10060);
    }
  }
}

std::string TLineConnection::ReadLine() {
  return ReadLine("\n");
}

std::string TLineConnection::ReadLine(std::string_view terminator, int timeout, int maxLength) {
  if (terminator.empty()) {
    terminator = "\n";
  }
  const std::size_t limit =
      static_cast<std::size_t>(std::max(maxLength < 0 ? MaxLineLength : maxLength, 0));
  // Bytes already searched in vain; each receive only searches what is new.
  std::size_t searched = 0;
  for (;;) {
    const std::string_view pending = std::string_view(buffer_).substr(bufferStart_);
    const std::size_t from = searched >= terminator.size() ? searched - terminator.size() + 1 : 0;
    const auto pos = pending.find(terminator, from);
    if ((pos != std::string_view::npos && pos > limit) ||
        (pos == std::string_view::npos && pending.size() > limit)) {
      if (MaxLineAction == TMaxLineAction::Exception) {
        throw ELineTooLong();
      }
      std::string line(pending.substr(0, limit));
      Consume(limit);
      return line;
    }
    if (pos != std::string_view::npos) {
      std::string line(pending.substr(0, pos));
      Consume(pos + terminator.size());
      if (terminator == "\n" && !line.empty() && line.back() == '\r') {
        line.pop_back();
      }
      return line;
    }
    searched = pending.size();
    if (closedByPeer_) {
      throw EConnClosedGracefully();
    }
    if (!Receive(timeout)) {
      return {};
    }
  }
}

std::string TLineConnection::ReadAnswerLine(std::size_t keep, bool& cut) {
  cut = false;
  std::string line;
  std::size_t searched = 0;
  for (;;) {
    const std::string_view pending = std::string_view(buffer_).substr(bufferStart_);
    const auto pos = pending.find('\n', searched);
    if (pos != std::string_view::npos) {
      if (!cut) {
        const std::size_t end = pos > 0 && pending[pos - 1] == '\r' ? pos - 1 : pos;
        if (end > keep) {
          line.assign(pending.substr(0, keep));
          cut = true;
        } else {
          line.assign(pending.substr(0, end));
        }
      }
      Consume(pos + 1);
      return line;
    }
    if (!cut && pending.size() > keep + 1) {
      // Over the limit before its end: keep the head, drop the rest as it
      // arrives (one byte more than keep may be the CR before the LF).
      line.assign(pending.substr(0, keep));
      cut = true;
    }
    if (cut) {
      Consume(pending.size());
      searched = 0;
    } else {
      searched = pending.size();
    }
    if (closedByPeer_) {
      throw EConnClosedGracefully();
    }
    Receive(-1);
  }
}

bool TLineConnection::AppendAnswerLine(std::string& out, std::size_t limit) {
  std::size_t searched = 0;
  bool over = false;
  for (;;) {
    std::string_view pending = std::string_view(buffer_).substr(bufferStart_);
    const auto pos = pending.find('\n', searched);
    if (pos == std::string_view::npos) {
      // A line longer than the limit is dropped as it arrives, so that a
      // hostile server cannot make the buffer grow without end.
      if (pending.size() > limit) {
        over = true;
        Consume(pending.size());
        pending = {};
      }
      searched = pending.size();
      if (closedByPeer_)
        throw EConnClosedGracefully();
      Receive(-1);
      continue;
    }
    // `line` points into the buffer: used before Consume may move it.
    std::string_view line = pending.substr(0, pos + 1);
    const bool last = !over && (line == ".\r\n" || line == ".\n");
    if (!over && line.front() == '.')
      line.remove_prefix(1);
    over = over || out.size() + line.size() > limit;
    if (!last && !over)
      out.append(line);
    Consume(pos + 1);
    if (over)
      throw EMailError("The message is larger than " + std::to_string(limit) + " bytes.");
    return !last;
  }
}

void TLineConnection::ReadBytes(std::uint64_t count, std::string& out, std::uint64_t keep) {
  while (count > 0) {
    const std::string_view pending = std::string_view(buffer_).substr(bufferStart_);
    if (pending.empty()) {
      if (closedByPeer_)
        throw EConnClosedGracefully();
      Receive(-1);
      continue;
    }
    const std::size_t take =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, pending.size()));
    if (keep > 0) {
      const std::size_t kept = static_cast<std::size_t>(std::min<std::uint64_t>(keep, take));
      out.append(pending.substr(0, kept));
      keep -= kept;
    }
    Consume(take);
    count -= take;
  }
}

void TLineConnection::Consume(std::size_t bytes) {
  bufferStart_ += bytes;
  if (bufferStart_ == buffer_.size()) {
    buffer_.clear();
    bufferStart_ = 0;
  } else if (bufferStart_ > 65536 && bufferStart_ * 2 > buffer_.size()) {
    buffer_.erase(0, bufferStart_);
    bufferStart_ = 0;
  }
}

char* TLineConnection::RecvScratch() {
  recvScratch_.resize(static_cast<std::size_t>(std::max(RecvBufferSize, 1)));
  return recvScratch_.data();
}

bool TLineConnection::Receive(int timeout) {
  if (fd_ < 0) {
    throw ENotConnected();
  }
  const bool explicitTimeout = timeout >= 0;
  const int wait = explicitTimeout ? timeout : (ReadTimeout > 0 ? ReadTimeout : -1);
  const auto deadline = TClock::now() + std::chrono::milliseconds(std::max(wait, 0));
  char* chunk = RecvScratch();
  short events = POLLIN;
  bool starved = false;  // TLS asked for more bytes: only poll can bring them
  for (;;) {
    // Bytes that TLS holds already never show up in poll: read them first
    // (unless they are only part of a record, which needs more).
    if (starved || !(tls_ && tls_->HasPending())) {
      int left = -1;
      if (wait >= 0) {
        const auto rest =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
        left = static_cast<int>(std::max<long long>(rest.count(), 0));
      }
      if (!WaitFor(fd_, events, left)) {
        if (explicitTimeout) {
          return false;
        }
        throw EReadTimeout();
      }
    }
    events = POLLIN;
    starved = false;
    long n = 0;
    int err = 0;
    if (tls_) {
      n = tls_->Read(chunk, recvScratch_.size());
      if (n == TTlsChannel::kWantRead || n == TTlsChannel::kWantWrite) {
        // Part of a record, a record without data (a session ticket), or a
        // renegotiation that wants to write.
        events = n == TTlsChannel::kWantWrite ? POLLOUT : POLLIN;
        starved = true;
        continue;
      }
      if (n == TTlsChannel::kSysError) {
        err = tls_->LastErrno();
      }
    } else {
      n = ::recv(fd_, chunk, recvScratch_.size(), 0);
      err = n < 0 ? errno : 0;
    }
    if (n > 0) {
      if (bufferStart_ > 0 && bufferStart_ == buffer_.size()) {
        buffer_.clear();
        bufferStart_ = 0;
      }
      buffer_.append(chunk, static_cast<std::size_t>(n));
      return true;
    }
    if (n == 0) {
      closedByPeer_ = true;
      return true;
    }
    if (err == EINTR || err == EAGAIN || err == EWOULDBLOCK) {
      continue;
    }
    const int code = WinsockCode(err);
    if (code == 10053 || code == 10058) {
      CloseSocket();
      if (bufferStart_ < buffer_.size()) {
        closedByPeer_ = true;
        return true;
      }
    }
    RaiseWinsockError(code);
  }
}

void TLineConnection::StartTls() {
  if (fd_ < 0) {
    throw ENotConnected();
  }
  if (tls_) {
    throw ETlsError("TLS is already active");
  }
  // Whatever the server sent in plain text after its go-ahead could only be
  // an attempt to slip commands or answers across the upgrade.
  pollfd pfd{fd_, POLLIN, 0};
  if (bufferStart_ < buffer_.size() || ::poll(&pfd, 1, 0) > 0) {
    CloseSocket();
    throw ETlsError("TLS handshake failed: the server sent data before the handshake",
                    "the server sent data before the handshake");
  }
  buffer_.clear();
  bufferStart_ = 0;
  try {
    std::string host;
    int port = 0;
    SplitHostPort(Host, Port, host, port);
    auto channel = std::make_unique<TTlsChannel>(fd_, host);
    DoStatus(TConnectionStatus::Text, "Negotiating TLS.");
    // The handshake must never hang a worker, even with no read limit set.
    channel->Handshake(ReadTimeout > 0 ? ReadTimeout : 60000);
    if (!InspectCertificate) {
      channel->CheckPeer(PinnedCertificate);
    }
    tls_ = std::move(channel);
  } catch (...) {
    CloseSocket();
    throw;
  }
}

std::optional<TCertificateInfo> TLineConnection::PeerCertificate() const {
  if (!tls_) {
    return std::nullopt;
  }
  return tls_->PeerCertificate();
}

int TLineConnection::EffectivePort() const {
  std::string host;
  int port = Port;
  SplitHostPort(Host, Port, host, port);
  return port;
}

void TLineClient::ReadReply() {
  ReadRawReply();
}

void TLineClient::ReadRawReply() {
  LastReply.Clear();
  std::string first;
  do {
    first = ascii::Trim(ReadLine());
  } while (first.empty());
  std::vector<std::string> lines{first};
  if (first.size() > 3 && first[3] == '-') {
    const std::string last = first.substr(0, 3) + " ";
    for (;;) {
      std::string line(ascii::Trim(ReadLine()));
      const bool end =
          line.size() < 4 || ascii::EqualNoCase(std::string_view(line).substr(0, 4), last);
      lines.push_back(std::move(line));
      if (end) {
        break;
      }
    }
  }
  std::string code = first.substr(0, 4);
  if (code.size() == 4 && code[3] == '-') {
    code.resize(3);
  }
  LastReply.SetTextCode(std::string(ascii::Trim(code)));
  for (const auto& line : lines) {
    LastReply.Text.push_back(line.size() > 4 ? line.substr(4) : std::string());
  }
}

void TLineClient::QuitAndDisconnect() {
  if (SocketOpen()) {
    try {
      WriteLine("QUIT");
    } catch (const EPelorixError&) {
      // The peer may be gone already; closing is all that is left to do.
    }
  }
  TLineConnection::Disconnect();
}

void TLineClient::CheckReply(std::initializer_list<int> allowed) const {
  if (allowed.size() == 0) {
    return;
  }
  if (std::find(allowed.begin(), allowed.end(), LastReply.NumericCode()) == allowed.end()) {
    throw EProtocolReplyError(LastReply.NumericCode(), LastReply.FormattedText());
  }
}

int TLineClient::SendCommand(std::string_view line, std::initializer_list<int> allowed) {
  WriteLine(line);
  ReadReply();
  CheckReply(allowed);
  return LastReply.NumericCode();
}

}  // namespace pelorix
