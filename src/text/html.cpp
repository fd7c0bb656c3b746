// HTML mail to plain text, line by line and file by file.

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

#include "text/ansi.h"
#include "text/asciiutil.h"
#include "text/textutil.h"

namespace pelorix {
namespace {

constexpr auto npos = std::string_view::npos;

// Every `pattern` (lower case) replaced by `with`, ignoring case, left to
// right; replaced text is not searched again.
std::string ReplaceAllNoCase(std::string_view s, std::string_view pattern, std::string_view with) {
  std::size_t p = ascii::FindNoCase(s, pattern);
  if (p == npos)
    return std::string(s);
  std::string out;
  out.reserve(s.size());
  std::size_t from = 0;
  for (; p != npos; p = ascii::FindNoCase(s, pattern, from)) {
    out.append(s, from, p - from);
    out.append(with);
    from = p + pattern.size();
  }
  out.append(s.substr(from));
  return out;
}

// Deletes every closed block from `open` through `close`; a block left open
// cuts the line there and sets `inBlock`, unless a `close` stands before it.
// After a deletion the text on both sides joins, and an `open` formed across
// the join counts as well. Built in one pass: `kept` holds the text before
// line[pos] and never contains a whole `open`.
void RemoveBlocks(std::string& line, std::string_view open, std::string_view close, bool& inBlock) {
  std::string kept;
  std::size_t pos = 0;
  for (;;) {
    // An `open` split across the join comes before any inside the rest.
    std::size_t straddle = 0;
    for (std::size_t k = std::min(open.size() - 1, kept.size()); k >= 1 && straddle == 0; --k) {
      if (ascii::MatchAtNoCase(kept, kept.size() - k, open.substr(0, k)) &&
          ascii::MatchAtNoCase(line, pos, open.substr(k))) {
        straddle = k;
      }
    }
    std::size_t start = npos;  // position of the `open` in line, when not split
    if (straddle == 0) {
      start = ascii::FindNoCase(line, open, pos);
      if (start == npos)
        break;
    }
    const std::size_t end = ascii::FindNoCase(line, close, straddle ? pos : start);
    if (end != npos) {
      if (straddle) {
        kept.resize(kept.size() - straddle);
      } else {
        kept.append(line, pos, start - pos);
      }
      pos = end + close.size();
      continue;
    }
    // No `close` after the first `open`.
    const std::size_t openAt = straddle ? kept.size() - straddle : kept.size() + (start - pos);
    std::string current = kept + line.substr(pos);
    if (ascii::FindNoCase(current, close) == npos) {
      current.resize(openAt);
      inBlock = true;
    }
    line = std::move(current);
    return;
  }
  if (pos > 0)
    line = kept + line.substr(pos);
}

// Removes tags: repeatedly, while a "<" is left, the first "<" through the
// first ">" after it (or to the end without one), and a ">" standing before
// the first "<" together with everything before it; at last the tail of a
// tag begun on an earlier line (everything through the first ">" left).
std::string RemoveTags(std::string_view s) {
  const std::size_t lastOpen = s.rfind('<');
  std::string out;
  std::size_t i = 0;
  for (;;) {
    const std::size_t p = s.find_first_of("<>", i);
    if (p == npos) {
      out.append(s.substr(i));
      return out;
    }
    if (s[p] == '<') {
      out.append(s, i, p - i);
      const std::size_t q = s.find('>', p + 1);
      if (q == npos)
        return out;
      i = q + 1;
    } else if (lastOpen != npos && p < lastOpen) {
      out.clear();
      i = p + 1;
    } else {
      // No "<" is left: this is the first ">" of what remains.
      return std::string(s.substr(p + 1));
    }
  }
}

bool IsWebPageExtension(std::string_view ext) {
  static constexpr std::array<std::string_view, 13> kExtensions = {
      ".htm", ".html", ".shtml", ".pl",    ".cgi",  ".php3", ".php",
      ".xml", ".asp",  ".cfm",   ".phtml", ".shtm", ".phtm"};
  for (auto e : kExtensions) {
    if (ascii::EqualNoCase(e, ext))
      return true;
  }
  return false;
}

}  // namespace

void HtmlLineToText(std::string& line, bool& inBlock) {
  line = ReplaceAllNoCase(line, "<p>", "\r\n");
  line = ReplaceAllNoCase(line, "<br>", "\r\n");
  RemoveBlocks(line, "<style", "</style>", inBlock);
  RemoveBlocks(line, "<script", "</script>", inBlock);
  if (inBlock) {
    std::size_t end = ascii::FindNoCase(line, "</style>");
    std::size_t length = 8;
    if (end == npos) {
      end = ascii::FindNoCase(line, "</script>");
      length = 9;
    }
    if (end == npos) {
      line.clear();
    } else {
      line.erase(0, end + length);
      inBlock = false;
    }
  }
  if (!inBlock)
    line = RemoveTags(line);
  line = ReplaceAllNoCase(line, "&nbsp;", " ");
  line = ReplaceAllNoCase(line, "&nbsp", " ");
  line = ReplaceAllNoCase(line, "&gt", "");
  line = ReplaceAllNoCase(line, "&lt;", "");
  line = ReplaceAllNoCase(line, "&quot", "");
}

std::vector<std::string> HtmlLinesToText(const std::vector<std::string>& lines) {
  std::vector<std::string> text;
  bool inBlock = false;
  bool previousEmpty = true;
  for (std::string line : lines) {
    HtmlLineToText(line, inBlock);
    if (ascii::Trim(line).empty())
      line.clear();
    if (!(line.empty() && previousEmpty))
      text.push_back(line);
    previousEmpty = line.empty();
  }
  return text;
}

void HtmlFileToText(const std::filesystem::path& file, bool webPagesOnly) {
  namespace fs = std::filesystem;
  if (webPagesOnly && !IsWebPageExtension(file.extension().string()))
    return;
  fs::path target = file;
  target.replace_extension(".txt");

  std::error_code ec;
  if (!fs::is_regular_file(file, ec))
    return;
  std::string source;
  {
    std::ifstream in(file, std::ios::binary);
    if (!in)
      return;
    source.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad())
      return;
  }
  // The whole source is read before the target is created, so a target that
  // names the source itself (a ".txt" file) loses nothing.
  std::vector<std::string> lines;
  std::size_t from = 0;
  while (from < source.size()) {
    std::size_t eol = source.find('\n', from);
    if (eol == npos)
      eol = source.size();
    std::string_view raw(source.data() + from, eol - from);
    from = eol + 1;
    if (!raw.empty() && raw.back() == '\r')
      raw.remove_suffix(1);
    lines.push_back(FromAnsi(raw));
  }
  std::string text;
  text.reserve(source.size());
  for (const std::string& line : HtmlLinesToText(lines)) {
    text.append(ToAnsi(line));
    text.append("\r\n");
  }

  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  if (!out)
    return;
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  // Delete the source only once its text is safely written.
  if (out && webPagesOnly)
    fs::remove(file, ec);
}

}  // namespace pelorix
