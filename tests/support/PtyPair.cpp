#include "support/PtyPair.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("cannot open a pseudo-terminal");
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0)
        throw std::runtime_error("ptsname failed");
    slavePath_ = name;
    keepSlave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (keepSlave_ >= 0 && tcgetattr(keepSlave_, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(keepSlave_, TCSANOW, &t);
    }
}

PtyPair::~PtyPair()
{
    closeMaster();
    if (keepSlave_ >= 0)
        ::close(keepSlave_);
}

void PtyPair::write(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                pollfd p{master_, POLLOUT, 0};
                ::poll(&p, 1, 100);
                continue;
            }
            throw std::runtime_error("write to pty master failed");
        }
        done += static_cast<size_t>(n);
    }
}

std::string PtyPair::read(size_t expected, int timeoutMs)
{
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < expected) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        char buf[4096];
        ssize_t n = ::read(master_, buf, std::min(sizeof buf, expected - out.size()));
        if (n <= 0)
            break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

std::string PtyPair::readAvailable(int timeoutMs)
{
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(std::min<long long>(left, 50))) <= 0)
            break;
        char buf[4096];
        ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

bool PtyPair::holdOutputByXoff(int timeoutMs)
{
    int packetMode = 1; // the master then reads a notice when the slave's output stops
    ioctl(master_, TIOCPKT, &packetMode);
    write("\x13");
    char packet[4096];
    bool held = false;
    for (pollfd p{master_, POLLIN, 0}; !held && ::poll(&p, 1, timeoutMs) > 0;) {
        const ssize_t n = ::read(master_, packet, sizeof packet);
        held = n > 0 && packet[0] != TIOCPKT_DATA && (packet[0] & TIOCPKT_STOP);
    }
    packetMode = 0;
    ioctl(master_, TIOCPKT, &packetMode);
    return held;
}

void PtyPair::closeMaster()
{
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}
