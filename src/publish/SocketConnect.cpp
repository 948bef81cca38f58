#include "publish/SocketConnect.h"

#include <cerrno>
#include <poll.h>

int connectWithin(int fd, const sockaddr* address, socklen_t size, int timeoutMs)
{
    if (::connect(fd, address, size) == 0)
        return 0;
    if (errno != EINPROGRESS)
        return errno;
    pollfd p{fd, POLLOUT, 0};
    int n;
    do
        n = ::poll(&p, 1, timeoutMs);
    while (n < 0 && errno == EINTR);
    if (n < 0)
        return errno;
    if (n == 0)
        return ETIMEDOUT;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return errno;
    return error;
}
