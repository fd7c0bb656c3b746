#include "mime/transfer_decode.h"

#include "text/asciiutil.h"

namespace pelorix {

namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

void TBase64Decoder::Feed(std::string_view text, std::string& out) {
  for (char c : text) {
    int v = ascii::Base64Value(c);
    if (v >= 0) {
      acc_ = (acc_ << 6) | static_cast<std::uint32_t>(v);
      if (++count_ == 4) {
        out += static_cast<char>((acc_ >> 16) & 0xFF);
        out += static_cast<char>((acc_ >> 8) & 0xFF);
        out += static_cast<char>(acc_ & 0xFF);
        acc_ = 0;
        count_ = 0;
      }
    } else if (c == '=') {
      Finish(out);
    }
  }
}

void TBase64Decoder::Finish(std::string& out) {
  if (count_ == 2) {
    out += static_cast<char>((acc_ >> 4) & 0xFF);
  } else if (count_ == 3) {
    out += static_cast<char>((acc_ >> 10) & 0xFF);
    out += static_cast<char>((acc_ >> 2) & 0xFF);
  }
  acc_ = 0;
  count_ = 0;
}

bool DecodeQuotedPrintableLine(std::string_view line, std::string& out) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
    line.remove_suffix(1);
  bool soft = !line.empty() && line.back() == '=';
  if (soft)
    line.remove_suffix(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '=' && i + 2 < line.size()) {
      int hi = ascii::HexDigitValue(line[i + 1]);
      int lo = ascii::HexDigitValue(line[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += line[i];
  }
  return soft;
}

bool IsUuBeginLine(std::string_view line, std::string& name) {
  if (!line.starts_with("begin "))
    return false;
  std::string_view rest = line.substr(6);
  std::size_t digits = 0;
  while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '7')
    ++digits;
  if (digits < 3 || digits > 4 || digits >= rest.size() || rest[digits] != ' ')
    return false;
  rest.remove_prefix(digits + 1);
  while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t'))
    rest.remove_prefix(1);
  while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t'))
    rest.remove_suffix(1);
  if (rest.empty())
    return false;
  name = std::string(rest);
  return true;
}

void DecodeUuLine(std::string_view line, std::string& out) {
  if (line.empty())
    return;
  auto value = [&](std::size_t i) -> std::uint32_t {
    return i < line.size() ? static_cast<std::uint32_t>((line[i] - ' ') & 0x3F) : 0;
  };
  std::size_t count = value(0);
  for (std::size_t i = 1; count > 0; i += 4) {
    std::uint32_t group =
        (value(i) << 18) | (value(i + 1) << 12) | (value(i + 2) << 6) | value(i + 3);
    for (int shift = 16; shift >= 0 && count > 0; shift -= 8, --count) {
      out += static_cast<char>((group >> shift) & 0xFF);
    }
    if (i >= line.size())
      break;  // short line: no more groups to read
  }
}

std::vector<std::string> EncodeBase64(std::string_view bytes, std::size_t width) {
  width = width < 4 ? 4 : width / 4 * 4;
  std::vector<std::string> lines;
  std::string cur;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t n = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    std::size_t have = bytes.size() - i;
    if (have > 1)
      n |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (have > 2)
      n |= static_cast<unsigned char>(bytes[i + 2]);
    cur += kAlphabet[(n >> 18) & 63];
    cur += kAlphabet[(n >> 12) & 63];
    cur += have > 1 ? kAlphabet[(n >> 6) & 63] : '=';
    cur += have > 2 ? kAlphabet[n & 63] : '=';
    if (cur.size() >= width) {
      lines.push_back(std::move(cur));
      cur.clear();
    }
  }
  if (!cur.empty())
    lines.push_back(std::move(cur));
  return lines;
}

}  // namespace pelorix
