#pragma once

#include "core/Result.h"

#include <string>
#include <string_view>

namespace quillon {

// How writing a whole file failed.
enum class FileWriteError
{
    None = 0,
    Refused, // a directory, a symbolic link to nothing, an empty path
    Open,    // the file (or its temporary) could not be opened or created
    Write,   // a write failed or wrote less (ENOSPC, EIO, EFBIG)
    Sync,    // fsync of the temporary failed
    Close,
    Rename, // the finished temporary could not replace the file
};

// The detail on failure is "<path>: <reason>", the reason the OS error text (strerror) or,
// for Refused, why the path cannot be written.
using FileWriteResult = Outcome<FileWriteError>;

// Writes `bytes` as the whole content of `path`, so that a failure never loses the file's
// earlier content:
// - a regular file (or a new one) is written to a temporary file in the same folder, every
//   write, the fsync and the close checked, then renamed over the old one, which keeps its
//   permission bits; on any failure the temporary is removed and the old file stays;
// - a path that is not a regular file (a character device such as /dev/null, a FIFO, a
//   socket) is opened as it is (no create, no truncate, O_APPEND) and written directly,
//   never renamed over; the same holds for any path under /dev/ or /proc/, so that
//   /dev/stdout reaches the descriptor it stands for;
// - a symbolic link to a regular file keeps the link: its target is replaced as above, the
//   temporary beside the target; a link to nothing is refused;
// - a directory is refused.
// Blocks while a FIFO has no reader, as a shell redirection does. Any thread.
FileWriteResult writeFileReplacing(const std::string &path, std::string_view bytes);

// Writes all of `bytes` to the open descriptor `fd` (retrying short writes and EINTR);
// false, with errno set, when a write fails or writes nothing.
bool writeAll(int fd, std::string_view bytes);

// The reason part of a failure's detail ("No space left on device"), without the path.
std::string fileWriteReason(const FileWriteResult &result, const std::string &path);

} // namespace quillon
