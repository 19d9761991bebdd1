#include "core/FileWriter.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon {

namespace {

FileWriteResult failed(FileWriteError code, const std::string &path, const std::string &reason)
{
    return {code, path + ": " + reason};
}

FileWriteResult failedErrno(FileWriteError code, const std::string &path, int error)
{
    return failed(code, path, std::strerror(error));
}

// The path names a descriptor or a device whatever it resolves to.
bool isDescriptorAlias(const std::string &path)
{
    return path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0;
}

// Not a regular file: written in place, never replaced.
FileWriteResult writeDirectly(const std::string &path, std::string_view bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return failedErrno(FileWriteError::Open, path, errno);
    if (!writeAll(fd, bytes)) {
        const int error = errno;
        ::close(fd);
        return failedErrno(FileWriteError::Write, path, error);
    }
    if (::close(fd) != 0)
        return failedErrno(FileWriteError::Close, path, errno);
    return {};
}

// A name beside `target` that no other writer uses: ".<name>.<pid>-<n>.tmp".
std::string temporaryName(const std::string &target, int attempt)
{
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    return folder + "." + name + "." + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1) + static_cast<unsigned>(attempt)) + ".tmp";
}

// `target` is a regular file or missing; `existing` its status when `exists`.
FileWriteResult replaceRegular(const std::string &path, const std::string &target,
                               std::string_view bytes, bool exists, const struct stat &existing)
{
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = temporaryName(target, attempt);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return failedErrno(FileWriteError::Open, path, errno);
    }
    if (fd < 0)
        return failedErrno(FileWriteError::Open, path, EEXIST);

    FileWriteError code = FileWriteError::None;
    int error = 0;
    // The new file keeps the old one's permission bits (0666 less the umask when new).
    if (exists)
        (void)::fchmod(fd, existing.st_mode & 07777);
    if (!writeAll(fd, bytes)) {
        code = FileWriteError::Write;
        error = errno;
    } else if (::fsync(fd) != 0) {
        code = FileWriteError::Sync;
        error = errno;
    }
    // A close that fails (NFS reports a lost write there) also fails the whole write.
    if (::close(fd) != 0 && code == FileWriteError::None) {
        code = FileWriteError::Close;
        error = errno;
    }
    if (code == FileWriteError::None && ::rename(temporary.c_str(), target.c_str()) != 0) {
        code = FileWriteError::Rename;
        error = errno;
    }
    if (code != FileWriteError::None) {
        ::unlink(temporary.c_str());
        return failedErrno(code, path, error);
    }
    return {};
}

} // namespace

bool writeAll(int fd, std::string_view bytes)
{
    const char *data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return false;
        if (written == 0) {
            errno = ENOSPC;
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

FileWriteResult writeFileReplacing(const std::string &path, std::string_view bytes)
{
    if (path.empty())
        return failed(FileWriteError::Refused, path, "no file name");
    struct stat status = {};
    if (::lstat(path.c_str(), &status) != 0) {
        if (errno != ENOENT)
            return failedErrno(FileWriteError::Open, path, errno);
        return replaceRegular(path, path, bytes, false, status);
    }
    std::string target = path;
    if (S_ISLNK(status.st_mode)) {
        if (::stat(path.c_str(), &status) != 0)
            return failed(FileWriteError::Refused, path,
                          "a symbolic link to a file that cannot be reached (" +
                              std::string(std::strerror(errno)) + ")");
        if (S_ISREG(status.st_mode) && !isDescriptorAlias(path)) {
            char resolved[PATH_MAX];
            if (::realpath(path.c_str(), resolved) == nullptr)
                return failedErrno(FileWriteError::Open, path, errno);
            target = resolved;
        }
    }
    if (S_ISDIR(status.st_mode))
        return failed(FileWriteError::Refused, path, "a folder, not a file");
    if (!S_ISREG(status.st_mode) || isDescriptorAlias(path))
        return writeDirectly(path, bytes);
    return replaceRegular(path, target, bytes, true, status);
}

std::string fileWriteReason(const FileWriteResult &result, const std::string &path)
{
    const std::string prefix = path + ": ";
    if (result.detail.rfind(prefix, 0) == 0)
        return result.detail.substr(prefix.size());
    return result.detail;
}

} // namespace quillon
