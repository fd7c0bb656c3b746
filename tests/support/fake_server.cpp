#include "support/fake_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

namespace pelorix::test {

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

std::string Upper(std::string_view text) {
  std::string result(text);
  for (auto& c : result) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return result;
}

bool StartsNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && Upper(text.substr(0, prefix.size())) == Upper(prefix);
}

// A message as CR LF free lines.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    std::string line(text.substr(start, end - start));
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

long long WireSize(std::string_view message) {
  long long size = 0;
  for (const auto& line : SplitLines(message)) {
    size += static_cast<long long>(line.size()) + 2;
  }
  return size;
}

std::string DotStuffed(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& line : lines) {
    if (!line.empty() && line.front() == '.') {
      out += '.';
    }
    out += line;
    out += "\r\n";
  }
  out += ".\r\n";
  return out;
}

}  // namespace

// ---------------------------------------------------------------- sockets

TServerSocket::TServerSocket(int fd, const std::atomic<bool>& stop) : fd_(fd), stop_(stop) {
  // Script lines go out as they are written, not held back for an ACK.
  const int one = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

TServerSocket::~TServerSocket() {
  Close();
}

void TServerSocket::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

void TServerSocket::Reset() {
  if (fd_ >= 0) {
    const linger hard{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }
  Close();
}

bool TServerSocket::ReadLine(std::string& line, std::chrono::milliseconds timeout) {
  const auto deadline = TClock::now() + timeout;
  for (;;) {
    const auto lf = buffer_.find('\n');
    if (lf != std::string::npos) {
      line = buffer_.substr(0, lf);
      buffer_.erase(0, lf + 1);
      if (!line.empty() && line.back() == '\r') {
        line.pop_back();
      }
      return true;
    }
    if (eof_ || fd_ < 0) {
      if (!buffer_.empty()) {
        line = std::move(buffer_);
        buffer_.clear();
        return true;
      }
      return false;
    }
    if (stop_ || TClock::now() >= deadline) {
      return false;
    }
    pollfd pfd{fd_, POLLIN, 0};
    if (::poll(&pfd, 1, 50) <= 0) {
      continue;
    }
    char chunk[8192];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n > 0) {
      buffer_.append(chunk, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      eof_ = true;
    }
  }
}

bool TServerSocket::Send(std::string_view bytes) {
  while (!bytes.empty() && fd_ >= 0) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return bytes.empty();
}

std::size_t TServerSocket::LinesWaiting() {
  while (fd_ >= 0 && !eof_) {
    char chunk[8192];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) {
      buffer_.append(chunk, static_cast<std::size_t>(n));
      continue;
    }
    if (n == 0) {
      eof_ = true;
    }
    break;
  }
  return static_cast<std::size_t>(std::count(buffer_.begin(), buffer_.end(), '\n'));
}

void TServerSocket::WaitClosed(std::chrono::milliseconds timeout) {
  const auto deadline = TClock::now() + timeout;
  while (!eof_ && fd_ >= 0 && !stop_ && TClock::now() < deadline) {
    pollfd pfd{fd_, POLLIN, 0};
    if (::poll(&pfd, 1, 50) <= 0) {
      continue;
    }
    char chunk[8192];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n > 0) {
      buffer_.append(chunk, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      eof_ = true;
    }
  }
}

TListener::TListener() {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) {
    throw std::runtime_error("fake server: socket failed");
  }
  const int one = 1;
  setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd_, 16) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd_);
    throw std::runtime_error("fake server: cannot listen on 127.0.0.1");
  }
  port_ = ntohs(addr.sin_port);
}

TListener::~TListener() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

int TListener::Accept(const std::atomic<bool>& stop, std::chrono::milliseconds timeout) {
  const auto deadline = TClock::now() + timeout;
  while (!stop && TClock::now() < deadline) {
    pollfd pfd{fd_, POLLIN, 0};
    if (::poll(&pfd, 1, 50) <= 0) {
      continue;
    }
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      return fd;
    }
  }
  return -1;
}

// ---------------------------------------------------------------- script

TScriptServer::TScriptServer() = default;

TScriptServer::~TScriptServer() {
  stop_ = true;
  if (thread_.joinable()) {
    thread_.join();
  }
}

std::string TScriptServer::HostPort() const {
  return "127.0.0.1:" + std::to_string(Port());
}

TScriptServer& TScriptServer::Script(std::string_view transcript) {
  for (const auto& raw : SplitLines(transcript)) {
    std::string_view line = raw;
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
      line.remove_prefix(1);
    }
    if (line.size() < 2 || line[1] != ':' || (line[0] != 'S' && line[0] != 'C')) {
      continue;
    }
    std::string_view text = line.substr(2);
    if (!text.empty() && text.front() == ' ') {
      text.remove_prefix(1);
    }
    if (line[0] == 'S') {
      SendLine(std::string(text));
    } else if (text == "*") {
      ExpectAny();
    } else {
      Expect(std::string(text));
    }
  }
  return *this;
}

TScriptServer& TScriptServer::Add(TStep step) {
  steps_.push_back(std::move(step));
  return *this;
}

TScriptServer& TScriptServer::SendLine(std::string line) {
  return SendRaw(std::move(line) + "\r\n");
}

TScriptServer& TScriptServer::SendRaw(std::string bytes) {
  return Add({TStep::TKind::Send, std::move(bytes), {}, {}});
}

TScriptServer& TScriptServer::Expect(std::string line) {
  return Add({TStep::TKind::Expect, std::move(line), {}, {}});
}

TScriptServer& TScriptServer::ExpectAny() {
  return Add({TStep::TKind::ExpectAny, {}, {}, {}});
}

TScriptServer& TScriptServer::ReadUntil(std::string last) {
  return Add({TStep::TKind::ReadUntil, std::move(last), {}, {}});
}

TScriptServer& TScriptServer::Stall(std::chrono::milliseconds time) {
  return Add({TStep::TKind::Stall, {}, time, {}});
}

TScriptServer& TScriptServer::WaitClientClose() {
  return Add({TStep::TKind::WaitClose, {}, {}, {}});
}

TScriptServer& TScriptServer::CloseConnection() {
  return Add({TStep::TKind::Close, {}, {}, {}});
}

TScriptServer& TScriptServer::ResetConnection() {
  return Add({TStep::TKind::Reset, {}, {}, {}});
}

TScriptServer& TScriptServer::Accept() {
  return Add({TStep::TKind::Accept, {}, {}, {}});
}

TScriptServer& TScriptServer::Do(std::function<void(TServerSocket&)> step) {
  return Add({TStep::TKind::Do, {}, {}, std::move(step)});
}

void TScriptServer::Start() {
  thread_ = std::thread([this] { Run(); });
}

void TScriptServer::Wait() {
  if (thread_.joinable()) {
    thread_.join();
  }
}

std::vector<std::string> TScriptServer::Received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

std::vector<std::string> TScriptServer::Errors() const {
  std::lock_guard lock(mutex_);
  return errors_;
}

void TScriptServer::Fail(std::string error) {
  std::lock_guard lock(mutex_);
  errors_.push_back(std::move(error));
}

void TScriptServer::Run() {
  std::unique_ptr<TServerSocket> conn;
  auto accept = [&]() -> bool {
    conn.reset();
    const int fd = listener_.Accept(stop_, StepTimeout);
    if (fd < 0) {
      Fail("no client connected");
      return false;
    }
    ++connections_;
    conn = std::make_unique<TServerSocket>(fd, stop_);
    return true;
  };
  if (!accept()) {
    return;
  }
  for (std::size_t i = 0; i < steps_.size() && !stop_; ++i) {
    const TStep& step = steps_[i];
    const std::string where = "step " + std::to_string(i + 1) + ": ";
    std::string line;
    switch (step.Kind) {
      case TStep::TKind::Send:
        conn->Send(step.Text);
        break;
      case TStep::TKind::Expect:
      case TStep::TKind::ExpectAny:
        if (!conn->ReadLine(line, StepTimeout)) {
          Fail(where + "client sent nothing, expected \"" + step.Text + "\"");
          return;
        }
        {
          std::lock_guard lock(mutex_);
          received_.push_back(line);
        }
        if (step.Kind == TStep::TKind::Expect && line != step.Text) {
          Fail(where + "expected \"" + step.Text + "\", got \"" + line + "\"");
        }
        break;
      case TStep::TKind::ReadUntil:
        for (;;) {
          if (!conn->ReadLine(line, StepTimeout)) {
            Fail(where + "client stopped before \"" + step.Text + "\"");
            return;
          }
          {
            std::lock_guard lock(mutex_);
            received_.push_back(line);
          }
          if (line == step.Text) {
            break;
          }
        }
        break;
      case TStep::TKind::Stall: {
        const auto until = TClock::now() + step.Time;
        while (!stop_ && TClock::now() < until) {
          std::this_thread::sleep_for(10ms);
        }
        break;
      }
      case TStep::TKind::WaitClose:
        conn->WaitClosed(StepTimeout);
        break;
      case TStep::TKind::Close:
        conn->Close();
        break;
      case TStep::TKind::Reset:
        conn->Reset();
        break;
      case TStep::TKind::Accept:
        if (!accept()) {
          return;
        }
        break;
      case TStep::TKind::Do:
        step.Action(*conn);
        break;
    }
  }
}

// ---------------------------------------------------------------- mailbox

TPop3Mailbox::TPop3Mailbox() = default;

TPop3Mailbox::~TPop3Mailbox() {
  Stop();
}

std::string TPop3Mailbox::HostPort() const {
  return "127.0.0.1:" + std::to_string(Port());
}

void TPop3Mailbox::AddUser(const std::string& user, const std::string& password,
                           std::vector<std::string> messages) {
  std::lock_guard lock(mutex_);
  auto& entry = users_[user];
  entry.Password = password;
  entry.Messages = std::move(messages);
}

void TPop3Mailbox::AddMessage(const std::string& user, std::string message) {
  std::lock_guard lock(mutex_);
  users_[user].Messages.push_back(std::move(message));
}

void TPop3Mailbox::ReplaceReply(const std::string& prefix, const std::string& reply) {
  std::lock_guard lock(mutex_);
  replace_.emplace_back(prefix, reply);
}

void TPop3Mailbox::DropOn(const std::string& prefix) {
  std::lock_guard lock(mutex_);
  drop_.push_back(prefix);
}

void TPop3Mailbox::StallOn(const std::string& prefix) {
  std::lock_guard lock(mutex_);
  stall_.push_back(prefix);
}

void TPop3Mailbox::SetGreeting(const std::string& greeting) {
  std::lock_guard lock(mutex_);
  greeting_ = greeting;
}

void TPop3Mailbox::SetCapabilities(std::vector<std::string> lines) {
  std::lock_guard lock(mutex_);
  hasCapabilities_ = !lines.empty();
  capabilities_ = std::move(lines);
}

void TPop3Mailbox::SetChunking(std::size_t bytes, bool batch) {
  std::lock_guard lock(mutex_);
  pieceBytes_ = bytes;
  batch_ = batch;
}

std::vector<std::string> TPop3Mailbox::Messages(const std::string& user) const {
  std::lock_guard lock(mutex_);
  const auto it = users_.find(user);
  return it == users_.end() ? std::vector<std::string>{} : it->second.Messages;
}

std::vector<std::string> TPop3Mailbox::Commands() const {
  std::lock_guard lock(mutex_);
  return commands_;
}

void TPop3Mailbox::Start() {
  if (!acceptThread_.joinable()) {
    acceptThread_ = std::thread([this] { AcceptLoop(); });
  }
}

void TPop3Mailbox::Stop() {
  stop_ = true;
  if (acceptThread_.joinable()) {
    acceptThread_.join();
  }
  for (auto& session : sessions_) {
    if (session.joinable()) {
      session.join();
    }
  }
  sessions_.clear();
}

void TPop3Mailbox::AcceptLoop() {
  while (!stop_) {
    const int fd = listener_.Accept(stop_, std::chrono::milliseconds(200));
    if (fd >= 0) {
      ++connections_;
      sessions_.emplace_back([this, fd] { Serve(fd); });
    }
  }
}

void TPop3Mailbox::Serve(int fd) {
  TServerSocket conn(fd, stop_);
  std::string greeting;
  {
    std::lock_guard lock(mutex_);
    greeting = greeting_;
  }
  conn.Send(greeting + "\r\n");
  std::string user;
  std::string loggedIn;  // user name once PASS succeeded
  std::vector<std::string> snapshot;
  std::vector<bool> deleted;

  auto message = [&](const std::string& arg, std::size_t& index) -> bool {
    const long long n = std::atoll(arg.c_str());
    if (n < 1 || static_cast<std::size_t>(n) > snapshot.size() ||
        deleted[static_cast<std::size_t>(n - 1)]) {
      return false;
    }
    index = static_cast<std::size_t>(n - 1);
    return true;
  };
  auto unlock = [&] {
    if (!loggedIn.empty()) {
      std::lock_guard lock(mutex_);
      users_[loggedIn].Locked = false;
    }
  };

  std::size_t pieceBytes = 0;
  bool batch = false;
  std::optional<std::vector<std::string>> capabilities;
  {
    std::lock_guard lock(mutex_);
    pieceBytes = pieceBytes_;
    batch = batch_;
    if (hasCapabilities_) {
      capabilities = capabilities_;
    }
  }
  std::string held;
  // Sends (or holds, when batching and more commands wait) one reply.
  auto send = [&](const std::string& reply) {
    held += reply;
    if (batch && conn.LinesWaiting() > 0) {
      return true;
    }
    std::string_view out = held;
    bool ok = true;
    while (ok && !out.empty()) {
      const std::size_t n = pieceBytes == 0 ? out.size() : std::min(pieceBytes, out.size());
      ok = conn.Send(out.substr(0, n));
      out.remove_prefix(n);
    }
    held.clear();
    return ok;
  };

  std::string line;
  while (conn.ReadLine(line, std::chrono::hours(1))) {
    std::string reply;
    bool drop = false;
    bool stall = false;
    const int ahead = static_cast<int>(conn.LinesWaiting());
    for (int most = mostAhead_; ahead > most && !mostAhead_.compare_exchange_weak(most, ahead);) {
    }
    {
      std::lock_guard lock(mutex_);
      commands_.push_back(line);
      for (const auto& prefix : drop_) {
        drop = drop || StartsNoCase(line, prefix);
      }
      for (const auto& prefix : stall_) {
        stall = stall || StartsNoCase(line, prefix);
      }
      for (const auto& [prefix, text] : replace_) {
        if (reply.empty() && StartsNoCase(line, prefix)) {
          reply = text + "\r\n";
        }
      }
    }
    if (drop) {
      send("");  // what was held goes out before the close
      break;
    }
    if (stall) {
      conn.WaitClosed(std::chrono::hours(1));
      break;
    }
    const auto blank = line.find(' ');
    const std::string command = Upper(line.substr(0, blank));
    const std::string arg = blank == std::string::npos ? "" : line.substr(blank + 1);
    if (!reply.empty()) {
      // replaced
    } else if (command == "QUIT") {
      if (!loggedIn.empty()) {
        std::lock_guard lock(mutex_);
        auto& messages = users_[loggedIn].Messages;
        std::vector<std::string> kept;
        for (std::size_t i = 0; i < snapshot.size(); ++i) {
          if (!deleted[i]) {
            kept.push_back(snapshot[i]);
          }
        }
        messages = std::move(kept);
        users_[loggedIn].Locked = false;
        loggedIn.clear();
      }
      ++quits_;
      batch = false;
      send("+OK Logging out.\r\n");
      return;
    } else if (command == "NOOP") {
      reply = "+OK\r\n";
    } else if (loggedIn.empty()) {
      if (command == "USER") {
        user = arg;
        reply = "+OK\r\n";
      } else if (command == "PASS") {
        std::lock_guard lock(mutex_);
        const auto it = users_.find(user);
        if (it == users_.end() || it->second.Password != arg) {
          reply = "-ERR [AUTH] Authentication failed.\r\n";
        } else if (it->second.Locked) {
          reply = "-ERR [IN-USE] Mailbox is locked.\r\n";
        } else {
          it->second.Locked = true;
          loggedIn = user;
          snapshot = it->second.Messages;
          deleted.assign(snapshot.size(), false);
          reply = "+OK Logged in.\r\n";
        }
      } else {
        reply = "-ERR Unknown AUTHORIZATION state command\r\n";
      }
    } else if (command == "STAT") {
      long long count = 0;
      long long size = 0;
      for (std::size_t i = 0; i < snapshot.size(); ++i) {
        if (!deleted[i]) {
          ++count;
          size += WireSize(snapshot[i]);
        }
      }
      reply = "+OK " + std::to_string(count) + " " + std::to_string(size) + "\r\n";
    } else if (command == "LIST" || command == "UIDL") {
      auto item = [&](std::size_t i) {
        return std::to_string(i + 1) + " " +
               (command == "LIST" ? std::to_string(WireSize(snapshot[i]))
                                  : std::to_string(std::hash<std::string>{}(snapshot[i])));
      };
      std::size_t index = 0;
      if (!arg.empty()) {
        reply = message(arg, index) ? "+OK " + item(index) + "\r\n" : "-ERR No such message\r\n";
      } else {
        reply = "+OK\r\n";
        for (std::size_t i = 0; i < snapshot.size(); ++i) {
          if (!deleted[i]) {
            reply += item(i) + "\r\n";
          }
        }
        reply += ".\r\n";
      }
    } else if (command == "RETR" || command == "TOP") {
      std::size_t index = 0;
      const auto space = arg.find(' ');
      if (!message(arg.substr(0, space), index) ||
          (command == "TOP" && space == std::string::npos)) {
        reply = "-ERR No such message\r\n";
      } else {
        auto lines = SplitLines(snapshot[index]);
        if (command == "TOP") {
          const long long keep = std::atoll(arg.substr(space + 1).c_str());
          const auto empty = std::find(lines.begin(), lines.end(), std::string());
          if (empty != lines.end()) {
            const auto body = static_cast<long long>(lines.end() - empty - 1);
            lines.erase(empty + 1 + std::min(std::max(keep, 0LL), body), lines.end());
          }
        }
        reply =
            "+OK " + std::to_string(WireSize(snapshot[index])) + " octets\r\n" + DotStuffed(lines);
      }
    } else if (command == "DELE") {
      std::size_t index = 0;
      if (message(arg, index)) {
        deleted[index] = true;
        reply = "+OK Marked to be deleted.\r\n";
      } else {
        reply = "-ERR No such message\r\n";
      }
    } else if (command == "RSET") {
      deleted.assign(snapshot.size(), false);
      reply = "+OK\r\n";
    } else if (command == "CAPA" && capabilities) {
      reply = "+OK Capability list follows\r\n";
      for (const auto& capability : *capabilities) {
        reply += capability + "\r\n";
      }
      reply += ".\r\n";
    } else {
      reply = "-ERR Unknown command: " + command + "\r\n";
    }
    if (!send(reply)) {
      break;
    }
  }
  unlock();
}

}  // namespace pelorix::test
