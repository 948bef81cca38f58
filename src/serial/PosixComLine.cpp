// The line settings, modem lines and output flow control of a tty (termios).
#include "serial/PosixComPlatform.h"

#include <cerrno>
#include <chrono>
#include <sys/ioctl.h>
#include <termios.h>

namespace {

speed_t speedFor(int32_t bps)
{
    switch (bps) {
    case 110: return B110;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return 0; // 14400, 56000, 128000, 256000 and others have no termios speed
    }
}

// Sets or clears modem output lines; devices without them (pseudo-terminals) are left alone.
int setModemLine(int fd, int line, bool on)
{
    if (ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0)
        return 0;
    return (errno == ENOTTY || errno == EINVAL) ? 0 : errno;
}

} // namespace

int PosixComDevice::setCommState(const ComLineSettings& s)
{
    std::lock_guard lineLock(lineLock_);
    termios t{};
    if (tcgetattr(fd_, &t) != 0)
        return errno;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    const speed_t speed = speedFor(s.baudRate);
    if (speed == 0)
        return EINVAL;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    t.c_cflag &= ~CSIZE;
    switch (s.byteSize) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    case 8: t.c_cflag |= CS8; break;
    default: return EINVAL;
    }
    t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    switch (s.parity) {
    case 0: break;
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: return EINVAL;
    }
    if (s.parityCheck)
        t.c_iflag |= INPCK;
    if (s.stopBits != 0)
        t.c_cflag |= CSTOPB;
    else
        t.c_cflag &= ~CSTOPB;
    if (s.outxCtsFlow || s.rtsControl == 2)
        t.c_cflag |= CRTSCTS;
    else
        t.c_cflag &= ~CRTSCTS;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (s.outX)
        t.c_iflag |= IXON;
    if (s.inX)
        t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(s.xonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(s.xoffChar);
    if (tcsetattr(fd_, TCSANOW, &t) != 0)
        return errno;
    if (s.dtrControl != 2)
        if (int err = setModemLine(fd_, TIOCM_DTR, s.dtrControl == 1))
            return err;
    if (s.rtsControl == 0 || s.rtsControl == 1)
        if (int err = setModemLine(fd_, TIOCM_RTS, s.rtsControl == 1))
            return err;
    std::lock_guard lock(lock_);
    discardNull_ = s.discardNull;
    evtChar_ = s.evtChar;
    outX_ = s.outX;
    return 0;
}

int PosixComDevice::resumeOutput()
{
    std::lock_guard lineLock(lineLock_);
    termios held{};
    if (tcgetattr(fd_, &held) != 0)
        return errno;
    if (!(held.c_iflag & IXON))
        return 0;
    termios running = held;
    running.c_iflag &= ~IXON;
    if (tcsetattr(fd_, TCSANOW, &running) != 0 || tcsetattr(fd_, TCSANOW, &held) != 0)
        return errno;
    return 0;
}

void PosixComDevice::watchHeldOutput(int queued)
{
    heldQueued_ = queued;
    heldCheckAt_ = std::chrono::steady_clock::now() + StrayXoffLimit;
    heldCheckArmed_ = true;
    wake();
}

void PosixComDevice::checkHeldOutput()
{
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0)
        return;
    {
        std::lock_guard lock(lock_);
        if (queued < heldQueued_) // still going out, only slowly
            return watchHeldOutput(queued);
    }
    resumeOutput();
}

int PosixComDevice::modemStatus(uint32_t& status)
{
    status = 0;
    int lines = 0;
    if (ioctl(fd_, TIOCMGET, &lines) != 0)
        return (errno == ENOTTY || errno == EINVAL) ? 0 : errno; // no modem lines: all off
    if (lines & TIOCM_CTS)
        status |= ComModem::CTS;
    if (lines & TIOCM_DSR)
        status |= ComModem::DSR;
    if (lines & TIOCM_RNG)
        status |= ComModem::Ring;
    if (lines & TIOCM_CAR)
        status |= ComModem::RLSD;
    return 0;
}
