#include "mime/header_util.h"
#include "mime/mail_message.h"
#include "text/asciiutil.h"

namespace pelorix {

namespace {

bool IsContinuation(const std::string& line) {
  return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

// Index of the first line named `name`, or Lines.size().
std::size_t FindHeader(const std::vector<std::string>& lines, std::string_view name) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    auto colon = line.find(':');
    if (colon != std::string_view::npos && ascii::EqualNoCase(line.substr(0, colon), name))
      return i;
  }
  return lines.size();
}

}  // namespace

std::string THeaderList::Values(std::string_view name) const {
  std::size_t i = FindHeader(Lines, name);
  if (i == Lines.size())
    return {};
  std::string_view first = Lines[i];
  std::string value(first.substr(first.find(':') + 1));
  for (++i; i < Lines.size() && IsContinuation(Lines[i]); ++i) {
    value += ' ';
    value += TrimBlanks(Lines[i]);
  }
  return std::string(TrimBlanks(value));
}

std::vector<std::string> THeaderList::Folded(std::size_t width) const {
  std::vector<std::string> out;
  if (width < 2)
    width = 2;
  for (const auto& line : Lines) {
    std::string_view rest = line;
    // Never break right after "Name:", which would leave the value empty.
    std::size_t colon = rest.find(':');
    std::size_t keep = colon == std::string_view::npos ? 0 : rest.find_first_of(" \t", colon);
    while (rest.size() > width) {
      // Break before a blank that has text in front of it on this line, so
      // that no line is blank only; the blank starts the continuation.
      std::size_t text = rest.find_first_not_of(" \t");
      if (text == std::string_view::npos)
        break;
      if (keep != std::string_view::npos && keep > text)
        text = keep;
      std::size_t pos = rest.find_last_of(" \t", width);
      if (pos == std::string_view::npos || pos <= text)
        pos = rest.find_first_of(" \t", text + 1);
      if (pos == std::string_view::npos)
        break;
      out.emplace_back(rest.substr(0, pos));
      rest.remove_prefix(pos);
      keep = std::string_view::npos;
    }
    out.emplace_back(rest);
  }
  return out;
}

void THeaderList::SetValue(std::string_view name, std::string_view value) {
  std::size_t i = FindHeader(Lines, name);
  if (i < Lines.size()) {
    std::size_t end = i + 1;
    while (end < Lines.size() && IsContinuation(Lines[end]))
      ++end;
    Lines.erase(Lines.begin() + static_cast<std::ptrdiff_t>(i),
                Lines.begin() + static_cast<std::ptrdiff_t>(end));
  }
  if (value.empty())
    return;
  Lines.insert(Lines.begin() + static_cast<std::ptrdiff_t>(i),
               std::string(name) + ": " + std::string(value));
}

}  // namespace pelorix
