#pragma once
// Reading the maker's version file and comparing it with the running
// program; the fetch itself belongs to the front end.

#include <optional>
#include <string>
#include <string_view>

namespace pelorix {

// A decimal number with "." as its separator whatever the locale: optional
// sign, digits, an optional fraction and exponent, blanks around it.
std::optional<double> ParseVersionNumber(std::string_view text);

// "1.2.3.4" -> 1.234: the first "." stays, every later one goes. Nothing
// when the result is not a number.
std::optional<double> ProgramVersionNumber(std::string_view fileVersion);

enum class TVersionVerdict { NewVersion, NoNewVersion, Unreadable };

struct TVersionAnswer {
  TVersionVerdict Verdict = TVersionVerdict::Unreadable;
  std::string Text;  // the reply's text after its eighth character
};

// The reply trimmed; its first 7 characters the newest version ("1.00" when
// the reply is empty), the 8th ignored, the rest the text shown. Bytes that
// are not UTF-8 are read as GB18030.
TVersionAnswer ReadVersionReply(std::string_view reply, double programVersion);

// The version file's address: as it stands when it starts with "http://" or
// "https://" (any letter case), else with "http://" in front.
std::string VersionFileAddress(std::string_view configured);

// The message box's caption and text for an answer.
struct TVersionNotice {
  std::string Caption;
  std::string Text;
};
// A version file that could not be fetched is answered as Unreadable.
TVersionNotice VersionNotice(const TVersionAnswer& answer, std::string_view homePage);

}  // namespace pelorix
