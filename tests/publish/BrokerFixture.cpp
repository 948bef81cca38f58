#include "BrokerFixture.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

bool run(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

} // namespace

bool portAcceptsConnections(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = loopback(port);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

SilentListener::SilentListener()
{
    FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t size = sizeof a;
    if (::bind(FFd, reinterpret_cast<sockaddr*>(&a), size) == 0 && ::listen(FFd, 16) == 0
        && ::getsockname(FFd, reinterpret_cast<sockaddr*>(&a), &size) == 0)
        FPort = ntohs(a.sin_port);
}

SilentListener::~SilentListener()
{
    ::close(FFd);
}

TestBroker::TestBroker(Options options) : FOptions(std::move(options))
{
    const std::string d = FDir.path();
    if (!FOptions.user.empty())
        run("mosquitto_passwd -b -c " + d + "/passwd " + FOptions.user + " " + FOptions.password);
    if (FOptions.tls) {
        const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
        const std::string& name = FOptions.serverName;
        const std::string san = name.empty() ? "IP:127.0.0.1,DNS:localhost" : "DNS:" + name;
        run("(cd " + d + " && openssl req -x509 " + key + "-keyout ca.key -out ca.crt -days 2 -subj /CN=TestCA"
            + " && openssl req -x509 " + key + "-keyout other.key -out other.crt -days 2 -subj /CN=OtherCA"
            + " && openssl req " + key + "-keyout server.key -out server.csr -subj /CN="
            + (name.empty() ? "127.0.0.1" : name) + " && printf 'subjectAltName=" + san + "\\n' > san"
            + " && openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out server.crt"
            + " -days 2 -extfile san) >/dev/null 2>&1");
    }
    FPort = freePort();
}

TestBroker::~TestBroker()
{
    stop();
}

bool TestBroker::start()
{
    const std::string d = FDir.path();
    {
        std::ofstream conf(d + "/mosquitto.conf");
        conf << "listener " << FPort << " 127.0.0.1\n"
             << "persistence true\npersistence_location " << d << "/\n"
             << "log_dest file " << d << "/mosquitto.log\n";
        if (::geteuid() == 0)
            conf << "user root\n"; // keep the rights to the files of this folder
        if (!FOptions.user.empty())
            conf << "allow_anonymous false\npassword_file " << d << "/passwd\n";
        else
            conf << "allow_anonymous true\n";
        if (FOptions.tls)
            conf << "cafile " << d << "/ca.crt\ncertfile " << d << "/server.crt\nkeyfile " << d << "/server.key\n";
    }
    const std::string confFile = d + "/mosquitto.conf";
    const char* argv[] = {"mosquitto", "-c", confFile.c_str(), nullptr};
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, (d + "/stderr.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    const int spawned = ::posix_spawnp(&FPid, "mosquitto", &quiet, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0) {
        FPid = -1;
        return false;
    }
    // Wait for the listener: a broker that died at once (port taken, bad configuration) ends the wait.
    for (int i = 0; i < 500; ++i) {
        if (portAcceptsConnections(FPort))
            return true;
        int status = 0;
        if (::waitpid(FPid, &status, WNOHANG) == FPid) {
            FPid = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void TestBroker::stop()
{
    if (FPid <= 0)
        return;
    // SIGTERM saves retained messages and sessions; a broker that has not ended 5 s later is killed.
    ::kill(FPid, SIGTERM);
    ::kill(FPid, SIGCONT);
    int status = 0;
    for (int i = 0; i < 500 && ::waitpid(FPid, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (::waitpid(FPid, &status, WNOHANG) == 0) {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, &status, 0);
    }
    FPid = -1;
}

void TestBroker::kill()
{
    if (FPid <= 0)
        return;
    ::kill(FPid, SIGKILL);
    int status = 0;
    while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
    }
    FPid = -1;
}

void TestBroker::freeze()
{
    if (FPid > 0)
        ::kill(FPid, SIGSTOP);
}

void TestBroker::thaw()
{
    if (FPid > 0)
        ::kill(FPid, SIGCONT);
}

TestSubscriber::TestSubscriber(int port, const std::string& filter, const std::string& clientId, bool keepSession)
{
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return;
    const std::string portText = std::to_string(port);
    std::vector<const char*> argv{"stdbuf",
                                  "-oL",
                                  "mosquitto_sub",
                                  "-d",
                                  "-h",
                                  "127.0.0.1",
                                  "-p",
                                  portText.c_str(),
                                  "-i",
                                  clientId.c_str(),
                                  "-q",
                                  "1",
                                  "-t",
                                  filter.c_str(),
                                  "-F",
                                  "%r %t %p"};
    if (keepSession)
        argv.push_back("-c");
    argv.push_back(nullptr);
    posix_spawn_file_actions_t io;
    posix_spawn_file_actions_init(&io);
    posix_spawn_file_actions_adddup2(&io, out[1], 1);
    posix_spawn_file_actions_addopen(&io, 2, "/dev/null", O_WRONLY, 0);
    if (::posix_spawnp(&FPid, "stdbuf", &io, nullptr, const_cast<char**>(argv.data()), environ) != 0)
        FPid = -1;
    posix_spawn_file_actions_destroy(&io);
    ::close(out[1]);
    FReader = std::thread([this, fd = out[0]] { readLines(fd); });
}

TestSubscriber::~TestSubscriber()
{
    if (FPid > 0) {
        ::kill(FPid, SIGKILL); // it may miss a SIGTERM that comes while it connects
        int status = 0;
        while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (FReader.joinable())
        FReader.join();
}

// Debug output ("Client <id> received SUBACK", "Subscribed (mid: 1): 1") tells when the subscription
// stands; "<retained> <topic> <payload>" is a message.
void TestSubscriber::readLines(int fd)
{
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            std::lock_guard lock(FMutex);
            if (line.rfind("Client ", 0) == 0) {
                FConnected = FConnected || line.find("received SUBACK") != std::string::npos;
            } else if (line.size() > 2 && line.rfind("Subscribed (", 0) != 0) {
                const size_t space = line.find(' ', 2);
                FMessages.push_back({line.substr(2, space == std::string::npos ? std::string::npos : space - 2),
                                     space == std::string::npos ? std::string() : line.substr(space + 1),
                                     line[0] == '1'});
            }
            FChanged.notify_all();
        }
    }
    ::close(fd);
}

bool TestSubscriber::waitConnected(int timeoutMs)
{
    std::unique_lock lock(FMutex);
    return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return FConnected; });
}
bool TestSubscriber::waitFor(const std::function<bool(const std::vector<TReceived>&)>& done, int timeoutMs)
{
    std::unique_lock lock(FMutex);
    return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return done(FMessages); });
}

std::vector<TReceived> TestSubscriber::messages()
{
    std::lock_guard lock(FMutex);
    return FMessages;
}

std::vector<TReceived> TestSubscriber::on(const std::string& topic)
{
    std::vector<TReceived> result;
    for (const TReceived& m : messages())
        if (m.topic == topic)
            result.push_back(m);
    return result;
}
