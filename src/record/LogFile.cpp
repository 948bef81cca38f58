#include "record/LogFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

TLogFile::~TLogFile()
{
    if (FFd < 0)
        return;
    try {
        Close();
    } catch (const EInOutError&) {
    }
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

void TLogFile::fail(int errorCode, const std::string& fileName) const
{
    std::string message = ErrorText(errorCode);
    if (!fileName.empty())
        message += ": \"" + fileName + "\": " + std::strerror(errorCode);
    throw EInOutError(message, errorCode);
}

void TLogFile::open(const std::string& fileName, int flags)
{
    Abandon();
    if (fileName.empty())
        fail(EINVAL, fileName);
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0666);
    if (fd < 0)
        fail(errno, fileName);
    FFd = fd;
    FFileName = fileName;
}

void TLogFile::Rewrite(const std::string& fileName)
{
    open(fileName, O_TRUNC);
}

void TLogFile::CreateNew(const std::string& fileName)
{
    open(fileName, O_EXCL);
}

void TLogFile::Flush()
{
    if (FFd < 0) {
        FBuffer.clear();
        fail(EBADF, {});
    }
    size_t done = 0;
    while (done < FBuffer.size()) {
        const ssize_t n = ::write(FFd, FBuffer.data() + done, FBuffer.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            FBuffer.clear(); // what the system refused is dropped, so a later close does not fail again
            fail(error, FFileName);
        }
        done += static_cast<size_t>(n);
    }
    FBuffer.clear();
}

void TLogFile::Close()
{
    if (FFd < 0) {
        FBuffer.clear();
        fail(EBADF, {});
    }
    int error = 0;
    try {
        Flush();
    } catch (const EInOutError& e) {
        error = e.ErrorCode;
    }
    if (::close(FFd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    FFd = -1;
    FBuffer.clear();
    if (error != 0)
        fail(error, FFileName);
}

void TLogFile::Abandon()
{
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
    FBuffer.clear();
}
