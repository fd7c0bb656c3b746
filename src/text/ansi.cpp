#include "ansi.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "text/asciiutil.h"

namespace pelorix {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// iconv descriptors are costly to open; each thread keeps its own. Looked
// for on every field of every message, mostly among two or three pairs: a
// short list scanned in place beats building a key for a map.
class IconvCache {
 public:
  static constexpr std::size_t kMaxEntries = 32;
  ~IconvCache() { Clear(); }
  void Clear() {
    for (auto& entry : cache_)
      iconv_close(entry.Cd);
    cache_.clear();
  }
  iconv_t Get(std::string_view to, std::string_view from) {
    auto it = std::find_if(cache_.begin(), cache_.end(),
                           [&](const TEntry& e) { return e.To == to && e.From == from; });
    if (it == cache_.end()) {
      // Charset names come from mail: unknown ones are not kept, and the
      // cache stays small however many names a hostile sender makes up.
      iconv_t cd = iconv_open(std::string(to).c_str(), std::string(from).c_str());
      if (cd == reinterpret_cast<iconv_t>(-1))
        return cd;
      if (cache_.size() >= kMaxEntries)
        Clear();
      cache_.push_back({std::string(to), std::string(from), cd});
      it = cache_.end() - 1;
    }
    iconv(it->Cd, nullptr, nullptr, nullptr, nullptr);
    return it->Cd;
  }

 private:
  struct TEntry {
    std::string To, From;
    iconv_t Cd;
  };
  std::vector<TEntry> cache_;
};

iconv_t Descriptor(std::string_view to, std::string_view from) {
  thread_local IconvCache cache;
  return cache.Get(to, from);
}

// Length of a well-formed UTF-8 sequence at s[i], 0 if malformed.
std::size_t Utf8SeqLength(std::string_view s, std::size_t i) {
  auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = b(i);
  if (c < 0x80)
    return 1;
  std::size_t n;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0)
      lo = 0xA0;
    if (c == 0xED)
      hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0)
      lo = 0x90;
    if (c == 0xF4)
      hi = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size())
    return 0;
  if (b(i + 1) < lo || b(i + 1) > hi)
    return 0;
  for (std::size_t k = 2; k < n; ++k) {
    if (b(i + k) < 0x80 || b(i + k) > 0xBF)
      return 0;
  }
  return n;
}

// Runs iconv over the whole input; on an invalid or incomplete sequence
// `bad` is appended and `skip(pos)` input bytes are dropped.
template <typename Skip>
void Convert(iconv_t cd, std::string_view in, std::string& out, std::string_view bad, Skip skip) {
  std::size_t pos = 0;
  char buf[4096];
  while (pos < in.size()) {
    char* src = const_cast<char*>(in.data() + pos);
    std::size_t srcLeft = in.size() - pos;
    char* dst = buf;
    std::size_t dstLeft = sizeof buf;
    std::size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    int err = errno;
    out.append(buf, static_cast<std::size_t>(dst - buf));
    pos = in.size() - srcLeft;
    if (rc != static_cast<std::size_t>(-1))
      break;
    if (err == E2BIG)
      continue;
    out.append(bad);
    pos += skip(pos);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  char* dst = buf;
  std::size_t dstLeft = sizeof buf;
  iconv(cd, nullptr, nullptr, &dst, &dstLeft);
  out.append(buf, static_cast<std::size_t>(dst - buf));
}

}  // namespace

bool IsValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    std::size_t n = Utf8SeqLength(s, i);
    if (n == 0)
      return false;
    i += n;
  }
  return true;
}

// Both encodings keep ASCII as it is; most record fields are plain ASCII,
// and a list of ten thousand rows converts a few hundred thousand of them.
static bool IsAscii(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80)
      return false;
  }
  return true;
}

std::string ToAnsi(std::string_view utf8) {
  if (IsAscii(utf8))
    return std::string(utf8);
  std::string out;
  out.reserve(utf8.size());
  iconv_t cd = Descriptor("GB18030", "UTF-8");
  Convert(cd, utf8, out, "?", [](std::size_t) { return std::size_t{1}; });
  return out;
}

std::string FromAnsi(std::string_view ansi) {
  if (IsAscii(ansi))
    return std::string(ansi);
  std::string out;
  out.reserve(ansi.size() * 3 / 2);
  iconv_t cd = Descriptor("UTF-8", "GB18030");
  Convert(cd, ansi, out, kReplacement, [](std::size_t) { return std::size_t{1}; });
  return out;
}

bool CharsetToUtf8(std::string_view bytes, std::string_view charset, std::string& out) {
  std::string cs = ascii::ToUpper(charset);
  if (cs.empty())
    return false;
  if (cs == "UTF-8" || cs == "UTF8") {
    // Keep valid sequences, replace the rest.
    std::string r;
    r.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
      std::size_t n = Utf8SeqLength(bytes, i);
      if (n == 0) {
        r.append(kReplacement);
        ++i;
      } else {
        r.append(bytes.substr(i, n));
        i += n;
      }
    }
    out = std::move(r);
    return true;
  }
  // GB2312 and GBK texts in the wild use the whole GB18030 repertoire.
  if (cs == "GB2312" || cs == "GBK" || cs == "CP936" || cs == "X-GBK" || cs == "EUC-CN") {
    cs = "GB18030";
  }
  iconv_t cd = Descriptor("UTF-8", cs);
  if (cd == reinterpret_cast<iconv_t>(-1))
    return false;
  std::string r;
  r.reserve(bytes.size() * 3 / 2);
  Convert(cd, bytes, r, kReplacement, [](std::size_t) { return std::size_t{1}; });
  out = std::move(r);
  return true;
}

bool Utf8ToCharset(std::string_view utf8, std::string_view charset, std::string& out) {
  std::string cs = ascii::ToUpper(charset);
  if (cs.empty())
    return false;
  if (cs == "GB18030" || cs == "GB2312" || cs == "GBK" || cs == "CP936") {
    out = ToAnsi(utf8);
    return true;
  }
  iconv_t cd = Descriptor(cs + "//TRANSLIT", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1))
    return false;
  std::string r;
  Convert(cd, utf8, r, "?", [&](std::size_t p) {
    std::size_t n = Utf8SeqLength(utf8, p);
    return n == 0 ? std::size_t{1} : n;
  });
  out = std::move(r);
  return true;
}

std::string RawToUtf8(std::string_view bytes) {
  if (IsValidUtf8(bytes))
    return std::string(bytes);
  return FromAnsi(bytes);
}

std::size_t AnsiCharLength(std::string_view s, std::size_t i) {
  auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = b(i);
  if (c < 0x81 || c == 0xFF)
    return 1;
  if (i + 1 >= s.size())
    return 1;
  unsigned char c2 = b(i + 1);
  if ((c2 >= 0x40 && c2 <= 0x7E) || (c2 >= 0x80 && c2 <= 0xFE))
    return 2;
  if (c2 >= 0x30 && c2 <= 0x39 && i + 3 < s.size()) {
    unsigned char c3 = b(i + 2), c4 = b(i + 3);
    if (c3 >= 0x81 && c3 <= 0xFE && c4 >= 0x30 && c4 <= 0x39)
      return 4;
  }
  return 1;
}

std::string_view CutAnsi(std::string_view ansi, std::size_t maxBytes) {
  if (ansi.size() <= maxBytes)
    return ansi;
  std::size_t i = 0;
  while (i < ansi.size()) {
    std::size_t n = AnsiCharLength(ansi, i);
    if (i + n > maxBytes)
      break;
    i += n;
  }
  return ansi.substr(0, i);
}

std::string ToAnsiCut(std::string_view utf8, std::size_t maxBytes) {
  return std::string(CutAnsi(ToAnsi(utf8), maxBytes));
}

std::string CutToAnsiBytes(std::string_view utf8, std::size_t maxBytes) {
  std::string disk = ToAnsi(utf8);
  if (disk.size() <= maxBytes)
    return std::string(utf8);
  return FromAnsi(CutAnsi(disk, maxBytes));
}

std::string_view CutUtf8(std::string_view utf8, std::size_t maxBytes) {
  if (utf8.size() <= maxBytes)
    return utf8;
  std::size_t i = maxBytes;
  while (i > 0 && (static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80)
    --i;
  return utf8.substr(0, i);
}

}  // namespace pelorix
