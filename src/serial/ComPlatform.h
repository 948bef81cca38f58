#pragma once
#include <cstdint>
#include <memory>
#include <string>

// The driver-level operations the port component needs from the system. One open device is one ComDevice.
// The real implementation (PosixComPlatform) works on a tty with termios and keeps the receive queue itself;
// tests replace it to count calls or fail them with a chosen errno. Every int result is 0 or an errno value.

struct ComLineSettings {      // what the port pushes with SetCommState
    int32_t baudRate = 9600;  // bits per second
    uint8_t byteSize = 8;     // 5..8
    uint8_t parity = 0;       // 0..4: none, odd, even, mark, space
    uint8_t stopBits = 0;     // 0: 1, 1: 1.5, 2: 2
    bool parityCheck = false; // fParity
    bool outxCtsFlow = false;
    bool outxDsrFlow = false;
    uint8_t dtrControl = 0; // 0 off, 1 on, 2 handshake
    bool dsrSensitivity = false;
    bool txContinueOnXoff = false;
    bool outX = false;      // XON/XOFF on output
    bool inX = false;       // XON/XOFF on input
    bool errorChar = false; // replace bytes with parity errors
    bool discardNull = false;
    uint8_t rtsControl = 0; // 0 off, 1 on, 2 handshake, 3 toggle
    uint16_t xonLim = 0;
    uint16_t xoffLim = 0;
    char xonChar = 17;
    char xoffChar = 19;
    char errorCharValue = 0;
    char evtChar = 0;
};

struct ComTimeoutSettings { // SetCommTimeouts, all-ones for -1
    uint32_t readInterval = 0xFFFFFFFFu;
    uint32_t readTotalMultiplier = 0;
    uint32_t readTotalConstant = 0;
    uint32_t writeTotalMultiplier = 100;
    uint32_t writeTotalConstant = 1000;
};

enum class ComWaitResult { Event, Stopped, Failed };

// Passed by waitCommEvent before it takes anything from the device: the event thread blocks there while
// the report it handed over last is still being handled, so a wait may start early but never consumes.
class ComWaitGate {
public:
    virtual void pass() = 0;

protected:
    ~ComWaitGate() = default;
};

class ComDevice {
public:
    virtual ~ComDevice() = default;
    virtual int setupComm(int32_t inputSize, int32_t outputSize) = 0;
    virtual int setCommState(const ComLineSettings& settings) = 0;
    virtual int setCommTimeouts(const ComTimeoutSettings& timeouts) = 0;
    virtual int setCommMask(uint32_t mask) = 0;
    // Blocks until an event of the mask is reported (mask written), stop() is called, or the device fails.
    virtual ComWaitResult waitCommEvent(uint32_t& mask, int& error, ComWaitGate& gate) = 0;
    // Makes a pending or the next waitCommEvent return Stopped. Callable from any thread.
    virtual void stop() = 0;
    virtual int purge(bool abortTx, bool abortRx, bool clearTx, bool clearRx) = 0;
    virtual int clearCommError(uint32_t& errors, int32_t& inQueue) = 0;
    virtual int modemStatus(uint32_t& status) = 0;
    virtual int write(const char* data, int32_t count, int32_t& written) = 0;
    virtual int read(char* data, int32_t count, int32_t& got) = 0;
};

class ComPlatform {
public:
    virtual ~ComPlatform() = default;
    // Opens the device for a port name; on failure returns null and sets error.
    virtual std::unique_ptr<ComDevice> open(const std::string& port, int& error) = 0;
};

// The platform used by new ports (the POSIX one unless a test installed another).
ComPlatform& CurrentComPlatform();
// Installs a platform for new ports; null restores the POSIX one. Returns the previous one.
ComPlatform* SetComPlatform(ComPlatform* platform);

// A port name as a device path: an absolute path as it stands, anything else under /dev.
std::string PortDevicePath(const std::string& port);
