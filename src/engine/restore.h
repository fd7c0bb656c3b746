#pragma once
// Getting deleted mail back from the copies kept in tmp/deleted/: appended
// to an mbox file any mail program imports, or sent again to the user's
// own address. The command line and the window call the same functions.

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/quarantine.h"
#include "engine/reply.h"

namespace pelorix {

// The first kept copy of a message key (see KeptCopies); empty when the
// key is empty or no copy is kept.
std::filesystem::path KeptCopyPath(const std::filesystem::path& home, std::string_view messageKey);

// The letter window's three pages from a kept copy: the body lines as the
// body file lists them, their text, and the whole message as kept. Nothing
// when no copy is kept.
std::optional<TLetterTexts> LoadKeptLetterTexts(const std::filesystem::path& home,
                                                std::string_view messageKey);

// The entries of the listing whose files are among `files`, newest first.
std::vector<TQuarantineEntry> EntriesOfFiles(const std::filesystem::path& home,
                                             const std::vector<std::filesystem::path>& files);

// Appends the copies, oldest first as a mail program received them, to an
// mbox file in the mboxrd form. False with the reason when a copy cannot be
// read (nothing is appended then) or the file cannot be written.
bool AppendCopiesToMbox(const std::vector<TQuarantineEntry>& entries,
                        const std::filesystem::path& mbox, std::string* error = nullptr);

// The message with Resent-From and Resent-To (the address), Resent-Date
// and Resent-Message-ID prepended, as a resent block of RFC 5322 3.6.6;
// the original bytes follow unchanged.
std::string WithResentFields(std::string_view message, std::string_view address, std::time_t when,
                             std::string_view resentMessageId);

// A fresh "<...@domain>" for Resent-Message-ID, the domain taken from the
// address.
std::string NewResentMessageId(std::string_view address, std::time_t when);

// Why copies cannot be sent with these settings (no server, a bad port, no
// own address), as one line; empty when they can.
std::string ResendProblem(const TSmtpSettings& settings);

// Sends each copy, with its resent block, from and to the own address, over
// one connection. Returns how many went; it stops at the first failure and
// gives its text in `error` (left alone when all went).
int ResendMessages(const TSmtpSettings& settings, const std::vector<std::filesystem::path>& files,
                   std::string* error = nullptr, TSendTimeouts timeouts = {});

}  // namespace pelorix
