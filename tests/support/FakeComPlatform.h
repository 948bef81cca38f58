#pragma once
#include "serial/ComPlatform.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

// A platform whose devices record every driver call ("setupComm", "setCommState", ...) and can be told
// to fail a call with an errno. waitCommEvent blocks until stop() or until the test posts an event mask.
class FakeComPlatform : public ComPlatform {
public:
    struct Shared {
        std::mutex lock;
        std::condition_variable changed;
        std::vector<std::string> calls;
        std::vector<ComLineSettings> lineSettings;
        std::string failCall; // name of the call to fail
        int failErrno = 0;
        int openErrno = 0; // non-zero: open fails with it
        uint32_t postedMask = 0;
        uint32_t errors = 0;
        int32_t inQueue = 0;
        uint32_t modem = 0;
        bool stopped = false;
        int opens = 0;
    };

    std::unique_ptr<ComDevice> open(const std::string& port, int& error) override
    {
        std::lock_guard l(s.lock);
        s.calls.push_back("open:" + port);
        if (s.openErrno) {
            error = s.openErrno;
            return nullptr;
        }
        ++s.opens;
        s.stopped = false;
        return std::make_unique<Device>(s);
    }

    void post(uint32_t mask)
    {
        std::lock_guard l(s.lock);
        s.postedMask |= mask;
        s.changed.notify_all();
    }
    // Waits until the event thread has taken what was posted (it hands the events over next).
    bool waitTaken(int timeoutMs = 5000)
    {
        std::unique_lock l(s.lock);
        return s.changed.wait_for(l, std::chrono::milliseconds(timeoutMs), [&] { return s.postedMask == 0; });
    }
    std::vector<std::string> calls()
    {
        std::lock_guard l(s.lock);
        return s.calls;
    }
    void clearCalls()
    {
        std::lock_guard l(s.lock);
        s.calls.clear();
        s.lineSettings.clear();
    }

    Shared s;

private:
    class Device : public ComDevice {
    public:
        explicit Device(Shared& s) : s_(s) {}
        int setupComm(int32_t in, int32_t out) override
        {
            return call("setupComm:" + std::to_string(in) + "/" + std::to_string(out), "setupComm");
        }
        int setCommState(const ComLineSettings& settings) override
        {
            std::lock_guard l(s_.lock);
            s_.lineSettings.push_back(settings);
            return record("setCommState", "setCommState");
        }
        int setCommTimeouts(const ComTimeoutSettings&) override { return call("setCommTimeouts", "setCommTimeouts"); }
        int setCommMask(uint32_t mask) override { return call("setCommMask:" + std::to_string(mask), "setCommMask"); }
        ComWaitResult waitCommEvent(uint32_t& mask, int&, ComWaitGate& gate) override
        {
            gate.pass();
            std::unique_lock l(s_.lock);
            s_.changed.wait(l, [&] { return s_.stopped || s_.postedMask != 0; });
            if (s_.stopped)
                return ComWaitResult::Stopped;
            mask = s_.postedMask;
            s_.postedMask = 0;
            s_.changed.notify_all();
            return ComWaitResult::Event;
        }
        void stop() override
        {
            std::lock_guard l(s_.lock);
            s_.stopped = true;
            s_.changed.notify_all();
        }
        int purge(bool abortTx, bool abortRx, bool clearTx, bool clearRx) override
        {
            return call("purge:" + std::to_string(abortTx) + std::to_string(abortRx) + std::to_string(clearTx)
                            + std::to_string(clearRx),
                        "purge");
        }
        int clearCommError(uint32_t& errors, int32_t& inQueue) override
        {
            std::lock_guard l(s_.lock);
            errors = s_.errors;
            s_.errors = 0;
            inQueue = s_.inQueue;
            return record("clearCommError", "clearCommError");
        }
        int modemStatus(uint32_t& status) override
        {
            std::lock_guard l(s_.lock);
            status = s_.modem;
            return record("modemStatus", "modemStatus");
        }
        int write(const char*, int32_t count, int32_t& written) override
        {
            written = count;
            return call("write", "write");
        }
        int read(char*, int32_t, int32_t& got) override
        {
            got = 0;
            return call("read", "read");
        }

    private:
        int call(const std::string& entry, const std::string& name)
        {
            std::lock_guard l(s_.lock);
            return record(entry, name);
        }
        int record(const std::string& entry, const std::string& name)
        {
            s_.calls.push_back(entry);
            return s_.failCall == name ? s_.failErrno : 0;
        }
        Shared& s_;
    };
};

// Installs a fake platform for the lifetime of the object.
class ScopedComPlatform {
public:
    explicit ScopedComPlatform(ComPlatform* p) : previous_(SetComPlatform(p)) {}
    ~ScopedComPlatform() { SetComPlatform(previous_); }

private:
    ComPlatform* previous_;
};
