// velmora-logd itself, against the simulator program behind a symbolic link: its files, signals, bad
// input, what it tells the service manager over a real notify socket, its spool against a real broker, and
// where its broker password comes from.
#include "../publish/BrokerFixture.h"
#include "publish/PublishPayloads.h"
#include "publish/PublishSpool.h"
#include "record/LogWriter.h"
#include "record/RegionalSettings.h"
#include "record/RunClock.h"
#include "settings/SettingParams.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"

#include <QProcess>
#include <QStringList>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sysexits.h>
#include <thread>
#include <unistd.h>

namespace {

// The service under test: the one built beside this test, or another build of it (a cross-built one run
// under an emulator) named by VELMORA_TEST_LOGD.
QString logdProgram()
{
    return qEnvironmentVariable("VELMORA_TEST_LOGD", QStringLiteral(VELMORA_LOGD));
}

using namespace std::chrono_literals;

struct FixedClock : RunClock {
    QDateTime at;
    std::chrono::nanoseconds now() const override { return {}; }
    QDateTime wallNow() const override { return at; }
};

std::vector<std::string> split(const std::string& text, const std::string& separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + separator.size())
        parts.push_back(text.substr(start, end - start));
    parts.push_back(text.substr(start));
    return parts;
}

// Every line of a log as the window's writer puts the same reading at the same time: header, fields,
// CR LF after each line, nothing half-written.
void expectWrittenAsTheWindowWrites(const std::string& text, bool concentration)
{
    ASSERT_GE(text.size(), 2u);
    ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
    std::vector<std::string> lines = split(text.substr(0, text.size() - 2), "\r\n");
    ASSERT_GE(lines.size(), 2u);
    const TempDir scratch;
    FixedClock clock;
    TLogWriter window(clock);
    window.open(scratch.file("window.txt"), concentration);
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> f = split(lines[i], "\t");
        ASSERT_EQ(f.size(), concentration ? 10u : 9u) << lines[i];
        clock.at =
            QDateTime::fromString(QString::fromStdString(f[0] + " " + f[1]), QStringLiteral("dd/MM/yyyy hh:mm:ss.zzz"));
        ASSERT_TRUE(clock.at.isValid()) << lines[i];
        auto d = [&](size_t k) { return std::stod(f[k]); };
        auto n = [&](size_t k) { return static_cast<int32_t>(std::stol(f[k])); };
        if (concentration)
            window.writeLine(TConcentrationModeStructure{d(2), d(3), d(4), d(5), d(6), n(7), d(8), n(9)});
        else
            window.writeLine(TChannelsModeStructure{n(2), n(3), n(4), n(5), false, d(6), n(7), d(8)});
    }
    window.close();
    EXPECT_EQ(scratch.read("window.txt"), text);
}

struct LogdProgram : ::testing::Test {
    TempDir dir;
    std::string link = dir.file("sensor");
    std::string out = dir.file("out");
    QProcess sim, logd;
    int notify = -1;
    std::vector<std::string> notes; // notify messages received

    void SetUp() override
    {
        ApplyRegionalSettings();
        std::filesystem::create_directory(out);
    }
    void TearDown() override
    {
        for (QProcess* p : {&logd, &sim})
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished();
            }
        if (notify >= 0)
            ::close(notify);
    }
    void startSimulator()
    {
        sim.start(QStringLiteral(VELMORA_SENSOR_SIM), {QStringLiteral("--link"), QString::fromStdString(link)});
        ASSERT_TRUE(sim.waitForStarted());
    }
    // A datagram socket as the service manager holds one, named in the program's environment.
    void listenAsServiceManager()
    {
        notify = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = dir.file("notify");
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        ASSERT_EQ(::bind(notify, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NOTIFY_SOCKET"), QString::fromStdString(path));
        env.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("1000000"));
        logd.setProcessEnvironment(env);
    }
    void startLogd(const QStringList& options)
    {
        logd.start(logdProgram(), QStringList{QStringLiteral("--port"), QString::fromStdString(link),
                                                             QStringLiteral("--output"), QString::fromStdString(out)}
                                                     + options);
        ASSERT_TRUE(logd.waitForStarted());
    }
    std::vector<std::string> files() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(out))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    size_t lines(const std::string& name) const
    {
        const std::string text = dir.read("out/" + name);
        return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    }
    // Collects notify messages (and lets time pass) until `done` holds, or 60 s passed (a hung program).
    bool until(const std::function<bool()>& done)
    {
        for (auto end = std::chrono::steady_clock::now() + 60s; std::chrono::steady_clock::now() < end;) {
            if (done())
                return true;
            pollfd p{notify, POLLIN, 0};
            if (notify >= 0 && ::poll(&p, 1, 50) > 0) {
                char message[4096];
                const ssize_t n = ::recv(notify, message, sizeof message, 0);
                if (n > 0)
                    notes.emplace_back(message, static_cast<size_t>(n));
            } else if (notify < 0) {
                std::this_thread::sleep_for(50ms);
            }
        }
        return done();
    }
    bool noted(const std::string& start) const
    {
        return std::any_of(notes.begin(), notes.end(), [&](const std::string& n) { return n.rfind(start, 0) == 0; });
    }
    // What the program said on stderr so far; for a failure, also whether it still runs and the simulator's
    // errors.
    std::string said()
    {
        stderrText += logd.readAllStandardError().toStdString();
        return stderrText;
    }
    std::string diagnosis()
    {
        std::string text = said();
        if (logd.state() == QProcess::NotRunning)
            text += "[ended: " + std::to_string(logd.exitCode()) + "]\n";
        text += "simulator: " + sim.readAllStandardError().toStdString() + "\nnotes:";
        for (const std::string& n : notes)
            text += " [" + n + "]";
        return text;
    }
    std::string stderrText;
    int terminate()
    {
        logd.terminate();
        EXPECT_TRUE(logd.waitForFinished(30000));
        return logd.exitCode();
    }
};

// READY as soon as the options hold, before the first reading; STATUS and watchdog pings while readings
// arrive; SIGHUP starts a new file; SIGTERM leaves whole lines and exits 0.
TEST_F(LogdProgram, TellsTheServiceManagerRotatesOnHangUpAndEndsWithWholeLines)
{
    listenAsServiceManager();
    startSimulator();
    ASSERT_TRUE(until([&] { return std::filesystem::exists(link); }));
    startLogd({QStringLiteral("--mode"), QStringLiteral("concentration")});
    ASSERT_TRUE(until([&] { return noted("READY=1\nSTATUS=waiting for the first reading from " + link); }))
        << diagnosis();
    ASSERT_TRUE(until([&] { return noted("STATUS=logging to " + out + "/velmora-"); })) << diagnosis();
    ASSERT_TRUE(until([&] { return files().size() == 1 && lines(files()[0]) >= 3 && noted("WATCHDOG=1"); }))
        << diagnosis();
    EXPECT_TRUE(noted("STATUS=logging to " + out + "/" + files()[0] + "; last reading "));
    const auto ready = std::find_if(notes.begin(), notes.end(),
                                    [](const std::string& n) { return n.find("READY=1") != std::string::npos; });
    const auto logging = std::find_if(notes.begin(), notes.end(),
                                      [](const std::string& n) { return n.rfind("STATUS=logging to ", 0) == 0; });
    EXPECT_LT(ready, logging); // before the first reading, and once
    EXPECT_EQ(std::count_if(notes.begin(), notes.end(),
                            [](const std::string& n) { return n.find("READY=1") != std::string::npos; }),
              1);

    ::kill(static_cast<pid_t>(logd.processId()), SIGHUP);
    ASSERT_TRUE(until([&] { return files().size() == 2 && lines(files()[1]) >= 2; })) << diagnosis();
    EXPECT_EQ(terminate(), 0);
    for (const std::string& name : files())
        expectWrittenAsTheWindowWrites(dir.read("out/" + name), true);
}

// Boot never waits for the sensor: a missing port and a silent sensor are both ready at once, say what
// they wait for and feed the watchdog while they wait.
TEST_F(LogdProgram, IsReadyAtOnceAndFeedsTheWatchdogWhileThePortIsMissingOrTheSensorSilent)
{
    listenAsServiceManager();
    startLogd({});
    ASSERT_TRUE(until([&] {
        return noted("READY=1\nSTATUS=waiting for " + link + ": the port is missing or in use") && noted("WATCHDOG=1");
    })) << diagnosis();
    EXPECT_EQ(terminate(), 0);
    EXPECT_TRUE(files().empty());
    EXPECT_NE(said().find("Current port is already in use or unavailable !!!"), std::string::npos) << said();

    notes.clear();
    const PtyPair silent; // a port whose sensor never answers
    std::filesystem::create_symlink(silent.slavePath(), link);
    startLogd({});
    ASSERT_TRUE(until([&] { return noted("READY=1\nSTATUS=waiting for the first reading from " + link); }))
        << diagnosis();
    ASSERT_TRUE(until([&] { return noted("STATUS=waiting for " + link + ": the sensor does not answer"); }))
        << diagnosis();
    notes.clear();
    ASSERT_TRUE(until([&] { return noted("WATCHDOG=1"); })) << diagnosis();
    EXPECT_EQ(terminate(), 0);
    EXPECT_TRUE(files().empty());
}

// The window's settings file names the port; the service is given nothing else.
TEST_F(LogdProgram, TakesThePortFromTheWindowsSettingsFile)
{
    startSimulator();
    ASSERT_TRUE(until([&] { return std::filesystem::exists(link); }));
    TSettingParams settings(dir.file("SensorSettings"), "Sensor\\Settings");
    settings.ComPort = link;
    ASSERT_EQ(settings.Save(), XmlResult::Ok);
    logd.start(logdProgram(),
               {QStringLiteral("--settings"), QString::fromStdString(dir.file("SensorSettings.xml")),
                QStringLiteral("--output"), QString::fromStdString(out)});
    ASSERT_TRUE(until([&] { return files().size() == 1 && lines(files()[0]) >= 2; })) << diagnosis();
    EXPECT_EQ(terminate(), 0);
    EXPECT_NE(said().find("Settings from \"" + dir.file("SensorSettings.xml") + "\""), std::string::npos) << said();
}

TEST_F(LogdProgram, ChannelsLinesAreWrittenAsTheWindowWritesThem)
{
    startSimulator();
    ASSERT_TRUE(until([&] { return std::filesystem::exists(link); }));
    startLogd({});
    ASSERT_TRUE(until([&] { return files().size() == 1 && lines(files()[0]) >= 3; }));
    EXPECT_EQ(terminate(), 0);
    expectWrittenAsTheWindowWrites(dir.read("out/" + files()[0]), false);
}

TEST_F(LogdProgram, BadInputGetsItsExitCodeAndWritesNothing)
{
    dir.write("plain", "not a port\n");
    const auto settingsFile = [&](const std::string& name, const std::string& settings) {
        dir.write(name, "<?xml version=\"1.0\"?>\n<Sensor><Settings>" + settings + "</Settings></Sensor>\n");
        return QString::fromStdString(dir.file(name));
    };
    const QString port = QStringLiteral("ttyUSB0");
    const QString noPort = settingsFile("noport.xml", "<Reconnect>true</Reconnect>");
    const QString qos2 = settingsFile(
        "qos2.xml",
        "<ComPort>ttyUSB0</ComPort><Publishing><Enabled>true</Enabled><Host>h</Host><QoS>2</QoS></Publishing>");
    const QString badNumber =
        settingsFile("number.xml", "<ComPort>ttyUSB0</ComPort><Publishing><Port>18 83</Port></Publishing>");
    dir.write("other.xml", "<?xml version=\"1.0\"?>\n<Other/>\n");
    dir.write("cut.xml", "<?xml version=\"1.0\"?>\n<Sensor><Settings><ComPort>tty");
    const QString missingPort = QString::fromStdString(dir.file("sensor"));
    dir.write("big", std::string(5000, 'x'));
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    std::filesystem::create_directories(dir.file("credentials/mqtt-password")); // a folder by that name
    const auto publishing = [this](const char* file) {
        return QStringList{"--publish", "mqtt://logger@127.0.0.1/lab", "--publish-password-file",
                           QString::fromStdString(file[0] == '/' ? file : dir.file(file))};
    };
    const auto prefix = [](const QString& text) { return QStringList{"--publish", "mqtt://127.0.0.1/" + text}; };
    struct Case {
        QStringList arguments;
        int exitCode;
        std::string said;
        std::string credentials = {}; // $CREDENTIALS_DIRECTORY
    } const cases[] = {
        {{"--speed", "9600"}, EX_USAGE, "Unknown option 'speed'"},
        {{"--mode", "counts"}, EX_USAGE, "Unknown mode 'counts'"},
        {{"--interval", "0"}, EX_DATAERR, "The interval '0'"},
        {{"--interval", "1.5"}, EX_DATAERR, "The interval '1.5'"},
        {{"--interval", "2147484"}, EX_DATAERR, "The interval '2147484'"},
        {{"--output", QString::fromStdString(dir.file("missing"))}, EX_CANTCREAT, "The output folder"},
        {{"--output", QString::fromStdString(dir.file("plain"))}, EX_CANTCREAT, "not a folder"},
        {{"--port", QString::fromStdString(dir.file("plain"))}, EX_NOINPUT, "is not a serial port"},
        {{"--port", "/dev/null"}, EX_NOINPUT, "is not a serial port"},
        {{"--alarm", "oxygen>1"}, EX_USAGE, "names no known quantity ('oxygen')"},
        {{"--alarm", "temperature<5", "--alarm", "concentration>1%,delay=x"}, EX_USAGE, "delay that is not a number"},
        {{"--alarm", "humidity<30"}, EX_USAGE, "channels mode does not measure humidity"},
        {{"--mode", "concentration", "--alarm", "concentration>1%"},
         EX_USAGE,
         "concentration mode does not measure concentration"},
        {{"--alarm", "concentration>1%,latch"}, EX_USAGE, "the service does not latch"},
        // The settings file and the port.
        {{"--settings", QString::fromStdString(dir.file("absent.xml"))},
         EX_NOINPUT,
         "absent.xml\" cannot be read: No such file"},
        {{"--settings", QString::fromStdString(dir.path())}, EX_NOINPUT, "cannot be read: not a regular file"},
        {{"--settings", QString::fromStdString(dir.file("cut.xml")), "--port", port},
         EX_DATAERR,
         "cut.xml\" cannot be read: "},
        {{"--settings", QString::fromStdString(dir.file("other.xml"))}, EX_DATAERR, "is not a settings file"},
        {{"--settings", badNumber}, EX_DATAERR, "Publishing\\Port: '18 83' is not a whole number"},
        {{"--settings", qos2}, EX_CONFIG, "qos2.xml\": publishing: the QoS must be 0 or 1"},
        {{"--settings", noPort}, EX_USAGE, "noport.xml\" names none: give one with --port NAME"},
        {{"--settings", ""}, EX_USAGE, "The settings file name is empty"},
        // The publishing options, checked as the window's dialog checks them.
        {{"--port", port, "--publish-qos", "1"}, EX_USAGE, "--publish-qos needs --publish"},
        {{"--port", port, "--publish", "mqtt://h", "--publish-qos", "2"}, EX_USAGE, "the QoS must be 0 or 1"},
        {{"--port", port, "--publish", "mqtt://h", "--publish-interval", "0"},
         EX_USAGE,
         "a whole number of seconds, at least 1"},
        {{"--port", port, "--publish", "mqtt://h", "--publish-interval", "1.5"}, EX_USAGE, "--publish-interval '1.5'"},
        {{"--port", port, "--publish", "mqtt://h", "--publish-interval", "9999999999"}, EX_USAGE, "at least 1"},
        {{"--port", port, "--publish", "mqtt://h", "--publish-interval", "2147484"}, EX_USAGE, "at most 2147483 s"},
        {{"--port", port, "--publish", "mqtt://h", "--publish-client-id", "a/b"}, EX_USAGE, "contains # + or /"},
        {{"--port", port, "--publish", "mqtt://h", "--publish-discovery", "maybe"}, EX_USAGE, "on or off"},
        {{"--port", port, "--publish", "mqtt://h", "--publish-cert", "c.pem", "--publish-key", "k.pem"},
         EX_USAGE,
         "--publish-cert needs a broker reached over TLS"},
        {{"--port", port, "--publish", "mqtts://h", "--publish-cert", "c.pem"}, EX_USAGE, "needs its key file"},
        // Publishing that cannot start.
        {{"--port", missingPort, "--publish", "mqtts://h", "--publish-ca", QString::fromStdString(dir.file("ca.pem"))},
         EX_CONFIG,
         "Publishing: "},
        {{"--port", port, "--spool", QString::fromStdString(dir.file("publish.spool"))},
         EX_USAGE,
         "--spool needs publishing"},
        // The password file or credential, and the topic prefix.
        {publishing("credentials"), EX_CONFIG, "the password file " + dir.file("credentials") + " is a folder"},
        {publishing("fifo"), EX_CONFIG, "the password file " + dir.file("fifo") + " is a FIFO"},
        {publishing("/dev/null"), EX_CONFIG, "the password file /dev/null is a device"},
        {publishing("big"), EX_CONFIG, "is larger than 4096 bytes"},
        {publishing("missing"), EX_CONFIG, "the password file " + dir.file("missing") + " cannot be read"},
        {{"--publish", "mqtt://logger@127.0.0.1/lab"},
         EX_CONFIG,
         "The credential mqtt-password: the password file " + dir.file("credentials/mqtt-password") + " is a folder",
         dir.file("credentials")},
        {{"--port", QString::fromStdString(link), "--publish", "mqtts://127.0.0.1/lab", "--publish-ca",
          QString::fromStdString(dir.file("plain"))},
         EX_CONFIG,
         "Publishing: the CA file " + dir.file("plain") + " is not a certificate (PEM)"},
        {prefix("site/+/lab"), EX_USAGE, "the topic prefix 'site/+/lab' contains a wildcard (# or +)"},
        {prefix("site/#"), EX_USAGE, "the topic prefix 'site/#' contains a wildcard (# or +)"},
        {prefix("lab\t1"), EX_USAGE, "the topic prefix contains a control character (U+0009 at byte 4)"},
        {prefix(QString(70000, QLatin1Char('a'))), EX_USAGE, "the topic prefix is 70000 bytes long"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QProcess program;
        program.setWorkingDirectory(QString::fromStdString(out));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("CREDENTIALS_DIRECTORY"));
        if (!c.credentials.empty())
            env.insert(QStringLiteral("CREDENTIALS_DIRECTORY"), QString::fromStdString(c.credentials));
        program.setProcessEnvironment(env);
        program.start(logdProgram(), c.arguments);
        ASSERT_TRUE(program.waitForFinished(10000)); // a FIFO without a writer is not waited on
        EXPECT_EQ(program.exitCode(), c.exitCode);
        const std::string text = program.readAllStandardError().toStdString();
        EXPECT_NE(text.find(c.said), std::string::npos) << text.substr(0, 300);
        EXPECT_TRUE(files().empty());
    }
    // No port and no settings file: nothing is guessed (unless this machine has the service's settings file).
    if (!std::filesystem::exists("/etc/velmora-logger/SensorSettings.xml")) {
        QProcess program;
        program.setWorkingDirectory(QString::fromStdString(out));
        program.start(logdProgram(), QStringList{});
        ASSERT_TRUE(program.waitForFinished(10000));
        EXPECT_EQ(program.exitCode(), EX_USAGE);
        EXPECT_NE(program.readAllStandardError().toStdString().find("No port given: give one with --port NAME"),
                  std::string::npos);
    }
}

// kill -9 while the broker is away (and a record cut): the next start, with the broker back, sends what the
// spool held first, every reading and event once, in order, with its own time; then the new ones. A SIGTERM
// during an outage keeps what waits too, and says where. (stderr is read only once the program ended.)
TEST_F(LogdProgram, WhatWaitsForTheBrokerSurvivesAKillAndArrivesOnceInOrder)
{
    TestBroker broker; // not started: the broker is away
    const std::string spool = dir.file("publish.spool");
    const QStringList options{QStringLiteral("--publish"), QStringLiteral("mqtt://127.0.0.1:%1/lab").arg(broker.port()),
                              QStringLiteral("--spool"),   QString::fromStdString(spool),
                              QStringLiteral("--alarm"),   QStringLiteral("temperature>-1000")};
    startSimulator();
    ASSERT_TRUE(until([&] { return std::filesystem::exists(link); }));
    startLogd(options);
    // A reading, the alarm it raises, and at least three more.
    const auto spooled = [&] {
        return std::filesystem::exists(spool)
               && std::filesystem::file_size(spool) >= TPublishSpool::HeaderSize + 5 * 54;
    };
    ASSERT_TRUE(until(spooled)) << diagnosis();
    logd.kill();
    ASSERT_TRUE(logd.waitForFinished(30000));

    // What the killed program left, read from a copy.
    std::filesystem::copy_file(spool, dir.file("copy.spool"));
    std::vector<TQueuedItem> left;
    TPublishSpool copy;
    ASSERT_TRUE(copy.open(dir.file("copy.spool"), 1000, left)) << copy.error();
    std::vector<std::string> expected;
    for (const TQueuedItem& item : left) {
        std::string text;
        AppendIsoTime(text, item.takenAt);
        expected.push_back((std::holds_alternative<TPublishEvent>(item.what) ? "E " : "R ") + text);
    }
    ASSERT_GE(expected.size(), 5u);
    EXPECT_EQ(expected[1].substr(0, 2), "E "); // the alarm, after the first reading

    // A record cut by the crash: what comes before it is read, the file kept aside and reported.
    {
        std::ofstream cut(spool, std::ios::app | std::ios::binary);
        cut.write("\x36\0\0\0\x12\x34", 6);
    }
    ASSERT_TRUE(broker.start());
    TestSubscriber sub(broker.port(), "lab/#");
    ASSERT_TRUE(sub.waitConnected());
    stderrText.clear();
    listenAsServiceManager(); // its STATUS tells when the broker is away
    startLogd(options);
    // "E time" / "R time" of each event and reading received.
    const auto received = [&] {
        std::vector<std::string> got;
        for (const TReceived& m : sub.messages()) {
            const size_t at = m.payload.find("\"time\":\"");
            if ((m.topic == "lab/reading" || m.topic == "lab/event") && at != std::string::npos)
                got.push_back((m.topic == "lab/event" ? "E " : "R ") + m.payload.substr(at + 8, 24));
        }
        return got;
    };
    ASSERT_TRUE(until([&] { return received().size() >= expected.size() + 3; })) << diagnosis();
    const std::vector<std::string> got = received();
    EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + static_cast<long>(expected.size())), expected);
    for (size_t i = expected.size(); i < got.size(); ++i)
        EXPECT_GT(got[i].substr(2), expected.back().substr(2)) << got[i]; // the new run's, after them
    ASSERT_TRUE(until([&] { return std::filesystem::file_size(spool) == TPublishSpool::HeaderSize; })) << diagnosis();

    // SIGTERM while the broker is away: what waits is kept, and said to be.
    broker.kill();
    ASSERT_TRUE(until([&] {
        const bool unreachable = std::any_of(notes.begin(), notes.end(), [](const std::string& n) {
            return n.find("broker unreachable") != std::string::npos;
        });
        return unreachable && std::filesystem::file_size(spool) > TPublishSpool::HeaderSize;
    })) << diagnosis();
    EXPECT_EQ(terminate(), 0);
    EXPECT_NE(said().find("are kept in \"" + spool + "\" for the next start"), std::string::npos) << said();
    EXPECT_GT(std::filesystem::file_size(spool), TPublishSpool::HeaderSize);
    EXPECT_NE(said().find("The publishing spool " + spool + " is damaged at byte"), std::string::npos) << said();
    const auto aside = std::count_if(std::filesystem::directory_iterator(dir.path()), {}, [](const auto& entry) {
        return entry.path().filename().string().rfind("publish.spool.damaged-", 0) == 0;
    });
    EXPECT_EQ(aside, 1);
}

// The broker password comes from --publish-password-file, else from the service manager's credential,
// else from the environment; a file that others may read draws a warning, and is still used.
TEST_F(LogdProgram, ThePasswordComesFromTheFileTheCredentialOrTheEnvironment)
{
    TestBroker broker({"alice", "s3cret-pw", false});
    ASSERT_TRUE(broker.start());
    const std::string where = "127.0.0.1:" + std::to_string(broker.port());
    std::filesystem::create_directory(dir.file("credentials"));
    dir.write("credentials/mqtt-password", "s3cret-pw\n");
    ::chmod(dir.file("credentials/mqtt-password").c_str(), 0400);
    dir.write("shared-pw", "s3cret-pw\n");
    ::chmod(dir.file("shared-pw").c_str(), 0640);
    dir.write("wrong-pw", "wrong\n");
    ::chmod(dir.file("wrong-pw").c_str(), 0600);
    const QStringList publish{"--publish", QString::fromStdString("mqtt://alice@" + where + "/lab")};
    struct Case {
        const char* name;
        QStringList options;
        std::string credentials, environment; // $CREDENTIALS_DIRECTORY, $VELMORA_MQTT_PASSWORD
        std::string said;                     // the broker's answer
        bool warned = false;
    } const cases[] = {
        {"credential", publish, dir.file("credentials"), "wrong", "Publishing to " + where},
        {"file before credential",
         publish + QStringList{"--publish-password-file", QString::fromStdString(dir.file("wrong-pw"))},
         dir.file("credentials"), "", "Broker unreachable: not authorised"},
        {"readable by the group",
         publish + QStringList{"--publish-password-file", QString::fromStdString(dir.file("shared-pw"))}, "", "",
         "Publishing to " + where, true},
        {"environment", publish, "", "s3cret-pw", "Publishing to " + where},
        {"empty credentials folder", publish, dir.file("out"), "s3cret-pw", "Publishing to " + where},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        stderrText.clear();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("CREDENTIALS_DIRECTORY"));
        env.remove(QStringLiteral("VELMORA_MQTT_PASSWORD"));
        if (!c.credentials.empty())
            env.insert(QStringLiteral("CREDENTIALS_DIRECTORY"), QString::fromStdString(c.credentials));
        if (!c.environment.empty())
            env.insert(QStringLiteral("VELMORA_MQTT_PASSWORD"), QString::fromStdString(c.environment));
        logd.setProcessEnvironment(env);
        startLogd(c.options); // the port is missing: it is waited for while publishing starts
        ASSERT_TRUE(until([&] {
            logd.waitForReadyRead(50);
            return said().find(c.said) != std::string::npos;
        })) << diagnosis();
        EXPECT_EQ(said().find("<4>--publish-password-file: the password file " + dir.file("shared-pw")
                              + " can be read by others than its owner (mode 0640)")
                      != std::string::npos,
                  c.warned)
            << said();
        EXPECT_EQ(said().find("s3cret"), std::string::npos);
        EXPECT_EQ(terminate(), 0) << diagnosis();
    }
}

} // namespace
