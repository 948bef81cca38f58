// Faults an unattended logger meets: a vanishing device, a sensor that stops sending, reconnecting by
// itself, unusable settings files, port names that are not serial ports, and a port held by another process.
#include "WindowFixture.h"
#include "app/SensorSettings.h"
#include "chart/ChartBands.h"
#include "chart/StripChart.h"
#include "record/ReconnectController.h"
#include "sensor/SensorObjects.h"
#include "support/EventLoopHelper.h"
#include "support/FakeClock.h"

#include <QAction>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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
} // namespace

class Faults : public WindowTest {
protected:
    void TearDown() override
    {
        TFormSensorSettings::SetPortLister({});
        WindowTest::TearDown();
    }
    void clickLogging() { QTest::mouseClick(button("btnLogging"), Qt::LeftButton); }
    // Logging to `name` with log lines and chart points every 100 ms; returns once three lines are written.
    void startLogging(const char* name)
    {
        form->GraphicsTimer()->setInterval(100);
        form->LogTimer()->setInterval(100);
        saveAnswers = {QString::fromStdString(dir.file(name))};
        clickLogging();
        ASSERT_TRUE(runEventsUntil([&] { return count(dir.read(name), "\n") >= 4; }, 3000));
    }
    // Series1 has a gap (a NaN point) after `x`, and points come after it.
    void expectGapAfter(double x)
    {
        const auto data = form->Chart().series(0)->data();
        const auto gap = std::find_if(data->begin(), data->end(), [](auto& p) { return std::isnan(p.value); });
        ASSERT_NE(gap, data->end());
        EXPECT_GT(gap->key, x);
        const int afterGap = int(gap - data->begin()) + 1;
        EXPECT_TRUE(runEventsUntil([&] { return form->Chart().series(0)->dataCount() > afterGap; }, 3000));
    }
    void countTries()
    {
        QObject::connect(&form->Reconnect().timer(), &QTimer::timeout, [this] { ++tries; });
    }
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
    int tries = 0;
    FakeClock clock; // outlives the window
};

TEST_F(Faults, VanishingDeviceStopsAcquisitionKeepsTheLogAndResumesOnANewPort)
{
    startSimulator(false, 20);
    createForm(2000);
    ASSERT_TRUE(runEventsUntil([&] { return !panelText("pnlSample").isEmpty(); }, 3000));
    saveAnswers = {QString::fromStdString(dir.file("night.txt"))};
    form->LogTimer()->setInterval(100);
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
    // The log timer runs on until its own tick fails; then no timer is left that could beep again
    // (Reconnect Automatically is off by default).
    ASSERT_TRUE(runEventsUntil([&] { return !form->LogTimer()->isActive(); }, 3000));
    EXPECT_FALSE(form->DisplaysTimer()->isActive());
    EXPECT_FALSE(form->GraphicsTimer()->isActive());
    EXPECT_FALSE(form->Reconnect().timer().isActive());
    // One beep for each timer that was running (display, and log while logging).
    EXPECT_GE(beeps.size(), 1u);
    EXPECT_LE(beeps.size(), 2u);
    EXPECT_TRUE(reports.empty()); // no error boxes
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
    ASSERT_TRUE(runEventsUntil([&] { return form->Chart().series(0)->dataCount() > 0; }, 3000));
    EXPECT_TRUE(reports.empty());
    form.reset(); // closes the port before the simulator goes
}

TEST_F(Faults, SilentSensorTimesOutIsTriedAgainOnTheOpenPortAndGoesOnWhenItSpeaks)
{
    startSimulator(false, 20);
    createForm(300);
    form->Sensor()->setClock(&clock);
    form->Reconnect().timer().setInterval(200);
    startLogging("quiet.txt");
    action("CommsReconnectItem")->trigger(); // on, and stored beside the port
    EXPECT_NE(dir.read("SensorSettings.xml").find("<Reconnect>true</Reconnect>"), std::string::npos);
    countTries();

    // The far end stops sending; the line stays up. While its last line is current the log repeats it.
    sim->setSilent(true);
    sim->inject("N1 11111 22222 333 0.0100 21 101.3");
    ASSERT_TRUE(runEventsUntil([&] { return count(dir.read("quiet.txt"), "\t11111\t") >= 2; }, 3000));
    const size_t linesOfTheLastRecord = count(dir.read("quiet.txt"), "\t11111\t");

    // Older than the limit it is logged no more: readings ask, and wait on this clock (now ticking) in vain.
    clock.t += std::chrono::milliseconds(SensorStalenessLimitMs + 1);
    QTimer ticking;
    QObject::connect(&ticking, &QTimer::timeout, [&] { clock.t += std::chrono::milliseconds(10); });
    ticking.start(10);
    ASSERT_TRUE(runEventsUntil([&] { return form->StatusPanelText(1) == TimeoutMessage; }, 5000));
    ticking.stop();
    form->Sensor()->setClock(nullptr);
    EXPECT_EQ(count(dir.read("quiet.txt"), "\t11111\t"), linesOfTheLastRecord);
    const double lastX = std::prev(form->Chart().series(0)->data()->constEnd())->key;
    ASSERT_TRUE(runEventsUntil([&] { return tries >= 2; }, 5000));

    // Off stops the tries, and is stored.
    action("CommsReconnectItem")->trigger();
    EXPECT_FALSE(form->Reconnect().timer().isActive());
    EXPECT_EQ(dir.read("SensorSettings.xml").find("Reconnect"), std::string::npos);
    action("CommsReconnectItem")->trigger();

    sim->setSilent(false);
    ASSERT_TRUE(runEventsUntil([&] { return ReconnectedNote.match(form->StatusPanelText(1)).hasMatch(); }, 5000));
    expectGapAfter(lastX);
    EXPECT_EQ(beeps.size(), 1u);
    // The outage is a shaded band on the chart, from the time-out to the reconnection.
    const auto* bands = form->findChild<TChartBands*>();
    ASSERT_NE(bands, nullptr);
    ASSERT_EQ(bands->bands().size(), 1u);
    EXPECT_GE(bands->bands()[0].from, lastX);
    EXPECT_FALSE(bands->bandOpen());
    EXPECT_GT(bands->bands()[0].to, bands->bands()[0].from);

    // Comms > Settings... OK starts a fresh run that goes on.
    clickLogging();
    chooseInCommsSettings(pty->slavePath());
    EXPECT_EQ(form->StatusPanelText(1), QString());
    ASSERT_TRUE(runEventsUntil([&] { return form->Chart().series(0)->dataCount() > 0; }, 3000));
    EXPECT_TRUE(bands->bands().empty());
    EXPECT_TRUE(reports.empty());
}

TEST_F(Faults, LostDeviceWhileLoggingReconnectsAndTheSameLogGoesOnWithAGap)
{
    const std::string link = dir.file("sensor"); // as /dev/serial/by-id/... names the device
    std::filesystem::create_symlink(pty->slavePath(), link);
    storePort(link, true);
    startSimulator(false, 20);
    createForm(300);
    form->Reconnect().timer().setInterval(200);
    countTries();
    action("ModeConcentrationItem")->trigger();
    startLogging("night.txt");

    // Unplugged: the device goes away and its node with it.
    sim.reset();
    pty->closeMaster();
    std::filesystem::remove(link);
    ASSERT_TRUE(runEventsUntil([&] { return form->StatusPanelText(1) == TimeoutMessage; }, 3000));
    const std::string atOutage = dir.read("night.txt");
    const double lastX = std::prev(form->Chart().series(0)->data()->constEnd())->key;
    ASSERT_TRUE(runEventsUntil([&] { return tries >= 3; }, 5000)); // each fails: nothing to open
    EXPECT_EQ(dir.read("night.txt"), atOutage);                    // no lines during the outage

    // Plugged in again: a new pseudo-terminal behind the same link.
    pty = std::make_unique<PtyPair>();
    startSimulator(false, 20);
    std::filesystem::create_symlink(pty->slavePath(), link);
    ASSERT_TRUE(runEventsUntil([&] { return ReconnectedNote.match(form->StatusPanelText(1)).hasMatch(); }, 5000));
    EXPECT_EQ(sim->commands().at(0), "N"); // the same mode, asked for afresh
    ASSERT_TRUE(runEventsUntil([&] { return count(dir.read("night.txt"), "\n") >= count(atOutage, "\n") + 4; }, 3000));
    EXPECT_TRUE(ReconnectedNote.match(form->StatusPanelText(1)).hasMatch()); // the ticks leave the note
    EXPECT_EQ(dir.read("night.txt").rfind(atOutage, 0), 0u);                 // the same file goes on
    expectGapAfter(lastX);
    EXPECT_EQ(beeps.size(), 1u); // one for the outage, none for the tries
    EXPECT_TRUE(reports.empty());
}

TEST_F(Faults, PortMissingAtStartIsTriedWithReconnectOnAndTheRunStartsWhenItIsThere)
{
    const std::string link = dir.file("sensor");
    storePort(link, true);
    createForm(300);
    EXPECT_EQ(form->StatusPanelText(1), PortMessage);
    form->Reconnect().timer().setInterval(200);
    countTries();
    ASSERT_TRUE(runEventsUntil([&] { return tries >= 2; }, 5000)); // each fails: nothing to open
    EXPECT_FALSE(form->DisplaysTimer()->isActive());

    // The adapter is plugged in late.
    startSimulator(false, 20);
    std::filesystem::create_symlink(pty->slavePath(), link);
    ASSERT_TRUE(
        runEventsUntil([&] { return form->StatusPanelText(1).startsWith(QStringLiteral("Connected at ")); }, 5000));
    EXPECT_EQ(sim->commands().at(0), "N1");
    EXPECT_TRUE(form->DisplaysTimer()->isActive());
    EXPECT_TRUE(runEventsUntil([&] { return form->Chart().series(0)->dataCount() > 0; }, 3000));
    EXPECT_TRUE(beeps.empty());
    EXPECT_TRUE(reports.empty());
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
        reports.clear();
        createForm();
        EXPECT_EQ(form->StatusPanelText(0), QString()); // the default: the first port present, here none
        EXPECT_EQ(form->StatusPanelText(1), PortMessage);
        chooseInCommsSettings(pty->slavePath()); // the chosen port is used but cannot be stored
        EXPECT_EQ(form->StatusPanelText(0), QString::fromStdString(pty->slavePath()));
        ASSERT_TRUE(runEventsUntil([&] { return reports.size() == 2; }, 3000)); // once the window is up
        EXPECT_NE(reports[0].find("\"" + file + "\" cannot be read: "), std::string::npos) << reports[0];
        EXPECT_NE(reports[1].find("not saved: the settings file \"" + file + "\""), std::string::npos) << reports[1];
        form.reset();
        if (c.folder)
            EXPECT_TRUE(std::filesystem::is_directory(file));
        else
            EXPECT_EQ(dir.read("SensorSettings.xml"), c.content);
    }
}

TEST_F(Faults, PortNamesThatAreNotSerialPortsAreRefusedAndNothingIsWritten)
{
    dir.write("victim.txt", "keep me\n");
    std::ifstream in("/etc/passwd", std::ios::binary);
    const std::string passwdBefore((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const std::string& port :
         {std::string("../../etc/passwd"), std::string("/etc/passwd"), dir.file("victim.txt"), dir.path()}) {
        SCOPED_TRACE(port);
        portStored = false;
        storePort(port);
        createForm();
        EXPECT_EQ(form->StatusPanelText(1), PortMessage);
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
    holder.start(QStringLiteral("flock"),
                 {QStringLiteral("--exclusive"), QStringLiteral("--no-fork"), QString::fromStdString(pty->slavePath()),
                  QStringLiteral("sleep"), QStringLiteral("30")});
    ASSERT_TRUE(holder.waitForStarted(5000));
    const int probe = ::open(pty->slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(probe, 0);
    const auto heldElsewhere = [probe] {
        if (flock(probe, LOCK_EX | LOCK_NB) != 0)
            return true;
        flock(probe, LOCK_UN); // not yet: let the holder have it
        return false;
    };
    ASSERT_TRUE(runEventsUntil(heldElsewhere, 5000));
    ::close(probe);
    startSimulator();
    createForm();
    EXPECT_EQ(form->StatusPanelText(1), PortMessage);
    EXPECT_FALSE(form->DisplaysTimer()->isActive());
    EXPECT_FALSE(form->Reconnect().timer().isActive()); // Reconnect Automatically is off
    holder.kill();
    holder.waitForFinished(5000);
    chooseInCommsSettings(pty->slavePath()); // free again: OK restarts acquisition
    EXPECT_EQ(form->StatusPanelText(1), QString());
    EXPECT_TRUE(form->DisplaysTimer()->isActive());
}
