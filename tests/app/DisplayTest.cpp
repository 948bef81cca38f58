// The display tick: panel texts in both modes, and a sensor that stops answering.
#include "WindowFixture.h"
#include "chart/ChartAlarmMarks.h"
#include "chart/StripChart.h"
#include "run/AlarmMonitor.h"
#include "run/Run.h"
#include "record/ReconnectController.h"
#include "sensor/SensorObjects.h"
#include "settings/SettingParams.h"
#include "settings/SettingsFile.h"
#include "support/EventLoopHelper.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <qcustomplot.h>

using Displays = WindowTest;

TEST_F(Displays, ChannelsModePanels)
{
    createFormWithLine("N3 51234 49876 120 0.01234 -5 101.26");
    ASSERT_TRUE(waitForPanel("pnlSample", "51234"));
    EXPECT_EQ(panelText("pnlConcentration"), QStringLiteral("1.23"));
    EXPECT_EQ(panelText("pnlChannel"), QStringLiteral("3"));
    EXPECT_EQ(panelText("pnlReference"), QStringLiteral("49876"));
    EXPECT_EQ(panelText("pnlPressure"), QStringLiteral("101.3"));
    EXPECT_EQ(panelText("pnlTemperature"), QStringLiteral("-5"));
    EXPECT_EQ(panelText("pnlHumidity"), QString());
    EXPECT_EQ(form->StatusPanelText(1), QString());
}

TEST_F(Displays, ConcentrationModePanels)
{
    createFormWithLine("N3 51234 49876 120 0.01234 -5 101.26");
    ASSERT_TRUE(waitForPanel("pnlConcentration", "1.23"));
    action("ModeConcentrationItem")->trigger();
    sendLine("N 2 0.12345 -1.5 3.14159 3.14159 21 998.5 45");
    ASSERT_TRUE(waitForPanel("pnlSample", "2.0000"));
    EXPECT_EQ(panelText("pnlReference"), QStringLiteral("0.1235"));
    EXPECT_EQ(panelText("pnlChannel"), QStringLiteral("-1.5000"));
    EXPECT_EQ(panelText("pnlPressure"), QStringLiteral("998.5"));
    EXPECT_EQ(panelText("pnlTemperature"), QStringLiteral("21"));
    EXPECT_EQ(panelText("pnlHumidity"), QStringLiteral("45"));
    EXPECT_EQ(panelText("pnlConcentration"), QStringLiteral("1.23")); // hidden, not written
    EXPECT_TRUE(reports.empty());
}

TEST_F(Displays, TimeoutBeepsStopsAcquisitionAndKeepsThePanels)
{
    createFormWithLine("N3 51234 49876 120 0.01234 -5 101.26");
    ASSERT_TRUE(waitForPanel("pnlSample", "51234"));
    EXPECT_TRUE(beeps.empty());
    sendLine("D 1 2 3 4 5 6 7 8"); // another kind: the next tick asks again, and the sensor stays silent
    ASSERT_TRUE(runEventsUntil([&] { return !form->StatusPanelText(1).isEmpty(); }, 3000));
    EXPECT_EQ(form->StatusPanelText(1), QStringLiteral("Comms response has exceeded timeout period !!!"));
    ASSERT_EQ(beeps.size(), 1u);
    EXPECT_EQ(beeps[0], std::make_pair(200, 100));
    EXPECT_FALSE(form->DisplaysTimer()->isActive());
    EXPECT_FALSE(form->GraphicsTimer()->isActive());
    EXPECT_FALSE(edit("edtGraphicsInterval")->isEnabled());
    EXPECT_FALSE(edit("edtLoggingInterval")->isEnabled());
    EXPECT_FALSE(button("btnLogging")->isEnabled());
    EXPECT_EQ(panelText("pnlSample"), QStringLiteral("51234"));
    EXPECT_EQ(panelText("pnlConcentration"), QStringLiteral("1.23"));
    EXPECT_TRUE(reports.empty());

    // Nothing retries by itself: no timer is left that could.
    EXPECT_FALSE(form->LogTimer()->isActive());
    EXPECT_FALSE(form->Reconnect().timer().isActive());
    EXPECT_EQ(form->StatusPanelText(1), QStringLiteral("Comms response has exceeded timeout period !!!"));
}

// A reading older than the staleness limit is not current, also while a request for a new one waits.
TEST_F(Displays, PanelsTurnOldAsSoonAsTheirReadingIsStale)
{
    startSimulator(true);
    createForm(4000);
    form->Sensor()->setStalenessLimit(300);
    sendLine("N3 51234 49876 120 0.01234 -5 101.26");
    ASSERT_TRUE(waitForPanel("pnlSample", "51234"));
    bool pending = false;
    QString tip;
    QTimer::singleShot(1500, form.get(), [&] { // the silent sensor's wait has begun
        pending = form->Run().requestPending();
        tip = panel("pnlSample")->toolTip();
    });
    ASSERT_TRUE(runEventsUntil([&] { return !beeps.empty(); }, 10000));
    EXPECT_TRUE(pending);
    EXPECT_TRUE(tip.startsWith(QStringLiteral("Reading of "))) << tip.toStdString();
    EXPECT_EQ(beeps.size(), 1u);
}

// After a time-out the panels keep their values and say they are old: greyed, the time of their reading in a
// tooltip; the next reading makes them current again.
TEST_F(Displays, OldValuesAreGreyedWithTheirTimeUntilTheNextReading)
{
    createFormWithLine("N3 51234 49876 120 0.01234 -5 101.26");
    ASSERT_TRUE(waitForPanel("pnlSample", "51234"));
    const QColor current = panel("pnlSample")->palette().color(QPalette::WindowText);
    const QColor highlighted = panel("pnlConcentration")->palette().color(QPalette::WindowText);
    EXPECT_TRUE(panel("pnlSample")->toolTip().isEmpty());
    sendLine("D 1 2 3 4 5 6 7 8"); // another kind, and then silence: a time-out
    ASSERT_TRUE(runEventsUntil([&] { return !form->StatusPanelText(1).isEmpty(); }, 3000));
    const QRegularExpression time(
        QStringLiteral("^Reading of \\d\\d:\\d\\d:\\d\\d, \\d\\d/\\d\\d/\\d{4}, not current$"));
    for (const char* name : {"pnlSample", "pnlConcentration", "pnlTemperature"}) {
        EXPECT_TRUE(time.match(panel(name)->toolTip()).hasMatch()) << panel(name)->toolTip().toStdString();
        EXPECT_NE(panel(name)->palette().color(QPalette::WindowText),
                  name == std::string("pnlConcentration") ? highlighted : current)
            << name;
    }
    EXPECT_EQ(panelText("pnlSample"), QStringLiteral("51234"));

    form->Reconnect().timer().setInterval(200);
    action("CommsReconnectItem")->trigger();
    QTimer speaking; // the sensor answers the tries
    QObject::connect(&speaking, &QTimer::timeout, [&] { sendLine("N3 51000 49876 120 0.01234 -5 101.26"); });
    speaking.start(50);
    ASSERT_TRUE(waitForPanel("pnlSample", "51000", 5000));
    speaking.stop();
    EXPECT_EQ(panel("pnlSample")->palette().color(QPalette::WindowText), current);
    EXPECT_EQ(panel("pnlConcentration")->palette().color(QPalette::WindowText), highlighted);
    EXPECT_TRUE(panel("pnlSample")->toolTip().isEmpty());
}

namespace {

// Stores alarm rules beside the simulator's port, for the window to load.
void storeAlarms(const std::string& file, const std::string& port, const std::string& portList,
                 std::vector<TAlarmRule> rules)
{
    TSettingParams settings(file, TFormMain::SettingsRootPath);
    settings.SetPortListRoot(portList);
    settings.ComPort = port;
    settings.AlarmRules = std::move(rules);
    ASSERT_EQ(settings.Save(), 0);
}

const QColor AlarmRed(200, 0, 0);

} // namespace

class Alarms : public WindowTest {
protected:
    void createWithRules(std::vector<TAlarmRule> rules, const std::string& line)
    {
        startSimulator(true);
        storeAlarms(dir.file(SettingsFileBase), pty->slavePath(), emptyPortList, std::move(rules));
        portStored = true;
        createForm();
        ASSERT_NE(form->Sensor(), nullptr);
        form->Sensor()->setStalenessLimit(std::numeric_limits<int32_t>::max());
        form->AlarmBeepTimer()->setInterval(100); // the 2 s of the window, shortened
        sendLine(line);
    }
    bool statusMatches(const QString& pattern, int timeoutMs = 3000) const
    {
        const QRegularExpression re(pattern);
        return runEventsUntil([&] { return re.match(form->AlarmPanelText()).hasMatch(); }, timeoutMs);
    }
    size_t alarmBeeps() const
    {
        return static_cast<size_t>(std::count(beeps.begin(), beeps.end(), std::make_pair(880, 150)));
    }
};

// An alarm on: its panel red with white text and the rule as tooltip, the status panel, the beep repeated
// until Acknowledge; acknowledged it stays red but silent; two alarms are counted; values back, all as before.
TEST_F(Alarms, PanelsStatusAndBeepFollowTheAlarmsUntilAcknowledged)
{
    createWithRules({{"concentration", TAlarmRule::High, 0.01}, {"temperature", TAlarmRule::Low, -10}},
                    "N3 51234 49876 120 0.01234 -5 101.26");
    const QString since = QStringLiteral(" since \\d\\d:\\d\\d:\\d\\d");
    ASSERT_TRUE(statusMatches(QStringLiteral("^ALARM concentration 1\\.23 % > 1\\.00 %") + since + QStringLiteral("$")))
        << form->AlarmPanelText().toStdString();
    EXPECT_TRUE(find<QWidget>("StatusBar1AlarmPanel")->isVisible());
    QLabel* conc = panel("pnlConcentration");
    EXPECT_EQ(conc->palette().color(QPalette::Window), AlarmRed);
    EXPECT_EQ(conc->palette().color(QPalette::WindowText), QColor(Qt::white));
    EXPECT_EQ(conc->toolTip(), form->AlarmPanelText());
    EXPECT_NE(panel("pnlTemperature")->palette().color(QPalette::Window), AlarmRed);
    EXPECT_TRUE(panel("pnlTemperature")->toolTip().isEmpty());

    ASSERT_TRUE(runEventsUntil([&] { return alarmBeeps() >= 3; }, 5000)); // on, then repeated
    action("AlarmsAcknowledgeItem")->trigger();
    ASSERT_TRUE(statusMatches(QStringLiteral(", acknowledged$")));
    EXPECT_FALSE(form->AlarmBeepTimer()->isActive());
    const size_t heard = alarmBeeps();
    runEventsFor(400);
    EXPECT_EQ(alarmBeeps(), heard);
    EXPECT_EQ(conc->palette().color(QPalette::Window), AlarmRed);
    EXPECT_EQ(action("AlarmsAcknowledgeItem")->shortcut(), QKeySequence(QStringLiteral("Ctrl+K")));

    sendLine("N3 51234 49876 120 0.01234 -15 101.26"); // a second alarm, not acknowledged: beeps again
    ASSERT_TRUE(statusMatches(QStringLiteral("^2 alarms$")));
    const QStringList lines = form->AlarmPanelToolTip().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2) << form->AlarmPanelToolTip().toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("ALARM concentration 1.23 % > 1.00 % since ")))
        << lines[0].toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^ALARM temperature -15 < -10") + since + QStringLiteral("$"))
                    .match(lines[1])
                    .hasMatch())
        << lines[1].toStdString();
    EXPECT_EQ(panel("pnlTemperature")->palette().color(QPalette::Window), AlarmRed);
    EXPECT_TRUE(form->AlarmBeepTimer()->isActive());
    EXPECT_GT(alarmBeeps(), heard);

    sendLine("N3 51234 49876 120 0.00500 21 101.26"); // both back
    ASSERT_TRUE(runEventsUntil([&] { return form->AlarmPanelText().isEmpty(); }, 3000));
    EXPECT_FALSE(find<QWidget>("StatusBar1AlarmPanel")->isVisible());
    EXPECT_FALSE(form->AlarmBeepTimer()->isActive());
    EXPECT_NE(conc->palette().color(QPalette::Window), AlarmRed);
    EXPECT_FALSE(panel("pnlSample")->autoFillBackground());
    EXPECT_TRUE(conc->autoFillBackground()); // its own highlight again
    EXPECT_TRUE(conc->toolTip().isEmpty());
    EXPECT_TRUE(reports.empty());
}

// A latching alarm whose value came back stays on, "cleared, not acknowledged", and beeps until Ctrl+K.
TEST_F(Alarms, LatchingAlarmStaysOnUntilAcknowledged)
{
    createWithRules({{"concentration", TAlarmRule::High, 0.01, 0, 0, true}}, "N3 51234 49876 120 0.01234 -5 101.26");
    ASSERT_TRUE(statusMatches(QStringLiteral("^ALARM concentration 1\\.23 % > 1\\.00 % since [0-9:]{8}$")));
    sendLine("N3 51234 49876 120 0.00500 -5 101.26");
    ASSERT_TRUE(statusMatches(QStringLiteral("^ALARM concentration 0\\.50 % > 1\\.00 % since [0-9:]{8}, cleared, not "
                                             "acknowledged$")))
        << form->AlarmPanelText().toStdString();
    EXPECT_EQ(panel("pnlConcentration")->palette().color(QPalette::Window), AlarmRed);
    EXPECT_TRUE(form->AlarmBeepTimer()->isActive());
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QTest::keyClick(form.get(), Qt::Key_K, Qt::ControlModifier);
    ASSERT_TRUE(runEventsUntil([&] { return form->AlarmPanelText().isEmpty(); }, 3000));
    EXPECT_FALSE(form->AlarmBeepTimer()->isActive());
    EXPECT_NE(panel("pnlConcentration")->palette().color(QPalette::Window), AlarmRed);
}

// Without rules the window has no alarm panel, marks or beeps.
TEST_F(Alarms, NoRulesChangeNothing)
{
    createWithRules({}, "N3 51234 49876 120 0.01234 -5 101.26");
    ASSERT_TRUE(waitForPanel("pnlSample", "51234"));
    EXPECT_FALSE(form->Run().alarms().active());
    EXPECT_FALSE(find<QWidget>("StatusBar1AlarmPanel")->isVisible());
    EXPECT_FALSE(form->AlarmBeepTimer()->isActive());
    EXPECT_TRUE(form->AlarmMarks().levels().empty());
    EXPECT_EQ(form->Chart().chart()->itemCount(), 0);
}
