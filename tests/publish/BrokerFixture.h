#pragma once
#include "support/FreePort.h"
#include "support/TempDir.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

// A mosquitto broker of the test's own on 127.0.0.1, on a free port, with a generated configuration and
// its persistence in a temporary folder. Stopped (and its files removed) with the object.
class TestBroker {
public:
    struct Options {
        std::string user, password;  // both set: no anonymous clients
        bool tls = false;            // the listener speaks TLS with certificates made by makeCertificates()
        std::string serverName = {}; // the only name of the server certificate; empty: 127.0.0.1 and localhost
    };
    explicit TestBroker(Options options);
    TestBroker() : TestBroker(Options{}) {}
    ~TestBroker();

    bool start();  // false when it did not come up within seconds
    void stop();   // SIGTERM, waits for the exit (retained messages and sessions are saved)
    void kill();   // SIGKILL: connections drop at once, nothing is saved
    void freeze(); // SIGSTOP: connections stay open and nothing is answered, until thaw()
    void thaw();
    int port() const { return FPort; }
    // CA and server certificate (for 127.0.0.1, or serverName), and a second CA that did not sign it.
    std::string caFile() const { return FDir.file("ca.crt"); }
    std::string otherCaFile() const { return FDir.file("other.crt"); }
    std::string serverKeyFile() const { return FDir.file("server.key"); }

private:
    Options FOptions;
    TempDir FDir;
    int FPort = 0;
    pid_t FPid = -1;
};

// Whether something accepts TCP connections on 127.0.0.1:port.
bool portAcceptsConnections(int port);

// A listening socket on 127.0.0.1 that accepts connections (the kernel completes them) and never answers.
class SilentListener {
public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    int port() const { return FPort; }

private:
    int FFd = -1;
    int FPort = 0;
};

// One message as a subscriber received it.
struct TReceived {
    std::string topic;
    std::string payload;
    bool retained;
};

// A subscriber (QoS 1): mosquitto_sub in a process of its own, which reconnects by itself. With
// keepSession the broker keeps its subscription, so that it also gets what was published while it was
// reconnecting after a broker restart.
class TestSubscriber {
public:
    TestSubscriber(int port, const std::string& filter, const std::string& clientId = "test-subscriber",
                   bool keepSession = true);
    ~TestSubscriber();
    bool waitConnected(int timeoutMs = 10000);
    // Waits until `done` holds for the messages so far (checked at each arrival), at most timeoutMs.
    bool waitFor(const std::function<bool(const std::vector<TReceived>&)>& done, int timeoutMs = 10000);
    std::vector<TReceived> messages();
    // The messages on one topic, in order of arrival.
    std::vector<TReceived> on(const std::string& topic);

private:
    void readLines(int fd);

    pid_t FPid = -1;
    std::thread FReader;
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::vector<TReceived> FMessages;
    bool FConnected = false;
};
