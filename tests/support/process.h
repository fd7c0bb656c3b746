#pragma once
// Helpers for tests that run real servers: temporary folders, free ports,
// child processes stopped by their own process id.

#include <chrono>
#include <string>
#include <vector>

namespace pelorix::test {

// A fresh folder below the system temp folder, removed with its contents.
class TTempFolder {
 public:
  explicit TTempFolder(const std::string& prefix = "pelorix-test");
  ~TTempFolder();
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// A loopback TCP port that was free a moment ago.
int FreeLoopbackPort();

// True once something accepts connections on 127.0.0.1:port.
bool WaitForPort(int port, std::chrono::milliseconds timeout);

// A child process (argv[0] is the program path). Stopped (SIGTERM, then
// SIGKILL) in the destructor.
class TChildProcess {
 public:
  TChildProcess() = default;
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  // Output goes to logPath (appended) when given.
  void Start(const std::vector<std::string>& argv, const std::string& logPath = {});
  bool Running();
  // Waits for the process to end; its exit status, or -1 when it was killed.
  int Wait();
  void Stop();
  int Pid() const { return pid_; }

 private:
  int pid_ = -1;
};

void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);

}  // namespace pelorix::test
