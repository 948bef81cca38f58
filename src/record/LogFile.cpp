#include "record/LogFile.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Once per process: a write to a pipe whose reader left, or past the file size limit (RLIMIT_FSIZE), then
// fails with EPIPE or EFBIG, which the writer reports, instead of SIGPIPE or SIGXFSZ ending the process.
// A handler someone installed is left alone.
void ignoreWriteSignals()
{
    static const bool done = [] {
        for (const int signal : {SIGPIPE, SIGXFSZ}) {
            struct sigaction old {};
            if (::sigaction(signal, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) != 0
                || old.sa_handler != SIG_DFL)
                continue;
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            sigemptyset(&ignore.sa_mask);
            ::sigaction(signal, &ignore, nullptr);
        }
        return true;
    }();
    (void)done;
}

int openFile(const std::string& fileName, int flags)
{
    int fd;
    do
        fd = ::open(fileName.c_str(), flags, 0666);
    while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

TLogFile::~TLogFile()
{
    Abandon();
}

std::string TLogFile::ErrorText(int errorCode)
{
    switch (errorCode) {
    case EACCES:
    case EPERM:
    case EROFS: return "File access denied";
    case ENAMETOOLONG:
    case EINVAL: return "Invalid filename";
    default: return "I/O error " + std::to_string(errorCode);
    }
}

void TLogFile::fail(int errorCode, const std::string& fileName, const char* reason) const
{
    std::string message = ErrorText(errorCode);
    if (!fileName.empty())
        message += ": \"" + fileName + "\": " + (reason ? reason : std::strerror(errorCode));
    throw EInOutError(message, errorCode);
}

void TLogFile::open(const std::string& fileName, bool replace)
{
    Abandon();
    if (fileName.empty())
        fail(EINVAL, fileName);
    ignoreWriteSignals();
    // O_NONBLOCK keeps the open of a pipe without a reader from waiting for one (it fails with ENXIO); it
    // is cleared once the file is open, so writes wait for the system as usual.
    constexpr int flags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    // Creating with O_EXCL tells whether this open made the file; a name that is taken is truncated. A file
    // removed in between is created on the next turn; the last turn also creates through a symbolic link
    // that leads nowhere (and does not count that file as its own).
    bool created = false;
    int fd = -1;
    int error = 0;
    for (int turn = 0; turn < 3; ++turn) {
        fd = openFile(fileName, flags | O_CREAT | O_EXCL);
        if (fd >= 0) {
            created = true;
            break;
        }
        error = errno;
        if (error != EEXIST || !replace)
            break;
        fd = openFile(fileName, flags | O_TRUNC | (turn == 2 ? O_CREAT : 0));
        if (fd >= 0)
            break;
        error = errno;
        if (error != ENOENT)
            break;
    }
    if (fd < 0) {
        struct stat st {};
        if (error == ENXIO && ::stat(fileName.c_str(), &st) == 0 && S_ISFIFO(st.st_mode))
            fail(error, fileName, "No process reads from the pipe");
        fail(error, fileName);
    }
    FFd = fd;
    FFileName = fileName;
    FCreated = created;
    FCutOwed = false;
    struct stat st {};
    const int flagsNow = ::fcntl(fd, F_GETFL);
    if (flagsNow < 0 || ::fcntl(fd, F_SETFL, flagsNow & ~O_NONBLOCK) != 0 || ::fstat(fd, &st) != 0) {
        error = errno;
        Remove();
        fail(error, fileName);
    }
    FRegular = S_ISREG(st.st_mode);
    FSize = FRegular ? static_cast<uint64_t>(st.st_size) : 0;
}

void TLogFile::Rewrite(const std::string& fileName)
{
    open(fileName, true);
}

void TLogFile::CreateNew(const std::string& fileName)
{
    open(fileName, false);
}

bool TLogFile::cutBack()
{
    int result = 0;
    if (FRegular) {
        do
            result = ::ftruncate(FFd, static_cast<off_t>(FSize));
        while (result != 0 && errno == EINTR);
    }
    FCutOwed = result != 0;
    return !FCutOwed;
}

void TLogFile::Append(std::string_view data, std::span<const size_t> ends, size_t& written)
{
    written = 0;
    if (FFd < 0)
        fail(EBADF, {});
    if (FCutOwed && !cutBack())
        fail(errno, FFileName);
    size_t done = 0;
    int error = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(FFd, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n == 0) {
            error = EIO; // nothing taken and no reason given
            break;
        } else if (errno != EINTR) {
            error = errno;
            break;
        }
    }
    while (written < ends.size() && ends[written] <= done)
        ++written;
    if (error == 0) {
        FSize += done;
        return;
    }
    // What a pipe or device took is gone; a regular file keeps only the whole pieces.
    const size_t kept = !FRegular ? done : written > 0 ? ends[written - 1] : 0;
    FSize += kept;
    if (kept < done)
        cutBack(); // when this fails, the next Append cuts back before it writes
    fail(error, FFileName);
}

void TLogFile::Append(std::string_view data)
{
    const size_t end = data.size();
    size_t written = 0;
    Append(data, std::span<const size_t>(&end, 1), written);
}

void TLogFile::Sync()
{
    if (FFd < 0)
        fail(EBADF, {});
    if (!FRegular)
        return;
    while (::fdatasync(FFd) != 0)
        if (errno != EINTR)
            fail(errno, FFileName);
}

bool TLogFile::Replaced() const
{
    if (FFd < 0)
        return false;
    struct stat byName {};
    struct stat open {};
    if (::stat(FFileName.c_str(), &byName) != 0 || ::fstat(FFd, &open) != 0)
        return true;
    return byName.st_dev != open.st_dev || byName.st_ino != open.st_ino;
}

void TLogFile::Close()
{
    if (FFd < 0)
        fail(EBADF, {});
    const int fd = FFd;
    FFd = -1;
    if (::close(fd) != 0 && errno != EINTR)
        fail(errno, FFileName);
}

void TLogFile::Abandon()
{
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
}

void TLogFile::Remove()
{
    if (FFd < 0)
        return;
    if (FCreated && !Replaced())
        ::unlink(FFileName.c_str());
    Abandon();
}
