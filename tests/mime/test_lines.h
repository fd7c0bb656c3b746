#pragma once
// Feeds the message model the way a POP3 session does: line by line, with
// dot-stuffing and the closing ".".

#include <cstddef>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "mime/errors.h"
#include "mime/line_source.h"
#include "mime/mail_message.h"

namespace pelorix::testing {

class TVectorLineSource : public TLineSource {
 public:
  explicit TVectorLineSource(std::vector<std::string> lines) : lines_(std::move(lines)) {}
  std::string ReadLine() override {
    if (next_ >= lines_.size())
      throw EPelorixError("Connection Closed Gracefully.");
    return lines_[next_++];
  }
  std::size_t Remaining() const { return lines_.size() - next_; }

 private:
  std::vector<std::string> lines_;
  std::size_t next_ = 0;
};

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A message text as the server sends it after RETR: lines without CR LF,
// lines starting with "." stuffed, then ".".
inline std::vector<std::string> WireLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t nl = text.find('\n', start);
    std::string line = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (!line.empty() && line[0] == '.')
      line.insert(0, ".");
    lines.push_back(std::move(line));
    if (nl == std::string::npos)
      break;
    start = nl + 1;
  }
  lines.emplace_back(".");
  return lines;
}

// Part `i` of a read message when it exists and has type T, else null.
template <typename T>
T* Part(TMailMessage& msg, std::size_t i) {
  return i < msg.MessageParts.size() ? dynamic_cast<T*>(msg.MessageParts[i].get()) : nullptr;
}

inline std::string CorpusPath(const std::string& name) {
  return std::string(PELORIX_TEST_DATA) + "/mail/" + name;
}

// Reads a whole message (header and body) from wire lines.
inline void ReadMessage(TMailMessage& msg, std::vector<std::string> lines) {
  TVectorLineSource src(std::move(lines));
  if (msg.ReadHeader(src, "") != ".")
    msg.ReadBody(src);
}

inline void ReadCorpusMessage(TMailMessage& msg, const std::string& name) {
  ReadMessage(msg, WireLines(ReadFileBytes(CorpusPath(name))));
}

}  // namespace pelorix::testing
