// Faults an unattended logger meets: a vanishing device, a noisy line, unusable settings files,
// port names that are not serial ports, and a port held by another process.
#include "EventLoopHelper.h"
#include "SensorObjects.h"
#include "SensorSettings.h"
#include "StripChart.h"
#include "WindowFixture.h"

#include <QAction>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace {
const QString PortMessage = QStringLiteral("Current port is already in use or unavailable !!!");
const QString TimeoutMessage = QStringLiteral("Comms response has exceeded timeout period !!!");
} // namespace

class Faults : public WindowTest {
protected:
    void TearDown() override
    {
        TFormSensorSettings::SetPortLister({});
        WindowTest::TearDown();
    }
    void clickLogging() { QTest::mouseClick(button("btnLogging"), Qt::LeftButton); }
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
        // The operator is told, once the window is up, which file and why, and that nothing is lost.
        ASSERT_TRUE(runEventsUntil([&] { return reports.size() == 1; }, 3000));
        EXPECT_NE(reports[0].find("\"" + file + "\" cannot be read: "), std::string::npos) << reports[0];
        EXPECT_NE(reports[0].find("default port"), std::string::npos) << reports[0];
        chooseInCommsSettings(pty->slavePath()); // the chosen port is used but cannot be stored
        EXPECT_EQ(form->StatusPanelText(0), QString::fromStdString(pty->slavePath()));
        ASSERT_TRUE(runEventsUntil([&] { return reports.size() == 2; }, 3000));
        EXPECT_NE(reports[1].find("The port was not saved: the settings file \"" + file + "\""), std::string::npos)
            << reports[1];
        EXPECT_NE(reports[1].find("left as it is"), std::string::npos) << reports[1];
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
