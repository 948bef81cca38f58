#include "tools/SensorSimulator.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace {
constexpr size_t MaxCommandLength = 64;
constexpr size_t MaxQueuedOutput = 4096;            // do not produce more while this much waits for the line
constexpr double WireBytesPerSecond = 57600 / 10.0; // 8N1: ten bits a byte
constexpr auto PeerRetry = std::chrono::milliseconds(200);
} // namespace

SensorSimulator::SensorSimulator(int fd, SimulatorOptions options)
    : fd_(fd), options_(std::move(options)), formatter_(options_.seed, options_.firmware)
{
    formatter_.setRamp(options_.ramp);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0)
        throw std::runtime_error("cannot create the wake-up pipe");
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    if (!options_.startCommand.empty()) {
        mode_ = options_.startCommand;
        nextDue_ = Clock::now();
    }
}

SensorSimulator::~SensorSimulator()
{
    stop();
    if (thread_.joinable())
        thread_.join();
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

void SensorSimulator::start()
{
    thread_ = std::thread([this] { run(); });
}

void SensorSimulator::wake(char what)
{
    (void)!::write(wakeWrite_, &what, 1);
}

void SensorSimulator::stop()
{
    stopRequested_.store(true);
    wake('q');
}

void SensorSimulator::toggleSilence()
{
    wake('t');
}

void SensorSimulator::setSilent(bool silent)
{
    silent_.store(silent);
    wake('w');
}

void SensorSimulator::inject(const std::string& line)
{
    injectRaw("\n" + line + "\r");
}

void SensorSimulator::injectRaw(const std::string& bytes)
{
    {
        std::lock_guard lock(mutex_);
        injected_.push_back(bytes);
    }
    wake('i');
}

std::vector<std::string> SensorSimulator::commands() const
{
    std::lock_guard lock(mutex_);
    return commands_;
}

bool SensorSimulator::streams() const
{
    return options_.fullRate || options_.linesPerSecond > 0;
}

SensorSimulator::Clock::duration SensorSimulator::period(size_t lineBytes) const
{
    if (options_.fullRate)
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(lineBytes) / WireBytesPerSecond));
    if (options_.linesPerSecond <= 0)
        return Clock::duration::zero(); // replies only: see streams()
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / options_.linesPerSecond));
}

void SensorSimulator::run()
{
    while (!stopRequested_.load()) {
        const auto now = Clock::now();
        if (silent_.load()) {
            wasSilent_ = true;
        } else if (wasSilent_) { // speaking again: go on at the set rate rather than catching up
            wasSilent_ = false;
            nextDue_ = now;
        }
        const bool streaming = streams() && !mode_.empty() && !silent_.load();
        if (streaming && output_.size() < MaxQueuedOutput && now >= nextDue_) {
            streamNext();
            continue;
        }
        pollfd fds[2] = {{wakeRead_, POLLIN, 0}, {fd_, 0, 0}};
        const bool peerUp = now >= peerRetry_;
        if (peerUp)
            fds[1].events = static_cast<short>(POLLIN | (output_.empty() ? 0 : POLLOUT));
        int timeoutMs = -1;
        if (!peerUp)
            timeoutMs = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(peerRetry_ - now).count());
        else if (streaming && output_.size() < MaxQueuedOutput)
            timeoutMs = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(nextDue_ - now).count());
        const int n = ::poll(fds, peerUp ? 2 : 1, timeoutMs);
        if (n < 0 && errno != EINTR)
            break;
        if (n <= 0)
            continue;
        if (fds[0].revents & POLLIN)
            handleWake();
        if (!peerUp)
            continue;
        if (fds[1].revents & POLLIN)
            handleInput();
        if (fds[1].revents & POLLOUT)
            flushOutput();
        if ((fds[1].revents & (POLLHUP | POLLERR)) && !(fds[1].revents & POLLIN))
            peerRetry_ = Clock::now() + PeerRetry; // nobody on the far end yet: do not spin on the hang-up
    }
}

void SensorSimulator::handleWake()
{
    char buf[64];
    ssize_t n;
    while ((n = ::read(wakeRead_, buf, sizeof buf)) > 0) {
        for (ssize_t k = 0; k < n; ++k) {
            if (buf[k] == 't')
                silent_.store(!silent_.load());
        }
    }
    std::deque<std::string> injected;
    {
        std::lock_guard lock(mutex_);
        injected.swap(injected_);
    }
    for (const auto& bytes : injected)
        output_ += bytes;
    if (!output_.empty())
        flushOutput();
}

void SensorSimulator::handleInput()
{
    char buf[256];
    for (;;) {
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n <= 0) {
            if (n == 0 || (errno != EAGAIN && errno != EINTR))
                peerRetry_ = Clock::now() + PeerRetry;
            return;
        }
        for (ssize_t k = 0; k < n; ++k) {
            const char c = buf[k];
            if (c == 17 || c == 19) // XON/XOFF from the far end's flow control
                continue;
            if (c == '\r' || c == '\n') {
                if (!input_.empty())
                    handleCommand(input_);
                input_.clear();
            } else if (input_.size() < MaxCommandLength) {
                input_ += c;
            }
        }
    }
}

void SensorSimulator::handleCommand(const std::string& command)
{
    {
        std::lock_guard lock(mutex_);
        commands_.push_back(command);
    }
    if (options_.onCommand)
        options_.onCommand(command);
    const bool concentration = command == "N";
    const bool channel = command.size() == 2 && command[0] == 'N' && command[1] >= '1' && command[1] <= '5';
    if (!concentration && !channel)
        return;
    mode_ = command;
    if (silent_.load())
        return;
    stepValues();
    sendLine(modeLine());
    nextDue_ = Clock::now() + lastPeriod_;
}

std::string SensorSimulator::modeLine()
{
    return mode_ == "N" ? formatter_.concentrationLine() : formatter_.channelLine(mode_[1] - '0');
}

void SensorSimulator::stepValues()
{
    formatter_.step();
    formatter_.applyRamp(std::chrono::duration<double>(Clock::now() - started_).count());
}

void SensorSimulator::streamNext()
{
    ++streamed_;
    stepValues();
    const auto every = [this](int n) { return n > 0 && streamed_ % static_cast<uint64_t>(n) == 0; };
    if (every(options_.garbageEvery))
        output_ += formatter_.garbage(options_.garbageBytes);
    if (every(options_.noiseEvery))
        noise_ = formatter_.noise(options_.noiseBytes);
    if (every(options_.malformedEvery))
        sendLine(formatter_.malformedLine());
    else if (every(options_.interleaveEvery) && !options_.interleaveKinds.empty())
        sendLine(formatter_.otherLine(options_.interleaveKinds[interleaveIndex_++ % options_.interleaveKinds.size()]));
    else
        sendLine(modeLine());
    const auto now = Clock::now();
    nextDue_ += lastPeriod_;
    if (nextDue_ < now - std::chrono::seconds(1))
        nextDue_ = now;
}

void SensorSimulator::sendLine(const std::string& line)
{
    if (silent_.load())
        return;
    output_ += '\n';
    output_ += noise_; // inside the frame, after its LF
    noise_.clear();
    output_ += line;
    output_ += '\r';
    lastPeriod_ = period(line.size() + 2);
    const uint64_t sent = linesSent_.fetch_add(1) + 1;
    if (!silentAfterDone_ && options_.silentAfter >= 0 && sent >= static_cast<uint64_t>(options_.silentAfter)) {
        silentAfterDone_ = true;
        silent_.store(true);
    }
    flushOutput();
}

void SensorSimulator::flushOutput()
{
    while (!output_.empty()) {
        const ssize_t n = ::write(fd_, output_.data(), output_.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN)
                peerRetry_ = Clock::now() + PeerRetry;
            return;
        }
        output_.erase(0, static_cast<size_t>(n));
    }
}
