#include "mime/header_util.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "text/ansi.h"
#include "text/asciiutil.h"

namespace pelorix {

namespace {

std::string PercentDecode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && ascii::HexDigitValue(s[i + 1]) >= 0 &&
        ascii::HexDigitValue(s[i + 2]) >= 0) {
      out +=
          static_cast<char>(ascii::HexDigitValue(s[i + 1]) * 16 + ascii::HexDigitValue(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// Reads one parameter value starting at `i` (after "="): a quoted string or
// a token up to ";".
std::string ReadParamValue(std::string_view v, std::size_t& i) {
  while (i < v.size() && (v[i] == ' ' || v[i] == '\t'))
    ++i;
  std::string out;
  if (i < v.size() && v[i] == '"') {
    ++i;
    while (i < v.size() && v[i] != '"') {
      if (v[i] == '\\' && i + 1 < v.size())
        ++i;
      out += v[i++];
    }
    if (i < v.size())
      ++i;  // closing quote
    while (i < v.size() && v[i] != ';')
      ++i;
    return out;
  }
  std::size_t start = i;
  while (i < v.size() && v[i] != ';')
    ++i;
  return std::string(TrimBlanks(v.substr(start, i - start)));
}

}  // namespace

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return ascii::MatchAtNoCase(s, 0, prefix);
}

std::size_t FindNoCase(std::string_view hay, std::string_view needle) {
  auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end(),
                        [](char a, char b) { return ascii::Lower(a) == ascii::Lower(b); });
  return it == hay.end() && !needle.empty() ? std::string_view::npos
                                            : static_cast<std::size_t>(it - hay.begin());
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    c = ascii::Lower(c);
  return out;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

std::string PlainHeaderValue(std::string_view raw) {
  return RawToUtf8(TrimBlanks(raw));
}

std::string_view HeaderMainValue(std::string_view value) {
  return TrimBlanks(value.substr(0, value.find(';')));
}

std::string HeaderParam(std::string_view value, std::string_view name, std::string* charset) {
  // Sections of an RFC 2231 value by index; the plain form is used only when
  // no extended form exists.
  std::string plain;
  bool havePlain = false;
  std::map<int, std::pair<std::string, bool>> sections;  // index -> (text, encoded)
  std::size_t i = value.find(';');
  while (i != std::string_view::npos && i < value.size()) {
    ++i;  // past ';'
    while (i < value.size() && (value[i] == ' ' || value[i] == '\t'))
      ++i;
    std::size_t eq = i;
    while (eq < value.size() && value[eq] != '=' && value[eq] != ';')
      ++eq;
    if (eq >= value.size())
      break;
    if (value[eq] == ';') {
      i = eq;
      continue;
    }
    std::string_view key = TrimBlanks(value.substr(i, eq - i));
    i = eq + 1;
    std::string val = ReadParamValue(value, i);
    if (ascii::EqualNoCase(key, name)) {
      if (!havePlain)
        plain = std::move(val);
      havePlain = true;
    } else if (StartsWithNoCase(key, name) && key.size() > name.size() && key[name.size()] == '*') {
      std::string_view rest = key.substr(name.size() + 1);  // "", "*", "0", "0*", ...
      bool encoded = !rest.empty() && rest.back() == '*';
      if (encoded)
        rest.remove_suffix(1);
      if (rest.empty()) {
        encoded = key.back() == '*';
        sections.emplace(0, std::make_pair(std::move(val), encoded));
      } else if (rest.size() <= 4 && std::all_of(rest.begin(), rest.end(),
                                                 [](char c) { return c >= '0' && c <= '9'; })) {
        sections.emplace(std::atoi(std::string(rest).c_str()),
                         std::make_pair(std::move(val), encoded));
      }
    }
    if (i < value.size() && value[i] != ';')
      i = value.find(';', i);
  }
  if (sections.empty())
    return plain;
  std::string out;
  bool first = true;
  for (auto& [index, section] : sections) {
    std::string_view text = section.first;
    if (section.second) {
      if (first) {
        // charset'language'text
        auto q1 = text.find('\'');
        auto q2 = q1 == std::string_view::npos ? q1 : text.find('\'', q1 + 1);
        if (q2 != std::string_view::npos) {
          if (charset)
            *charset = std::string(text.substr(0, q1));
          text = text.substr(q2 + 1);
        }
      }
      out += PercentDecode(text);
    } else {
      out += text;
    }
    first = false;
  }
  return out;
}

}  // namespace pelorix
