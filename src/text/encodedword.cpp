// RFC 2047 encoded words in header texts, and base64.

#include <string>
#include <string_view>

#include "text/ansi.h"
#include "text/asciiutil.h"
#include "text/textutil.h"

namespace pelorix {
namespace {

// No charset name iconv knows is longer; a cap keeps hostile input cheap.
constexpr std::size_t kMaxCharsetLength = 64;

// Shown instead of the "?" of "=?" when a decoded text would itself read as
// an encoded word, so that decoding the result again changes nothing.
constexpr std::string_view kFullwidthQuestion = "\xEF\xBC\x9F";

// RFC 2047 token characters (printable ASCII without especials), with "."
// and ":" allowed as some senders use them in charset names.
bool IsCharsetChar(char ch) {
  const auto c = static_cast<unsigned char>(ch);
  if (c <= 0x20 || c >= 0x7F)
    return false;
  switch (c) {
    case '?':
    case '=':
    case '(':
    case ')':
    case '<':
    case '>':
    case '@':
    case ',':
    case ';':
    case '"':
    case '/':
    case '\\':
    case '[':
    case ']':
      return false;
    default:
      return true;
  }
}

bool IsEncodedTextChar(char ch) {
  const auto c = static_cast<unsigned char>(ch);
  return c > 0x20 && c < 0x7F && c != '?';
}

bool IsLinearWhitespace(std::string_view s) {
  for (char c : s) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
      return false;
  }
  return true;
}

// Strict base64 as encoded words carry it: alphabet only, padding at the end
// and consistent with the length (missing padding is tolerated).
bool IsWellFormedBase64(std::string_view s) {
  std::size_t data = 0;
  while (data < s.size() && ascii::Base64Value(s[data]) >= 0)
    ++data;
  const std::size_t pads = s.size() - data;
  for (std::size_t i = data; i < s.size(); ++i) {
    if (s[i] != '=')
      return false;
  }
  if (pads == 0)
    return data % 4 != 1;
  if (pads > 2)
    return false;
  return (data + pads) % 4 == 0 && data % 4 != 0;
}

bool DecodeQ(std::string_view s, std::string& out) {
  out.clear();
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '_') {
      out.push_back(' ');
    } else if (c == '=') {
      if (i + 2 >= s.size())
        return false;
      const int hi = ascii::HexDigitValue(s[i + 1]);
      const int lo = ascii::HexDigitValue(s[i + 2]);
      if (hi < 0 || lo < 0)
        return false;
      out.push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return true;
}

bool IsKnownCharset(std::string_view charset) {
  std::string unused;
  return CharsetToUtf8({}, charset, unused);
}

struct EncodedWord {
  std::size_t end = 0;  // one past the closing "?="
  std::string_view charset;
  std::string bytes;
};

// Reads a decodable encoded word starting at s[pos] ("=?"). False when the
// text there is no encoded word, its charset is unknown or its encoding is
// broken. Scans only up to the third "?" after `pos`, which keeps the whole
// search linear.
bool ReadEncodedWord(std::string_view s, std::size_t pos, EncodedWord& word) {
  std::size_t i = pos + 2;
  const std::size_t charsetStart = i;
  while (i < s.size() && IsCharsetChar(s[i])) {
    if (i - charsetStart >= kMaxCharsetLength)
      return false;
    ++i;
  }
  if (i == charsetStart || i + 2 >= s.size() || s[i] != '?' || s[i + 2] != '?')
    return false;
  const char encoding = ascii::Upper(s[i + 1]);
  if (encoding != 'B' && encoding != 'Q')
    return false;
  const std::size_t textStart = i + 3;
  std::size_t j = textStart;
  while (j < s.size() && IsEncodedTextChar(s[j]))
    ++j;
  if (j + 1 >= s.size() || s[j] != '?' || s[j + 1] != '=')
    return false;
  const std::string_view encoded = s.substr(textStart, j - textStart);
  const std::string_view charset = s.substr(charsetStart, i - charsetStart);
  if (!IsKnownCharset(charset))
    return false;
  if (encoding == 'B') {
    if (!IsWellFormedBase64(encoded))
      return false;
    word.bytes = DecodeBase64(encoded);
  } else if (!DecodeQ(encoded, word.bytes)) {
    return false;
  }
  word.charset = charset;
  word.end = j + 2;
  return true;
}

// Replaces the "?" of every decodable word left in `s`. Changing an ASCII
// "?" into a non-ASCII character can only make other words unreadable, never
// readable, so one pass is enough.
void DefuseEncodedWords(std::string& s) {
  std::size_t p = s.find("=?");
  if (p == std::string::npos)
    return;
  std::string out;
  std::size_t copied = 0;
  EncodedWord word;
  for (; p != std::string::npos; p = s.find("=?", p + 1)) {
    if (!ReadEncodedWord(s, p, word))
      continue;
    out.append(s, copied, p + 1 - copied);
    out.append(kFullwidthQuestion);
    copied = p + 2;
  }
  if (copied == 0)
    return;
  out.append(s, copied, std::string::npos);
  s = std::move(out);
}

}  // namespace

std::string DecodeBase64(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 3);
  int group[4];
  int filled = 0;
  // Emits one group of four; false once padding has ended the decoding.
  auto emit = [&]() {
    if (group[0] < 0 || group[1] < 0)
      return false;
    out.push_back(static_cast<char>((group[0] << 2) | (group[1] >> 4)));
    if (group[2] < 0)
      return false;
    out.push_back(static_cast<char>(((group[1] & 0x0F) << 4) | (group[2] >> 2)));
    if (group[3] < 0)
      return false;
    out.push_back(static_cast<char>(((group[2] & 0x03) << 6) | group[3]));
    return true;
  };
  for (char c : text) {
    int v = c == '=' ? -1 : ascii::Base64Value(c);
    if (v < 0 && c != '=')
      continue;
    group[filled++] = v;
    if (filled == 4) {
      if (!emit())
        return out;
      filled = 0;
    }
  }
  if (filled > 0) {
    while (filled < 4)
      group[filled++] = -1;
    emit();
  }
  return out;
}

std::string DecodeEncodedWord(std::string_view text) {
  text = ascii::Trim(text);
  std::string out;
  out.reserve(text.size());

  // Adjacent words in one charset are joined before conversion, so that a
  // character split across two words survives.
  std::string runCharset;
  std::string runBytes;
  bool inRun = false;
  auto flushRun = [&]() {
    if (!inRun)
      return;
    std::string converted;
    CharsetToUtf8(runBytes, runCharset, converted);
    if (!IsValidUtf8(converted))
      CharsetToUtf8(converted, "UTF-8", converted);
    out.append(converted);
    runBytes.clear();
    inRun = false;
  };

  std::size_t literalStart = 0;
  EncodedWord word;
  for (std::size_t p = text.find("=?"); p != std::string_view::npos; p = text.find("=?", p)) {
    if (!ReadEncodedWord(text, p, word)) {
      ++p;
      continue;
    }
    const std::string_view gap = text.substr(literalStart, p - literalStart);
    // Whitespace between two encoded words is dropped.
    const bool adjacent = inRun && IsLinearWhitespace(gap);
    if (adjacent && ascii::EqualNoCase(runCharset, word.charset)) {
      runBytes.append(word.bytes);
    } else {
      flushRun();
      if (!adjacent)
        out.append(RawToUtf8(gap));
      runCharset.assign(word.charset);
      runBytes = std::move(word.bytes);
      inRun = true;
    }
    literalStart = p = word.end;
  }
  flushRun();
  out.append(RawToUtf8(text.substr(literalStart)));

  std::string result(ascii::Trim(out));
  DefuseEncodedWords(result);
  return result;
}

}  // namespace pelorix
