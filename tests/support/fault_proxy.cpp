#include "support/fault_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace pelorix::test {
namespace {

constexpr std::size_t kFlows = 2;
std::size_t Index(TFlow flow) {
  return flow == TFlow::ToServer ? 0 : 1;
}

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void CloseWith(int fd, bool reset) {
  if (fd < 0)
    return;
  if (reset) {
    const linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  } else {
    ::shutdown(fd, SHUT_RDWR);
  }
  ::close(fd);
}

std::string Upper(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// POP3 names the command first; IMAP after its tag, "UID" before it.
bool IsCommand(const std::string& line, const std::string& command) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (words.size() < 3 && at < line.size()) {
    const std::size_t end = line.find_first_of(" \r\n", at);
    const std::string word = line.substr(at, end == std::string::npos ? end : end - at);
    if (!word.empty())
      words.push_back(Upper(word));
    if (end == std::string::npos)
      break;
    at = end + 1;
  }
  const std::string want = Upper(command);
  if (words.empty())
    return false;
  if (words[0] == want)
    return true;
  if (words.size() >= 2 && words[1] == want)
    return true;
  return words.size() >= 3 && words[1] == "UID" && words[2] == want;
}

int ConnectLoopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

TFault TFault::AtByte(TFlow flow, std::size_t byte, TBreak how) {
  TFault f;
  f.Kind = TKind::AtByte;
  f.Flow = flow;
  f.Byte = byte;
  f.Break = how;
  return f;
}

TFault TFault::AfterCommand(std::string command, int nth, TBreak how) {
  TFault f;
  f.Kind = TKind::AfterCommand;
  f.Command = std::move(command);
  f.Nth = nth;
  f.Break = how;
  return f;
}

std::string TFault::Describe() const {
  const std::string how = Break == TBreak::Fin ? "FIN" : Break == TBreak::Reset ? "reset" : "stall";
  switch (Kind) {
    case TKind::None:
      return "no fault";
    case TKind::AtByte:
      return how + " after " + std::to_string(Byte) + " bytes " +
             (Flow == TFlow::ToServer ? "to the server" : "to the client");
    case TKind::AfterCommand:
      return how + " after " + Command + " #" + std::to_string(Nth);
  }
  return how;
}

TFaultProxy::TFaultProxy(int targetPort) : targetPort_(targetPort) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(listenFd_, 16) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    if (listenFd_ >= 0)
      ::close(listenFd_);
    throw std::runtime_error("fault proxy: cannot listen on 127.0.0.1");
  }
  port_ = ntohs(a.sin_port);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

TFaultProxy::~TFaultProxy() {
  stop_ = true;
  acceptThread_.join();
  std::vector<std::thread> relays;
  {
    std::lock_guard lock(mutex_);
    relays.swap(relays_);
  }
  for (auto& t : relays)
    t.join();
  ::close(listenFd_);
}

void TFaultProxy::Arm(const TFault& fault) {
  std::lock_guard lock(mutex_);
  fault_ = fault;
  bytes_[0] = bytes_[1] = 0;
  commandsSeen_ = 0;
  lines_.clear();
  fired_ = false;
}

int TFaultProxy::CommandCount(const std::string& command) const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(std::count_if(lines_.begin(), lines_.end(),
                                        [&](const auto& l) { return IsCommand(l, command); }));
}

std::size_t TFaultProxy::Bytes(TFlow flow) const {
  std::lock_guard lock(mutex_);
  return bytes_[Index(flow)];
}

void TFaultProxy::AcceptLoop() {
  while (!stop_) {
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0)
      continue;
    const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0)
      continue;
    const int server = ConnectLoopback(targetPort_);
    if (server < 0) {
      ::close(client);
      continue;
    }
    ++connections_;
    std::lock_guard lock(mutex_);
    relays_.emplace_back([this, client, server] { Relay(client, server); });
  }
}

std::size_t TFaultProxy::Admit(TFlow flow, const char* data, std::size_t size,
                               std::string& lineBuffer, bool& fire) {
  std::lock_guard lock(mutex_);
  std::size_t& count = bytes_[Index(flow)];
  std::size_t pass = size;
  if (!fired_ && fault_.Kind == TFault::TKind::AtByte && flow == fault_.Flow &&
      count + size >= fault_.Byte) {
    pass = fault_.Byte > count ? fault_.Byte - count : 0;
    fire = true;
  } else if (flow == TFlow::ToServer) {
    const bool watch = !fired_ && fault_.Kind == TFault::TKind::AfterCommand;
    for (std::size_t i = 0; i < size && !fire; ++i) {
      if (lineBuffer.size() < 256)
        lineBuffer.push_back(data[i]);
      if (data[i] != '\n')
        continue;
      lines_.push_back(lineBuffer.substr(0, 80));
      if (watch && IsCommand(lineBuffer, fault_.Command) && ++commandsSeen_ == fault_.Nth) {
        pass = i + 1;
        fire = true;
      }
      lineBuffer.clear();
    }
  }
  count += pass;
  if (fire)
    fired_ = true;
  return pass;
}

void TFaultProxy::Relay(int client, int server) {
  std::string lineBuffer;
  std::vector<char> buffer(16384);
  const int fds[kFlows] = {client, server};
  bool fire = false;
  while (!stop_ && !fire) {
    pollfd p[kFlows] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    if (::poll(p, kFlows, 50) <= 0)
      continue;
    bool closed = false;
    for (std::size_t side = 0; side < kFlows && !fire && !closed; ++side) {
      if (!(p[side].revents & (POLLIN | POLLHUP | POLLERR)))
        continue;
      const ssize_t n = ::recv(fds[side], buffer.data(), buffer.size(), 0);
      if (n <= 0) {
        closed = true;
        break;
      }
      const TFlow flow = side == 0 ? TFlow::ToServer : TFlow::ToClient;
      const std::size_t pass =
          Admit(flow, buffer.data(), static_cast<std::size_t>(n), lineBuffer, fire);
      if (!SendAll(fds[1 - side], buffer.data(), pass))
        closed = true;
    }
    if (closed) {
      ::close(client);
      ::close(server);
      return;
    }
  }
  if (!fire) {
    ::close(client);
    ::close(server);
    return;
  }
  TFault fault;
  {
    std::lock_guard lock(mutex_);
    fault = fault_;
  }
  if (fault.Break == TFault::TBreak::Stall) {
    // Nothing passes; what arrives is read and dropped so that neither
    // side blocks on a full buffer.
    const auto end = std::chrono::steady_clock::now() + fault.StallTime;
    bool open[kFlows] = {true, true};
    while (!stop_ && std::chrono::steady_clock::now() < end && (open[0] || open[1])) {
      pollfd p[kFlows] = {{open[0] ? client : -1, POLLIN, 0}, {open[1] ? server : -1, POLLIN, 0}};
      if (::poll(p, kFlows, 50) <= 0)
        continue;
      for (std::size_t side = 0; side < kFlows; ++side) {
        if (open[side] && (p[side].revents & (POLLIN | POLLHUP | POLLERR)) &&
            ::recv(fds[side], buffer.data(), buffer.size(), 0) <= 0)
          open[side] = false;
      }
    }
    ::close(client);
    ::close(server);
    return;
  }
  const bool reset = fault.Break == TFault::TBreak::Reset;
  CloseWith(client, reset);
  if (fault.Kind == TFault::TKind::AfterCommand) {
    // The server acts on the command and answers; the answers are dropped
    // until it falls quiet or closes.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    bool heard = false;
    while (!stop_ && std::chrono::steady_clock::now() < end) {
      pollfd p{server, POLLIN, 0};
      const int ready = ::poll(&p, 1, heard ? 200 : 50);
      if (ready == 0 && heard)
        break;
      if (ready > 0) {
        if (::recv(server, buffer.data(), buffer.size(), 0) <= 0)
          break;
        heard = true;
      }
    }
  }
  CloseWith(server, reset);
}

}  // namespace pelorix::test
