#include "mime/line_source.h"

namespace pelorix {

std::string TCopyLines::ReadLine() {
  if (text_.empty())
    return ".";
  const auto end = text_.find('\n');
  std::string_view line = text_.substr(0, end);
  text_ = end == std::string_view::npos ? std::string_view() : text_.substr(end + 1);
  if (!line.empty() && line.back() == '\r')
    line.remove_suffix(1);
  return (!line.empty() && line.front() == '.' ? "." : "") + std::string(line);
}

}  // namespace pelorix
