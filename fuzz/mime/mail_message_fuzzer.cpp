// Arbitrary bytes, split into lines, read as a message the way a POP3 session
// hands them in: header, then body up to ".".

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "mime/errors.h"
#include "mime/mail_message.h"

namespace {

class TFuzzLines : public pelorix::TLineSource {
 public:
  TFuzzLines(const std::uint8_t* data, std::size_t size)
      : text_(reinterpret_cast<const char*>(data), size) {}
  std::string ReadLine() override {
    if (pos_ > text_.size())
      throw pelorix::EPelorixError("Connection Closed Gracefully.");
    std::size_t nl = text_.find('\n', pos_);
    if (nl == std::string::npos)
      nl = text_.size();
    std::string line = text_.substr(pos_, nl - pos_);
    pos_ = nl + 1;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    return line;
  }

 private:
  std::string text_;
  std::size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  const bool dotTerminator = data[0] & 1;
  TFuzzLines lines(data + 1, size - 1);
  std::filesystem::path folder;
  {
    pelorix::TMailMessage msg;
    msg.Limits.MaxParts = 64;
    msg.Limits.MaxBodyBytes = 1 << 20;
    try {
      if (msg.ReadHeader(lines, dotTerminator ? "." : "") != ".")
        msg.ReadBody(lines);
    } catch (const pelorix::EPelorixError&) {
    }
    // Everything the readers of a message touch must be usable.
    std::size_t sink = msg.From.Text().size() + msg.Sender.Text().size();
    for (const auto& a : msg.Recipients.Items)
      sink += a.Text().size();
    for (const auto& line : msg.Headers.Folded())
      sink += line.size();
    for (const auto& line : msg.Utf8Body())
      sink += line.size();
    folder = msg.AttachmentFolder();
    if (msg.MessageParts.size() > msg.Limits.MaxParts)
      std::abort();
    for (const auto& part : msg.MessageParts) {
      if (auto* text = dynamic_cast<pelorix::TTextPart*>(part.get())) {
        for (const auto& line : text->Utf8Body())
          sink += line.size();
      } else if (auto* file = dynamic_cast<pelorix::TAttachmentPart*>(part.get())) {
        if (!file->StoredFile.empty() && file->StoredFile.parent_path() != folder)
          std::abort();
      }
    }
    (void)sink;
  }
  if (!folder.empty() && std::filesystem::exists(folder))
    std::abort();
  return 0;
}
