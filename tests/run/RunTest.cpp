// One run under a plain QCoreApplication, as the service runs it: one request at a time, commands given
// during a wait, and a log that outlives a full disk.
#include "run/Run.h"
#include "record/AlarmRule.h"
#include "record/ReadingFormat.h"
#include "record/RunClock.h"
#include "run/RunLog.h"
#include "sensor/SensorObjects.h"
#include "support/EventLoopHelper.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"
#include "tools/SensorSimulator.h"

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

// A file size limit for this process (writes past it fail with EFBIG), lifted again by lift() or at the end.
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old);
        const rlimit limit{bytes, old.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { lift(); }
    void lift() { setrlimit(RLIMIT_FSIZE, &old); }
    rlimit old{};
};

size_t lineCount(const std::string& text)
{
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

struct Run : ::testing::Test {
    TempDir dir;
    PtyPair pty;
    std::unique_ptr<SensorSimulator> sim;
    std::unique_ptr<TRun> run;
    std::vector<bool> outages; // timedOut's beginsOutage, in order
    std::vector<std::string> said;

    void startSimulator(SimulatorOptions options = {}, bool silent = false)
    {
        sim = std::make_unique<SensorSimulator>(pty.masterFd(), options);
        sim->setSilent(silent);
        sim->start();
    }
    void createRun(int waitMs = 1000)
    {
        run = std::make_unique<TRun>(systemRunClock());
        run->configurePort(pty.slavePath());
        run->sensor().setWaitLimits(waitMs, waitMs);
        QObject::connect(run.get(), &TRun::timedOut, [this](bool begins) { outages.push_back(begins); });
        const auto say = [this](const QString& text) { said.push_back(text.toStdString()); };
        QObject::connect(&run->log(), &TRunLog::failed, say);
        QObject::connect(&run->log(), &TRunLog::recovered, say);
        QObject::connect(&run->log(), &TRunLog::replaced, say);
        ASSERT_TRUE(run->openPort());
    }
    std::vector<std::string> files() const { return dir.list("out"); }
    void TearDown() override
    {
        run.reset();
        sim.reset();
    }
};

// With every timer running, a sensor that falls silent is announced once, within the one wait of the first
// request after the silence: no tick nests a request or a wait of its own in it.
TEST_F(Run, ASilentSensorTimesOutWithinOneWaitWhateverTimersRun)
{
    SimulatorOptions options;
    options.linesPerSecond = 20;
    options.silentAfter = 10;
    startSimulator(options);
    constexpr int WaitMs = 2000;
    constexpr int StaleMs = 200;
    createRun(WaitMs);
    run->sensor().setStalenessLimit(StaleMs);
    run->setAcquisitionPurposes({TRun::Display, TRun::Chart});
    run->timer(TRun::Display)->setInterval(20);
    run->timer(TRun::Chart)->setInterval(30);
    run->timer(TRun::Log)->setInterval(40);
    run->startLog(dir.file("log.txt"));
    run->startAcquisition();
    ASSERT_TRUE(runEventsUntil([&] { return sim->linesSent() >= 10; }, 10000));
    QElapsedTimer silence;
    silence.start();
    ASSERT_TRUE(runEventsUntil([&] { return !outages.empty(); }, 4 * WaitMs));
    const qint64 announcedAfter = silence.elapsed();
    EXPECT_EQ(outages.front(), true);
    // Nested waits took both waits together (twice WaitMs); one request's wait takes one.
    EXPECT_LT(announcedAfter, StaleMs + WaitMs * 3 / 2);
    EXPECT_EQ(sim->commands().size(), 2u); // the first request, and the one after the silence
    EXPECT_EQ(std::count(outages.begin(), outages.end(), true), 1);
}

// The window's way: no rules, no events file; with a rule, every reading the run hands out is judged
// (here the panels'), acknowledgement goes through the run, and the events file lies beside the chosen log.
TEST_F(Run, AlarmsJudgeTheReadingsHandedOutAndWriteBesideTheChosenLog)
{
    startSimulator({}, true);
    createRun(3000);
    std::filesystem::create_directory(dir.file("out"));
    run->startLog(dir.file("out/plain.txt"));
    run->stopLog();
    EXPECT_EQ(files(), std::vector<std::string>{"plain.txt"});

    TAlarmRule rule;
    ASSERT_EQ(ParseAlarmRule("concentration>1%,latch", rule), "");
    run->setAlarmRules({rule});
    std::vector<std::string> events;
    QObject::connect(run.get(), &TRun::alarmEvent,
                     [&](const TAlarmEvent& e) { events.push_back(AlarmEventName(e.kind)); });
    run->startLog(dir.file("out/run-0412.txt"));
    const auto tickWith = [&](std::string line) {
        run->sensor().markReadingsStale(); // asks the sensor, which answers with this line
        QTimer::singleShot(50, [&, line] { sim->inject(line); });
        run->tickNow({TRun::Display});
    };
    tickWith("N1 51234 49876 120 0.0123 24 101.3");
    EXPECT_EQ(run->alarmsOn(), std::vector<std::string>{"concentration > 0.01"});
    tickWith("N1 51234 49876 120 0.0090 24 101.3");
    EXPECT_EQ(run->alarmsOn().size(), 1u); // latched
    run->acknowledgeAlarms();
    EXPECT_TRUE(run->alarmsOn().empty());
    run->stopLog();
    EXPECT_EQ(events, (std::vector<std::string>{"Alarm on", "Acknowledged", "Alarm off"}));
    EXPECT_EQ(files(), (std::vector<std::string>{"plain.txt", "run-0412.events.txt", "run-0412.txt"}));
    const std::string text = dir.read("out/run-0412.events.txt");
    size_t at = 0;
    for (const char* line : {"Log started\t\t\t\r\n", "\tAlarm on\tconcentration\t0.0123\t0.01\r\n",
                             "\tAcknowledged\tconcentration\t0.009\t0.01\r\n",
                             "\tAlarm off\tconcentration\t0.009\t0.01\r\n", "\tLog stopped\t\t\t\r\n"}) {
        at = text.find(line, at);
        ASSERT_NE(at, std::string::npos) << line << " in\n" << text;
    }
}

// Ticks that come due while a request waits are served by its reading; commands given then run after it,
// in order.
TEST_F(Run, TicksAndCommandsDuringAWaitWaitForItsReading)
{
    startSimulator({}, true);
    createRun(3000);
    run->setAcquisitionPurposes({TRun::Display, TRun::Chart});
    run->timer(TRun::Display)->setInterval(10);
    run->timer(TRun::Chart)->setInterval(10);
    std::vector<std::string> events;
    QObject::connect(run.get(), &TRun::reading, [&](TRun::Purpose purpose, const TReading&, double) {
        events.push_back(purpose == TRun::Display ? "display" : "chart");
    });
    QTimer::singleShot(100, [&] {
        run->startAcquisition(); // both timers come due during the wait
        EXPECT_TRUE(run->requestPending());
        run->whenIdle([&] {
            events.push_back("first command");
            EXPECT_FALSE(run->requestPending());
        });
        run->whenIdle([&] { events.push_back("second command"); });
    });
    QTimer::singleShot(400, [&] { sim->inject("N1 51234 49876 120 0.0123 24 101.3"); });
    run->tickNow({TRun::Display}); // returns when the reading is in hand
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + 4),
              (std::vector<std::string>{"display", "chart", "first command", "second command"}));
    EXPECT_EQ(sim->commands().size(), 1u);
    EXPECT_TRUE(outages.empty());
    EXPECT_TRUE(run->timer(TRun::Chart)->isActive()); // on again, as after any tick
}

// A file size limit cuts writes short: lines wait with their own times, the failure is said once, and
// they arrive in order, whole, when there is room again.
TEST_F(Run, LinesWaitThroughAFullDiskAndArriveInOrder)
{
    SimulatorOptions options;
    options.linesPerSecond = 20;
    startSimulator(options);
    createRun();
    run->timer(TRun::Log)->setInterval(30);
    const std::string file = dir.file("log.txt");
    run->startLog(file);
    ASSERT_TRUE(runEventsUntil([&] { return lineCount(dir.read("log.txt")) >= 2; }));
    FileSizeLimit full(dir.read("log.txt").size() + 30);
    const bool waited = runEventsUntil([&] { return run->log().waiting() >= 5; });
    full.lift();
    ASSERT_TRUE(waited);
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].rfind("Log: cannot write \"" + file + "\": ", 0), 0u) << said[0];
    ASSERT_TRUE(runEventsUntil([&] { return said.size() == 2; }));
    EXPECT_EQ(said[1].rfind("Writing to \"" + file + "\" again; ", 0), 0u) << said[1];
    run->stopLog();
    const std::string text = dir.read("log.txt");
    ASSERT_EQ(text.rfind(std::string(LogHeader(false)) + "\r\n", 0), 0u);
    QTime previous;
    size_t lines = 0;
    for (size_t start = text.find("\r\n") + 2, end; (end = text.find("\r\n", start)) != std::string::npos;
         start = end + 2, ++lines) {
        const std::string line = text.substr(start, end - start);
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 8) << line;
        const QTime time = QTime::fromString(QString::fromStdString(line.substr(11, 12)), QStringLiteral("hh:mm:ss.zzz"));
        EXPECT_TRUE(!previous.isValid() || previous < time) << line; // in order, each with its own time
        previous = time;
    }
    EXPECT_GE(lines, 7u);
}

// The service's files: a file that cannot be written when it must be opened is tried again with the next
// line (no flood of empty files); one deleted under the log is said and followed by a new one.
TEST_F(Run, NoEmptyFilesWhileTheDiskIsFullAndANewFileAfterADeletion)
{
    SimulatorOptions options;
    options.linesPerSecond = 20;
    startSimulator(options);
    createRun();
    std::filesystem::create_directory(dir.file("out"));
    run->timer(TRun::Log)->setInterval(30);
    FileSizeLimit full(10); // shorter than any header
    run->startLogInFolder(dir.file("out"));
    run->timer(TRun::Log)->start();
    const bool waited = runEventsUntil([&] { return run->log().waiting() >= 5; });
    const std::vector<std::string> during = files();
    full.lift();
    ASSERT_TRUE(waited);
    EXPECT_TRUE(during.empty()); // each file whose header could not be written was removed
    ASSERT_TRUE(runEventsUntil([&] { return files().size() == 1 && lineCount(dir.read("out/" + files()[0])) >= 6; }));
    const std::string first = files()[0];
    EXPECT_EQ(said.size(), 2u); // the failure and the recovery

    std::filesystem::remove(dir.file("out/" + first));
    ASSERT_TRUE(runEventsUntil([&] { return files().size() == 1 && lineCount(dir.read("out/" + files()[0])) >= 2; }));
    ASSERT_EQ(said.size(), 3u);
    EXPECT_NE(said[2].find("was deleted or replaced"), std::string::npos) << said[2];
    EXPECT_EQ(dir.read("out/" + files()[0]).rfind(std::string(LogHeader(false)) + "\r\n", 0), 0u);
}

} // namespace
