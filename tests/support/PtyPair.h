#pragma once
#include <string>

// A pseudo-terminal pair in raw mode: the test holds the master side, the code under test opens slavePath().
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }

    // Writes all bytes to the master side (the far end of the line).
    void write(const std::string& bytes);
    // Reads what arrives on the master side until `expected` bytes came or `timeoutMs` passed.
    std::string read(size_t expected, int timeoutMs = 2000);
    // Reads whatever is available within timeoutMs (returns early once nothing more arrives for 50 ms).
    std::string readAvailable(int timeoutMs = 200);
    // Sends XOFF and returns once the slave's output is held by it (XON/XOFF flow control on); false when
    // that did not happen within timeoutMs.
    bool holdOutputByXoff(int timeoutMs = 2000);
    // Closes the master side: the slave sees a hang-up, as when a device is unplugged.
    void closeMaster();

private:
    int master_ = -1;
    int keepSlave_ = -1; // keeps the slave side from hanging up until the test opens it
    std::string slavePath_;
};
