#include "BrokerFixture.h"
#include "publish/ConnectionTest.h"
#include "publish/PublishPayloads.h"
#include "publish/PublishSpool.h"
#include "publish/Publisher.h"
#include "support/EventLoopHelper.h"
#include "support/TempDir.h"

#include <clocale>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono;

const system_clock::time_point T0 = system_clock::time_point(seconds(1796852400)); // 2026-12-09 21:40:00 UTC

TPublishSettings settingsFor(int port, const std::string& prefix = "lab")
{
    TPublishSettings s;
    s.Enabled = true;
    s.Host = "127.0.0.1";
    s.Port = port;
    s.ClientId = prefix + "-ttyUSB0";
    s.TopicPrefix = prefix;
    return s;
}

// Short waits, so that failures show within seconds.
TPublishLimits quick()
{
    TPublishLimits l;
    l.connectTimeoutSeconds = 1;
    l.maxRetrySeconds = 1;
    return l;
}

TChannelsModeStructure channels(int sample)
{
    return {3, sample, 49876, 120, false, 0.0123, 24, 101.3};
}

// The value of "sample" and the time of each reading JSON, in order of arrival.
std::vector<std::pair<int, std::string>> samples(const std::vector<TReceived>& readings)
{
    std::vector<std::pair<int, std::string>> out;
    for (const TReceived& r : readings) {
        const size_t at = r.payload.find("\"sample\":");
        const size_t time = r.payload.find("\"time\":\"");
        if (at != std::string::npos && time != std::string::npos)
            out.emplace_back(std::stoi(r.payload.substr(at + 9)), r.payload.substr(time + 8, 24));
    }
    return out;
}

std::string isoTime(system_clock::time_point t)
{
    std::string s;
    AppendIsoTime(s, t);
    return s;
}

bool hasPayload(const std::vector<TReceived>& messages, const std::string& topic, const std::string& payload)
{
    for (const TReceived& m : messages)
        if (m.topic == topic && m.payload == payload)
            return true;
    return false;
}

// The retained message a new subscriber gets on `topic` ("" when none).
std::string retainedOn(int port, const std::string& topic)
{
    TestSubscriber late(port, topic, "late-subscriber", false);
    if (!late.waitConnected() || !late.waitFor([](const auto& m) { return !m.empty(); }, 3000))
        return {};
    const TReceived first = late.messages().front();
    return first.retained ? first.payload : "(not retained) " + first.payload;
}

} // namespace

TEST(PublisherBroker, BothModesStatusAndDiscoveryUnderADecimalCommaLocale)
{
    const std::string oldLocale = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    TestBroker broker;
    ASSERT_TRUE(broker.start());
    TestSubscriber sub(broker.port(), "#");
    ASSERT_TRUE(sub.waitConnected());

    TPublishSettings s = settingsFor(broker.port());
    s.HomeAssistant = true;
    TPublisher publisher;
    ASSERT_TRUE(publisher.start(s, "ttyUSB0", quick())) << publisher.error();
    ASSERT_TRUE(runEventsUntil([&] { return publisher.state() == TPublisher::State::Connected; }));
    EXPECT_EQ(publisher.statusText().toStdString(), "Publishing to 127.0.0.1:" + std::to_string(broker.port()));

    publisher.publish(channels(51234), T0 + milliseconds(42));
    ASSERT_TRUE(sub.waitFor([](const auto& m) { return hasPayload(m, "lab/pressure", "101.3"); }));
    publisher.publish(TConcentrationModeStructure{0.0101, 0.0102, 0.0099, 0.01, 0.0098, 21, 1013.25, 45},
                      T0 + seconds(1));
    ASSERT_TRUE(sub.waitFor([](const auto& m) { return hasPayload(m, "lab/humidity", "45"); }));

    const auto all = sub.messages();
    for (const auto& [topic, payload] :
         std::vector<std::pair<std::string, std::string>>{{"lab/status", "online"},
                                                          {"lab/channel", "3"},
                                                          {"lab/sample", "51234"},
                                                          {"lab/voltage_pwm", "120"},
                                                          {"lab/concentration", "0.0123"},
                                                          {"lab/temperature", "24"},
                                                          {"lab/sample_conc_1", "0.0101"},
                                                          {"lab/ostrel_conc_1", "0.01"},
                                                          {"lab/temperature", "21"},
                                                          {"lab/pressure", "1013.25"},
                                                          {"homeassistant/sensor/lab-ttyUSB0/sample", ""}})
        EXPECT_EQ(
            hasPayload(all, topic == "homeassistant/sensor/lab-ttyUSB0/sample" ? topic + "/config" : topic, payload),
            true)
            << topic << " " << payload;
    const auto readings = sub.on("lab/reading");
    ASSERT_EQ(readings.size(), 2u);
    EXPECT_EQ(readings[0].payload, R"({"time":"2026-12-09T21:40:00.042Z","mode":"channels","channel":3,"sample":51234,)"
                                   R"("reference":49876,"voltage_pwm":120,"concentration":0.0123,"temperature":24,)"
                                   R"("pressure":101.3})");
    EXPECT_EQ(readings[1].payload,
              R"({"time":"2026-12-09T21:40:01.000Z","mode":"concentration","sample_conc_1":0.0101,)"
              R"("sample_conc_2":0.0102,"sample_conc_3":0.0099,"ostrel_conc_1":0.01,)"
              R"("ostrel_conc_2":0.0098,"temperature":21,"pressure":1013.25,"humidity":45})");
    // Discovery follows the mode: the Channels-only quantities are removed, the new ones announced.
    EXPECT_TRUE(hasPayload(all, "homeassistant/sensor/lab-ttyUSB0/voltage_pwm/config", ""));
    EXPECT_EQ(retainedOn(broker.port(), "homeassistant/sensor/lab-ttyUSB0/humidity/config"),
              DiscoveryConfig("lab-ttyUSB0", "lab", "humidity"));
    EXPECT_EQ(retainedOn(broker.port(), "lab/status"), "online");

    publisher.setOutage(true);
    ASSERT_TRUE(sub.waitFor([](const auto& m) { return hasPayload(m, "lab/status", "timeout"); }));
    EXPECT_EQ(retainedOn(broker.port(), "lab/status"), "timeout");
    publisher.setOutage(false);
    ASSERT_TRUE(
        sub.waitFor([](const auto& m) { return m.back().topic == "lab/status" && m.back().payload == "online"; }));
    int stopped = 0;
    QObject::connect(&publisher, &TPublisher::stopped, [&] { ++stopped; });
    publisher.stop();
    ASSERT_TRUE(runEventsUntil([&] { return stopped == 1; }));
    EXPECT_EQ(retainedOn(broker.port(), "lab/status"), "offline");
    EXPECT_EQ(publisher.state(), TPublisher::State::Off);
    std::setlocale(LC_ALL, oldLocale.c_str());
}

TEST(PublisherBroker, LastWillSetsOfflineWhenThePublisherIsKilled)
{
    TestBroker broker;
    ASSERT_TRUE(broker.start());
    TestSubscriber sub(broker.port(), "will/status");
    ASSERT_TRUE(sub.waitConnected());
    const std::string port = std::to_string(broker.port());
    const char* argv[] = {PUBLISH_HELPER, port.c_str(), "will", nullptr};
    pid_t pid = -1;
    ASSERT_EQ(::posix_spawn(&pid, PUBLISH_HELPER, nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    const bool online = sub.waitFor([](const auto& m) { return hasPayload(m, "will/status", "online"); });
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(online);
    ASSERT_TRUE(sub.waitFor([](const auto& m) { return hasPayload(m, "will/status", "offline"); }));
    EXPECT_EQ(retainedOn(broker.port(), "will/status"), "offline");
}

// A publisher or a connection test destroyed while the library still calls back (acknowledgements of a
// burst, the connection lost to a killed broker, failures of what was queued) ends cleanly: no callback
// reaches it once its client is gone (ThreadSanitizer checks the order).
TEST(PublisherBroker, DestroyedWhileItsCallbacksFire)
{
    TestBroker broker;
    TPublishLimits limits = quick();
    limits.stopTimeoutMs = 200;
    for (int round = 0; round < 6; ++round) {
        ASSERT_TRUE(broker.start());
        auto publisher = std::make_unique<TPublisher>();
        ASSERT_TRUE(publisher->start(settingsFor(broker.port()), "ttyUSB0", limits));
        ASSERT_TRUE(runEventsUntil([&] { return publisher->state() == TPublisher::State::Connected; }));
        auto connectionTest = std::make_unique<TConnectionTest>();
        if (round == 0) { // one that is let finish says so
            std::vector<std::pair<bool, std::string>> results;
            QObject::connect(connectionTest.get(), &TConnectionTest::finished,
                             [&](bool ok, const QString& text) { results.emplace_back(ok, text.toStdString()); });
            connectionTest->start(settingsFor(broker.port()), "ttyUSB0");
            ASSERT_TRUE(runEventsUntil([&] { return !results.empty(); }, 15000));
            EXPECT_EQ(results, (std::vector<std::pair<bool, std::string>>{
                                   {true, "Connected to 127.0.0.1:" + std::to_string(broker.port())}}));
        }
        connectionTest->start(settingsFor(broker.port()), "ttyUSB0", 1);
        for (int i = 0; i < 300; ++i)
            publisher->publish(channels(i), T0 + milliseconds(i));
        if (round % 2 == 0)
            broker.kill(); // else the acknowledgements come in while it stops
        connectionTest.reset();
        publisher.reset();
        broker.stop();
    }
}

// retire() returns at once whatever the broker does; the publisher ends on its own thread ("offline"
// when connected), and waitForRetired() waits for it, never past its bound.
TEST(PublisherBroker, RetiredPublishersEndInTheBackground)
{
    const auto timed = [](const auto& call) {
        const auto before = steady_clock::now();
        call();
        return steady_clock::now() - before;
    };
    // Connecting to a broker that never answers: it ends without waiting for the connection's time-out.
    const SilentListener silent;
    TPublishLimits limits = quick();
    limits.connectTimeoutSeconds = 30;
    auto connecting = std::make_unique<TPublisher>();
    ASSERT_TRUE(connecting->start(settingsFor(silent.port()), "ttyUSB0", limits));
    runEventsFor(200);
    EXPECT_LT(timed([&] { TPublisher::retire(std::move(connecting)); }), seconds(1));
    bool ended = false;
    EXPECT_LT(timed([&] { ended = TPublisher::waitForRetired(seconds(3)); }), seconds(10));
    EXPECT_TRUE(ended);
    // A connection test to it whose dialog is closed ends without waiting either.
    auto test = std::make_unique<TConnectionTest>();
    test->start(settingsFor(silent.port()), "ttyUSB0", 30);
    runEventsFor(200);
    EXPECT_LT(timed([&] { test.reset(); }), seconds(10));

    // Connected to a broker that stops answering: it waits for "offline" to be acknowledged.
    TestBroker broker;
    ASSERT_TRUE(broker.start());
    TestSubscriber sub(broker.port(), "lab/status");
    ASSERT_TRUE(sub.waitConnected());
    limits.stopTimeoutMs = 30000;
    auto connected = std::make_unique<TPublisher>();
    ASSERT_TRUE(connected->start(settingsFor(broker.port()), "ttyUSB0", limits));
    ASSERT_TRUE(runEventsUntil([&] { return connected->state() == TPublisher::State::Connected; }));
    broker.freeze();
    EXPECT_LT(timed([&] { TPublisher::retire(std::move(connected)); }), seconds(1));
    EXPECT_FALSE(TPublisher::waitForRetired(milliseconds(100)));
    broker.thaw();
    EXPECT_TRUE(TPublisher::waitForRetired(seconds(10)));
    EXPECT_TRUE(sub.waitFor([](const auto& m) { return hasPayload(m, "lab/status", "offline"); }));
}

// A program may end while a retired publisher still waits for its broker: it ends normally.
TEST(PublisherBroker, AProgramEndsWhileARetiredPublisherStillWaits)
{
    TestBroker broker;
    ASSERT_TRUE(broker.start());
    int in[2], out[2];
    ASSERT_EQ(::pipe2(in, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t io;
    posix_spawn_file_actions_init(&io);
    posix_spawn_file_actions_adddup2(&io, in[0], 0);
    posix_spawn_file_actions_adddup2(&io, out[1], 1);
    const std::string port = std::to_string(broker.port());
    const char* argv[] = {PUBLISH_HELPER, port.c_str(), "exit", "retire", nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, PUBLISH_HELPER, &io, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&io);
    ::close(in[0]);
    ::close(out[1]);
    ASSERT_EQ(spawned, 0);
    FILE* said = ::fdopen(out[0], "r");
    char line[64] = {};
    EXPECT_STREQ(std::fgets(line, sizeof line, said), "connected\n");
    broker.freeze();
    EXPECT_EQ(::write(in[1], "\n", 1), 1);
    ::close(in[1]);
    EXPECT_STREQ(std::fgets(line, sizeof line, said), "abandoned\n");
    int status = 0;
    ::waitpid(pid, &status, 0);
    broker.thaw();
    std::fclose(said);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// The broker goes away for about two seconds while readings go on every 50 ms. Every reading arrives, in
// the order taken and with its time. With QoS 1 a reading that was in flight when the broker stopped
// may come twice (resent because its acknowledgement was lost); that is the only duplicate allowed.
TEST(PublisherBroker, ReadingsTakenWhileTheBrokerIsAwayArriveInOrderWithTheirTimes)
{
    TestBroker broker;
    ASSERT_TRUE(broker.start());
    TestSubscriber sub(broker.port(), "lab/reading");
    ASSERT_TRUE(sub.waitConnected());
    TPublisher publisher;
    ASSERT_TRUE(publisher.start(settingsFor(broker.port()), "ttyUSB0", quick()));
    ASSERT_TRUE(runEventsUntil([&] { return publisher.state() == TPublisher::State::Connected; }));

    const int total = 80, stopAt = 10, startAt = 50;
    int lastBeforeStop = -1;
    bool sawWaiting = false;
    for (int i = 0; i < total; ++i) {
        if (i == stopAt) {
            lastBeforeStop = i - 1;
            broker.stop();
        }
        if (i == startAt) {
            sawWaiting = publisher.statusText().contains(" readings waiting");
            ASSERT_TRUE(broker.start());
        }
        publisher.publish(channels(i), T0 + milliseconds(100 * i));
        runEventsFor(50);
    }
    EXPECT_TRUE(sawWaiting) << publisher.statusText().toStdString();
    ASSERT_TRUE(
        sub.waitFor([&](const auto& m) { return !samples(m).empty() && samples(m).back().first == total - 1; }, 20000))
        << sub.messages().size();
    int expected = 0;
    for (const auto& [sample, time] : samples(sub.messages())) {
        if (sample == expected - 1 && sample <= lastBeforeStop)
            continue; // a resent message that was in flight
        ASSERT_EQ(sample, expected);
        EXPECT_EQ(time, isoTime(T0 + milliseconds(100 * sample)));
        ++expected;
    }
    EXPECT_EQ(expected, total);
    EXPECT_EQ(publisher.dropped(), 0u);
    ASSERT_TRUE(runEventsUntil([&] { return publisher.waiting() == 0; }));
}

TEST(PublisherBroker, PastTheBoundTheOldestAreDroppedAndCounted)
{
    TestBroker broker;
    ASSERT_TRUE(broker.start());
    {
        TestSubscriber first(broker.port(), "lab/reading");
        ASSERT_TRUE(first.waitConnected()); // the broker keeps its session from here on
    }
    broker.stop();
    TPublishLimits limits = quick();
    limits.maxWaiting = 5;
    TPublisher publisher;
    ASSERT_TRUE(publisher.start(settingsFor(broker.port()), "ttyUSB0", limits));
    for (int i = 0; i < 8; ++i)
        publisher.publish(channels(i), T0 + seconds(i));
    EXPECT_EQ(publisher.waiting(), 5u);
    EXPECT_EQ(publisher.dropped(), 3u);
    const std::string where = "127.0.0.1:" + std::to_string(broker.port());
    ASSERT_TRUE(runEventsUntil([&] { return publisher.state() == TPublisher::State::Unreachable; }));
    EXPECT_EQ(publisher.statusText().toStdString(),
              "Broker unreachable: connection refused by " + where + "; 5 readings waiting; 3 dropped");

    ASSERT_TRUE(broker.start());
    TestSubscriber sub(broker.port(), "lab/reading");
    ASSERT_TRUE(sub.waitFor([](const auto& m) { return samples(m).size() >= 5; }));
    std::vector<int> got;
    for (const auto& [sample, time] : samples(sub.messages()))
        got.push_back(sample);
    EXPECT_EQ(got, (std::vector<int>{3, 4, 5, 6, 7}));
    ASSERT_TRUE(runEventsUntil([&] { return publisher.state() == TPublisher::State::Connected; }));
    EXPECT_EQ(publisher.statusText().toStdString(), "Publishing to " + where + "; 3 dropped");
}

// Each failure names its cause in the status, and publish() returns at once throughout. TLS failures
// name theirs as well, in the status and in the window's connection test alike.
TEST(PublisherBroker, FailuresGiveClearReasonsAndNeverHoldUpTheCaller)
{
    TestBroker secured({"alice", "s3cret-pw", false});
    TestBroker tls({"", "", true});
    TestBroker elsewhere({"", "", true, "broker.example"}); // a certificate for another host name
    ASSERT_TRUE(secured.start());
    ASSERT_TRUE(tls.start());
    ASSERT_TRUE(elsewhere.start());
    const SilentListener silent;
    const int silentPort = silent.port();
    const int closedPort = freePort();
    const std::string tlsWhere = "127.0.0.1:" + std::to_string(tls.port());
    const std::string plainWhere = "127.0.0.1:" + std::to_string(secured.port());

    struct Case {
        std::string name;
        TPublishSettings settings;
        std::string reason;          // "" for a connection that works
        bool connectionTest = false; // the window's test says the same
    };
    std::vector<Case> cases;
    TPublishSettings s = settingsFor(closedPort);
    s.Host = "no-such-host.invalid";
    cases.push_back({"wrong host", s, "host no-such-host.invalid not found"});
    cases.push_back(
        {"refused", settingsFor(closedPort), "connection refused by 127.0.0.1:" + std::to_string(closedPort)});
    cases.push_back({"silent", settingsFor(silentPort), "no MQTT answer from 127.0.0.1:" + std::to_string(silentPort)});
    s = settingsFor(secured.port());
    s.UserName = "alice";
    s.Password = "wrong";
    cases.push_back({"bad password", s, "not authorised: check the user name and password"});
    s.Password = "s3cret-pw";
    cases.push_back({"good password", s, ""});
    s.Tls = true;
    s.CaFile = tls.caFile();
    cases.push_back(
        {"TLS client on a plain port", s, "TLS: not a TLS port: " + plainWhere + " answers MQTT without TLS", true});
    cases.push_back({"plain client on a TLS port", settingsFor(tls.port()),
                     tlsWhere + " is a TLS port: the connection needs TLS (mqtts://)", true});
    s = settingsFor(tls.port());
    s.Tls = true;
    s.CaFile = tls.otherCaFile();
    cases.push_back({"wrong CA", s, "TLS: the broker's certificate is not trusted (", true});
    s.CaFile = "";
    cases.push_back({"the system's CAs", s, "TLS: the broker's certificate is not trusted (", false});
    s.CaFile = tls.caFile();
    cases.push_back({"right CA", s, ""});
    s = settingsFor(elsewhere.port());
    s.Tls = true;
    s.CaFile = elsewhere.caFile();
    cases.push_back({"another host's certificate", s,
                     "TLS: host name mismatch: the broker's certificate is not for 127.0.0.1 (it is for "
                     "broker.example)",
                     true});

    for (const Case& c : cases) {
        TPublisher publisher;
        ASSERT_TRUE(publisher.start(c.settings, "ttyUSB0", quick())) << c.name;
        auto slowest = nanoseconds(0);
        const auto until = steady_clock::now() + seconds(15);
        while (steady_clock::now() < until) {
            const auto before = steady_clock::now();
            publisher.publish(channels(1), system_clock::now());
            slowest = std::max(slowest, steady_clock::now() - before);
            if (c.reason.empty() ? publisher.state() == TPublisher::State::Connected
                                 : publisher.reason().find(c.reason) != std::string::npos)
                break;
            runEventsFor(20);
        }
        EXPECT_LT(slowest, milliseconds(100)) << c.name; // a blocking call would wait for the network
        if (c.reason.empty()) {
            EXPECT_EQ(publisher.state(), TPublisher::State::Connected) << c.name << ": " << publisher.reason();
        } else {
            EXPECT_EQ(publisher.state(), TPublisher::State::Unreachable) << c.name;
            EXPECT_EQ(publisher.reason().rfind(c.reason, 0), 0u) << c.name << ": " << publisher.reason();
            EXPECT_TRUE(publisher.statusText().startsWith("Broker unreachable: ")) << c.name;
        }
        EXPECT_EQ(publisher.statusText().indexOf("s3cret"), -1);
        if (c.connectionTest) {
            TConnectionTest test;
            std::vector<std::pair<bool, std::string>> results;
            QObject::connect(&test, &TConnectionTest::finished,
                             [&](bool ok, const QString& text) { results.emplace_back(ok, text.toStdString()); });
            test.start(c.settings, "ttyUSB0", 2);
            ASSERT_TRUE(runEventsUntil([&] { return !results.empty(); }, 20000)) << c.name;
            EXPECT_FALSE(results[0].first) << c.name;
            EXPECT_EQ(results[0].second.rfind(c.reason, 0), 0u) << c.name << ": " << results[0].second;
        }
    }

    TPublisher publisher;
    TPublishSettings wildcard = settingsFor(closedPort, "site/+/lab");
    EXPECT_FALSE(publisher.start(wildcard, "ttyUSB0"));
    EXPECT_EQ(publisher.error(), "the topic prefix 'site/+/lab' contains a wildcard (# or +)");
    EXPECT_EQ(publisher.state(), TPublisher::State::Off);
    s = settingsFor(tls.port());
    s.Tls = true;
    s.CaFile = "/nonexistent/ca.crt";
    EXPECT_FALSE(publisher.start(s, "ttyUSB0"));
    EXPECT_EQ(publisher.error(), "the CA file /nonexistent/ca.crt cannot be read (No such file or directory)");

    // A CA file that is not a certificate (a text, the server's private key) is refused at the start, and a
    // connection test that tries it says the same.
    const TempDir dir;
    dir.write("notes.txt", "not a certificate\n");
    for (const std::string& file : {dir.file("notes.txt"), tls.serverKeyFile()}) {
        s.CaFile = file;
        EXPECT_FALSE(publisher.start(s, "ttyUSB0"));
        EXPECT_EQ(publisher.error(), "the CA file " + file + " is not a certificate (PEM)");
        EXPECT_EQ(ConnectFailureText(BrokerEndpoint(s, "lab"), -1, "TCP/TLS connect failure", ""),
                  "TLS: the CA file " + file + " is not a certificate (PEM)");
    }
}

namespace {

TPublishEvent alarmEvent(const char* name, const char* quantity, TPublishEvent::Alarm alarm, double value, double level,
                         system_clock::time_point time)
{
    TPublishEvent e;
    e.time = time;
    TPublishEvent::copyName(e.event, name);
    TPublishEvent::copyName(e.quantity, quantity);
    e.value = value;
    e.level = level;
    e.alarm = alarm;
    return e;
}

// The readings' samples ("R<n>") and the events' names ("E<name>") in order of arrival.
std::vector<std::string> sequence(const std::vector<TReceived>& messages)
{
    std::vector<std::string> out;
    for (const TReceived& m : messages) {
        if (m.topic == "lab/reading")
            out.push_back("R" + std::to_string(samples({m}).front().first));
        else if (m.topic == "lab/event") {
            const size_t at = m.payload.find("\"event\":\"") + 9;
            out.push_back("E" + m.payload.substr(at, m.payload.find('"', at) - at));
        }
    }
    return out;
}

} // namespace

// Alarm states are retained at the publishing QoS, events go out as JSON in order with the readings, also
// those that waited through an outage; new rules start off, and the binary sensors follow the rules.
TEST(PublisherBroker, AlarmStatesAreRetainedAndEventsKeepTheirPlaceAmongTheReadings)
{
    TestBroker broker;
    ASSERT_TRUE(broker.start());
    TestSubscriber sub(broker.port(), "lab/#");
    ASSERT_TRUE(sub.waitConnected());
    TPublishSettings s = settingsFor(broker.port());
    s.HomeAssistant = true;
    s.QoS = 1;
    TPublisher publisher;
    ASSERT_TRUE(publisher.start(s, "ttyUSB0", quick())) << publisher.error();
    ASSERT_TRUE(runEventsUntil([&] { return publisher.state() == TPublisher::State::Connected; }));

    using A = TPublishEvent::Alarm;
    publisher.setAlarms({"concentration", "temperature", "no_reading"});
    publisher.publish(channels(0), T0);
    publisher.publishEvent(alarmEvent("alarm on", "concentration", A::On, 0.0125, 0.01, T0 + milliseconds(1)));
    publisher.publish(channels(1), T0 + seconds(1));
    ASSERT_TRUE(sub.waitFor([](const auto& m) { return sequence(m).size() >= 3; }));
    EXPECT_EQ(sequence(sub.messages()), (std::vector<std::string>{"R0", "Ealarm on", "R1"}));
    EXPECT_EQ(sub.on("lab/event").at(0).payload,
              R"({"time":"2026-12-09T21:40:00.001Z","event":"alarm on","quantity":"concentration",)"
              R"("value":0.0125,"level":0.01})");
    EXPECT_EQ(retainedOn(broker.port(), "lab/alarm/concentration"), "on");
    EXPECT_EQ(retainedOn(broker.port(), "lab/alarm/temperature"), "off");
    EXPECT_EQ(retainedOn(broker.port(), "lab/alarm/no_reading"), "off");
    const std::string config =
        retainedOn(broker.port(), "homeassistant/binary_sensor/lab-ttyUSB0/alarm_concentration/config");
    EXPECT_NE(config.find(R"("device_class":"gas")"), std::string::npos) << config;
    EXPECT_NE(config.find(R"("state_topic":"lab/alarm/concentration")"), std::string::npos) << config;
    EXPECT_NE(config.find(R"("availability_topic":"lab/status")"), std::string::npos) << config;
    EXPECT_NE(retainedOn(broker.port(), "homeassistant/binary_sensor/lab-ttyUSB0/alarm_no_reading/config")
                  .find(R"("device_class":"problem")"),
              std::string::npos);

    // Away: the events wait with the readings and keep their place.
    broker.stop();
    ASSERT_TRUE(runEventsUntil([&] { return publisher.state() == TPublisher::State::Unreachable; }));
    publisher.publish(channels(2), T0 + seconds(2));
    publisher.publishEvent(alarmEvent("alarm off", "concentration", A::Off, 0.008, 0.01, T0 + seconds(2)));
    publisher.publishEvent(alarmEvent("no reading", "", A::On, NAN, NAN, T0 + seconds(3)));
    publisher.publish(channels(3), T0 + seconds(4));
    EXPECT_EQ(publisher.waiting(), 4u);
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(sub.waitFor([](const auto& m) { return sequence(m).size() >= 7; }, 20000)) << sub.messages().size();
    EXPECT_EQ(sequence(sub.messages()),
              (std::vector<std::string>{"R0", "Ealarm on", "R1", "R2", "Ealarm off", "Eno reading", "R3"}));
    EXPECT_EQ(sub.on("lab/event").at(2).payload, R"({"time":"2026-12-09T21:40:03.000Z","event":"no reading"})");
    EXPECT_EQ(retainedOn(broker.port(), "lab/alarm/concentration"), "off");
    EXPECT_EQ(retainedOn(broker.port(), "lab/alarm/no_reading"), "on");

    // New rules: every alarm topic says off, the binary sensors of rules gone are removed.
    publisher.setAlarms({"temperature"});
    publisher.publish(channels(4), T0 + seconds(5));
    ASSERT_TRUE(sub.waitFor([](const auto& m) { return sequence(m).size() >= 8; }));
    EXPECT_EQ(retainedOn(broker.port(), "lab/alarm/no_reading"), "off");
    EXPECT_EQ(retainedOn(broker.port(), "homeassistant/binary_sensor/lab-ttyUSB0/alarm_concentration/config"), "");
    EXPECT_NE(retainedOn(broker.port(), "homeassistant/binary_sensor/lab-ttyUSB0/alarm_temperature/config"), "");
}

// Publishers killed (kill -9) while the broker is away, one after the other on the same spool: once the
// broker is back, the next start sends every reading and event they took, once, in order, with its time,
// and the spool is emptied when the broker has them.
TEST(PublisherBroker, WhatWaitedInTheSpoolSurvivesAKillAndGoesOutFirst)
{
    TestBroker broker; // not started yet: its port refuses
    TempDir dir;
    const std::string spool = dir.file("publish.spool");
    const std::string port = std::to_string(broker.port());
    for (const char* first : {"0", "12"}) {
        int out[2];
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t io;
        posix_spawn_file_actions_init(&io);
        posix_spawn_file_actions_adddup2(&io, out[1], 1);
        const char* argv[] = {PUBLISH_HELPER, port.c_str(), "lab", "spool", spool.c_str(), first, "12", nullptr};
        pid_t pid = -1;
        const int spawned = ::posix_spawn(&pid, PUBLISH_HELPER, &io, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&io);
        ::close(out[1]);
        ASSERT_EQ(spawned, 0);
        FILE* said = ::fdopen(out[0], "r");
        char line[64] = {};
        EXPECT_STREQ(std::fgets(line, sizeof line, said), "queued\n");
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        std::fclose(said);
    }
    ASSERT_TRUE(broker.start());
    TestSubscriber sub(broker.port(), "lab/#");
    ASSERT_TRUE(sub.waitConnected());
    TPublishLimits limits = quick();
    limits.spoolFile = spool;
    TPublisher publisher;
    ASSERT_TRUE(publisher.start(settingsFor(broker.port()), "ttyUSB0", limits)) << publisher.error();
    EXPECT_TRUE(publisher.takeNotes().empty());
    publisher.publish(channels(24), T0 + seconds(24));
    ASSERT_TRUE(sub.waitFor([](const auto& m) { return sequence(m).size() >= 27; }, 20000)) << sub.messages().size();
    std::vector<std::string> expected;
    for (int i = 0; i < 25; ++i) {
        expected.push_back("R" + std::to_string(i));
        if (i == 0 || i == 12)
            expected.emplace_back("Ealarm on");
    }
    EXPECT_EQ(sequence(sub.messages()), expected);
    for (const auto& [sample, time] : samples(sub.on("lab/reading")))
        EXPECT_EQ(time, isoTime(T0 + seconds(sample)));
    EXPECT_EQ(sub.on("lab/event").at(1).payload,
              R"({"time":"2026-12-09T21:40:12.001Z","event":"alarm on","quantity":"sample","value":12})");
    ASSERT_TRUE(runEventsUntil([&] { return publisher.waiting() == 0; }));
    EXPECT_EQ(std::filesystem::file_size(spool), TPublishSpool::HeaderSize);
}
