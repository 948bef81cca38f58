#include "serial/PosixComPlatform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr size_t DefaultQueueSize = 1024;

int ceilMs(std::chrono::steady_clock::duration d)
{
    return static_cast<int>(std::clamp<long long>(std::chrono::ceil<std::chrono::milliseconds>(d).count(), 0, 1 << 30));
}

bool readSerialCounters(int fd, serial_icounter_struct& c)
{
    return ioctl(fd, TIOCGICOUNT, &c) == 0;
}

class Deadline {
public:
    explicit Deadline(uint64_t ms)
        : infinite_(ms == 0), end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms))
    {}
    bool infinite() const { return infinite_; }
    // Milliseconds left for poll: -1 when infinite, 0 when passed.
    int pollTimeout() const
    {
        if (infinite_)
            return -1;
        return ceilMs(end_ - std::chrono::steady_clock::now());
    }
    std::chrono::steady_clock::time_point end() const { return end_; }

private:
    bool infinite_;
    std::chrono::steady_clock::time_point end_;
};

std::atomic<ComPlatform*> installedPlatform{nullptr};

} // namespace

// ---- device ---------------------------------------------------------------------------------------

PosixComDevice::PosixComDevice(int fd, int stopFd, int wakeFd)
    : fd_(fd), stopFd_(stopFd), wakeFd_(wakeFd), queue_(DefaultQueueSize)
{
    haveCounters_ = readSerialCounters(fd_, counters_);
}

PosixComDevice::~PosixComDevice()
{
    ioctl(fd_, TIOCNXCL);
    ::close(fd_); // also releases the flock
    ::close(stopFd_);
    ::close(wakeFd_);
}

void PosixComDevice::wake()
{
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void PosixComDevice::drainWake()
{
    uint64_t value;
    [[maybe_unused]] ssize_t n = ::read(wakeFd_, &value, sizeof value);
}

int PosixComDevice::setupComm(int32_t inputSize, int32_t /*outputSize: the kernel's own*/)
{
    std::lock_guard lock(lock_);
    const size_t capacity = static_cast<size_t>(std::max(inputSize, 2));
    std::vector<char> resized(capacity);
    const size_t keep = std::min(size_, capacity);
    for (size_t i = 0; i < keep; ++i)
        resized[i] = queue_[(head_ + i) % queue_.size()];
    queue_.swap(resized);
    head_ = 0;
    size_ = keep;
    above80_ = size_ * 10 >= queue_.size() * 8;
    wake();
    return 0;
}

int PosixComDevice::setCommTimeouts(const ComTimeoutSettings& timeouts)
{
    std::lock_guard lock(lock_);
    timeouts_ = timeouts;
    return 0;
}

int PosixComDevice::setCommMask(uint32_t mask)
{
    std::lock_guard lock(lock_);
    mask_ = mask;
    wake();
    return 0;
}

void PosixComDevice::stop()
{
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(stopFd_, &one, sizeof one); // stays readable: every later wait stops too
}

size_t PosixComDevice::append(const char* data, size_t n)
{
    n = std::min(n, queue_.size() - size_); // reads never ask for more than the free space
    const size_t tail = (head_ + size_) % queue_.size();
    const size_t first = std::min(n, queue_.size() - tail);
    std::memcpy(queue_.data() + tail, data, first);
    std::memcpy(queue_.data(), data + first, n - first);
    size_ += n;
    return n;
}

uint32_t PosixComDevice::enqueue(const char* data, size_t n)
{
    const char* const end = data + n;
    size_t added = 0;
    for (const char* p = data; p < end;) {
        const void* zero = discardNull_ ? std::memchr(p, 0, static_cast<size_t>(end - p)) : nullptr;
        const char* stop = zero ? static_cast<const char*>(zero) : end;
        added += append(p, static_cast<size_t>(stop - p));
        p = stop == end ? end : stop + 1; // a discarded zero byte
    }
    uint32_t events = 0;
    if (added) {
        events |= ComMask::RxChar;
        if (!(discardNull_ && evtChar_ == 0) && std::memchr(data, evtChar_, n))
            events |= ComMask::RxFlag;
    }
    if (!above80_ && size_ * 10 >= queue_.size() * 8) {
        above80_ = true;
        events |= ComMask::Rx80Full;
    }
    return events;
}

size_t PosixComDevice::takeFromQueue(char* out, size_t n)
{
    const size_t count = std::min(n, size_);
    const size_t first = std::min(count, queue_.size() - head_);
    std::memcpy(out, queue_.data() + head_, first);
    std::memcpy(out + first, queue_.data(), count - first);
    const bool wasFull = size_ == queue_.size();
    head_ = (head_ + count) % queue_.size();
    size_ -= count;
    if (size_ * 10 < queue_.size() * 8)
        above80_ = false;
    if (wasFull && count)
        wake(); // the event thread stopped reading the device while the queue was full
    return count;
}

uint32_t PosixComDevice::countLineErrors()
{
    serial_icounter_struct now{};
    if (!haveCounters_ || !readSerialCounters(fd_, now))
        return 0;
    uint32_t flags = 0;
    if (now.frame != counters_.frame)
        flags |= ComErr::Frame;
    if (now.overrun != counters_.overrun)
        flags |= ComErr::Overrun;
    if (now.parity != counters_.parity)
        flags |= ComErr::RxParity;
    if (now.brk != counters_.brk)
        flags |= ComErr::Break;
    if (now.buf_overrun != counters_.buf_overrun)
        flags |= ComErr::RxOver;
    counters_ = now;
    errors_ |= flags;
    if (!flags)
        return 0;
    return ComMask::Err | ((flags & ComErr::Break) ? ComMask::Break : 0);
}

ssize_t PosixComDevice::readTty(char* buffer, size_t room, short revents)
{
    const bool hungUp = revents & (POLLHUP | POLLERR | POLLNVAL);
    if (room && (revents & POLLIN || hungUp)) {
        const ssize_t n = ::read(fd_, buffer, room);
        if (n > 0)
            return n;
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return -errno; // EIO after a hang-up, ENXIO when the device went away
    }
    // Nothing read: readable without data is a spurious wake-up; a hang-up is the end of the device.
    return hungUp ? -EIO : 0;
}

void PosixComDevice::lose(int error)
{
    if (!lost_)
        lost_ = error;
    received_.notify_all();
}

void PosixComDevice::receiveOnDemand()
{
    char buf[4096];
    while (!lost_) {
        const size_t room = std::min(queue_.size() - size_, sizeof buf);
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0)
            return;
        const ssize_t n = readTty(buf, room, p.revents);
        if (n < 0)
            return lose(static_cast<int>(-n));
        if (n == 0)
            return;
        enqueue(buf, static_cast<size_t>(n)); // no event thread: no events to report
        countLineErrors();
    }
}

ComWaitResult PosixComDevice::waitCommEvent(uint32_t& mask, int& error, ComWaitGate& gate)
{
    char buf[4096];
    for (;;) {
        size_t room;
        int timeoutMs = -1;
        bool heldDue = false;
        {
            std::lock_guard lock(lock_);
            const uint32_t ready = pending_ & mask_;
            pending_ = 0; // events outside the mask are not reported
            if (ready) {
                mask = ready;
                return ComWaitResult::Event;
            }
            room = queue_.size() - size_;
            if (heldCheckArmed_) {
                timeoutMs = ceilMs(heldCheckAt_ - std::chrono::steady_clock::now());
                heldDue = timeoutMs == 0;
                heldCheckArmed_ = !heldDue;
            }
        }
        if (heldDue) {
            checkHeldOutput();
            continue;
        }
        pollfd fds[3] = {{stopFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}, {fd_, static_cast<short>(room ? POLLIN : 0), 0}};
        if (::poll(fds, 3, timeoutMs) < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            return ComWaitResult::Failed;
        }
        if (fds[0].revents)
            return ComWaitResult::Stopped;
        if (fds[1].revents)
            drainWake();
        if (!fds[2].revents)
            continue;
        gate.pass();
        {
            std::lock_guard lock(lock_); // the handler may have emptied the queue meanwhile
            room = std::min(queue_.size() - size_, sizeof buf);
        }
        // The tty is read outside the lock so that the main thread's queue calls never wait for it.
        const ssize_t n = readTty(buf, room, fds[2].revents);
        std::lock_guard lock(lock_);
        if (n < 0) {
            error = static_cast<int>(-n);
            lose(error);
            return ComWaitResult::Failed;
        }
        if (n > 0) {
            pending_ |= enqueue(buf, static_cast<size_t>(n)) | countLineErrors();
            received_.notify_all();
        }
    }
}

int PosixComDevice::purge(bool /*abortTx*/, bool /*abortRx*/, bool clearTx, bool clearRx)
{
    // Transfers are synchronous on the calling thread, so there is never one to abort.
    if (clearTx && tcflush(fd_, TCOFLUSH) != 0 && errno != ENOTTY)
        return errno;
    if (clearRx) {
        if (tcflush(fd_, TCIFLUSH) != 0 && errno != ENOTTY)
            return errno;
        std::lock_guard lock(lock_);
        const bool wasFull = size_ == queue_.size();
        head_ = size_ = 0;
        above80_ = false;
        if (wasFull)
            wake();
    }
    return 0;
}

int PosixComDevice::clearCommError(uint32_t& errors, int32_t& inQueue)
{
    std::lock_guard lock(lock_);
    if (!mask_)
        receiveOnDemand();
    if (lost_ && size_ == 0)
        return lost_;
    errors = errors_;
    errors_ = 0;
    inQueue = static_cast<int32_t>(size_);
    return 0;
}

int PosixComDevice::write(const char* data, int32_t count, int32_t& written)
{
    written = 0;
    uint64_t totalMs;
    bool outX;
    {
        std::lock_guard lock(lock_);
        totalMs =
            uint64_t{timeouts_.writeTotalMultiplier} * static_cast<uint64_t>(count) + timeouts_.writeTotalConstant;
        outX = outX_;
    }
    const Deadline deadline(totalMs);
    auto stalledSince = std::chrono::steady_clock::now();
    while (written < count) {
        const ssize_t n = ::write(fd_, data + written, static_cast<size_t>(count - written));
        if (n > 0) {
            written += static_cast<int32_t>(n);
            stalledSince = std::chrono::steady_clock::now();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return errno;
        int left = deadline.pollTimeout();
        if (left == 0)
            break;  // time-out: fewer bytes written, not an error
        if (outX) { // a driver that takes nothing while output is held (a pseudo-terminal)
            const auto stalled = std::chrono::steady_clock::now() - stalledSince;
            if (stalled >= StrayXoffLimit) {
                if (int err = resumeOutput())
                    return err;
                stalledSince = std::chrono::steady_clock::now();
                continue;
            }
            left = std::min(left, std::max(1, ceilMs(StrayXoffLimit - stalled)));
        }
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, left) < 0 && errno != EINTR)
            return errno;
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
            return EIO;
    }
    int queued = 0;
    std::lock_guard lock(lock_);
    // A driver that queues what it cannot send yet (a UART): the event thread looks after the limit.
    if (outX && mask_ && written > 0 && ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0)
        watchHeldOutput(queued);
    if (written == count) {
        pending_ |= ComMask::TxEmpty;
        if (mask_ & ComMask::TxEmpty)
            wake();
    }
    return 0;
}

int PosixComDevice::read(char* data, int32_t count, int32_t& got)
{
    std::unique_lock lock(lock_);
    const bool onDemand = !mask_; // nobody else reads the tty: this call waits for it
    if (onDemand)
        receiveOnDemand();
    const auto wanted = static_cast<size_t>(count);
    size_t taken = takeFromQueue(data, wanted);
    const ComTimeoutSettings t = timeouts_;
    if (t.readInterval != 0xFFFFFFFFu || t.readTotalMultiplier != 0 || t.readTotalConstant != 0) {
        const uint64_t totalMs = uint64_t{t.readTotalMultiplier} * wanted + t.readTotalConstant;
        const Deadline deadline(totalMs);
        // With an all-ones interval any byte completes the read; otherwise it waits for Count bytes.
        const size_t enough = t.readInterval == 0xFFFFFFFFu ? 1 : wanted;
        bool timedOut = false;
        while (taken < enough && !lost_ && !timedOut) {
            if (onDemand) {
                pollfd p{fd_, POLLIN, 0};
                const int left = deadline.pollTimeout();
                if (left == 0 || (::poll(&p, 1, left) < 0 && errno != EINTR))
                    break;
                receiveOnDemand();
            } else if (deadline.infinite()) {
                received_.wait(lock);
            } else {
                timedOut = received_.wait_until(lock, deadline.end()) == std::cv_status::timeout;
            }
            taken += takeFromQueue(data + taken, wanted - taken);
        }
    }
    got = static_cast<int32_t>(taken);
    return taken == 0 && lost_ ? lost_ : 0;
}

// ---- platform -------------------------------------------------------------------------------------

std::unique_ptr<ComDevice> PosixComPlatform::open(const std::string& port, int& error)
{
    const std::string path = PortDevicePath(port);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = errno;
        return nullptr;
    }
    if (!S_ISCHR(st.st_mode)) { // never open a regular file, folder or pipe named in the settings
        error = ENOTTY;
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    auto fail = [&](int err) -> std::unique_ptr<ComDevice> {
        ::close(fd);
        error = err;
        return nullptr;
    };
    if (!isatty(fd))
        return fail(ENOTTY);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return fail(errno == EWOULDBLOCK ? EBUSY : errno); // held by another open
    ioctl(fd, TIOCEXCL);
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return fail(errno);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &t) != 0)
        return fail(errno);
    const int stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd < 0 || wakeFd < 0) {
        const int err = errno;
        if (stopFd >= 0)
            ::close(stopFd);
        if (wakeFd >= 0)
            ::close(wakeFd);
        ioctl(fd, TIOCNXCL);
        return fail(err);
    }
    return std::make_unique<PosixComDevice>(fd, stopFd, wakeFd);
}

ComPlatform& CurrentComPlatform()
{
    static PosixComPlatform posix;
    ComPlatform* installed = installedPlatform.load();
    return installed ? *installed : posix;
}

ComPlatform* SetComPlatform(ComPlatform* platform)
{
    return installedPlatform.exchange(platform);
}

std::string PortDevicePath(const std::string& port)
{
    if (!port.empty() && port.front() == '/')
        return port;
    return "/dev/" + port;
}
