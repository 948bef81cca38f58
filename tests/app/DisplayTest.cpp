// The display tick: panel texts in both modes, and a sensor that stops answering.
#include "WindowFixture.h"
#include "run/Run.h"
#include "record/ReconnectController.h"
#include "sensor/SensorObjects.h"
#include "support/EventLoopHelper.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

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
