#include "net/imap_response.h"

#include "text/textutil.h"

#include <algorithm>

#include "text/asciiutil.h"

namespace pelorix {

bool TImapValue::IsAtom(std::string_view name) const {
  return (Kind == TKind::Atom || Kind == TKind::Nil) && ascii::EqualNoCase(Text, name);
}

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads one response piece by piece: the current line piece, and when a
// piece ends in "{n}", the literal and the piece that follows it.
class TParser {
 public:
  TParser(TImapSource& source, const TImapLimits& limits) : source_(source), limits_(limits) {}

  TImapResponse Parse() {
    line_ = source_.Line(limits_.MaxLine);
    pos_ = 0;
    TImapResponse r;
    if (Peek() == '+') {
      r.Type = TImapResponse::TType::Continuation;
      ++pos_;
      SkipSpaces();
      r.Text = RestOfLine();
      return r;
    }
    std::string tag = Word();
    if (tag.empty())
      throw EImapProtocolError("response without a tag");
    if (tag == "*") {
      r.Type = TImapResponse::TType::Untagged;
    } else {
      r.Type = TImapResponse::TType::Tagged;
      r.Tag = std::move(tag);
    }
    SkipSpaces();
    std::string first = Word();
    if (!first.empty() && std::all_of(first.begin(), first.end(), IsDigit)) {
      r.Number = ToNumber(first);
      SkipSpaces();
      first = Word();
    }
    std::string upper = ascii::ToUpper(first);
    if (first.empty())
      throw EImapProtocolError("response without a name");
    if (!r.Number && (upper == "OK" || upper == "NO" || upper == "BAD" || upper == "BYE" ||
                      upper == "PREAUTH")) {
      r.Status = std::move(upper);
      StatusText(r);
      return r;
    }
    if (r.Type == TImapResponse::TType::Tagged)
      throw EImapProtocolError("tagged response without a status: " + first);
    r.Name = std::move(upper);
    Values(r.Data, 0, false);
    return r;
  }

 private:
  char Peek() const { return pos_ < line_.size() ? line_[pos_] : '\0'; }
  bool AtEnd() const { return pos_ >= line_.size(); }

  void SkipSpaces() {
    while (pos_ < line_.size() && line_[pos_] == ' ')
      ++pos_;
  }

  std::string RestOfLine() {
    std::string rest = line_.substr(std::min(pos_, line_.size()));
    pos_ = line_.size();
    return rest;
  }

  // A tag or a response name: up to a blank.
  std::string Word() {
    const std::size_t start = pos_;
    while (pos_ < line_.size() && line_[pos_] != ' ')
      ++pos_;
    return line_.substr(start, pos_ - start);
  }

  static std::uint64_t ToNumber(std::string_view digits) {
    std::uint64_t value = 0;
    for (const char c : digits) {
      const auto d = static_cast<std::uint64_t>(c - '0');
      if (value > (UINT64_MAX - d) / 10)
        throw EImapProtocolError("number out of range");
      value = value * 10 + d;
    }
    return value;
  }

  void StatusText(TImapResponse& r) {
    SkipSpaces();
    if (Peek() == '[') {
      const std::size_t close = line_.find(']', pos_);
      if (close == std::string::npos)
        throw EImapProtocolError("response code without \"]\"");
      const std::string_view code = std::string_view(line_).substr(pos_ + 1, close - pos_ - 1);
      const std::size_t blank = code.find(' ');
      r.Code = ascii::ToUpper(code.substr(0, blank));
      if (blank != std::string_view::npos)
        r.CodeArgs = std::string(code.substr(blank + 1));
      pos_ = close + 1;
      SkipSpaces();
    }
    r.Text = RestOfLine();
  }

  void Count() {
    if (++values_ > limits_.MaxValues)
      throw EImapProtocolError("too many values in one response");
  }

  // Values up to the end of the response, or up to ")" inside a list.
  void Values(std::vector<TImapValue>& out, std::size_t depth, bool inList) {
    for (;;) {
      SkipSpaces();
      if (AtEnd()) {
        if (inList)
          throw EImapProtocolError("list without \")\"");
        return;
      }
      const char c = Peek();
      if (c == ')') {
        if (!inList)
          throw EImapProtocolError("unexpected \")\"");
        ++pos_;
        return;
      }
      Count();
      TImapValue v;
      if (c == '(') {
        if (depth + 1 > limits_.MaxDepth)
          throw EImapProtocolError("lists nested too deeply");
        ++pos_;
        v.Kind = TImapValue::TKind::List;
        Values(v.Items, depth + 1, true);
      } else if (c == '"') {
        v.Kind = TImapValue::TKind::String;
        v.Text = Quoted();
      } else if (c == '{' || (c == '~' && pos_ + 1 < line_.size() && line_[pos_ + 1] == '{')) {
        v.Kind = TImapValue::TKind::String;
        Literal(v);
      } else {
        v.Text = Atom();
        if (std::all_of(v.Text.begin(), v.Text.end(), IsDigit)) {
          v.Kind = TImapValue::TKind::Number;
          v.Number = ToNumber(v.Text);
        } else if (ascii::EqualNoCase(v.Text, "NIL")) {
          v.Kind = TImapValue::TKind::Nil;
        }
      }
      out.push_back(std::move(v));
    }
  }

  std::string Quoted() {
    ++pos_;  // the opening quote
    std::string text;
    while (pos_ < line_.size()) {
      char c = line_[pos_++];
      if (c == '"')
        return text;
      if (c == '\\') {
        if (pos_ >= line_.size())
          break;
        c = line_[pos_++];
      }
      text += c;
    }
    throw EImapProtocolError("quoted string without its closing quote");
  }

  // An atom; a "[" takes everything to its "]" along (BODY[HEADER.FIELDS
  // (A B)]<0>), so that a section stays one name.
  std::string Atom() {
    const std::size_t start = pos_;
    int brackets = 0;
    while (pos_ < line_.size()) {
      const char c = line_[pos_];
      if (brackets > 0) {
        if (c == '[')
          ++brackets;
        else if (c == ']')
          --brackets;
      } else if (c == '[') {
        ++brackets;
      } else if (c == ' ' || c == '(' || c == ')' || c == '"' ||
                 static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
        break;
      }
      ++pos_;
    }
    if (pos_ == start)
      throw EImapProtocolError("unexpected character in a response");
    return line_.substr(start, pos_ - start);
  }

  // "{n}" ends the piece; n bytes follow, then the next piece.
  void Literal(TImapValue& v) {
    if (line_[pos_] == '~')
      ++pos_;
    const std::size_t close = line_.find('}', pos_);
    if (close == std::string::npos || close + 1 != line_.size())
      throw EImapProtocolError("literal size not at the end of a line");
    const std::string_view digits = std::string_view(line_).substr(pos_ + 1, close - pos_ - 1);
    if (digits.empty() || digits.size() > 19 || !std::all_of(digits.begin(), digits.end(), IsDigit))
      throw EImapProtocolError("bad literal size");
    const std::uint64_t size = ToNumber(digits);
    if (size > limits_.MaxLiteral)
      throw EImapProtocolError("literal of " + std::string(digits) + " bytes");
    const std::uint64_t room = limits_.MaxKept - std::min(kept_, limits_.MaxKept);
    const std::uint64_t keep = std::min(size, room);
    source_.Bytes(size, v.Text, keep);
    kept_ += keep;
    v.Truncated = keep < size;
    line_ = source_.Line(limits_.MaxLine);
    pos_ = 0;
  }

  TImapSource& source_;
  const TImapLimits& limits_;
  std::string line_;
  std::size_t pos_ = 0;
  std::size_t values_ = 0;
  std::uint64_t kept_ = 0;
};

}  // namespace

TImapResponse ReadImapResponse(TImapSource& source, const TImapLimits& limits) {
  return TParser(source, limits).Parse();
}

std::string TImapBufferSource::Line(std::size_t maxLength) {
  const std::size_t lf = bytes_.find('\n', pos_);
  if (lf == std::string_view::npos) {
    pos_ = bytes_.size();
    throw EConnClosedGracefully();
  }
  std::size_t end = lf;
  if (end > pos_ && bytes_[end - 1] == '\r')
    --end;
  if (end - pos_ > maxLength)
    throw ELineTooLong();
  std::string line(bytes_.substr(pos_, end - pos_));
  pos_ = lf + 1;
  return line;
}

void TImapBufferSource::Bytes(std::uint64_t count, std::string& out, std::uint64_t keep) {
  if (count > bytes_.size() - pos_) {
    pos_ = bytes_.size();
    throw EConnClosedGracefully();
  }
  const auto n = static_cast<std::size_t>(count);
  out.append(bytes_.substr(pos_, static_cast<std::size_t>(std::min(keep, count))));
  pos_ += n;
}

const TImapValue* FetchItem(const TImapResponse& response, std::string_view name) {
  if (response.Name != "FETCH" || response.Data.empty() ||
      response.Data.front().Kind != TImapValue::TKind::List)
    return nullptr;
  const auto& items = response.Data.front().Items;
  for (std::size_t i = 0; i + 1 < items.size(); i += 2) {
    if (items[i].Kind == TImapValue::TKind::Atom && ascii::EqualNoCase(items[i].Text, name))
      return &items[i + 1];
  }
  return nullptr;
}

std::optional<std::string> ImapQuoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u >= 0x7f)
      return std::nullopt;
    if (c == '"' || c == '\\')
      out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

namespace {

constexpr std::string_view kB64 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

// UTF-8 to code points; a broken sequence reads as U+FFFD.
std::vector<char32_t> CodePoints(std::string_view s) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1f) : len == 3 ? (b & 0x0f) : (b & 0x07);
    bool ok = len > 0 && i + static_cast<std::size_t>(len) <= s.size();
    for (int k = 1; ok && k < len; ++k) {
      const auto c = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
      ok = (c >> 6) == 2;
      cp = (cp << 6) | (c & 0x3f);
    }
    if (!ok || cp > 0x10ffff) {
      out.push_back(0xfffd);
      ++i;
    } else {
      out.push_back(cp);
      i += static_cast<std::size_t>(len);
    }
  }
  return out;
}

}  // namespace

std::string EncodeMailboxName(std::string_view utf8) {
  std::string out;
  std::vector<std::uint16_t> run;
  auto flush = [&] {
    if (run.empty())
      return;
    out += '&';
    std::uint32_t bits = 0;
    int count = 0;
    for (const std::uint16_t unit : run) {
      bits = (bits << 16) | unit;
      count += 16;
      while (count >= 6) {
        count -= 6;
        out += kB64[(bits >> count) & 0x3f];
      }
    }
    if (count > 0)
      out += kB64[(bits << (6 - count)) & 0x3f];
    out += '-';
    run.clear();
  };
  for (const char32_t cp : CodePoints(utf8)) {
    if (cp >= 0x20 && cp < 0x7f) {
      flush();
      out += static_cast<char>(cp);
      if (cp == '&')
        out += '-';
    } else if (cp >= 0x10000) {
      run.push_back(static_cast<std::uint16_t>(0xd800 + ((cp - 0x10000) >> 10)));
      run.push_back(static_cast<std::uint16_t>(0xdc00 + ((cp - 0x10000) & 0x3ff)));
    } else {
      run.push_back(static_cast<std::uint16_t>(cp));
    }
  }
  flush();
  return out;
}

std::string DecodeMailboxName(std::string_view wire) {
  std::string out;
  for (std::size_t i = 0; i < wire.size(); ++i) {
    if (wire[i] != '&') {
      out += wire[i];
      continue;
    }
    const std::size_t end = wire.find('-', i + 1);
    if (end == std::string_view::npos) {
      out.append(wire.substr(i));  // not an encoded run: kept as it stands
      break;
    }
    if (end == i + 1) {
      out += '&';
      i = end;
      continue;
    }
    std::uint32_t bits = 0;
    int count = 0;
    char32_t high = 0;
    for (std::size_t k = i + 1; k < end; ++k) {
      const auto d = kB64.find(wire[k]);
      if (d == std::string_view::npos)
        continue;
      bits = (bits << 6) | static_cast<std::uint32_t>(d);
      count += 6;
      if (count >= 16) {
        count -= 16;
        const char32_t unit = (bits >> count) & 0xffff;
        if (unit >= 0xd800 && unit < 0xdc00) {
          high = unit;
        } else if (unit >= 0xdc00 && unit < 0xe000 && high != 0) {
          AppendUtf8(out, 0x10000 + ((high - 0xd800) << 10) + (unit - 0xdc00));
          high = 0;
        } else {
          AppendUtf8(out, unit);
          high = 0;
        }
      }
    }
    i = end;
  }
  return out;
}

}  // namespace pelorix
