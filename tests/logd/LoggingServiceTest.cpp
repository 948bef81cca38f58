// The headless logger in this process, on a simulated sensor: files, rotation, outages, write failures,
// what it says of a broker outage; its options read from the window's settings file and the command line.
#include "logd/LoggingService.h"
#include "logd/LogdOptions.h"
#include "../publish/BrokerFixture.h"
#include "publish/ServiceOptions.h"
#include "record/AlarmRule.h"
#include "record/ReadingFormat.h"
#include "record/RunTexts.h"
#include "run/Run.h"
#include "run/RunLog.h"
#include "run/RunPublishing.h"
#include "settings/SettingParams.h"
#include "support/EventLoopHelper.h"
#include "support/PtyPair.h"
#include "support/ShiftedClock.h"
#include "support/TempDir.h"
#include "tools/SensorSimulator.h"

#include <QDir>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sysexits.h>

namespace {

size_t lineCount(const std::string& text)
{
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

struct LoggingService : ::testing::Test {
    TempDir dir;
    std::string link = dir.file("sensor"); // as /dev/serial/by-id/... names a device
    std::unique_ptr<PtyPair> pty = std::make_unique<PtyPair>();
    std::unique_ptr<SensorSimulator> sim;
    std::vector<std::string> said;
    std::unique_ptr<TLoggingService> service;
    TPublishSettings publishing; // published when enabled

    void plugIn()
    {
        SimulatorOptions options;
        options.linesPerSecond = 20;
        sim = std::make_unique<SensorSimulator>(pty->masterFd(), options);
        sim->start();
        std::filesystem::create_symlink(pty->slavePath(), link);
    }
    void unplug()
    {
        sim.reset();
        pty->closeMaster();
        std::filesystem::remove(link);
    }
    void startService(const RunClock& clock, int intervalMs = 100, bool concentration = false,
                      std::vector<TAlarmRule> alarms = {})
    {
        std::filesystem::create_directory(dir.file("out"));
        TLogdOptions options;
        options.port = link;
        options.intervalMs = intervalMs;
        options.outputDir = dir.file("out");
        options.concentration = concentration;
        options.alarms = std::move(alarms);
        options.publishing = publishing;
        service = std::make_unique<TLoggingService>(options, clock,
                                                    [this](const std::string& line) { said.push_back(line); });
        service->run().reconnect().timer().setInterval(100);
        ASSERT_TRUE(service->start());
    }
    std::vector<std::string> files() const { return dir.list("out"); }
    std::string read(const std::string& name) const { return dir.read("out/" + name); }
    bool saidSomething(const std::string& start) const
    {
        return std::any_of(said.begin(), said.end(),
                           [&](const std::string& line) { return line.rfind(start, 0) == 0; });
    }
    void TearDown() override
    {
        service.reset();
        sim.reset();
    }
};

TEST_F(LoggingService, ANewFileStartsAtLocalMidnightEachWithItsHeader)
{
    plugIn();
    const ShiftedClock clock(QDateTime(QDate(2026, 12, 9), QTime(23, 59, 59, 500)));
    startService(clock, 200, true);
    ASSERT_TRUE(runEventsUntil([&] { return files().size() == 2 && lineCount(read(files()[1])) >= 2; }, 5000));
    const std::vector<std::string> names = files();
    EXPECT_EQ(names[0], "velmora-2026-12-09_23-59-59.txt");
    EXPECT_EQ(names[1].substr(0, 26), "velmora-2026-12-10_00-00-0");
    for (const auto& [name, date] : {std::pair(names[0], "09/12/2026"), std::pair(names[1], "10/12/2026")}) {
        const std::string text = read(name);
        EXPECT_EQ(text.rfind(std::string(LogHeader(true)) + "\r\n", 0), 0u) << name;
        EXPECT_NE(text.find("\r\n" + std::string(date) + "\t"), std::string::npos) << name;
    }
    EXPECT_EQ(read(names[0]).substr(read(names[0]).size() - 2), "\r\n"); // closed with its last line end
}

TEST_F(LoggingService, APortMissingAtTheStartIsWaitedForAndAReplugLeavesAGapInTheSameFile)
{
    startService(systemRunClock());
    EXPECT_TRUE(saidSomething(PortUnavailableText));
    EXPECT_TRUE(files().empty()); // nothing before the first reading
    plugIn();
    ASSERT_TRUE(runEventsUntil([&] { return files().size() == 1 && lineCount(read(files()[0])) >= 4; }, 5000));
    EXPECT_TRUE(saidSomething("Connected at "));
    const std::string name = files()[0];

    unplug();
    ASSERT_TRUE(runEventsUntil([&] { return saidSomething(TimeoutText); }, 5000));
    const std::string atOutage = read(name);
    int tries = 0;
    QObject::connect(&service->run().reconnect().timer(), &QTimer::timeout, [&] { ++tries; });
    ASSERT_TRUE(runEventsUntil([&] { return tries >= 2; }, 5000)); // each fails: nothing to open
    EXPECT_EQ(read(name), atOutage);

    pty = std::make_unique<PtyPair>();
    plugIn();
    ASSERT_TRUE(runEventsUntil([&] { return saidSomething("Reconnected at "); }, 5000));
    ASSERT_TRUE(runEventsUntil([&] { return lineCount(read(name)) >= lineCount(atOutage) + 3; }, 5000));
    EXPECT_EQ(files().size(), 1u);
    EXPECT_EQ(read(name).rfind(atOutage, 0), 0u); // the same file goes on
    // The gap: the first line after the outage comes well after the last one before it.
    const auto timeOfLineAt = [](const std::string& text, size_t start) {
        return QTime::fromString(QString::fromStdString(text.substr(start + 11, 12)), QStringLiteral("hh:mm:ss.zzz"));
    };
    // The last line before the outage waits for its line end, which the next line writes.
    const size_t lastBefore = atOutage.rfind('\n', atOutage.size() - 2) + 1;
    EXPECT_GT(timeOfLineAt(atOutage, lastBefore).msecsTo(timeOfLineAt(read(name), atOutage.size() + 2)), 400);
}

// A full disk (here a file size limit): said once, the lines wait with their own times, and they are
// written, whole and in order, when there is room again.
TEST_F(LoggingService, AFailingWriteIsSaidOnceAndTheLinesThatWaitedFollowWhenThereIsRoom)
{
    plugIn();
    startService(systemRunClock(), 50);
    ASSERT_TRUE(runEventsUntil([&] { return files().size() == 1 && lineCount(read(files()[0])) >= 2; }, 5000));
    const std::string name = files()[0];
    const std::string path = dir.file("out/" + name);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit full{static_cast<rlim_t>(read(name).size() + 30), limit.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    const bool failed = runEventsUntil([&] { return service->run().log().waiting() >= 4; }, 5000);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    ASSERT_TRUE(failed);
    EXPECT_EQ(
        std::count_if(said.begin(), said.end(),
                      [&](const std::string& l) { return l.rfind("Log: cannot write \"" + path + "\"", 0) == 0; }),
        1);
    ASSERT_TRUE(runEventsUntil([&] { return saidSomething("Writing to \"" + path + "\" again; "); }, 5000));
    service->finish();
    const std::string text = read(name);
    size_t lines = 0;
    QTime previous;
    for (size_t start = text.find("\r\n") + 2, end; (end = text.find("\r\n", start)) != std::string::npos;
         start = end + 2, ++lines) {
        EXPECT_EQ(std::count(text.begin() + long(start), text.begin() + long(end), '\t'), 8); // whole
        const QTime time =
            QTime::fromString(QString::fromStdString(text.substr(start + 11, 12)), QStringLiteral("hh:mm:ss.zzz"));
        EXPECT_LT(previous, time); // in order, each with its own time
        previous = time;
    }
    EXPECT_GE(lines, 6u);
}

TEST_F(LoggingService, ANewFileNowClosesTheOldOneWithItsLastLineEnd)
{
    plugIn();
    startService(systemRunClock(), 100);
    ASSERT_TRUE(runEventsUntil([&] { return files().size() == 1 && lineCount(read(files()[0])) >= 2; }, 5000));
    const std::string first = files()[0];
    service->startNewFile();
    ASSERT_EQ(files().size(), 2u); // within the same second: a numbered name
    const std::string second = files()[0] == first ? files()[1] : files()[0];
    EXPECT_EQ(read(first).substr(read(first).size() - 2), "\r\n");
    EXPECT_EQ(read(second), std::string(LogHeader(false))); // its line end waits for the first line
    ASSERT_TRUE(runEventsUntil([&] { return lineCount(read(second)) >= 2; }, 5000));
}

// The simulator's concentrations are near 1 %: a rule at 0.5 % comes on with the first reading, is said
// as a warning and written to the events file beside the log; an outage says "No reading".
TEST_F(LoggingService, AnAlarmThatComesOnIsSaidAsAWarningAndWrittenBesideTheLog)
{
    plugIn();
    TAlarmRule rule;
    ASSERT_EQ(ParseAlarmRule("concentration>0.5%", rule), "");
    TAlarmRule never;
    ASSERT_EQ(ParseAlarmRule("temperature<-100", never), "");
    startService(systemRunClock(), 100, false, {rule, never});
    ASSERT_TRUE(runEventsUntil([&] { return saidSomething("<4>Alarm on: concentration 0.0"); }, 5000));
    const auto on = std::find_if(said.begin(), said.end(), [](const std::string& l) { return l.rfind("<4>", 0) == 0; });
    EXPECT_EQ(on->substr(on->size() - 8), " > 0.005") << *on;
    EXPECT_EQ(service->run().alarmsOn(), std::vector<std::string>{"concentration > 0.005"});
    ASSERT_EQ(files().size(), 2u);
    const std::string log = files()[1];
    const std::string firstEvents = files()[0];
    EXPECT_EQ(firstEvents, log.substr(0, log.size() - 4) + ".events.txt");
    const auto expectLines = [&](const std::string& name, const std::vector<std::string>& lines) {
        const std::string events = read(name);
        size_t at = 0;
        for (const std::string& line : lines) {
            at = events.find(line, at);
            ASSERT_NE(at, std::string::npos) << line << " in\n" << events;
        }
        EXPECT_EQ(std::count(events.begin(), events.end(), '\n'), long(lines.size())) << events;
        EXPECT_EQ(events.substr(events.size() - 2), "\r\n"); // closed with its last line end
        const QString day = QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy"));
        EXPECT_NE(events.find("\r\n" + day.toStdString() + "\t"), std::string::npos);
    };

    // A new log file (SIGHUP, midnight) gets its own events file; the old one is closed.
    service->startNewFile();
    ASSERT_EQ(files().size(), 4u);
    expectLines(firstEvents, {"Date\tTime\tEvent\tQuantity\tValue\tLevel", "Log started\t\t\t",
                              "Alarm on\tconcentration\t0.0", "Log stopped\t\t\t"});
    std::string secondEvents;
    for (const std::string& name : files())
        if (name != firstEvents && name.ends_with(".events.txt"))
            secondEvents = name;
    ASSERT_FALSE(secondEvents.empty());

    unplug();
    ASSERT_TRUE(runEventsUntil([&] { return saidSomething("<5>No reading"); }, 5000));
    service->finish();
    expectLines(secondEvents, {"Date\tTime\tEvent\tQuantity\tValue\tLevel", "Log started\t\t\t", "No reading\t\t\t",
                               "Log stopped\t\t\t"});
}

// The options as the service reads them: a settings file written by the window's own writer, and the
// command line over it.
struct LogdSettings : ::testing::Test {
    TempDir dir;
    std::string file = dir.file("SensorSettings.xml");

    void SetUp() override { ::unsetenv(PasswordVariable); }
    void TearDown() override { ::unsetenv(PasswordVariable); }
    // Every field of the window's publishing dialog away from its default.
    static TPublishSettings allSet()
    {
        TPublishSettings s;
        s.Enabled = true;
        s.Host = "broker.site";
        s.Port = 8884;
        s.ClientId = "pi-kitchen";
        s.TopicPrefix = "site/kitchen";
        s.IntervalSeconds = 30;
        s.QoS = 0;
        s.Tls = true;
        s.CaFile = "/etc/velmora-logger/ca.pem";
        s.CertFile = "/etc/velmora-logger/client.pem";
        s.KeyFile = "/etc/velmora-logger/client.key";
        s.UserName = "logger";
        s.Password = "s3cret <&>";
        s.HomeAssistant = true;
        return s;
    }
    void writeAsTheWindow(const std::string& port, const TPublishSettings& publishing)
    {
        TSettingParams settings(dir.file("SensorSettings"), "Sensor\\Settings");
        settings.ComPort = port;
        settings.Reconnect = true;
        settings.Publishing = publishing;
        for (const char* text : {"concentration>1%,hysteresis=0.05%,delay=10", "temperature<5"}) {
            TAlarmRule rule;
            ASSERT_EQ(ParseAlarmRule(text, rule), "");
            settings.AlarmRules.push_back(rule);
        }
        settings.NoReadingAlarm = false;
        ASSERT_EQ(settings.Save(), XmlResult::Ok) << settings.ErrorText();
    }
    // The default settings file is one that does not exist unless a test says otherwise.
    TLogdStart parse(const QStringList& arguments, TLogdOptions& options, bool defaultFile = false)
    {
        return ParseLogdOptions(
            QStringList{QStringLiteral("velmora-logd"), QStringLiteral("--output"), QString::fromStdString(dir.path())}
                + arguments,
            options, defaultFile ? file : dir.file("absent.xml"));
    }
};

TEST_F(LogdSettings, TheServiceReadsTheWholeFileTheWindowWrites)
{
    writeAsTheWindow("dev/serial/by-id/usb-adapter", allSet());
    for (const bool byDefault : {false, true}) {
        SCOPED_TRACE(byDefault ? "the default file" : "--settings");
        TLogdOptions options;
        const TLogdStart start =
            parse(byDefault ? QStringList{} : QStringList{QStringLiteral("--settings"), QString::fromStdString(file)},
                  options, byDefault);
        ASSERT_TRUE(start.run) << start.text;
        EXPECT_EQ(options.settingsFile, file);
        EXPECT_EQ(options.port, "/dev/serial/by-id/usb-adapter");
        EXPECT_EQ(options.publishing, allSet());
        EXPECT_EQ(options.publishIntervalMs, 30000);
        ASSERT_EQ(options.alarms.size(), 2u); // channels mode measures both
        EXPECT_EQ(options.alarms[0].quantity, "concentration");
        EXPECT_DOUBLE_EQ(options.alarms[0].level, 0.01);
        EXPECT_DOUBLE_EQ(options.alarms[0].hysteresis, 0.0005);
        EXPECT_EQ(options.alarms[0].delaySeconds, 10);
        EXPECT_EQ(AlarmRuleText(options.alarms[1]), "temperature < 5");
        EXPECT_FALSE(options.noReadingAlarm);
        EXPECT_EQ(options.settingsWarning, ""); // the window keeps a file with a password to its owner
    }
    // A copy others can read gives its password away: said, not refused.
    std::filesystem::permissions(file, std::filesystem::perms::others_read, std::filesystem::perm_options::add);
    TLogdOptions options;
    ASSERT_TRUE(parse({}, options, true).run);
    EXPECT_NE(options.settingsWarning.find("holds the broker password and others can read it"), std::string::npos);
}

TEST_F(LogdSettings, CommandLineOptionsOverrideTheFile)
{
    writeAsTheWindow("ttyUSB0", allSet());
    const QString settings = QString::fromStdString(file);
    dir.write("password", "from-file\n");
    struct Case {
        QStringList arguments;
        std::function<void(TPublishSettings&)> expected;
        const char* port = "ttyUSB0";
    } const cases[] = {
        {{}, [](TPublishSettings&) {}},
        {{"--port", "ttyACM1"}, [](TPublishSettings&) {}, "ttyACM1"},
        {{"--publish-interval", "5"}, [](TPublishSettings& s) { s.IntervalSeconds = 5; }},
        {{"--publish-qos", "1"}, [](TPublishSettings& s) { s.QoS = 1; }},
        {{"--publish-client-id", "pi-2"}, [](TPublishSettings& s) { s.ClientId = "pi-2"; }},
        {{"--publish-client-id", ""}, [](TPublishSettings& s) { s.ClientId.clear(); }},
        {{"--publish-cert", "c.pem", "--publish-key", "k.pem"},
         [](TPublishSettings& s) {
             s.CertFile = "c.pem";
             s.KeyFile = "k.pem";
         }},
        {{"--publish-discovery", "off"}, [](TPublishSettings& s) { s.HomeAssistant = false; }},
        {{"--publish-ca", "other.pem"}, [](TPublishSettings& s) { s.CaFile = "other.pem"; }},
        {{"--publish-password-file", QString::fromStdString(dir.file("password"))},
         [](TPublishSettings& s) { s.Password = "from-file"; }},
        // The same broker and user keep the stored password; the rest of the address replaces the file's.
        {{"--publish", "mqtts://logger@broker.site/other"},
         [](TPublishSettings& s) {
             s.Port = 0;
             s.TopicPrefix = "other";
         }},
        // Another broker never gets the stored password, nor the CA of a TLS broker over plain MQTT.
        {{"--publish", "mqtt://logger@elsewhere:1884"},
         [](TPublishSettings& s) {
             s.Host = "elsewhere";
             s.Port = 1884;
             s.Tls = false;
             s.Password.clear();
             s.TopicPrefix.clear();
             s.CaFile.clear();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        TLogdOptions options;
        const TLogdStart start = parse(QStringList{QStringLiteral("--settings"), settings} + c.arguments, options);
        ASSERT_TRUE(start.run) << start.text;
        TPublishSettings expected = allSet();
        c.expected(expected);
        EXPECT_EQ(options.publishing, expected);
        EXPECT_EQ(options.port, c.port);
    }

    // The environment's password is the command line's, over the stored one.
    ::setenv(PasswordVariable, "from-environment", 1);
    TLogdOptions options;
    ASSERT_TRUE(parse({QStringLiteral("--settings"), settings}, options).run);
    EXPECT_EQ(options.publishing.Password, "from-environment");
}

// Without a file that publishes, the publishing options need --publish; the service then publishes at its
// log interval unless told otherwise.
TEST_F(LogdSettings, PublishingOptionsWithoutAFile)
{
    TLogdOptions options;
    ASSERT_TRUE(parse({"--port", "ttyUSB0", "--interval", "10", "--publish", "mqtt://broker"}, options).run);
    EXPECT_TRUE(options.publishing.Enabled);
    EXPECT_EQ(options.publishIntervalMs, 0);
    ASSERT_TRUE(parse({"--port", "ttyUSB0", "--publish", "mqtt://broker", "--publish-interval", "60", "--publish-qos",
                       "0", "--publish-discovery", "on"},
                      options)
                    .run);
    EXPECT_EQ(options.publishIntervalMs, 60000);
    EXPECT_EQ(options.publishing.QoS, 0);
    EXPECT_TRUE(options.publishing.HomeAssistant);

    const TLogdStart start = parse({"--port", "ttyUSB0", "--publish-qos", "0"}, options);
    EXPECT_EQ(start.exitCode, EX_USAGE);
    EXPECT_EQ(start.text, "--publish-qos needs --publish, or a settings file that publishes");
    // No port, and a default file that does not exist: nothing is guessed.
    EXPECT_EQ(parse({}, options).exitCode, EX_USAGE);
    EXPECT_TRUE(options.port.empty());
}

// A file whose publishing is switched off keeps its entries for --publish, as the window keeps them.
TEST_F(LogdSettings, AFileThatDoesNotPublishLeavesPublishingOff)
{
    TPublishSettings off = allSet();
    off.Enabled = false;
    writeAsTheWindow("ttyUSB0", off);
    TLogdOptions options;
    ASSERT_TRUE(parse({}, options, true).run);
    EXPECT_FALSE(options.publishing.Enabled);
    ASSERT_TRUE(parse({"--publish", "mqtts://broker.site"}, options, true).run);
    EXPECT_TRUE(options.publishing.Enabled);
    EXPECT_EQ(options.publishing.ClientId, "pi-kitchen");
    EXPECT_EQ(options.publishing.CaFile, "/etc/velmora-logger/ca.pem");
    EXPECT_TRUE(options.publishing.Password.empty()); // no user in the address
}

// The file's publishing that cannot be used is the file's error, unless the command line mends it.
TEST_F(LogdSettings, AnUnusableFileValueIsTheFilesErrorUnlessAnOptionReplacesIt)
{
    TPublishSettings qos2 = allSet();
    qos2.QoS = 2;
    writeAsTheWindow("ttyUSB0", qos2);
    TLogdOptions options;
    TLogdStart start = parse({}, options, true);
    EXPECT_EQ(start.exitCode, EX_CONFIG);
    EXPECT_EQ(start.text, "The settings file \"" + file + "\": publishing: the QoS must be 0 or 1");
    start = parse({"--publish-client-id", "pi-3"}, options, true);
    EXPECT_EQ(start.exitCode, EX_CONFIG) << start.text;
    start = parse({"--publish-qos", "0"}, options, true);
    ASSERT_TRUE(start.run) << start.text;
    EXPECT_EQ(options.publishing.QoS, 0);
}
// During a broker outage the readings waiting are counted when it begins, again while they grow (at most
// once per interval: a minute in service, a second here), and when the broker is back.
TEST_F(LoggingService, TheWaitingCountIsSaidWhenABrokerOutageBeginsWhileItGrowsAndWhenItEnds)
{
    TestBroker broker;
    ASSERT_TRUE(broker.start());
    const std::string where = "127.0.0.1:" + std::to_string(broker.port());
    publishing.Enabled = true;
    publishing.Host = "127.0.0.1";
    publishing.Port = broker.port();
    publishing.ClientId = "lab-ttyUSB0";
    publishing.TopicPrefix = "lab";
    plugIn();
    static const ShiftedClock clock(QDateTime::currentDateTime()); // outlives the service, which TearDown ends
    startService(clock);
    service->run().publishing().setWaitingReportIntervalMs(1000);
    ASSERT_TRUE(runEventsUntil([&] { return saidSomething("Publishing to " + where); }, 10000));

    broker.kill();
    ASSERT_TRUE(runEventsUntil([&] { return saidSomething("Broker unreachable: "); }, 10000));
    runEventsFor(4000); // about 40 readings at 100 ms
    // Each line of the outage: its reason, and the count.
    std::vector<std::pair<std::string, uint64_t>> lines;
    for (const std::string& line : said) {
        const size_t at = line.rfind("; ");
        if (line.rfind("Broker unreachable: ", 0) == 0 && at != std::string::npos) {
            ASSERT_EQ(line.substr(line.size() - 17), " readings waiting") << line;
            lines.emplace_back(line.substr(0, at), std::stoull(line.substr(at + 2)));
        }
    }
    std::string all;
    for (const std::string& line : said)
        all += line + "\n";
    ASSERT_GE(lines.size(), 3u) << all;
    EXPECT_LE(lines.size(), 8u) << all; // the reasons (lost, then refused), then at most one a second
    size_t growing = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].first == lines[i - 1].first) {
            EXPECT_GT(lines[i].second, lines[i - 1].second); // a count that did not grow is not said again
            ++growing;
        }
    }
    EXPECT_GE(growing, 2u) << all;

    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(runEventsUntil([&] { return saidSomething("Publishing to " + where + "; "); }, 20000)) << all;
    const std::string back = *std::find_if(said.begin(), said.end(), [&](const std::string& line) {
        return line.rfind("Publishing to " + where + "; ", 0) == 0;
    });
    const std::string count = back.substr(("Publishing to " + where + "; ").size());
    EXPECT_GE(std::stoull(count), lines.back().second) << back;
    EXPECT_EQ(count.substr(count.find(' ')), " readings waiting to be sent") << back;
}


// The spool is publish.spool in the first state folder systemd names, unless --spool says otherwise;
// without publishing there is none.
TEST_F(LogdSettings, TheSpoolIsInTheStateFolderUnlessGiven)
{
    EXPECT_EQ(DefaultSpoolFile("/var/lib/velmora-logger/ttyUSB0:/var/lib/other"),
              "/var/lib/velmora-logger/ttyUSB0/publish.spool");
    EXPECT_EQ(DefaultSpoolFile(""), "");
    const QStringList publish{"--port", "ttyUSB0", "--publish", "mqtt://127.0.0.1/lab"};
    ::setenv("STATE_DIRECTORY", dir.path().c_str(), 1);
    TLogdOptions options;
    ASSERT_TRUE(parse(publish, options).run);
    EXPECT_EQ(options.spoolFile, dir.file("publish.spool"));
    TLogdOptions given;
    ASSERT_TRUE(parse(publish + QStringList{"--spool", "/tmp/x.spool"}, given).run);
    EXPECT_EQ(given.spoolFile, "/tmp/x.spool");
    TLogdOptions none;
    ASSERT_TRUE(parse({"--port", "ttyUSB0"}, none).run);
    EXPECT_EQ(none.spoolFile, "");
    ::unsetenv("STATE_DIRECTORY");
    TLogdOptions unset;
    ASSERT_TRUE(parse(publish, unset).run);
    EXPECT_EQ(unset.spoolFile, "");
}

} // namespace
