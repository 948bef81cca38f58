#pragma once
#include "tools/SensorLineFormatter.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct SimulatorOptions {
    double linesPerSecond = 8;   // lines of the last requested kind sent per second after a request
    bool fullRate = false;       // send lines back to back at the wire rate of 57600 8N1 (5760 bytes/s)
    int64_t silentAfter = -1;    // go silent after this many lines (-1: never)
    std::string interleaveKinds; // other kinds mixed into the stream, e.g. "CEODXUARS"
    int interleaveEvery = 0;     // every N-th line of the stream is of another kind (0: none)
    int malformedEvery = 0;      // every N-th line of the stream is malformed (0: none)
    int garbageEvery = 0;        // a burst of garbage before every N-th line of the stream (0: none)
    int garbageBytes = 64;
    int noiseEvery = 0; // a burst of noise (any byte value) inside every N-th line, after its LF (0: none)
    int noiseBytes = 40;
    std::string firmware = "1.7"; // version carried by X lines; decides the channel and U line formats
    uint32_t seed = 1;
    SensorRamp ramp;          // a quantity moved through a range (none when its quantity is empty)
    std::string startCommand; // "", "N" or "N1".."N5": stream as if this had been requested
    std::function<void(const std::string&)> onCommand; // told each command received (simulator thread)
};

// The sensor's side of the line: reads commands from a file descriptor (a PTY master or a serial
// device) and writes replies framed LF ... CR. "N" is answered with concentration lines, "N1".."N5"
// with channel lines of that channel; after a request lines of that kind keep coming at the set rate.
class SensorSimulator {
public:
    // The descriptor stays the caller's; it is switched to non-blocking mode.
    explicit SensorSimulator(int fd, SimulatorOptions options = {});
    ~SensorSimulator(); // stops and joins the thread of start()
    SensorSimulator(const SensorSimulator&) = delete;
    SensorSimulator& operator=(const SensorSimulator&) = delete;

    // Serves until stop().
    void run();
    // Runs run() on a thread of its own.
    void start();
    // Both callable from any thread and from a signal handler.
    void stop();
    void toggleSilence();

    void setSilent(bool silent);
    bool silent() const { return silent_.load(); }
    // Sends a framed line (or raw bytes) as soon as possible, also while silent.
    void inject(const std::string& line);
    void injectRaw(const std::string& bytes);

    // Commands received, in order, without their terminators.
    std::vector<std::string> commands() const;
    uint64_t linesSent() const { return linesSent_.load(); }

private:
    using Clock = std::chrono::steady_clock;
    void wake(char what);
    void handleWake();
    void handleInput();
    void handleCommand(const std::string& command);
    void sendLine(const std::string& line);
    void streamNext();
    void stepValues();
    std::string modeLine();
    void flushOutput();
    bool streams() const;
    Clock::duration period(size_t lineBytes) const;

    int fd_;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    SimulatorOptions options_;
    SensorLineFormatter formatter_;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> silent_{false};
    std::atomic<uint64_t> linesSent_{0};
    bool silentAfterDone_ = false;
    bool wasSilent_ = false;

    mutable std::mutex mutex_; // guards commands_ and injected_
    std::vector<std::string> commands_;
    std::deque<std::string> injected_;

    std::string input_;
    std::string output_;
    std::string noise_;                        // the burst that goes into the next line sent
    std::string mode_;                         // last valid command: "N" or "N1".."N5"
    Clock::time_point started_ = Clock::now(); // the ramp's start
    Clock::time_point nextDue_{};
    Clock::duration lastPeriod_{};
    uint64_t streamed_ = 0;
    size_t interleaveIndex_ = 0;
    Clock::time_point peerRetry_{}; // the far end hung up: look again from then on
};
