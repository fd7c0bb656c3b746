#include "engine/message_file.h"

#include <iterator>

#include "mime/mail_message.h"
#include "store/atomic_file.h"
#include "store/file_fault.h"
#include "text/ansi.h"

namespace pelorix {

bool TMessageFile::Create(const std::filesystem::path& path) {
  path_ = path;
  file_.reset(OpenStream(path, "wb"));
  return IsOpen();
}

void TMessageFile::Line(std::string_view utf8) {
  if (!file_)
    return;
  std::string disk = ToAnsi(utf8);
  disk += "\r\n";
  WriteStream(file_.get(), disk, path_);
}

void TMessageFile::Close() {
  file_.reset();
}

bool ReadAnsiLines(const std::filesystem::path& path, std::vector<std::string>& lines) {
  const auto bytes = store::ReadWholeFile(path);
  if (!bytes)
    return false;
  const std::string& all = *bytes;
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t end = all.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(FromAnsi(std::string_view(all).substr(start)));
      break;
    }
    lines.push_back(FromAnsi(std::string_view(all).substr(start, end - start)));
    start = end + 1;
    if (all[end] == '\r' && start < all.size() && all[start] == '\n')
      ++start;
  }
  return true;
}

std::vector<std::string> BodyLines(const TMailMessage& message) {
  std::vector<std::string> lines;
  if (message.MessageParts.empty())
    return message.Utf8Body();
  for (const auto& part : message.MessageParts) {
    if (auto* a = dynamic_cast<const TAttachmentPart*>(part.get())) {
      lines.push_back("附件：" + a->FileName + "[" + a->ContentType + "]");
    } else if (auto* t = dynamic_cast<const TTextPart*>(part.get())) {
      auto body = t->Utf8Body();
      lines.insert(lines.end(), std::make_move_iterator(body.begin()),
                   std::make_move_iterator(body.end()));
    }
  }
  return lines;
}

namespace {
std::string JoinLines(const std::vector<std::string>& lines, bool toAnsi) {
  std::string text;
  std::size_t size = 0;
  for (const auto& l : lines)
    size += l.size() + 2;
  text.reserve(size);
  for (const auto& l : lines) {
    text += toAnsi ? ToAnsi(l) : l;
    text += "\r\n";
  }
  return text;
}
}  // namespace

std::string HeaderFileText(const TMailMessage& message) {
  return JoinLines(message.Headers.Lines, false);
}

std::string BodyFileText(const std::vector<std::string>& bodyLines) {
  return JoinLines(bodyLines, true);
}

}  // namespace pelorix
