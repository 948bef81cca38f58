#pragma once
#include "serial/ComPlatform.h"
#include "serial/ComTypes.h"

#include <chrono>
#include <condition_variable>
#include <linux/serial.h>
#include <mutex>
#include <vector>

// A tty opened with termios. The receive queue (Buffer.InputSize bytes) is kept here. While an event mask
// is set, the event thread fills it inside waitCommEvent, which also produces the driver events: RxChar,
// RxFlag (event character among the new bytes), Rx80Full (queue reaches 80 %), TxEmpty (after a completed
// write) and Err (line errors the driver counts). With no mask (no event thread) the calls that look at
// the queue fill it from the tty on demand, so reads and the queue count see what has arrived either way.
// Only a hang-up or an I/O error of the tty means the device is lost; a wake-up that finds nothing to
// read (another process holding the tty open took the bytes first) is not.
// With XON/XOFF on output, output that an XOFF holds for longer than a short limit (200 ms) is resumed as
// if an XON had come: on a noisy line a stray XOFF would otherwise hold the requests until a stray XON.
// A write that the driver refuses meanwhile (a pseudo-terminal) resumes it itself; bytes that a driver
// queued (a UART) are looked after by the event thread, which resumes output when the queue has not
// shrunk within the limit.
// What termios cannot honour: modem line change events (CTS, DSR, RLSD and ring are never reported; a
// break only where the driver counts it), DSR flow control and DSR sensitivity, TxContinueOnXoff, the
// XON/XOFF limits (the kernel uses its own), the replacement character for parity errors (bytes with
// parity errors arrive as read), and 1.5 stop bits (sent as 2).
class PosixComDevice : public ComDevice {
public:
    PosixComDevice(int fd, int stopFd, int wakeFd);
    ~PosixComDevice() override;

    int setupComm(int32_t inputSize, int32_t outputSize) override;
    int setCommState(const ComLineSettings& settings) override;
    int setCommTimeouts(const ComTimeoutSettings& timeouts) override;
    int setCommMask(uint32_t mask) override;
    ComWaitResult waitCommEvent(uint32_t& mask, int& error, ComWaitGate& gate) override;
    void stop() override;
    int purge(bool abortTx, bool abortRx, bool clearTx, bool clearRx) override;
    int clearCommError(uint32_t& errors, int32_t& inQueue) override;
    int modemStatus(uint32_t& status) override;
    int write(const char* data, int32_t count, int32_t& written) override;
    int read(char* data, int32_t count, int32_t& got) override;

private:
    // Output held by XOFF for longer than this is taken to be held by a stray XOFF (a noise byte) and
    // resumed. A device that asks for a pause sends its XON within milliseconds; noise sends one only by
    // chance.
    static constexpr std::chrono::milliseconds StrayXoffLimit{200};

    void wake();
    void drainWake();
    // One read of the tty after poll reported `revents` for it: the byte count, 0 when there was nothing
    // after all, or minus the errno of a lost device.
    ssize_t readTty(char* buffer, size_t room, short revents);
    // Appends received bytes to the queue; returns the events they raise. Caller holds lock_.
    uint32_t enqueue(const char* data, size_t n);
    size_t append(const char* data, size_t n); // what fits; caller holds lock_
    // Notes the line errors the driver counted since the last call; returns the events they raise.
    uint32_t countLineErrors(); // caller holds lock_
    // Without an event thread: moves what the tty has into the queue. Caller holds lock_.
    void receiveOnDemand();
    // Marks the device lost and wakes blocked reads. Caller holds lock_.
    void lose(int error);
    // Restarts output held by XOFF: IXON off and on again (TCOON restarts only output stopped by TCOOFF).
    int resumeOutput();
    // Event thread: look at the output queue after the limit. Caller holds lock_.
    void watchHeldOutput(int queued);
    void checkHeldOutput();
    size_t takeFromQueue(char* out, size_t n); // caller holds lock_

    int fd_;
    int stopFd_;
    int wakeFd_;
    std::mutex lineLock_; // termios changes of setCommState and resumeOutput
    std::mutex lock_;
    std::condition_variable received_;
    std::vector<char> queue_; // ring buffer of capacity()
    size_t head_ = 0, size_ = 0;
    bool above80_ = false;
    int lost_ = 0;              // errno of a hang-up or I/O failure; reads then fail once the queue is empty
    bool haveCounters_ = false; // the driver counts line errors (real serial ports; not pseudo-terminals)
    serial_icounter_struct counters_{};
    uint32_t mask_ = 0;
    uint32_t pending_ = 0; // events produced but not yet reported
    uint32_t errors_ = 0;  // driver error flags, cleared by clearCommError
    bool discardNull_ = false;
    char evtChar_ = 0;
    bool outX_ = false;           // XON/XOFF on output
    bool heldCheckArmed_ = false; // the event thread looks at the output queue at heldCheckAt_
    std::chrono::steady_clock::time_point heldCheckAt_{};
    int heldQueued_ = 0; // bytes queued when the check was armed
    ComTimeoutSettings timeouts_;
};

class PosixComPlatform : public ComPlatform {
public:
    std::unique_ptr<ComDevice> open(const std::string& port, int& error) override;
};
