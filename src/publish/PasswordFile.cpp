#include "publish/PasswordFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a regular file";
}

} // namespace

TPasswordFile ReadPasswordFile(const std::string& file)
{
    TPasswordFile result;
    const auto fail = [&](const std::string& why) {
        result.password.clear();
        result.error = "the password file " + file + " " + why;
        return result;
    };
    // Non-blocking, so that a FIFO without a writer is refused instead of waited on.
    int fd;
    do
        fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return fail(std::string("cannot be read (") + std::strerror(errno) + ")");
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return fail(std::string("cannot be read (") + std::strerror(error) + ")");
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(std::string("is ") + kindOf(st.st_mode) + ", not a file holding the password");
    }
    if (st.st_size > static_cast<off_t>(MaxPasswordFileSize)) {
        ::close(fd);
        return fail("is larger than " + std::to_string(MaxPasswordFileSize) + " bytes: not a password");
    }
    char buffer[MaxPasswordFileSize + 1];
    size_t size = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer + size, sizeof buffer - size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return fail(std::string("cannot be read (") + std::strerror(error) + ")");
        }
        if (n == 0 || (size += static_cast<size_t>(n)) == sizeof buffer)
            break;
    }
    ::close(fd);
    if (size > MaxPasswordFileSize) // grew while being read
        return fail("is larger than " + std::to_string(MaxPasswordFileSize) + " bytes: not a password");
    result.password.assign(buffer, size);
    std::memset(buffer, 0, sizeof buffer);
    if (!result.password.empty() && result.password.back() == '\n') {
        result.password.pop_back();
        if (!result.password.empty() && result.password.back() == '\r')
            result.password.pop_back();
    }
    if (result.password.empty())
        return fail("holds no password");
    if ((st.st_mode & (S_IRGRP | S_IROTH)) != 0) {
        char mode[16];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        result.warning = "the password file " + file + " can be read by others than its owner (mode " + mode
                         + "): chmod 600 it, or give it as a systemd credential";
    }
    return result;
}

std::string CredentialPasswordFile(const char* credentialsDirectory)
{
    if (!credentialsDirectory || credentialsDirectory[0] == '\0')
        return {};
    std::string file = std::string(credentialsDirectory) + "/" + PasswordCredential;
    struct stat st {};
    return ::lstat(file.c_str(), &st) == 0 ? file : std::string();
}
