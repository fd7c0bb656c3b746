#include <cctype>

#include "mime/header_util.h"
#include "mime/mail_message.h"
#include "text/asciiutil.h"

namespace pelorix {

namespace {

bool IsAsciiAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsAtext(char c) {
  return IsAsciiAlnum(c) ||
         std::string_view("!#$%&'*+-/=?^_`{}|~").find(c) != std::string_view::npos;
}

// A local part that is not a dot-atom must travel quoted.
bool LocalPartNeedsQuotes(std::string_view local) {
  if (local.empty())
    return false;
  if (local.front() == '.' || local.back() == '.')
    return true;
  for (std::size_t i = 0; i < local.size(); ++i) {
    char c = local[i];
    if (c == '.') {
      if (local[i + 1] == '.')
        return true;
    } else if (!IsAtext(c)) {
      return true;
    }
  }
  return false;
}

bool NameIsPlain(std::string_view name) {
  for (char c : name) {
    if (c != ' ' && !IsAtext(c))
      return false;
  }
  return true;
}

std::string Quoted(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"')
      out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

// Skips a quoted string starting at s[i] == '"', appending its content.
void ReadQuoted(std::string_view s, std::size_t& i, std::string& out) {
  for (++i; i < s.size() && s[i] != '"'; ++i) {
    if (s[i] == '\\' && i + 1 < s.size())
      ++i;
    out += s[i];
  }
  if (i < s.size())
    ++i;
}

// Skips a comment starting at s[i] == '(' (nested, backslash escapes).
void SkipComment(std::string_view s, std::size_t& i) {
  int depth = 0;
  for (; i < s.size(); ++i) {
    if (s[i] == '\\') {
      ++i;
    } else if (s[i] == '(') {
      ++depth;
    } else if (s[i] == ')' && --depth == 0) {
      ++i;
      return;
    }
  }
}

struct TWord {
  std::string Text;
  bool Quoted = false;
  bool HasAt = false;
};

std::string JoinWords(const std::vector<TWord>& words, const TWord* skip) {
  std::string out;
  for (const auto& w : words) {
    if (&w == skip || w.Text.empty())
      continue;
    if (!out.empty())
      out += ' ';
    out += w.Text;
  }
  return out;
}

// Drops a group name ("Friends:") standing before the addresses of a piece.
std::string_view DropGroupName(std::string_view piece) {
  bool quoted = false;
  int comment = 0, angle = 0;
  for (std::size_t i = 0; i < piece.size(); ++i) {
    char c = piece[i];
    if ((quoted || comment) && c == '\\') {
      ++i;
    } else if (quoted) {
      quoted = c != '"';
    } else if (c == '"') {
      quoted = true;
    } else if (c == '(') {
      ++comment;
    } else if (c == ')' && comment > 0) {
      --comment;
    } else if (comment == 0 && c == '<') {
      ++angle;
    } else if (comment == 0 && c == '>' && angle > 0) {
      --angle;
    } else if (comment == 0 && angle == 0 && c == ':') {
      return piece.substr(i + 1);
    }
  }
  return piece;
}

}  // namespace

std::string TEmailAddress::Text() const {
  if (Raw)
    return Address;
  std::string addressPart = Address;
  auto at = Address.rfind('@');
  std::string_view local = std::string_view(Address).substr(0, at);
  if (LocalPartNeedsQuotes(local)) {
    addressPart = Quoted(local) + (at == std::string::npos ? "" : Address.substr(at));
  }
  if (Name.empty() || ascii::EqualNoCase(Name, Address))
    return addressPart;
  addressPart = Address.empty() ? "<>" : "<" + addressPart + ">";
  return (NameIsPlain(Name) ? Name : Quoted(Name)) + " " + addressPart;
}

void TEmailAddress::SetText(std::string_view text) {
  Name.clear();
  Address.clear();
  Raw = false;
  std::string_view s = TrimBlanks(text);
  if (s.find_first_of("(\"< @\t") == std::string_view::npos) {
    Address = std::string(s);
    return;
  }
  std::string flat;  // text outside comments, quoted strings unquoted
  std::string before;
  std::vector<TWord> words;
  TWord cur;
  auto endWord = [&] {
    if (!cur.Text.empty() || cur.Quoted)
      words.push_back(std::move(cur));
    cur = {};
  };
  bool angle = false, closedAngle = false;
  std::size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (c == '"') {
      std::string q;
      ReadQuoted(s, i, q);
      flat += q;
      cur.Text += q;
      cur.Quoted = true;
    } else if (c == '(') {
      SkipComment(s, i);
      endWord();
    } else if (c == '<' && !angle) {
      angle = true;
      endWord();
      before = std::move(flat);
      flat.clear();
      words.clear();
      std::string inside;
      for (++i; i < s.size() && s[i] != '>';) {
        if (s[i] == '"') {
          ReadQuoted(s, i, inside);
        } else if (s[i] == '(') {
          SkipComment(s, i);
        } else {
          inside += s[i++];
        }
      }
      if (i < s.size()) {
        closedAngle = true;
        ++i;
      }
      Address = std::string(TrimBlanks(inside));
    } else if (c == '@' && closedAngle) {
      throw EEmailParseError("@ Outside address");
    } else if (c == ' ' || c == '\t') {
      flat += c;
      endWord();
      ++i;
    } else {
      if (c == '@')
        cur.HasAt = true;
      flat += c;
      cur.Text += c;
      ++i;
    }
  }
  endWord();
  if (angle) {
    std::string_view b = TrimBlanks(before), a = TrimBlanks(flat);
    Name = std::string(b);
    if (!a.empty())
      Name += (Name.empty() ? "" : " ") + std::string(a);
    return;
  }
  for (const auto& w : words) {
    if (w.HasAt) {
      Address = w.Text;
      Name = JoinWords(words, &w);
      return;
    }
  }
  bool anyQuoted = false;
  for (const auto& w : words)
    anyQuoted = anyQuoted || w.Quoted;
  if (anyQuoted) {
    Name = JoinWords(words, nullptr);
  } else {
    Address = std::string(TrimBlanks(flat));
  }
}

TEmailAddress ParseAddressLenient(std::string_view text) {
  TEmailAddress a;
  try {
    a.SetText(text);
  } catch (const EEmailParseError&) {
    a = TEmailAddress{};
    a.Address = std::string(TrimBlanks(text));
    a.Raw = true;
  }
  return a;
}

std::vector<std::string> SplitAddressList(std::string_view text) {
  std::vector<std::string> pieces;
  bool quoted = false;
  int comment = 0, angle = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    char c = i < text.size() ? text[i] : ',';
    if ((quoted || comment) && c == '\\' && i + 1 < text.size()) {
      ++i;
      continue;
    }
    if (quoted) {
      quoted = c != '"';
      if (i < text.size())
        continue;
    } else if (c == '"') {
      quoted = true;
      continue;
    } else if (c == '(') {
      ++comment;
      continue;
    } else if (c == ')' && comment > 0) {
      --comment;
      continue;
    } else if (comment == 0 && c == '<') {
      ++angle;
      continue;
    } else if (comment == 0 && c == '>' && angle > 0) {
      --angle;
      continue;
    }
    bool end = i == text.size();
    if (end || ((c == ',' || c == ';') && comment == 0 && angle == 0)) {
      std::string_view piece = TrimBlanks(DropGroupName(text.substr(start, i - start)));
      if (!piece.empty())
        pieces.emplace_back(piece);
      start = i + 1;
    }
  }
  return pieces;
}

void TEmailAddressList::SetText(std::string_view text) {
  SetText(text, [](std::string_view piece) { return std::string(piece); });
}

void TEmailAddressList::SetText(std::string_view text,
                                const std::function<std::string(std::string_view)>& convert) {
  Clear();
  for (const auto& piece : SplitAddressList(text)) {
    TEmailAddress a = ParseAddressLenient(convert(piece));
    std::string shown = a.Text();
    if (shown.empty() || shown == "<>")
      continue;
    Add(std::move(a));
  }
}

}  // namespace pelorix
