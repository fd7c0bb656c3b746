#include "engine/message_file.h"

#include <fstream>
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

bool ForEachAnsiLine(const std::filesystem::path& path,
                     const std::function<void(std::string)>& line) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  // CR, LF and CR LF each end a line; a CR at a piece's end waits for the
  // next piece's first byte.
  std::string pending;
  bool afterCr = false;
  char piece[64 << 10];
  while (in.read(piece, sizeof piece) || in.gcount() > 0) {
    std::string_view rest(piece, static_cast<std::size_t>(in.gcount()));
    if (afterCr && rest.front() == '\n')
      rest.remove_prefix(1);
    afterCr = false;
    while (!rest.empty()) {
      const std::size_t end = rest.find_first_of("\r\n");
      if (end == std::string_view::npos) {
        pending.append(rest);
        break;
      }
      pending.append(rest.substr(0, end));
      line(FromAnsi(pending));
      pending.clear();
      const bool cr = rest[end] == '\r';
      rest.remove_prefix(end + 1);
      if (cr && rest.empty())
        afterCr = true;
      else if (cr && rest.front() == '\n')
        rest.remove_prefix(1);
    }
  }
  if (!pending.empty())
    line(FromAnsi(pending));
  return !in.bad();
}

bool ReadAnsiLines(const std::filesystem::path& path, std::vector<std::string>& lines) {
  return ForEachAnsiLine(path, [&](std::string l) { lines.push_back(std::move(l)); });
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
