#pragma once
// With PELORIX_BENCH_PERF_FIFO naming the control fifo of
// `perf record --control=fifo:FIFO -D -1`, only the timed parts are profiled:
//   mkfifo /tmp/perf.ctl
//   perf record -a -g -D -1 --control=fifo:/tmp/perf.ctl --
//       env PELORIX_BENCH_PERF_FIFO=/tmp/perf.ctl BENCH ...
//   (one command line)

#include <cstdio>
#include <cstdlib>

namespace pelorix {

class TProfileWindow {
 public:
  TProfileWindow() { Send("enable\n"); }
  ~TProfileWindow() { Send("disable\n"); }
  TProfileWindow(const TProfileWindow&) = delete;
  TProfileWindow& operator=(const TProfileWindow&) = delete;

 private:
  static void Send(const char* command) {
    const char* fifo = std::getenv("PELORIX_BENCH_PERF_FIFO");
    if (fifo == nullptr || *fifo == '\0')
      return;
    if (std::FILE* f = std::fopen(fifo, "w")) {
      std::fputs(command, f);
      std::fclose(f);
    }
  }
};

}  // namespace pelorix
