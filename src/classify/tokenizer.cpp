#include "classify/tokenizer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "mime/header_util.h"
#include "mime/mail_date.h"
#include "mime/mail_message.h"
#include "text/ansi.h"
#include "text/asciiutil.h"
#include "text/textutil.h"

namespace pelorix {

namespace {

constexpr std::size_t kMaxWordBytes = 24;
constexpr std::size_t kMaxBodyTokens = 3000;
constexpr std::size_t kMaxTokenBytes = 96;

bool IsCjk(char32_t c) {
  return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) ||
         (c >= 0x3040 && c <= 0x30FF) || (c >= 0xAC00 && c <= 0xD7AF) ||
         (c >= 0xF900 && c <= 0xFAFF) || (c >= 0x20000 && c <= 0x2FFFF);
}

// Decodes one UTF-8 character at `i`; an invalid byte reads as itself.
char32_t NextChar(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  std::size_t len = b0 < 0x80         ? 1
                    : (b0 >> 5) == 6  ? 2
                    : (b0 >> 4) == 14 ? 3
                    : (b0 >> 3) == 30 ? 4
                                      : 0;
  if (len == 0 || i + len > s.size()) {
    ++i;
    return 0xFFFD;
  }
  char32_t c = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    c = (c << 6) | (b & 0x3F);
  }
  i += len;
  return c;
}

bool IsWordByte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '$' ||
         c == '\'' || c == '-' || c == '_' || c == '.' || c == '@' || c == '!' || u >= 0x80;
}

void AddWord(std::string_view word, std::string_view prefix, std::vector<std::string>& out) {
  while (!word.empty() && (word.back() == '.' || word.back() == '-' || word.back() == '\''))
    word.remove_suffix(1);
  while (!word.empty() && (word.front() == '.' || word.front() == '-' || word.front() == '\''))
    word.remove_prefix(1);
  if (word.empty())
    return;
  if (word.size() > kMaxWordBytes) {
    // Long runs (encoded junk, links) say little by their letters.
    out.push_back(std::string(prefix) + "#long" +
                  std::to_string(std::min<std::size_t>(word.size() / 10, 9)));
    return;
  }
  std::string t(prefix);
  t.reserve(prefix.size() + word.size());
  for (char c : word)
    t.push_back(ascii::Lower(c));
  out.push_back(std::move(t));
}

bool HasHighBytes(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80)
      return true;
  return false;
}

// Header bytes as text: plain ASCII (nearly every header) as it is.
std::string AsText(std::string_view raw) {
  return HasHighBytes(raw) ? RawToUtf8(raw) : std::string(raw);
}

// The header block unfolded: one entry per field, name and value.
struct TField {
  std::string Name;  // lower case
  std::string Value;
};

std::vector<TField> Unfold(const std::vector<std::string>& lines) {
  std::vector<TField> fields;
  for (const auto& line : lines) {
    if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
      if (!fields.empty() && fields.back().Value.size() < 4096) {
        fields.back().Value += ' ';
        fields.back().Value += AsText(ascii::Trim(line));
      }
      continue;
    }
    const auto colon = line.find(':');
    if (colon == std::string::npos || colon == 0 || colon > 60)
      continue;
    // Raw 8-bit bytes become text here, as everywhere a header is shown.
    fields.push_back({AsciiLower(AsText(ascii::Trim(std::string_view(line).substr(0, colon)))),
                      AsText(ascii::Trim(std::string_view(line).substr(colon + 1)))});
  }
  return fields;
}

const TField* Find(const std::vector<TField>& fields, std::string_view name) {
  for (const auto& f : fields)
    if (f.Name == name)
      return &f;
  return nullptr;
}

void AddressTokens(std::string_view prefix, std::string_view address,
                   std::vector<std::string>& out) {
  const std::string a = AsciiLower(ascii::Trim(address));
  const std::string p(prefix);
  if (a.empty()) {
    out.push_back(p + "#none");
    return;
  }
  const auto at = a.rfind('@');
  if (at == std::string::npos) {
    out.push_back(p + "#noat");
    return;
  }
  out.push_back(p + ":" + a);
  const std::string local = a.substr(0, at);
  std::string domain = a.substr(at + 1);
  out.push_back(p + "lp:" + TextShape(local));
  int digits = 0;
  for (char c : local)
    digits += c >= '0' && c <= '9';
  if (digits >= 3)
    out.push_back(p + "#lpdigits");
  // The domain and each of its parents: mail.example.co.uk, example.co.uk, co.uk, uk.
  for (std::string_view d = domain; !d.empty();) {
    out.push_back(p + "d:" + std::string(d));
    const auto dot = d.find('.');
    if (dot == std::string_view::npos)
      break;
    d.remove_prefix(dot + 1);
  }
}

std::string DomainOf(std::string_view address) {
  const auto at = address.rfind('@');
  return at == std::string_view::npos ? std::string() : AsciiLower(address.substr(at + 1));
}

// The last two labels of a host name: relays of one provider share them.
std::string BaseDomain(std::string_view host) {
  const auto last = host.rfind('.');
  if (last == std::string_view::npos || last == 0)
    return std::string(host);
  const auto prev = host.rfind('.', last - 1);
  return std::string(prev == std::string_view::npos ? host : host.substr(prev + 1));
}

bool IsIpText(std::string_view s) {
  int dots = 0;
  for (char c : s) {
    if (c == '.')
      ++dots;
    else if (c < '0' || c > '9')
      return false;
  }
  return dots == 3 && !s.empty();
}

// "203.000.113.009" as "203.0.113.9".
std::string PlainIp(std::string_view padded) {
  std::string out;
  std::size_t i = 0;
  while (i < padded.size()) {
    std::size_t j = padded.find('.', i);
    if (j == std::string_view::npos)
      j = padded.size();
    std::string_view part = padded.substr(i, j - i);
    while (part.size() > 1 && part.front() == '0')
      part.remove_prefix(1);
    if (!out.empty())
      out += '.';
    out += part;
    i = j + 1;
  }
  return out;
}

void IpTokens(std::string_view ip, std::vector<std::string>& out) {
  out.push_back("r:ip:" + std::string(ip));
  const auto d3 = ip.rfind('.');
  const auto d2 = ip.rfind('.', d3 - 1);
  out.push_back("r:ip24:" + std::string(ip.substr(0, d3)));
  out.push_back("r:ip16:" + std::string(ip.substr(0, d2)));
}

// One "Received:" field: "from HELO (RDNS [IP]) by HOST ...; DATE".
void ReceivedTokens(std::string_view value, bool first, std::vector<std::string>& out,
                    std::time_t& date) {
  const std::string v = AsciiLower(value);
  auto word = [&v](std::string_view key) -> std::string {
    const auto at = v.find(key);
    if (at == std::string::npos)
      return {};
    std::size_t b = at + key.size();
    std::size_t e = b;
    while (e < v.size() && v[e] != ' ' && v[e] != '(' && v[e] != ';' && v[e] != ')')
      ++e;
    return v.substr(b, e - b);
  };
  const std::string helo = v.rfind("from ", 0) == 0 ? word("from ") : std::string();
  const std::string by = word(" by ");
  if (!helo.empty()) {
    std::string h = helo;
    if (!h.empty() && h.front() == '[')
      h = h.substr(1, h.find(']') == std::string::npos ? std::string::npos : h.find(']') - 1);
    if (IsIpText(h)) {
      out.push_back("r#heloip");
    } else if (h.find('.') == std::string::npos) {
      out.push_back("r#helobare");
    } else {
      out.push_back("r:helo:" + BaseDomain(h));
    }
  }
  if (!by.empty() && by.size() < 80)
    out.push_back("r:by:" + BaseDomain(by));
  // The relay's reverse name sits in the parenthesis after the HELO name.
  if (const auto open = v.find('('); open != std::string::npos && !helo.empty()) {
    const auto close = v.find(')', open);
    std::string_view inside =
        std::string_view(v).substr(open + 1, close == std::string::npos ? 0 : close - open - 1);
    const auto sp = inside.find_first_of(" [");
    std::string_view rdns = inside.substr(0, sp);
    if (rdns.find('.') != std::string_view::npos && !IsIpText(rdns) && rdns.size() < 80) {
      out.push_back("r:rdns:" + BaseDomain(rdns));
      if (BaseDomain(rdns) != BaseDomain(helo))
        out.push_back("r#helootherdomain");
    } else if (inside.find("unknown") != std::string_view::npos)
      out.push_back("r#unknown");
  }
  const std::string ips = PlainIp(ExtractIpAddresses(v));
  if (!ips.empty() && IsIpText(ips)) {
    IpTokens(ips, out);
    if (first)
      out.push_back("r#origin24:" + ips.substr(0, ips.rfind('.')));
  }
  for (std::string_view with :
       {" with esmtp", " with smtp", " with http", " with local", " with qmqp"})
    if (v.find(with) != std::string::npos)
      out.push_back("r:" + std::string(with.substr(1)));
  if (const auto semi = v.rfind(';'); semi != std::string::npos)
    date = ParseMailDate(std::string_view(v).substr(semi + 1));
}

// A header value for a token: digits folded, case folded, cut short.
std::string ValueShape(std::string_view value) {
  std::string r;
  for (char c : value) {
    if (r.size() >= 40)
      break;
    if (c >= '0' && c <= '9') {
      if (r.empty() || r.back() != '9')
        r.push_back('9');
    } else {
      r.push_back(ascii::Lower(c));
    }
  }
  return r;
}

void SubjectTokens(const TMailMessage& m, const std::vector<TField>& fields,
                   std::vector<std::string>& out) {
  const TField* raw = Find(fields, "subject");
  if (!raw) {
    out.push_back("s#none");
    return;
  }
  const std::string& rv = raw->Value;
  if (const auto q = FindNoCase(rv, "=?"); q != std::string::npos) {
    const auto q2 = rv.find('?', q + 2);
    if (q2 != std::string::npos && q2 + 2 < rv.size()) {
      out.push_back(
          "s#enc:" +
          AsciiLower(std::string_view(rv).substr(q + 2, std::min<std::size_t>(q2 - q - 2, 20))) +
          ":" + std::string(1, ascii::Lower(rv[q2 + 1])));
    }
  } else if (std::any_of(rv.begin(), rv.end(),
                         [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
    out.push_back("s#8bit");
  }
  const std::string& s = m.Subject;
  if (s.empty()) {
    out.push_back("s#empty");
    return;
  }
  TokenizeText(s, "s:", out);
  int upper = 0, lower = 0, bangs = 0, spaces = 0;
  for (char c : s) {
    upper += c >= 'A' && c <= 'Z';
    lower += c >= 'a' && c <= 'z';
    bangs += c == '!';
    spaces += c == ' ';
  }
  if (upper > 6 && upper > 2 * lower)
    out.push_back("s#caps");
  if (bangs)
    out.push_back("s#bang" + std::to_string(std::min(bangs, 3)));
  if (spaces >= 8)
    out.push_back("s#spaces");
  // Runs of blanks or odd characters pad subjects past other filters.
  if (s.find("  ") != std::string::npos)
    out.push_back("s#gap");
  if (s.find('$') != std::string::npos)
    out.push_back("s#dollar");
  if (s.size() > 60)
    out.push_back("s#longline");
  if (StartsWithNoCase(s, "re:") || StartsWithNoCase(s, "re "))
    out.push_back("s#re");
  if (StartsWithNoCase(s, "fw"))
    out.push_back("s#fw");
  if (s.find('[') == 0)
    out.push_back("s#tag");
}

}  // namespace

std::string TextShape(std::string_view text) {
  std::string shape;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alnum) {
      shape.push_back(static_cast<unsigned char>(c) >= 0x80 ? '~' : c);
      ++i;
      continue;
    }
    bool digit = false, low = false, up = false;
    std::size_t j = i;
    for (; j < text.size(); ++j) {
      const char d = text[j];
      if (d >= '0' && d <= '9')
        digit = true;
      else if (d >= 'a' && d <= 'z')
        low = true;
      else if (d >= 'A' && d <= 'Z')
        up = true;
      else
        break;
    }
    const std::size_t n = j - i;
    const char cls = (digit + low + up) > 1 ? 'x' : digit ? '9' : low ? 'a' : 'A';
    shape.push_back(cls);
    shape.push_back(n <= 3 ? '1' : n <= 8 ? '2' : n <= 16 ? '3' : '4');
    i = j;
    if (shape.size() > 40)
      break;
  }
  return shape;
}

void TokenizeText(std::string_view s, std::string_view prefix, std::vector<std::string>& out) {
  std::size_t i = 0;
  std::size_t wordStart = std::string_view::npos;
  std::string cjk;  // the current CJK run, as UTF-8
  std::size_t cjkChars = 0;
  std::string prev;  // last CJK character of the run
  auto flushCjk = [&] {
    if (cjkChars == 1)
      out.push_back(std::string(prefix) + cjk);
    cjk.clear();
    prev.clear();
    cjkChars = 0;
  };
  auto flushWord = [&](std::size_t end) {
    if (wordStart != std::string_view::npos)
      AddWord(s.substr(wordStart, end - wordStart), prefix, out);
    wordStart = std::string_view::npos;
  };
  while (i < s.size()) {
    const std::size_t at = i;
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      ++i;
      flushCjk();
      if (IsWordByte(static_cast<char>(b))) {
        if (wordStart == std::string_view::npos)
          wordStart = at;
      } else {
        flushWord(at);
      }
      continue;
    }
    const char32_t c = NextChar(s, i);
    if (IsCjk(c)) {
      flushWord(at);
      const std::string ch(s.substr(at, i - at));
      if (!prev.empty())
        out.push_back(std::string(prefix) + prev + ch);
      else
        cjk = ch;
      prev = ch;
      ++cjkChars;
    } else if (c == 0x3000 || (c >= 0x3001 && c <= 0x303F) || (c >= 0xFF01 && c <= 0xFF0F) ||
               c == 0xFF1A || c == 0xFF1B || c == 0xFF1F || c == 0xFFFD) {
      // CJK punctuation and broken bytes end words and runs.
      flushWord(at);
      flushCjk();
    } else {
      flushCjk();
      if (wordStart == std::string_view::npos)
        wordStart = at;
    }
  }
  flushWord(s.size());
  flushCjk();
}

std::vector<std::string> TokenizeMessage(const TMailMessage& m, const TTokenizeOptions& options) {
  std::vector<std::string> out;
  out.reserve(160);
  const std::vector<TField> fields = Unfold(m.Headers.Lines);

  SubjectTokens(m, fields, out);

  // Sender, its name and where answers go.
  AddressTokens("f", m.From.Address, out);
  const std::string fromDomain = DomainOf(m.From.Address);
  if (m.From.Name.empty())
    out.push_back("f#noname");
  else
    TokenizeText(m.From.Name, "fn:", out);
  if (m.From.Raw)
    out.push_back("f#raw");
  if (!m.ReplyTo.Items.empty()) {
    const std::string rt = DomainOf(m.ReplyTo.Items.front().Address);
    out.push_back("rt:d:" + rt);
    if (rt != fromDomain)
      out.push_back("rt#otherdomain");
    else if (AsciiLower(m.ReplyTo.Items.front().Address) != AsciiLower(m.From.Address))
      out.push_back("rt#otherlocal");
  }
  if (const TField* rp = Find(fields, "return-path")) {
    const std::string rpd = DomainOf(std::string(ascii::Trim(rp->Value)).substr(0, 200));
    std::string d = rpd;
    if (!d.empty() && d.back() == '>')
      d.pop_back();
    out.push_back(d == fromDomain ? "rp#same" : d.empty() ? "rp#empty" : "rp#other");
  }

  // Recipients: how many, and how they are named.
  const std::size_t to = m.Recipients.Count(), cc = m.CCList.Count();
  out.push_back("to#n" + std::to_string(std::min<std::size_t>(to, 5)));
  if (cc)
    out.push_back("cc#n" + std::to_string(std::min<std::size_t>(cc, 5)));
  for (const auto& r : m.Recipients.Items) {
    if (r.Address.find('@') == std::string::npos)
      out.push_back("to#noat");
    if (AsciiLower(r.Address) == AsciiLower(m.From.Address))
      out.push_back("to#self");
  }
  if (const TField* t = Find(fields, "to");
      t && FindNoCase(t->Value, "undisclosed") != std::string::npos)
    out.push_back("to#undisclosed");

  // The relays, newest first as they stand.
  std::vector<const TField*> received;
  for (const auto& f : fields)
    if (f.Name == "received")
      received.push_back(&f);
  out.push_back("r#hops" + std::to_string(std::min<std::size_t>(received.size(), 12)));
  std::time_t topDate = 0;
  for (std::size_t k = 0; k < received.size() && k < 16; ++k) {
    std::time_t when = 0;
    ReceivedTokens(received[k]->Value, k + 1 == received.size(), out, when);
    if (k == 0)
      topDate = when;
  }
  // Where the hops stand; the origin on its own, as it says the most.
  for (std::size_t k = 0; k < options.Locations.size() && k < 16; ++k) {
    std::string_view place = ascii::Trim(options.Locations[k]);
    if (place.starts_with("("))
      place.remove_prefix(1);
    while (place.ends_with(".") || place.ends_with(")"))
      place.remove_suffix(1);
    if (place.empty())
      continue;
    const std::string p(place.substr(0, 60));
    out.push_back("loc:" + p);
    out.push_back("loca:" + std::string(place.substr(0, std::min(place.find('@'), place.size()))));
    if (k == 0)
      out.push_back("loco:" + p);
  }

  // Message-ID: who made it and how it looks.
  if (m.MessageId.empty()) {
    out.push_back("mid#none");
  } else {
    std::string id = m.MessageId;
    if (!id.empty() && id.front() == '<')
      id.erase(0, 1);
    if (!id.empty() && id.back() == '>')
      id.pop_back();
    const auto at = id.rfind('@');
    if (at == std::string::npos) {
      out.push_back("mid#noat");
    } else {
      const std::string d = AsciiLower(std::string_view(id).substr(at + 1));
      out.push_back("mid:d:" + BaseDomain(d));
      out.push_back("mid:shape:" + TextShape(std::string_view(id).substr(0, at)));
      if (!fromDomain.empty() && BaseDomain(d) != BaseDomain(fromDomain))
        out.push_back("mid#otherdomain");
    }
  }

  // The program that wrote it.
  for (std::string_view name : {"x-mailer", "user-agent"}) {
    if (const TField* f = Find(fields, name)) {
      out.push_back("xm:" + ValueShape(f->Value));
      const auto sp = f->Value.find_first_of(" /(");
      out.push_back(
          "xmw:" + AsciiLower(std::string_view(f->Value).substr(0, std::min<std::size_t>(sp, 24))));
    }
  }

  // MIME form.
  if (const TField* ct = Find(fields, "content-type")) {
    out.push_back("ct:" + AsciiLower(HeaderMainValue(ct->Value)).substr(0, 40));
    const std::string boundary = HeaderParam(ct->Value, "boundary");
    if (!boundary.empty())
      out.push_back("ctb:" + TextShape(boundary));
  } else {
    out.push_back("ct#none");
  }
  out.push_back("cs:" + AsciiLower(m.CharSet).substr(0, 30));
  if (const TField* cte = Find(fields, "content-transfer-encoding"))
    out.push_back("cte:" + AsciiLower(cte->Value).substr(0, 20));

  // Dates: the sender's zone, and a date far from the relay's clock.
  if (const TField* d = Find(fields, "date")) {
    const std::string& dv = d->Value;
    out.push_back("dshape:" + TextShape(dv));
    const auto zone = dv.find_last_of("+-");
    if (zone != std::string::npos && zone + 5 <= dv.size() && zone > dv.size() - 12)
      out.push_back("tz:" + dv.substr(zone, 5));
    else if (dv.size() >= 3)
      out.push_back("tz:" +
                    AsciiLower(std::string_view(dv).substr(dv.find_last_of(' ') + 1)).substr(0, 8));
    if (m.Date == 0) {
      out.push_back("date#bad");
    } else if (topDate != 0) {
      const long long skew = static_cast<long long>(m.Date) - static_cast<long long>(topDate);
      if (skew > 86400)
        out.push_back("date#future");
      else if (skew < -3 * 86400)
        out.push_back("date#past");
    }
  } else {
    out.push_back("date#none");
  }

  // Which header names are there, and which are missing.
  std::vector<std::string> names;
  for (const auto& f : fields) {
    if (f.Name == "received" || f.Name.size() > 30)
      continue;
    names.push_back(f.Name);
  }
  for (const auto& n : names)
    out.push_back("hn:" + n);
  for (std::string_view must : {"message-id", "date", "to", "from", "mime-version", "subject"})
    if (!Find(fields, must))
      out.push_back("hn!:" + std::string(must));
  for (std::size_t k = 0; k + 1 < names.size() && k < 24; ++k)
    out.push_back("ho:" + names[k] + ">" + names[k + 1]);
  for (std::string_view name : {"x-priority", "x-msmail-priority", "importance", "precedence"})
    if (const TField* f = Find(fields, name))
      out.push_back("h:" + std::string(name) + ":" + ValueShape(f->Value).substr(0, 12));

  // The body, when the check has it.
  if (options.BodyLines) {
    std::vector<std::string> body;
    std::size_t bytes = 0;
    for (const auto& line : *options.BodyLines) {
      if (body.size() > kMaxBodyTokens || bytes > (256u << 10))
        break;
      bytes += line.size();
      TokenizeText(line, "", body);
    }
    if (body.size() > kMaxBodyTokens)
      body.resize(kMaxBodyTokens);
    out.insert(out.end(), std::make_move_iterator(body.begin()),
               std::make_move_iterator(body.end()));
    out.push_back(options.BodyLines->empty() ? "b#empty"
                                             : "b#lines" + std::to_string(std::min<std::size_t>(
                                                               options.BodyLines->size() / 10, 9)));
  }

  // Hostile headers make long addresses and host names; a clue that long is
  // cut at a character boundary, so the store's rows stay small.
  for (auto& t : out) {
    if (HasHighBytes(t) && !IsValidUtf8(t))
      t = RawToUtf8(t);
    if (t.size() > kMaxTokenBytes) {
      std::size_t cut = kMaxTokenBytes;
      while (cut > 0 && (static_cast<unsigned char>(t[cut]) & 0xC0) == 0x80)
        --cut;
      t.resize(cut);
    }
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

}  // namespace pelorix
