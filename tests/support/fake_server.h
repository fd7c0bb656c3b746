#pragma once
// Loopback fake servers for protocol tests.
//
// TScriptServer plays a transcript against one or more sequential client
// connections: "S:" lines are sent, "C:" lines are expected (and recorded),
// and faults (stall, close mid-line, over-long line) are steps too:
//
//   TScriptServer server;
//   server.Script("S: +OK ready\nC: USER bob\nS: +OK\nC: PASS x\nS: -ERR denied\n");
//   server.Start();
//   ... client connects to server.HostPort() ...
//   server.Wait();
//   EXPECT_THAT(server.Errors(), IsEmpty());
//
// TPop3Mailbox is a small in-memory POP3 server with users and messages that
// answers USER/PASS/STAT/LIST/UIDL/TOP/RETR/DELE/RSET/NOOP/QUIT on any number of
// (also concurrent) connections; deletions take effect at QUIT.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace pelorix::test {

// One accepted connection, server side. Reads stop early when stop is set.
class TServerSocket {
 public:
  TServerSocket(int fd, const std::atomic<bool>& stop);
  TServerSocket(const TServerSocket&) = delete;
  TServerSocket& operator=(const TServerSocket&) = delete;
  ~TServerSocket();

  // Reads one line (CR LF or LF removed). False on close, stop or time-out;
  // a last unterminated line before the close is returned once.
  bool ReadLine(std::string& line, std::chrono::milliseconds timeout);
  bool Send(std::string_view bytes);
  // Complete client lines received and not read yet (takes in what the
  // socket holds without waiting).
  std::size_t LinesWaiting();
  // Waits until the client closes (or stop / time-out).
  void WaitClosed(std::chrono::milliseconds timeout);
  void Close();
  // Closes with a TCP reset instead of an orderly close.
  void Reset();

 private:
  int fd_;
  const std::atomic<bool>& stop_;
  std::string buffer_;
  bool eof_ = false;
};

// Listening loopback socket on a free port (127.0.0.1:0).
class TListener {
 public:
  TListener();
  TListener(const TListener&) = delete;
  TListener& operator=(const TListener&) = delete;
  ~TListener();
  int Port() const { return port_; }
  // -1 on stop or time-out.
  int Accept(const std::atomic<bool>& stop, std::chrono::milliseconds timeout);

 private:
  int fd_ = -1;
  int port_ = 0;
};

class TScriptServer {
 public:
  TScriptServer();
  ~TScriptServer();
  TScriptServer(const TScriptServer&) = delete;
  TScriptServer& operator=(const TScriptServer&) = delete;

  int Port() const { return listener_.Port(); }
  // "127.0.0.1:port", for a Host setting.
  std::string HostPort() const;

  // Script building (before Start). A connection is accepted before the
  // first step and by every Accept step.
  // Transcript text: lines "S: text" (sent with CR LF), "C: text" (expected
  // client line), "C: *" (any client line). Other lines are ignored.
  TScriptServer& Script(std::string_view transcript);
  TScriptServer& SendLine(std::string line);  // line + CR LF
  TScriptServer& SendRaw(std::string bytes);  // bytes as they are
  TScriptServer& Expect(std::string line);    // next client line must equal
  TScriptServer& ExpectAny();                 // next client line, any text
  // Client lines up to and including one equal to `last` (an SMTP DATA block).
  TScriptServer& ReadUntil(std::string last);
  TScriptServer& Stall(std::chrono::milliseconds time);
  TScriptServer& WaitClientClose();  // until the client hangs up
  TScriptServer& CloseConnection();
  TScriptServer& ResetConnection();  // close with a TCP reset
  TScriptServer& Accept();           // next sequential connection
  // A custom step on the connection's socket.
  TScriptServer& Do(std::function<void(TServerSocket&)> step);

  // How long reads and accepts wait for the client (default 10 s).
  std::chrono::milliseconds StepTimeout{10000};

  void Start();
  // Waits until the script has run (or StepTimeout passes per waiting step).
  void Wait();

  // Every client line read, in order.
  std::vector<std::string> Received() const;
  // Mismatches and time-outs; empty when the client followed the script.
  std::vector<std::string> Errors() const;
  int Connections() const { return connections_; }

 private:
  struct TStep {
    enum class TKind {
      Send,
      Expect,
      ExpectAny,
      ReadUntil,
      Stall,
      WaitClose,
      Close,
      Reset,
      Accept,
      Do
    };
    TKind Kind;
    std::string Text;
    std::chrono::milliseconds Time{0};
    std::function<void(TServerSocket&)> Action;
  };
  TScriptServer& Add(TStep step);
  void Run();
  void Fail(std::string error);

  TListener listener_;
  std::vector<TStep> steps_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<std::string> received_;
  std::vector<std::string> errors_;
  std::atomic<int> connections_{0};
};

class TPop3Mailbox {
 public:
  TPop3Mailbox();
  ~TPop3Mailbox();
  TPop3Mailbox(const TPop3Mailbox&) = delete;
  TPop3Mailbox& operator=(const TPop3Mailbox&) = delete;

  // Messages are whole texts (header, empty line, body); LF or CR LF.
  void AddUser(const std::string& user, const std::string& password,
               std::vector<std::string> messages = {});
  void AddMessage(const std::string& user, std::string message);

  int Port() const { return listener_.Port(); }
  std::string HostPort() const;
  // Starts accepting connections (the constructor does not).
  void Start();
  void Stop();

  // Faults: the reply to a command starting with `prefix` (case-insensitive)
  // is replaced by `reply` (a whole reply, lines joined by CR LF without the
  // last one); DropOn closes the connection instead of answering; StallOn
  // answers nothing and waits until the client closes.
  void ReplaceReply(const std::string& prefix, const std::string& reply);
  void DropOn(const std::string& prefix);
  void StallOn(const std::string& prefix);
  // Greeting line (default "+OK Pelorix test POP3 ready <1.2@test>").
  void SetGreeting(const std::string& greeting);
  // CAPA answers with these lines; without any, CAPA is an unknown command.
  void SetCapabilities(std::vector<std::string> lines);
  // Odd chunkings: each reply goes out in sends of `bytes` (0: whole), and
  // with `batch` replies are held while more commands wait unread, so that
  // many answers leave in one send.
  void SetChunking(std::size_t bytes, bool batch);
  // The most commands that were waiting unread behind the one answered
  // (0 for a client that waits for every answer).
  int MostCommandsAhead() const { return mostAhead_; }

  // The messages left for a user (after QUIT-committed deletions).
  std::vector<std::string> Messages(const std::string& user) const;
  // Every command line received on any connection ("PASS" lines included).
  std::vector<std::string> Commands() const;
  int Connections() const { return connections_; }
  int Quits() const { return quits_; }

 private:
  struct TUser {
    std::string Password;
    std::vector<std::string> Messages;
    bool Locked = false;
  };
  void AcceptLoop();
  void Serve(int fd);

  TListener listener_;
  std::atomic<bool> stop_{false};
  std::thread acceptThread_;
  std::vector<std::thread> sessions_;
  mutable std::mutex mutex_;
  std::map<std::string, TUser> users_;
  std::vector<std::pair<std::string, std::string>> replace_;
  std::vector<std::string> drop_;
  std::vector<std::string> stall_;
  std::string greeting_ = "+OK Pelorix test POP3 ready <1.2@test>";
  std::vector<std::string> capabilities_;
  bool hasCapabilities_ = false;
  std::size_t pieceBytes_ = 0;
  bool batch_ = false;
  std::atomic<int> mostAhead_{0};
  std::vector<std::string> commands_;
  std::atomic<int> connections_{0};
  std::atomic<int> quits_{0};
};

}  // namespace pelorix::test
