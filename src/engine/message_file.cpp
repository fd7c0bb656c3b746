#include "engine/message_file.h"

#include <fstream>
#include <iterator>

#include "mime/mail_message.h"
#include "text/ansi.h"

namespace pelorix {

bool TMessageFile::Create(const std::filesystem::path& path) {
  file_.reset(std::fopen(path.c_str(), "wb"));
  return IsOpen();
}

void TMessageFile::Line(std::string_view utf8) {
  if (!file_)
    return;
  std::string disk = ToAnsi(utf8);
  disk += "\r\n";
  std::fwrite(disk.data(), 1, disk.size(), file_.get());
}

void TMessageFile::Close() {
  file_.reset();
}

bool ReadAnsiLines(const std::filesystem::path& path, std::vector<std::string>& lines) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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
bool WriteLines(const std::filesystem::path& path, const std::vector<std::string>& lines,
                bool toAnsi) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out)
    return false;
  for (const auto& l : lines) {
    out << (toAnsi ? ToAnsi(l) : l) << "\r\n";
  }
  return static_cast<bool>(out);
}
}  // namespace

bool WriteHeaderFile(const std::filesystem::path& path, const TMailMessage& message) {
  return WriteLines(path, message.Headers.Lines, false);
}

bool WriteBodyFile(const std::filesystem::path& path, const std::vector<std::string>& bodyLines) {
  return WriteLines(path, bodyLines, true);
}

}  // namespace pelorix
