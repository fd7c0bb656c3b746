#pragma once
// Where the message model reads its lines from: a live connection, or a
// test handing lines in. Keeps the model free of sockets.

#include <string>
#include <string_view>

namespace pelorix {

class TLineSource {
 public:
  virtual ~TLineSource() = default;
  // The next line without its terminator (LF, a CR before it removed).
  // Raises the connection's errors (peer closed, line too long, time-out).
  virtual std::string ReadLine() = 0;
};

// A stored message's lines as the message model reads them from a server:
// line ends removed, dot-stuffed again (the stored text is not) and ended
// by ".".
class TCopyLines : public TLineSource {
 public:
  explicit TCopyLines(std::string_view text) : text_(text) {}
  std::string ReadLine() override;

 private:
  std::string_view text_;
};

}  // namespace pelorix
