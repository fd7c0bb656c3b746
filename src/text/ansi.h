#pragma once
// The one place where text crosses between memory (UTF-8) and the files the
// program writes (GB18030, byte-compatible with GBK/GB2312 files).

#include <cstddef>
#include <string>
#include <string_view>

namespace pelorix {

// UTF-8 -> GB18030. Bytes that are not valid UTF-8 become "?".
std::string ToAnsi(std::string_view utf8);

// GB18030 -> UTF-8. Undecodable bytes become U+FFFD.
std::string FromAnsi(std::string_view ansi);

// Converts bytes in any charset iconv knows to UTF-8. Returns false (and
// leaves out unchanged) when the charset is unknown; undecodable bytes
// become U+FFFD.
bool CharsetToUtf8(std::string_view bytes, std::string_view charset, std::string& out);

// Converts UTF-8 to any charset iconv knows; unconvertible characters
// become "?". Returns false when the charset is unknown.
bool Utf8ToCharset(std::string_view utf8, std::string_view charset, std::string& out);

bool IsValidUtf8(std::string_view bytes);

// Raw 8-bit header text: valid UTF-8 is kept, anything else is read as GB18030.
std::string RawToUtf8(std::string_view bytes);

// Length in bytes of the GB18030 character starting at s[i] (1, 2 or 4);
// a malformed sequence counts as 1.
std::size_t AnsiCharLength(std::string_view s, std::size_t i);

// Cuts GB18030 bytes to at most maxBytes without splitting a character.
std::string_view CutAnsi(std::string_view ansi, std::size_t maxBytes);

// The on-disk form of a UTF-8 text cut to at most maxBytes (never half a character).
std::string ToAnsiCut(std::string_view utf8, std::size_t maxBytes);

// A UTF-8 text cut so that its on-disk form takes at most maxBytes.
std::string CutToAnsiBytes(std::string_view utf8, std::size_t maxBytes);

// Cuts UTF-8 to at most maxBytes without splitting a character.
std::string_view CutUtf8(std::string_view utf8, std::size_t maxBytes);

}  // namespace pelorix
