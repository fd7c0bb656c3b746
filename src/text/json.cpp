#include "text/json.h"

#include "text/textutil.h"

namespace pelorix {

namespace {

// Objects and arrays below the top level are checked and skipped with a
// depth limit; nothing is kept from them.
class TJsonReader {
 public:
  explicit TJsonReader(std::string_view text) : s_(text) {}

  bool ReadTopObject(TJsonMembers& out) {
    Blanks();
    if (!Take('{')) {
      return false;
    }
    Blanks();
    if (Take('}')) {
      return AtEnd();
    }
    for (;;) {
      std::string name;
      Blanks();
      if (!String(name)) {
        return false;
      }
      Blanks();
      if (!Take(':')) {
        return false;
      }
      Blanks();
      std::string text;
      bool isText = false;
      if (!Value(text, isText, 0)) {
        return false;
      }
      if (isText) {
        out.emplace_back(std::move(name), std::move(text));
      }
      Blanks();
      if (Take('}')) {
        return AtEnd();
      }
      if (!Take(',')) {
        return false;
      }
    }
  }

 private:
  static constexpr int kMaxDepth = 16;

  bool AtEnd() {
    Blanks();
    return pos_ == s_.size();
  }
  void Blanks() {
    while (pos_ < s_.size() &&
           (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\r' || s_[pos_] == '\n')) {
      ++pos_;
    }
  }
  bool Take(char c) {
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool Word(std::string_view word) {
    if (s_.substr(pos_, word.size()) == word) {
      pos_ += word.size();
      return true;
    }
    return false;
  }
  bool Hex4(unsigned& value) {
    if (pos_ + 4 > s_.size()) {
      return false;
    }
    value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = s_[pos_++];
      value <<= 4;
      if (c >= '0' && c <= '9') {
        value |= static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        value |= static_cast<unsigned>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        value |= static_cast<unsigned>(c - 'A' + 10);
      } else {
        return false;
      }
    }
    return true;
  }
  bool String(std::string& out) {
    if (!Take('"')) {
      return false;
    }
    while (pos_ < s_.size()) {
      const char c = s_[pos_++];
      if (c == '"') {
        return true;
      }
      if (static_cast<unsigned char>(c) < 0x20) {
        return false;
      }
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= s_.size()) {
        return false;
      }
      const char e = s_[pos_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          unsigned cp = 0;
          if (!Hex4(cp)) {
            return false;
          }
          if (cp >= 0xd800 && cp < 0xdc00) {
            unsigned low = 0;
            if (!Word("\\u") || !Hex4(low) || low < 0xdc00 || low >= 0xe000) {
              return false;
            }
            cp = 0x10000 + ((cp - 0xd800) << 10) + (low - 0xdc00);
          } else if (cp >= 0xdc00 && cp < 0xe000) {
            return false;
          }
          AppendUtf8(out, cp);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }
  // Numbers are kept as their text, so that a status 401 reads like "401".
  bool Number(std::string& out) {
    const std::size_t start = pos_;
    Take('-');
    bool digits = false;
    while (pos_ < s_.size() &&
           ((s_[pos_] >= '0' && s_[pos_] <= '9') || s_[pos_] == '.' || s_[pos_] == 'e' ||
            s_[pos_] == 'E' || s_[pos_] == '+' || s_[pos_] == '-')) {
      digits = digits || (s_[pos_] >= '0' && s_[pos_] <= '9');
      ++pos_;
    }
    out = std::string(s_.substr(start, pos_ - start));
    return digits;
  }
  bool Value(std::string& text, bool& isText, int depth) {
    if (depth > kMaxDepth) {
      return false;
    }
    isText = false;
    if (pos_ >= s_.size()) {
      return false;
    }
    const char c = s_[pos_];
    if (c == '"') {
      isText = true;
      return String(text);
    }
    if (c == '-' || (c >= '0' && c <= '9')) {
      isText = true;
      return Number(text);
    }
    if (Word("true")) {
      isText = true;
      text = "true";
      return true;
    }
    if (Word("false")) {
      isText = true;
      text = "false";
      return true;
    }
    if (Word("null")) {
      return true;
    }
    if (c == '{' || c == '[') {
      const char close = c == '{' ? '}' : ']';
      ++pos_;
      Blanks();
      if (Take(close)) {
        return true;
      }
      for (;;) {
        Blanks();
        std::string ignored;
        bool ignoredText = false;
        if (c == '{') {
          if (!String(ignored)) {
            return false;
          }
          Blanks();
          if (!Take(':')) {
            return false;
          }
          Blanks();
          ignored.clear();
        }
        if (!Value(ignored, ignoredText, depth + 1)) {
          return false;
        }
        Blanks();
        if (Take(close)) {
          return true;
        }
        if (!Take(',')) {
          return false;
        }
      }
    }
    return false;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
};

}  // namespace

std::optional<TJsonMembers> ParseJsonObjectMembers(std::string_view text) {
  TJsonMembers members;
  TJsonReader reader(text);
  if (!reader.ReadTopObject(members)) {
    return std::nullopt;
  }
  return members;
}

std::string JsonMember(const TJsonMembers& members, std::string_view name) {
  for (const auto& [key, value] : members) {
    if (key == name) {
      return value;
    }
  }
  return {};
}

bool HasJsonMember(const TJsonMembers& members, std::string_view name) {
  for (const auto& member : members) {
    if (member.first == name) {
      return true;
    }
  }
  return false;
}

}  // namespace pelorix
