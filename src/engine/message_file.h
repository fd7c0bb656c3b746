#pragma once
// The worker's text report tmp/mailMsgN.tmp: GB18030 lines ended by CR LF,
// one block per account and message. Also the per-message header and body
// files.

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pelorix {

class TMailMessage;

// Lines go in as UTF-8 and out as GB18030 + CR LF.
class TReportSink {
 public:
  virtual ~TReportSink() = default;
  virtual void Line(std::string_view utf8) = 0;
};

class TMessageFile : public TReportSink {
 public:
  // Creates the file empty; false when it cannot be created.
  bool Create(const std::filesystem::path& path);
  bool IsOpen() const { return file_ != nullptr; }
  void Line(std::string_view utf8) override;
  void Close();

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::filesystem::path path_;
  std::unique_ptr<std::FILE, Closer> file_;
};

// Collects lines in memory (tests, previews).
class TReportLines : public TReportSink {
 public:
  void Line(std::string_view utf8) override { Lines.emplace_back(utf8); }
  std::vector<std::string> Lines;
};

// Reads a GB18030 text file into UTF-8 lines (CR LF, CR or LF end a line);
// false when it cannot be opened.
bool ReadAnsiLines(const std::filesystem::path& path, std::vector<std::string>& lines);
// The same lines handed on one at a time, read in pieces: a big mailbox's
// report is never held whole.
bool ForEachAnsiLine(const std::filesystem::path& path,
                     const std::function<void(std::string)>& line);

// The body lines of a message as the body file lists them, in UTF-8: per
// part "附件：" + file name + "[" + content type + "]" for an attachment and
// the lines of a text part; the plain body for a message without parts.
std::vector<std::string> BodyLines(const TMailMessage& message);

// The text of tmp/<key>.msg: the raw header lines as fetched, CR LF ended.
std::string HeaderFileText(const TMailMessage& message);
// The text of tmp/<key>: the body lines in the on-disk encoding.
std::string BodyFileText(const std::vector<std::string>& bodyLines);

}  // namespace pelorix
