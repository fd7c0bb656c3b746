#pragma once
// Whole-file writes that never leave half a file behind: the bytes go to a
// temporary file beside the target, are flushed, and replace it by rename.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pelorix::store {

// Replaces `path` with `bytes`. An existing file keeps its permission bits;
// a new one gets `newMode`. Returns false with a message on failure, in
// which case the old file is untouched.
bool WriteFileAtomic(const std::filesystem::path& path, std::string_view bytes,
                     std::string* error = nullptr, unsigned newMode = 0644);

// The whole file, or nothing when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path);

}  // namespace pelorix::store
