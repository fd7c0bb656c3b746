#pragma once
// Where the message model reads its lines from: a live connection, or a
// test handing lines in. Keeps the model free of sockets.

#include <string>

namespace pelorix {

class TLineSource {
 public:
  virtual ~TLineSource() = default;
  // The next line without its terminator (LF, a CR before it removed).
  // Raises the connection's errors (peer closed, line too long, time-out).
  virtual std::string ReadLine() = 0;
};

}  // namespace pelorix
