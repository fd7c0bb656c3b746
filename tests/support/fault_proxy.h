#pragma once
// A loopback TCP relay between a client and a server (the test Dovecot)
// that breaks the connection at one chosen point: after byte k of either
// direction, after the n-th command of a kind (POP3 "DELE", IMAP "FETCH",
// "UID FETCH" counted as FETCH), by a FIN or a reset, or by a stall longer
// than the client's read time-out. Byte points work under TLS as well;
// command points need plain text.
//
//   TFaultProxy proxy(dovecot.Port());
//   proxy.Arm(TFault::AfterCommand("DELE", 3));
//   ... client connects to proxy.HostPort() ...
//   EXPECT_TRUE(proxy.Fired());
//
// A fault fires once; connections after it are relayed untouched. Byte
// counts run over every connection since Arm.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pelorix::test {

enum class TFlow { ToServer, ToClient };

struct TFault {
  enum class TKind { None, AtByte, AfterCommand };
  enum class TBreak { Fin, Reset, Stall };
  TKind Kind = TKind::None;
  TBreak Break = TBreak::Fin;
  TFlow Flow = TFlow::ToServer;
  // AtByte: the first Byte bytes of Flow pass, then the break.
  std::size_t Byte = 0;
  // AfterCommand: the Nth line whose command word is Command reaches the
  // server (which may still act on it); its answer never reaches the client.
  std::string Command;
  int Nth = 1;
  // Stall: nothing passes for this long, then both sides are closed.
  std::chrono::milliseconds StallTime{3000};

  static TFault AtByte(TFlow flow, std::size_t byte, TBreak how = TBreak::Fin);
  static TFault AfterCommand(std::string command, int nth = 1, TBreak how = TBreak::Fin);
  // "FIN after 120 bytes to the server", "reset after DELE #3".
  std::string Describe() const;
};

class TFaultProxy {
 public:
  explicit TFaultProxy(int targetPort);
  ~TFaultProxy();
  TFaultProxy(const TFaultProxy&) = delete;
  TFaultProxy& operator=(const TFaultProxy&) = delete;

  int Port() const { return port_; }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

  // Sets the fault for what follows and zeroes the counts; TFault{} relays
  // everything (a clean run, to measure a session's bytes).
  void Arm(const TFault& fault);
  bool Fired() const { return fired_; }
  std::size_t Bytes(TFlow flow) const;
  int Connections() const { return connections_; }
  // Client command lines of that kind seen since Arm.
  int CommandCount(const std::string& command) const;

 private:
  struct TPair;
  void AcceptLoop();
  void Relay(int client, int server);
  // Bytes of `data` of this flow that may pass before the break (all of
  // them when the fault does not fire here); sets `fire` when it does.
  std::size_t Admit(TFlow flow, const char* data, std::size_t size, std::string& lineBuffer,
                    bool& fire);

  int listenFd_ = -1;
  int port_ = 0;
  int targetPort_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> fired_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  TFault fault_;
  std::size_t bytes_[2] = {0, 0};
  int commandsSeen_ = 0;
  std::vector<std::string> lines_;  // client lines since Arm, their starts
  std::thread acceptThread_;
  std::vector<std::thread> relays_;
};

}  // namespace pelorix::test
