// Comms > Settings... and Help > About.
#include "WindowFixture.h"
#include "about/AboutBox.h"
#include "app/AlarmsDialog.h"
#include "app/PublishingDialog.h"
#include "app/SensorSettings.h"
#include "chart/ChartAlarmMarks.h"
#include "chart/StripChart.h"
#include "publish/Publisher.h"
#include "run/AlarmMonitor.h"
#include "run/Run.h"
#include "sensor/SensorObjects.h"
#include "settings/SettingParams.h"
#include "settings/SettingsFile.h"
#include "support/EventLoopHelper.h"
#include "support/FailingFileOps.h"
#include "support/FreePort.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

class Menus : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        previousLister =
            TFormSensorSettings::SetPortLister([this](std::vector<std::string>& ports) { ports = listed; });
    }
    void TearDown() override
    {
        TFormSensorSettings::SetPortLister(previousLister);
        WindowTest::TearDown();
    }
    // Runs Comms > Settings... and answers the dialog: OK with `port` selected (empty: as it opens), or Cancel.
    void runCommsSettings(bool ok, const std::string& port = {})
    {
        whenModal([this, ok, port](QWidget* modal) {
            auto* dialog = qobject_cast<TFormSensorSettings*>(modal);
            ASSERT_NE(dialog, nullptr);
            shownPort = dialog->cbPort->currentText().toStdString();
            if (!port.empty())
                dialog->cbPort->setCurrentText(QString::fromStdString(port));
            QTest::mouseClick(ok ? dialog->btnOK : dialog->btnCancel, Qt::LeftButton);
        });
        action("CommsSettingsItem")->trigger();
    }
    // A running window in Concentration mode with a few points on the chart.
    void startChartingConcentration()
    {
        createFormWithLine("N3 51234 49876 120 0.0123 24 101.3");
        ASSERT_TRUE(waitForPanel("pnlSample", "51234"));
        action("ModeConcentrationItem")->trigger();
        form->GraphicsTimer()->setInterval(30);
        sendLine("N 0.0021 0.5 0.25 3.14159 3.14159 21 101.3 45");
        ASSERT_TRUE(runEventsUntil([&] { return form->Chart().series(0)->dataCount() >= 2; }, 3000));
    }
    std::string storedPort() const
    {
        TSettingParams settings(dir.file(SettingsFileBase), TFormMain::SettingsRootPath);
        settings.SetPortListRoot(emptyPortList);
        settings.Load();
        return settings.ComPort;
    }

    TFormSensorSettings::TPortLister previousLister;
    std::vector<std::string> listed;
    std::string shownPort;
};

TEST_F(Menus, CancelChangesNothing)
{
    ASSERT_NO_FATAL_FAILURE(startChartingConcentration());
    const std::string settingsBefore = dir.read("SensorSettings.xml");
    const int points = form->Chart().series(0)->dataCount();

    runCommsSettings(false);
    EXPECT_EQ(shownPort, pty->slavePath());
    EXPECT_TRUE(form->ConcentrationMode());
    EXPECT_GE(form->Chart().series(0)->dataCount(), points);
    EXPECT_TRUE(form->DisplaysTimer()->isActive() || form->GraphicsTimer()->isActive());
    EXPECT_EQ(dir.read("SensorSettings.xml"), settingsBefore);
    EXPECT_EQ(form->StatusPanelText(0), QString::fromStdString(pty->slavePath()));
    EXPECT_TRUE(reports.empty());
}

TEST_F(Menus, OkWithTheSamePortReopensSavesAndClearsTheChart)
{
    ASSERT_NO_FATAL_FAILURE(startChartingConcentration());
    dir.write("SensorSettings.xml", "<?xml version=\"1.0\"?><Sensor><Settings><Baud>9600</Baud><ComPort>"
                                        + pty->slavePath() + "</ComPort></Settings></Sensor>");
    const QDateTime startedBefore = form->StartTime();

    runCommsSettings(true);
    EXPECT_FALSE(form->ConcentrationMode());
    EXPECT_TRUE(action("ModeChannelsItem")->isChecked());
    EXPECT_EQ(form->Chart().series(0)->dataCount(), 0); // cleared by the restart
    EXPECT_GT(form->StartTime(), startedBefore);
    EXPECT_TRUE(form->DisplaysTimer()->isActive());
    EXPECT_EQ(form->StatusPanelText(0), QString::fromStdString(pty->slavePath()));
    EXPECT_EQ(form->StatusPanelText(1), QString());
    EXPECT_EQ(dir.read("SensorSettings.xml").find("Baud"), std::string::npos); // the file was rewritten
    EXPECT_EQ(storedPort(), pty->slavePath());
    EXPECT_TRUE(form->Sensor()->Connected());
    EXPECT_TRUE(reports.empty());
}

TEST_F(Menus, OkOnABusyPortShowsTheMessageButSavesAndShowsTheName)
{
    PtyPair other;
    const int holder = ::open(other.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    listed = {other.slavePath()};
    startSimulator();
    createForm();

    runCommsSettings(true, other.slavePath());
    EXPECT_EQ(form->StatusPanelText(0), QString::fromStdString(other.slavePath()));
    EXPECT_EQ(form->StatusPanelText(1), QStringLiteral("Current port is already in use or unavailable !!!"));
    EXPECT_EQ(storedPort(), other.slavePath());
    EXPECT_FALSE(form->DisplaysTimer()->isActive());
    EXPECT_FALSE(form->GraphicsTimer()->isActive());
    EXPECT_FALSE(button("btnLogging")->isEnabled());
    EXPECT_TRUE(reports.empty());
    ::close(holder);
}

TEST_F(Menus, OkAfterATimeoutRestartsAcquisition)
{
    createFormWithLine("N3 51234 49876 120 0.0123 24 101.3");
    ASSERT_TRUE(waitForPanel("pnlSample", "51234"));
    sendLine("D 1 2 3 4 5 6 7 8"); // another kind: the next tick asks again
    ASSERT_TRUE(runEventsUntil([&] { return !beeps.empty(); }, 3000));
    ASSERT_FALSE(form->DisplaysTimer()->isActive());

    sim->setSilent(false);
    runCommsSettings(true);
    EXPECT_TRUE(form->DisplaysTimer()->isActive());
    EXPECT_TRUE(form->GraphicsTimer()->isActive());
    EXPECT_TRUE(button("btnLogging")->isEnabled());
    EXPECT_EQ(form->StatusPanelText(1), QString());
    EXPECT_TRUE(panelText("pnlSample").isEmpty()); // emptied by the restart
    ASSERT_TRUE(runEventsUntil([&] { return !panelText("pnlSample").isEmpty(); }, 3000));
    EXPECT_EQ(form->StatusPanelText(1), QString());
    EXPECT_EQ(beeps.size(), 1u);
    EXPECT_TRUE(reports.empty());
}

// Commands given while a tick waits for the sensor take effect when the wait returns, in the order given;
// a close then closes the window at the latest when the wait ends.
TEST_F(Menus, CommandsDuringAWaitTakeEffectWhenItReturns)
{
    startSimulator(true); // silent: the first display tick's request waits until a line is sent
    createForm(5000);
    bool pending = false, concentrationDuring = true;
    QTimer::singleShot(200, form.get(), [&] {
        pending = form->Run().requestPending();
        action("ModeConcentrationItem")->trigger();
        edit("edtGraphicsInterval")->setText(QStringLiteral("7"));
        button("btnGraphicsInterval")->click();
        concentrationDuring = form->ConcentrationMode();
    });
    QTimer::singleShot(400, form.get(), [&] { sendLine("N1 51234 49876 120 0.0123 24 101.3"); });
    ASSERT_TRUE(runEventsUntil([&] { return form->ConcentrationMode(); }, 8000));
    EXPECT_TRUE(pending);
    EXPECT_FALSE(concentrationDuring);
    EXPECT_EQ(form->GraphicsTimer()->interval(), 7000);
    EXPECT_EQ(sim->commands(), std::vector<std::string>{"N1"}); // the mode's request only after the wait

    // Concentration mode asks with "N" and waits again.
    bool visibleDuring = false;
    pending = false;
    QTimer::singleShot(300, form.get(), [&] {
        pending = form->Run().requestPending();
        form->close();
        visibleDuring = form->isVisible();
    });
    QTimer::singleShot(500, form.get(), [&] { sendLine("N 0.0101 0.0102 0.0099 0.01 0.0098 21 101.3 45"); });
    ASSERT_TRUE(runEventsUntil([&] { return !form->isVisible(); }, 8000));
    EXPECT_TRUE(pending);
    EXPECT_TRUE(visibleDuring);
    EXPECT_TRUE(beeps.empty());
    EXPECT_TRUE(reports.empty());
}

TEST_F(Menus, HelpAboutShowsTheAboutBoxModally)
{
    startSimulator();
    createForm();
    for (int size : {16, 32, 48, 256}) // the program's icon, in the sizes of the icon theme
        EXPECT_TRUE(form->windowIcon().availableSizes().contains(QSize(size, size))) << size;
    QString title;
    bool wasAboutBox = false;
    whenModal([&](QWidget* modal) {
        wasAboutBox = qobject_cast<TFormAboutBox*>(modal) != nullptr;
        title = modal->windowTitle();
        static_cast<TFormAboutBox*>(modal)->FormClick();
    });
    action("HelpAboutItem")->trigger();
    EXPECT_TRUE(wasAboutBox);
    EXPECT_EQ(title, QStringLiteral(" About Velmora Data Logger"));
    EXPECT_EQ(FormAboutBox, nullptr); // freed
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// Settings next to the executable when a file is there, else in the user's configuration folder; failed saves.
TEST_F(Menus, SettingsFileLocationAndFailingSavesReportedWithTheFileAndTheReason)
{
    const std::string bin = dir.file("bin");
    ASSERT_EQ(::mkdir(bin.c_str(), 0555), 0); // read-only, as /usr/bin is for a user
    PtyPair other;
    listed = {pty->slavePath(), other.slavePath()};
    startSimulator();
    createForm(300, bin);
    dir.write("config", "a file where the folder should be"); // the configuration folder cannot be created
    runCommsSettings(true, pty->slavePath());
    ASSERT_TRUE(runEventsUntil([&] { return reports.size() == 1; }, 3000));
    EXPECT_NE(reports[0].find(userConfigFolder() + "/velmora-logger\" cannot be created"), std::string::npos)
        << reports[0];
    std::filesystem::remove(userConfigFolder());
    runCommsSettings(true, pty->slavePath());
    EXPECT_TRUE(std::filesystem::is_empty(bin));
    form.reset();
    createForm(300, bin);
    EXPECT_EQ(form->StatusPanelText(0), QString::fromStdString(pty->slavePath()));

    // A file next to the executable (the one createForm stored) is read and written there.
    form.reset();
    createForm(300, dir.path());
    runCommsSettings(true, other.slavePath());
    EXPECT_EQ(storedPort(), other.slavePath());

    FailingFileOps diskFull;
    form->Settings()->SetFileOps(&diskFull);
    runCommsSettings(true, pty->slavePath());
    form->Settings()->SetFileOps(nullptr);
    ASSERT_TRUE(runEventsUntil([&] { return reports.size() == 2; }, 3000));
    const std::string reason = "\"" + dir.file("SensorSettings.xml") + "\": " + std::strerror(ENOSPC);
    EXPECT_NE(reports[1].find(reason), std::string::npos) << reports[1];
    EXPECT_TRUE(form->DisplaysTimer()->isActive()); // the port is used all the same
}

// Publishing to a broker that refuses: panel 2 says so while the run goes on untouched; the dialog refuses
// a wildcard prefix and an interval the window would not take, tests a connection, and switching off
// hides the panel and is stored.
TEST_F(Menus, PublishingPanelAndDialog)
{
    startSimulator();
    storePort(pty->slavePath());
    const int port = freePort(); // nothing listens there
    {
        TSettingParams settings(dir.file(SettingsFileBase), TFormMain::SettingsRootPath);
        settings.SetPortListRoot(emptyPortList);
        ASSERT_EQ(settings.Load(), 0);
        settings.Publishing.Enabled = true;
        settings.Publishing.Host = "127.0.0.1";
        settings.Publishing.Port = port;
        ASSERT_EQ(settings.Save(), 0);
    }
    createForm();
    const QString refused = QStringLiteral("Broker unreachable: connection refused by 127.0.0.1:%1;").arg(port);
    ASSERT_TRUE(runEventsUntil([&] { return form->StatusPanelText(2).startsWith(refused); }, 10000))
        << form->StatusPanelText(2).toStdString();
    ASSERT_TRUE(runEventsUntil([&] { return form->Publisher()->waiting() >= 2; }, 5000));
    EXPECT_TRUE(find<QWidget>("StatusBar1Panel2")->isVisible());
    EXPECT_EQ(form->StatusPanelText(0), QString::fromStdString(pty->slavePath()));
    EXPECT_EQ(form->StatusPanelText(1), QString());
    EXPECT_TRUE(form->DisplaysTimer()->isActive() || form->GraphicsTimer()->isActive());

    TPublishingDialog dialog(form->Settings()->Publishing, "ttyUSB0");
    dialog.prefixEdit()->setText(QStringLiteral("site/#"));
    EXPECT_EQ(dialog.check(), QStringLiteral("the topic prefix 'site/#' contains a wildcard (# or +)"));
    dialog.prefixEdit()->clear();
    dialog.intervalEdit()->setText(QStringLiteral("0"));
    EXPECT_EQ(dialog.check(), QStringLiteral("The publish interval must be a whole number of seconds, at least 1."));
    dialog.intervalEdit()->setText(QStringLiteral("2"));
    EXPECT_EQ(dialog.check(), QString());
    // Every entry is wide enough for its placeholder, and the test's result shows whole.
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    for (const QLineEdit* edit : dialog.findChildren<QLineEdit*>())
        EXPECT_GE(edit->width(), edit->fontMetrics().horizontalAdvance(edit->placeholderText()) + 8)
            << edit->placeholderText().toStdString();
    dialog.testButton()->click();
    ASSERT_TRUE(runEventsUntil(
        [&] { return dialog.testResult()->text().startsWith(QStringLiteral("connection refused")); }, 10000))
        << dialog.testResult()->text().toStdString();
    runEventsFor(50);
    const QLabel* result = dialog.testResult();
    EXPECT_GE(result->height(), result->heightForWidth(result->width()));
    // Browse fills the field; the next browse starts in the folder of the last file chosen.
    QStringList folders;
    dialog.setFileChooser([&](const QString&, const QString& folder) {
        folders << folder;
        return QStringLiteral("/etc/velmora/ca.pem");
    });
    dialog.findChild<QPushButton*>(QStringLiteral("CaFileBrowse"))->click();
    EXPECT_EQ(dialog.caFileEdit()->text(), QStringLiteral("/etc/velmora/ca.pem"));
    dialog.findChild<QPushButton*>(QStringLiteral("KeyFileBrowse"))->click();
    EXPECT_EQ(dialog.keyFileEdit()->text(), QStringLiteral("/etc/velmora/ca.pem"));
    EXPECT_EQ(folders, QStringList({QString(), QStringLiteral("/etc/velmora")}));
    dialog.hide();

    whenModal([](QWidget* modal) {
        auto* publishing = qobject_cast<TPublishingDialog*>(modal);
        ASSERT_NE(publishing, nullptr);
        publishing->enabledBox()->setChecked(false);
        publishing->accept();
    });
    action("CommsPublishingItem")->trigger();
    EXPECT_FALSE(find<QWidget>("StatusBar1Panel2")->isVisible());
    EXPECT_EQ(form->Publisher(), nullptr);
    TSettingParams stored(dir.file(SettingsFileBase), TFormMain::SettingsRootPath);
    stored.SetPortListRoot(emptyPortList);
    ASSERT_EQ(stored.Load(), 0);
    EXPECT_FALSE(stored.Publishing.Enabled);
    EXPECT_EQ(stored.Publishing.Port, port);
    EXPECT_TRUE(reports.empty());
}

// Alarms sits between Mode and Help. Alarms... takes a concentration in percent and stores it as the log's
// fraction; the chart draws the level on the concentration's series with its factor; rules of the current
// mode only are offered, and "No reading" comes on with the first rule.
TEST_F(Menus, AlarmsDialogStoresRulesAndTheChartDrawsTheirLevels)
{
    startSimulator();
    createForm();
    QStringList titles;
    for (QAction* item : form->menuBar()->actions())
        titles << item->text();
    EXPECT_EQ(titles.indexOf(QStringLiteral("&Alarms")), titles.indexOf(menu("menuMode")->title()) + 1)
        << titles.join(QLatin1Char(',')).toStdString();
    EXPECT_EQ(titles.indexOf(menu("menuHelp")->title()), titles.indexOf(QStringLiteral("&Alarms")) + 1);

    whenModal([](QWidget* modal) {
        auto* dialog = qobject_cast<TAlarmsDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->quantityBox()->count(), 7); // Channels mode
        EXPECT_FALSE(dialog->noReadingBox()->isEnabled());
        dialog->noReadingBox()->setChecked(false);
        dialog->quantityBox()->setCurrentText(QStringLiteral("concentration"));
        EXPECT_EQ(dialog->levelBox()->suffix(), QStringLiteral(" %"));
        dialog->levelBox()->setValue(1.25);
        dialog->hysteresisBox()->setValue(0.05);
        dialog->delayBox()->setValue(10);
        dialog->addButton()->click();
        EXPECT_TRUE(dialog->noReadingBox()->isEnabled());
        EXPECT_TRUE(dialog->noReadingBox()->isChecked());
        dialog->quantityBox()->setCurrentText(QStringLiteral("pressure"));
        EXPECT_EQ(dialog->levelBox()->suffix(), QString());
        dialog->directionBox()->setCurrentIndex(1);
        dialog->levelBox()->setValue(95);
        dialog->hysteresisBox()->setValue(0); // the fields keep what they held
        dialog->delayBox()->setValue(0);
        dialog->addButton()->click();
        dialog->addButton()->click(); // a third, changed and removed again
        dialog->levelBox()->setValue(90);
        dialog->latchBox()->setChecked(true);
        dialog->changeButton()->click();
        EXPECT_EQ(dialog->list()->item(2)->text(), QStringLiteral("pressure < 90, latching"));
        EXPECT_EQ(dialog->list()->item(0)->text(),
                  QStringLiteral("concentration > 1.25 %, hysteresis 0.05 %, delay 10 s"));
        dialog->list()->setCurrentRow(2);
        dialog->removeButton()->click();
        EXPECT_EQ(dialog->list()->count(), 2);
        dialog->accept();
    });
    action("AlarmsSettingsItem")->trigger();
    ASSERT_TRUE(runEventsUntil([&] { return form->Run().alarms().rules().size() == 2; }, 5000));

    TSettingParams stored(dir.file(SettingsFileBase), TFormMain::SettingsRootPath);
    stored.SetPortListRoot(emptyPortList);
    ASSERT_EQ(stored.Load(), 0);
    ASSERT_EQ(stored.AlarmRules.size(), 2u);
    const TAlarmRule& conc = stored.AlarmRules[0]; // entered in percent, kept as a fraction
    EXPECT_EQ(conc.quantity, "concentration");
    EXPECT_EQ(conc.direction, TAlarmRule::High);
    EXPECT_DOUBLE_EQ(conc.level, 0.0125);
    EXPECT_DOUBLE_EQ(conc.hysteresis, 0.0005);
    EXPECT_EQ(conc.delaySeconds, 10);
    EXPECT_FALSE(conc.latching);
    EXPECT_EQ(stored.AlarmRules[1], (TAlarmRule{"pressure", TAlarmRule::Low, 95, 0, 0, false}));
    EXPECT_TRUE(stored.NoReadingAlarm);
    EXPECT_EQ(form->Run().alarms().rules(), stored.AlarmRules);

    // Levels on Series3 (Conc * 10000) and Series5 (pressure * 10), dashed in their colours, while shown.
    TChartAlarmMarks& marks = form->AlarmMarks();
    ASSERT_EQ(marks.levels().size(), 2u);
    EXPECT_EQ(marks.levels()[0].series, 2);
    EXPECT_DOUBLE_EQ(marks.levels()[0].value, 125);
    EXPECT_EQ(marks.levels()[1].series, 4);
    EXPECT_DOUBLE_EQ(marks.levels()[1].value, 950);
    form->Chart().chart()->replot();
    EXPECT_EQ(marks.levelsShown(), 2);
    form->Chart().setSeriesShown(2, false);
    form->Chart().chart()->replot();
    EXPECT_EQ(marks.levelsShown(), 1);
    // In Concentration mode neither quantity has a series of its own but pressure.
    action("ModeConcentrationItem")->trigger();
    ASSERT_TRUE(runEventsUntil([&] { return marks.levels().size() == 1; }, 5000));
    EXPECT_EQ(marks.levels()[0].series, 4);
    EXPECT_TRUE(reports.empty());
}
