#include "record/LogFile.h"

#include <cerrno>
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

void TLogFile::Rewrite(const std::string& fileName)
{
    Abandon();
    if (fileName.empty())
        throw EInOutError(ErrorText(EINVAL), EINVAL);
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int error = errno;
        throw EInOutError(ErrorText(error), error);
    }
    FFd = fd;
    FFileName = fileName;
}

void TLogFile::Flush()
{
    if (FFd < 0) {
        FBuffer.clear();
        throw EInOutError(ErrorText(EBADF), EBADF);
    }
    size_t done = 0;
    while (done < FBuffer.size()) {
        const ssize_t n = ::write(FFd, FBuffer.data() + done, FBuffer.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            FBuffer.clear(); // what the system refused is dropped, so a later close does not fail again
            throw EInOutError(ErrorText(error), error);
        }
        done += static_cast<size_t>(n);
    }
    FBuffer.clear();
}

void TLogFile::Close()
{
    if (FFd < 0) {
        FBuffer.clear();
        throw EInOutError(ErrorText(EBADF), EBADF);
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
        throw EInOutError(ErrorText(error), error);
}

void TLogFile::Abandon()
{
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
    FBuffer.clear();
}
