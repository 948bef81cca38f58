// The headless logger in this process, on a simulated sensor: files, rotation, outages, write failures,
// what it says about a broker outage.
#include "logd/LoggingService.h"
#include "../publish/BrokerFixture.h"
#include "record/AlarmRule.h"
#include "record/ReadingFormat.h"
#include "record/RunTexts.h"
#include "run/Run.h"
#include "run/RunLog.h"
#include "run/RunPublishing.h"
#include "support/EventLoopHelper.h"
#include "support/PtyPair.h"
#include "support/ShiftedClock.h"
#include "support/TempDir.h"
#include "tools/SensorSimulator.h"

#include <QDir>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>

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
    TPublishSettings publishing; // publishes when enabled

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

} // namespace
