#include "serial/SystemFiles.h"

#include <cctype>
#include <unistd.h>

std::string ReadSmallFile(int dirFd, const std::string& path)
{
    const int fd = ::openat(dirFd, path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    char text[512];
    const ssize_t n = ::read(fd, text, sizeof text);
    ::close(fd);
    std::string content(text, static_cast<size_t>(n > 0 ? n : 0));
    while (!content.empty() && std::isspace(static_cast<unsigned char>(content.back())))
        content.pop_back();
    return content;
}
