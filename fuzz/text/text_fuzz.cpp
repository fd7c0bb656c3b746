// Feeds header texts to the encoded-word decoder and HTML lines to the line
// converter. The decoder must give valid UTF-8 that a second pass leaves
// alone; the line converter must agree with a plain, slow rendering of its
// steps (erase and search again from the start).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "text/ansi.h"
#include "text/textutil.h"

namespace {

std::string Lower(std::string s) {
  for (auto& c : s) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

void SlowReplaceAll(std::string& line, const std::string& pattern, const std::string& with) {
  std::string out;
  const std::string low = Lower(line);
  std::size_t from = 0;
  for (std::size_t p = low.find(pattern); p != std::string::npos; p = low.find(pattern, from)) {
    out += line.substr(from, p - from) + with;
    from = p + pattern.size();
  }
  line = out + line.substr(from);
}

void SlowBlocks(std::string& line, const std::string& open, const std::string& close,
                bool& inBlock) {
  for (;;) {
    const std::string low = Lower(line);
    const std::size_t s = low.find(open);
    if (s == std::string::npos)
      return;
    const std::size_t e = low.find(close, s);
    if (e != std::string::npos) {
      line.erase(s, e + close.size() - s);
      continue;
    }
    if (low.find(close) == std::string::npos) {
      line.erase(s);
      inBlock = true;
    }
    return;
  }
}

void SlowHtmlLineToText(std::string& line, bool& inBlock) {
  SlowReplaceAll(line, "<p>", "\r\n");
  SlowReplaceAll(line, "<br>", "\r\n");
  SlowBlocks(line, "<style", "</style>", inBlock);
  SlowBlocks(line, "<script", "</script>", inBlock);
  if (inBlock) {
    const std::string low = Lower(line);
    if (auto e = low.find("</style>"); e != std::string::npos) {
      line.erase(0, e + 8);
      inBlock = false;
    } else if (auto f = low.find("</script>"); f != std::string::npos) {
      line.erase(0, f + 9);
      inBlock = false;
    } else {
      line.clear();
    }
  }
  if (!inBlock) {
    for (;;) {
      const std::size_t lt = line.find('<');
      if (lt == std::string::npos)
        break;
      const std::size_t gt = line.find('>');
      if (gt == std::string::npos) {
        line.erase(lt);
      } else if (lt < gt) {
        line.erase(lt, gt - lt + 1);
      } else {
        line.erase(0, gt + 1);
      }
    }
    if (auto gt = line.find('>'); gt != std::string::npos)
      line.erase(0, gt + 1);
  }
  SlowReplaceAll(line, "&nbsp;", " ");
  SlowReplaceAll(line, "&nbsp", " ");
  SlowReplaceAll(line, "&gt", "");
  SlowReplaceAll(line, "&lt;", "");
  SlowReplaceAll(line, "&quot", "");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  const std::string decoded = pelorix::DecodeEncodedWord(input);
  if (!pelorix::IsValidUtf8(decoded))
    std::abort();
  if (pelorix::DecodeEncodedWord(decoded) != decoded)
    std::abort();

  // The first byte chooses the in-block flag the line starts with.
  const bool startInBlock = size > 0 && (data[0] & 1);
  std::string fast(input), slow(input);
  bool fastFlag = startInBlock, slowFlag = startInBlock;
  pelorix::HtmlLineToText(fast, fastFlag);
  SlowHtmlLineToText(slow, slowFlag);
  if (fast != slow || fastFlag != slowFlag)
    std::abort();
  return 0;
}
