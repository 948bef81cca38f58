#include "settings/FileWriter.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

ssize_t TFileOps::Write(int fd, const void* data, size_t size)
{
    return ::write(fd, data, size);
}
int TFileOps::Sync(int fd)
{
    return ::fsync(fd);
}
int TFileOps::Rename(const char* from, const char* to)
{
    return ::rename(from, to);
}

TFileOps& TFileOps::Default()
{
    static TFileOps ops;
    return ops;
}

namespace {

std::string folderOf(const std::string& fileName)
{
    const auto slash = fileName.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : fileName.substr(0, slash);
}

int openTemporary(const std::string& fileName, std::string& tempName, mode_t mode)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName = fileName + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        const int fd = ::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool writeAll(TFileOps& ops, int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ops.Write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

void syncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd); // best effort: the rename itself has already succeeded
    ::close(fd);
}

} // namespace

bool ReplaceFileContent(const std::string& fileName, std::string_view data, TFileOps& ops, bool ownerOnly)
{
    std::string tempName;
    const int fd = openTemporary(fileName, tempName, ownerOnly ? 0600 : 0666);
    if (fd < 0)
        return false;

    // Keep the permissions of the file being replaced, or allow its owner only, before any data is in it.
    struct stat old {};
    if (ownerOnly)
        ::fchmod(fd, 0600);
    else if (::stat(fileName.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd, old.st_mode & 07777);

    bool ok = writeAll(ops, fd, data) && ops.Sync(fd) == 0;
    int savedErrno = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (ok && ops.Rename(tempName.c_str(), fileName.c_str()) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        ::unlink(tempName.c_str());
        errno = savedErrno;
        return false;
    }
    syncFolder(folderOf(fileName));
    return true;
}
