// Faults an unattended logger meets: a vanishing device, a sensor that stops sending, reconnecting by
// itself, unusable settings files, port names that are not serial ports, and a port held by another process.
#include "EventLoopHelper.h"
#include "FakeClock.h"
#include "ReconnectController.h"
#include "SensorObjects.h"
#include "SensorSettings.h"
#include "StripChart.h"
#include "WindowFixture.h"

#include <QAction>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace {
const QString PortMessage = QStringLiteral("Current port is already in use or unavailable !!!");
const QString TimeoutMessage = QStringLiteral("Comms response has exceeded timeout period !!!");
const QRegularExpression ReconnectedNote(QStringLiteral("^Reconnected at \\d\\d:\\d\\d:\\d\\d$"));

size_t count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Milliseconds of the day in the time column of a log line.
long timeOfDayMs(const std::string& line)
{
    unsigned h = 0, m = 0, s = 0, ms = 0;
    std::sscanf(line.c_str() + line.find('\t') + 1, "%2u:%2u:%2u.%3u", &h, &m, &s, &ms);
    return ((static_cast<long>(h) * 60 + m) * 60 + s) * 1000 + ms;
}
} // namespace

class Faults : public WindowTest {
protected:
    void TearDown() override
    {
        TFormSensorSettings::SetPortLister({});
        WindowTest::TearDown();
    }
    void clickLogging() { QTest::mouseClick(button("btnLogging"), Qt::LeftButton); }
    size_t logLines(const char* name) const { return count(dir.read(name), "\n"); }
    // Logging to `name` every 100 ms, with chart points every 100 ms; returns once three lines are written.
    void startLogging(const char* name)
    {
        form->GraphicsTimer->setInterval(100);
        form->LogTimer->setInterval(100);
        saveAnswers = {QString::fromStdString(dir.file(name))};
        clickLogging();
        ASSERT_TRUE(form->Logging());
        ASSERT_TRUE(runEventsUntil([&] { return logLines(name) >= 4; }, 3000));
    }
    // The configured port as a symbolic link (like /dev/serial/by-id/...), re-pointed in one step.
    void pointLink(const std::string& target)
    {
        std::filesystem::remove(link + ".new");
        std::filesystem::create_symlink(target, link + ".new");
        std::filesystem::rename(link + ".new", link);
    }
    // Counts the reconnection tries from now on.
    void countTries()
    {
        QObject::connect(&form->Reconnect().timer(), &QTimer::timeout, [this] { ++tries; });
    }
    // Every series has a gap (a NaN point) after `x`, with points on both sides of it.
    void expectGapAfter(double x)
    {
        for (int i = 0; i < 5; ++i) {
            SCOPED_TRACE(i);
            const auto* data = form->Chart().series(i)->data().data();
            auto gap = std::find_if(data->constBegin(), data->constEnd(), [](const QCPGraphData& p) { return std::isnan(p.value); });
            ASSERT_NE(gap, data->constEnd());
            EXPECT_GT(gap->key, x);
            EXPECT_NE(gap, data->constBegin());
            EXPECT_NE(gap + 1, data->constEnd());
        }
    }

    std::string link = dir.file("sensor");
    int tries = 0;
    FakeClock clock;
    // Comms > Settings... answered with OK on the given port.
    void chooseInCommsSettings(const std::string& port)
    {
        TFormSensorSettings::SetPortLister([port](std::vector<std::string>& ports) { ports = {port}; });
        whenModal([port](QWidget* modal) {
            auto* dialog = qobject_cast<TFormSensorSettings*>(modal);
            ASSERT_NE(dialog, nullptr);
            dialog->SetComPort(port);
            QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
        });
        action("CommsSettingsItem")->trigger();
    }
};

TEST_F(Faults, VanishingDeviceStopsAcquisitionKeepsTheLogAndResumesOnANewPort)
{
    startSimulator(false, 20);
    createForm(2000);
    ASSERT_TRUE(runEventsUntil([&] { return !panelText("pnlSample").isEmpty(); }, 3000));
    saveAnswers = {QString::fromStdString(dir.file("night.txt"))};
    form->LogTimer->setInterval(100);
    clickLogging();
    auto logLines = [&] {
        const std::string text = dir.read("night.txt");
        return std::count(text.begin(), text.end(), '\n');
    };
    ASSERT_TRUE(runEventsUntil([&] { return logLines() >= 3; }, 3000));

    // Unplugged: the far end goes away while the sensor is streaming.
    sim.reset();
    pty->closeMaster();
    ASSERT_TRUE(runEventsUntil([&] { return form->StatusPanelText(1) == TimeoutMessage; }, 1500));
    runEventsFor(300);
    // One beep for each timer that was running (display, and log while logging), then silence.
    EXPECT_GE(beeps.size(), 1u);
    EXPECT_LE(beeps.size(), 2u);
    const size_t beepsSoFar = beeps.size();
    runEventsFor(500);
    EXPECT_EQ(beeps.size(), beepsSoFar);
    EXPECT_TRUE(reports.empty()); // no error boxes
    EXPECT_FALSE(form->DisplaysTimer->isActive());
    EXPECT_FALSE(form->GraphicsTimer->isActive());
    EXPECT_FALSE(action("CommsReconnectItem")->isChecked()); // off by default: no tries
    EXPECT_FALSE(form->Reconnect().timer().isActive());
    const QString frozen = panelText("pnlSample");

    // The log keeps every line; STOP closes it.
    const std::string written = dir.read("night.txt");
    ASSERT_TRUE(button("btnLogging")->isEnabled());
    clickLogging();
    EXPECT_FALSE(form->Logging());
    const std::string closed = dir.read("night.txt");
    EXPECT_EQ(closed.substr(0, written.size()), written);
    EXPECT_EQ(closed.substr(closed.size() - 2), "\r\n");
    EXPECT_EQ(panelText("pnlSample"), frozen);

    // The device is back (as a new pseudo-terminal): choosing it resumes acquisition.
    auto back = std::make_unique<PtyPair>();
    SimulatorOptions options;
    options.linesPerSecond = 20;
    SensorSimulator again(back->masterFd(), options);
    again.start();
    chooseInCommsSettings(back->slavePath());
    EXPECT_EQ(form->StatusPanelText(0), QString::fromStdString(back->slavePath()));
    EXPECT_EQ(form->StatusPanelText(1), QString());
    ASSERT_TRUE(runEventsUntil([&] { return !again.commands().empty(); }, 3000));
    EXPECT_EQ(again.commands().front(), "N1");
    ASSERT_TRUE(runEventsUntil([&] { return form->Series1->dataCount() > 0; }, 3000));
    EXPECT_TRUE(reports.empty());
    form.reset(); // closes the port before the simulator goes
}

TEST_F(Faults, SensorThatStopsSendingEndsInTheTimeOutInsteadOfFrozenValues)
{
    startSimulator(false, 20);
    createForm(300);
    form->Sensor()->setClock(&clock);
    ASSERT_TRUE(runEventsUntil([&] { return !panelText("pnlSample").isEmpty(); }, 3000));
    startLogging("quiet.txt");

    // The far end stops sending; the line stays up. Its last line is one the test knows.
    sim->setSilent(true);
    sim->inject("N1 11111 22222 333 0.0100 21 101.3");
    ASSERT_TRUE(waitForPanel("pnlSample", QStringLiteral("11111")));
    // While it is current the log takes it again and again.
    ASSERT_TRUE(runEventsUntil([&] { return count(dir.read("quiet.txt"), "\t11111\t") >= 2; }, 3000));
    const size_t linesOfTheLastRecord = count(dir.read("quiet.txt"), "\t11111\t");

    // Once that line is older than the limit, no tick puts it out again: the next reading asks, and the
    // sensor's waits (on the same clock, running fast from now on) end in the time-out.
    clock.t += std::chrono::milliseconds(SensorStalenessLimitMs + 1);
    QTimer fastClock;
    QObject::connect(&fastClock, &QTimer::timeout, [&] { clock.t += std::chrono::milliseconds(100); });
    fastClock.start(10);
    ASSERT_TRUE(runEventsUntil([&] { return form->StatusPanelText(1) == TimeoutMessage; }, 5000));
    fastClock.stop();
    EXPECT_EQ(count(dir.read("quiet.txt"), "\t11111\t"), linesOfTheLastRecord);
    EXPECT_FALSE(form->DisplaysTimer->isActive());
    EXPECT_GE(beeps.size(), 1u);
    EXPECT_EQ(beeps.front(), std::make_pair(200, 100));
    EXPECT_EQ(sim->commands().back(), "N1");
    EXPECT_TRUE(reports.empty());

    // The sensor speaks again; after STOP, Comms > Settings... OK starts a fresh run that goes on.
    clickLogging();
    sim->setSilent(false);
    chooseInCommsSettings(pty->slavePath());
    EXPECT_EQ(form->StatusPanelText(1), QString());
    ASSERT_TRUE(runEventsUntil([&] { return !panelText("pnlSample").isEmpty() && panelText("pnlSample") != "11111"; }, 3000));
    ASSERT_TRUE(runEventsUntil([&] { return form->Series1->dataCount() > 0; }, 3000));
    EXPECT_TRUE(form->DisplaysTimer->isActive());
    form->Sensor()->setClock(nullptr);
}

TEST_F(Faults, LostDeviceWhileLoggingReconnectsAndTheSameLogGoesOnWithAGap)
{
    pointLink(pty->slavePath());
    storePort(link, true);
    startSimulator(false, 20);
    createForm(300);
    EXPECT_TRUE(action("CommsReconnectItem")->isChecked());
    form->Reconnect().timer().setInterval(200);
    countTries();
    action("ModeConcentrationItem")->trigger();
    ASSERT_TRUE(runEventsUntil([&] { return !panelText("pnlHumidity").isEmpty(); }, 3000));
    startLogging("night.txt");
    ASSERT_GE(form->Series1->dataCount(), 2);
    const QCPGraphData firstPoint = *form->Series1->data()->constBegin();

    // Unplugged: the device goes away and its node with it.
    sim.reset();
    pty->closeMaster();
    std::filesystem::remove(link);
    ASSERT_TRUE(runEventsUntil([&] { return form->StatusPanelText(1) == TimeoutMessage; }, 3000));
    const std::string atOutage = dir.read("night.txt");
    const double lastX = std::prev(form->Series1->data()->constEnd())->key;
    ASSERT_TRUE(runEventsUntil([&] { return tries >= 3; }, 5000)); // each fails: nothing to open
    EXPECT_EQ(dir.read("night.txt"), atOutage); // no lines during the outage
    EXPECT_FALSE(form->DisplaysTimer->isActive());
    EXPECT_FALSE(form->LogTimer->isActive());
    EXPECT_EQ(beeps.size(), 1u); // one beep for the outage, none per try
    EXPECT_TRUE(reports.empty()); // no error boxes
    EXPECT_EQ(form->StatusPanelText(1), TimeoutMessage);

    // Plugged in again: a new pseudo-terminal behind the same link.
    PtyPair back;
    SimulatorOptions options;
    options.linesPerSecond = 20;
    SensorSimulator again(back.masterFd(), options);
    again.start();
    pointLink(back.slavePath());
    ASSERT_TRUE(runEventsUntil([&] { return ReconnectedNote.match(form->StatusPanelText(1)).hasMatch(); }, 5000))
        << form->StatusPanelText(1).toStdString();
    ASSERT_FALSE(again.commands().empty());
    EXPECT_EQ(again.commands().front(), "N"); // the same mode, asked for afresh
    EXPECT_TRUE(form->ConcentrationMode());
    EXPECT_TRUE(form->Logging());
    EXPECT_TRUE(form->DisplaysTimer->isActive());
    ASSERT_TRUE(runEventsUntil([&] { return count(dir.read("night.txt"), "\n") >= count(atOutage, "\n") + 4; }, 3000));
    EXPECT_TRUE(ReconnectedNote.match(form->StatusPanelText(1)).hasMatch()); // the ticks leave the note

    // The same file goes on, and its timestamps show the outage.
    clickLogging();
    const std::string log = dir.read("night.txt");
    ASSERT_EQ(log.substr(0, atOutage.size()), atOutage);
    const size_t lineBefore = atOutage.rfind('\n') + 1; // the last line before the outage
    const size_t lineAfter = atOutage.size() + 2;        // after its line end
    const long gapMs = timeOfDayMs(log.substr(lineAfter)) - timeOfDayMs(atOutage.substr(lineBefore));
    EXPECT_GT(gapMs, 3 * 200) << log; // at least the failed tries, where lines came every 100 ms
    EXPECT_EQ(beeps.size(), 1u);

    // The chart keeps its points and its elapsed time; the outage is a gap.
    EXPECT_EQ(form->Series1->data()->constBegin()->key, firstPoint.key);
    EXPECT_GT(std::prev(form->Series1->data()->constEnd())->key, lastX + 0.6);
    expectGapAfter(lastX);
    EXPECT_TRUE(reports.empty());
    form.reset(); // closes the port before the simulator goes
}

TEST_F(Faults, SilentSensorIsTriedAgainOnTheOpenPortUntilItSpeaks)
{
    startSimulator(false, 20);
    createForm(300);
    form->Sensor()->setStalenessLimit(300);
    form->Reconnect().timer().setInterval(200);
    ASSERT_TRUE(runEventsUntil([&] { return !panelText("pnlSample").isEmpty(); }, 3000));
    form->GraphicsTimer->setInterval(100);
    ASSERT_TRUE(runEventsUntil([&] { return form->Series1->dataCount() >= 2; }, 3000));

    // The option is switched on from the menu and stored beside the port.
    action("CommsReconnectItem")->trigger();
    EXPECT_NE(dir.read("SensorSettings.xml").find("<Reconnect>true</Reconnect>"), std::string::npos);
    countTries();
    sim->setSilent(true);
    ASSERT_TRUE(runEventsUntil([&] { return form->StatusPanelText(1) == TimeoutMessage; }, 5000));
    const double lastX = std::prev(form->Series1->data()->constEnd())->key;
    ASSERT_TRUE(runEventsUntil([&] { return tries >= 2; }, 5000));
    EXPECT_TRUE(form->Sensor()->Connected()); // the device is there: no reopening
    EXPECT_EQ(beeps.size(), 1u);

    // Off stops the tries (and is stored); on again resumes them.
    action("CommsReconnectItem")->trigger();
    EXPECT_FALSE(form->Reconnect().timer().isActive());
    EXPECT_EQ(dir.read("SensorSettings.xml").find("Reconnect"), std::string::npos);
    const int triesWhenOff = tries;
    const size_t commandsWhenOff = sim->commands().size();
    runEventsFor(600);
    EXPECT_EQ(tries, triesWhenOff);
    EXPECT_EQ(sim->commands().size(), commandsWhenOff);
    action("CommsReconnectItem")->trigger();
    EXPECT_TRUE(form->Reconnect().timer().isActive());

    sim->setSilent(false);
    ASSERT_TRUE(runEventsUntil([&] { return ReconnectedNote.match(form->StatusPanelText(1)).hasMatch(); }, 5000));
    EXPECT_TRUE(form->DisplaysTimer->isActive());
    const int pointsAtResume = form->Series1->dataCount();
    ASSERT_TRUE(runEventsUntil([&] { return form->Series1->dataCount() >= pointsAtResume + 2; }, 3000));
    expectGapAfter(lastX);
    EXPECT_EQ(beeps.size(), 1u);
    EXPECT_TRUE(reports.empty());

    // Comms > Settings... OK still starts a fresh run.
    chooseInCommsSettings(pty->slavePath());
    EXPECT_EQ(form->StatusPanelText(1), QString());
    EXPECT_EQ(form->Series1->dataCount(), 0);
}

TEST_F(Faults, UnusableSettingsFilesKeepTheDefaultAndAreNeverOverwritten)
{
    struct Case {
        const char* name;
        std::string content; // empty with folder: the file is a folder
        bool folder = false;
    };
    const Case cases[] = {
        {"empty", ""},
        {"malformed", "<Sensor><Settings><ComPort>ttyUSB0</ComPort>"},
        {"folder", "", true},
        {"element in ComPort", "<Sensor><Settings><ComPort><x/></ComPort></Settings></Sensor>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = dir.file("SensorSettings.xml");
        std::filesystem::remove_all(file);
        if (c.folder)
            std::filesystem::create_directory(file);
        else
            dir.write("SensorSettings.xml", c.content);
        portStored = true;
        createForm();
        EXPECT_EQ(form->StatusPanelText(0), QString()); // the default: the first port present, here none
        EXPECT_EQ(form->StatusPanelText(1), PortMessage);
        chooseInCommsSettings(pty->slavePath()); // the chosen port is used but cannot be stored
        EXPECT_EQ(form->StatusPanelText(0), QString::fromStdString(pty->slavePath()));
        form.reset();
        if (c.folder)
            EXPECT_TRUE(std::filesystem::is_directory(file));
        else
            EXPECT_EQ(dir.read("SensorSettings.xml"), c.content);
        EXPECT_TRUE(reports.empty());
    }
}

TEST_F(Faults, PortNamesThatAreNotSerialPortsAreRefusedAndNothingIsWritten)
{
    dir.write("victim.txt", "keep me\n");
    std::ifstream in("/etc/passwd", std::ios::binary);
    const std::string passwdBefore((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const std::string& port : {std::string("../../etc/passwd"), std::string("/etc/passwd"), dir.file("victim.txt"), dir.path()}) {
        SCOPED_TRACE(port);
        portStored = false;
        storePort(port);
        createForm();
        EXPECT_EQ(form->StatusPanelText(1), PortMessage);
        runEventsFor(200);
        form.reset();
    }
    EXPECT_EQ(dir.read("victim.txt"), "keep me\n");
    std::ifstream after("/etc/passwd", std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(after)), std::istreambuf_iterator<char>()), passwdBefore);
    EXPECT_TRUE(reports.empty());
}

TEST_F(Faults, PortHeldByAnotherProcessIsBusy)
{
    QProcess holder;
    holder.start(QStringLiteral("flock"), {QStringLiteral("--exclusive"), QStringLiteral("--no-fork"),
                                           QString::fromStdString(pty->slavePath()),
                                           QStringLiteral("sleep"), QStringLiteral("30")});
    ASSERT_TRUE(holder.waitForStarted(5000));
    runEventsFor(300); // the lock is taken
    startSimulator();
    createForm();
    EXPECT_EQ(form->StatusPanelText(1), PortMessage);
    EXPECT_FALSE(form->DisplaysTimer->isActive());
    holder.kill();
    holder.waitForFinished(5000);
    chooseInCommsSettings(pty->slavePath()); // free again: OK restarts acquisition
    EXPECT_EQ(form->StatusPanelText(1), QString());
    EXPECT_TRUE(form->DisplaysTimer->isActive());
}
