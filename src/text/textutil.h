#pragma once
// Text helpers shared by every layer: HTML to text, encoded header words,
// list matching, IP extraction, file names, padding and formatting.
// Texts are UTF-8; wherever case is ignored only ASCII letters are folded.

#include <cstddef>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace pelorix {

// Turns one line of HTML into text in place. `inBlock` is true while the line
// lies inside a style or script block opened on an earlier line; the caller
// keeps it between lines and starts with false.
void HtmlLineToText(std::string& line, bool& inBlock);

// The text of HTML lines (UTF-8) as HtmlFileToText writes it: each line
// through HtmlLineToText, blank lines emptied, a run of them kept as one.
std::vector<std::string> HtmlLinesToText(const std::vector<std::string>& lines);

// Writes the text of an HTML file to the same path with the extension ".txt"
// (GB18030, CR LF). With `webPagesOnly` only web page extensions are
// converted and the source is deleted afterwards.
void HtmlFileToText(const std::filesystem::path& file, bool webPagesOnly);

// Decodes every RFC 2047 encoded word ("=?charset?B|Q?text?=") where it
// stands and returns trimmed UTF-8. Words with an unknown charset or a broken
// encoding stay as they are; other raw 8-bit text is read as UTF-8 when
// valid, else as GB18030. Applying it to its own result changes nothing.
std::string DecodeEncodedWord(std::string_view text);

// Standard base64 to raw bytes. Characters outside the alphabet (line
// breaks, blanks) are skipped; padding ends the decoding.
std::string DecodeBase64(std::string_view text);

// Value of a trimmed text of hexadecimal digits; empty gives 0. Reading stops
// at the first character that is not a hexadecimal digit; the value saturates
// instead of overflowing.
long long HexValue(std::string_view text);

// The first entry (in list order) contained in the trimmed text, ignoring
// ASCII case; empty entries never match. Empty when none matches.
std::string FindListEntry(const std::vector<std::string>& entries, std::string_view text);

// Every dotted address (token of digits with exactly three dots) in fixed
// form, joined by "|" in order of appearance: "061.129.001.007|010.000.000.001".
// Tokens whose parts do not fit a 32-bit integer are skipped.
std::string ExtractIpAddresses(std::string_view text);

// "10.0.0.1" -> "010.000.000.001"; empty parts count as 0, parts above 999
// keep all their digits. Throws std::out_of_range when a part does not fit a
// signed 32-bit integer and std::invalid_argument when a part is not decimal
// digits or there are more than four parts.
std::string NormalizeIp(std::string_view address);

// Trimmed text with . - \ / : * ? " < > | % replaced by "_".
std::string CleanFileName(std::string_view text);

// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);

// Trimmed text with = - \ / : * ? " < > | % and "_" removed.
std::string StripNameChars(std::string_view text);

// Every blank replaced by "0".
std::string BlanksToZeros(std::string_view text);

// Trimmed text preceded by blanks up to `width`; the width counts bytes of the
// on-disk (GB18030) form, so a Chinese character takes two columns as in the
// files. A longer text is returned trimmed.
std::string PadLeft(std::string_view text, std::size_t width);

// Decimal text of `value` with zeros in front up to `width` (after the sign).
std::string ZeroPad(long long value, std::size_t width);

// `text` repeated `count` times.
std::string RepeatText(std::string_view text, std::size_t count);

// Local date as "2026年12月08日".
std::string DateText(std::time_t when);

// The program's version as four numbers joined by ".", e.g. "0.1.0.0".
std::string FileVersionText();

// Whether `path` names an existing folder (following links).
bool FolderExists(const std::filesystem::path& path);

}  // namespace pelorix
