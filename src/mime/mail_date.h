#pragma once
// The "Date:" header: reading the many forms found in real mail, and writing
// the standard form for sending.

#include <ctime>
#include <string>
#include <string_view>

namespace pelorix {

// UTC seconds since the epoch of a Date header value; 0 when empty or
// unreadable. Accepts "Tue, 8 Dec 2026 17:12:44 +0800 (CST)", "8-Dec-26 ...",
// "Dec 8 2026 ...", asctime's "Tue Dec  8 17:12:44 2026" and the like.
std::time_t ParseMailDate(std::string_view text);

// "Tue, 08 Dec 2026 17:12:44 +0000" for a UTC time.
std::string FormatMailDate(std::time_t utc);

}  // namespace pelorix
