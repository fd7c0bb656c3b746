#pragma once
// The program's own file writes go through these calls, so that a test can
// make any one of them fail as a full or failing disk would, and show that
// nothing is lost when it does.

#include <sys/types.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string_view>

namespace pelorix {

enum class FileOp { Open, Write, Sync, Rename };

// Asked before each call below, from any thread: an errno fails that call,
// 0 lets it through. An empty hook lets everything through.
using FileFaultHook = std::function<int(FileOp, const std::filesystem::path&)>;
void SetFileFault(FileFaultHook hook);

// 0 when the call may go ahead; else the errno it fails with (errno is set).
int FileFault(FileOp op, const std::filesystem::path& path);

// ::open for writing; -1 with errno.
int OpenForWriting(const std::filesystem::path& path, int flags, mode_t mode);
std::FILE* OpenStream(const std::filesystem::path& path, const char* mode);
// Every byte or false with errno; EINTR is retried.
bool WriteFully(int fd, std::string_view bytes, const std::filesystem::path& path);
bool WriteStream(std::FILE* file, std::string_view bytes, const std::filesystem::path& path);
bool SyncFile(int fd, const std::filesystem::path& path);
// Everything written to the file system holding fd, in one call.
bool SyncFileSystem(int fd, const std::filesystem::path& path);
// Opens a folder and fsyncs it, so that names placed in it are durable.
bool SyncFolder(const std::filesystem::path& folder);
bool RenameFile(const std::filesystem::path& from, const std::filesystem::path& to);
// Never over an existing name (errno EEXIST then).
bool RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace pelorix
