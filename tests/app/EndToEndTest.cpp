// The whole application against the sensor simulator on a pseudo-terminal, driven through its window.
#include "WindowFixture.h"
#include "app/SensorSettings.h"
#include "chart/StripChart.h"
#include "sensor/SensorObjects.h"
#include "support/EventLoopHelper.h"

#include <QAction>
#include <QComboBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

namespace {

const char* const ChannelsHeader =
    "Date\tTime\tChannel\tSample\tReference\tVoltage PWM\tConcentration\tTemperature\tPressure\r\n";
// A Channels-mode data line: UK date, time with milliseconds, channel, three counts, the concentration
// with four decimals, temperature, pressure with one decimal, CR LF.
const QRegularExpression ChannelsLine(QStringLiteral(
    "^\\d\\d/\\d\\d/"
    "\\d{4}\\t\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\t1\\t\\d+\\t\\d+\\t\\d+\\t-?\\d\\.\\d{4}\\t-?\\d+\\t\\d+\\.\\d\\r$"));

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t lf; (lf = text.find('\n', start)) != std::string::npos; start = lf + 1)
        out.push_back(text.substr(start, lf - start));
    return out;
}

} // namespace

class EndToEnd : public WindowTest {
protected:
    void TearDown() override
    {
        TFormSensorSettings::SetPortLister({});
        WindowTest::TearDown();
    }
};

TEST_F(EndToEnd, AcquiresLogsSwitchesModesTimesOutAndRestarts)
{
    startSimulator(false, 20);
    createForm(400);
    form->GraphicsTimer()->setInterval(200);

    // Channels mode: the first reading asks for channel 1 and the panels show the simulator's values.
    EXPECT_EQ(form->StatusPanelText(0), QString::fromStdString(pty->slavePath()));
    ASSERT_TRUE(runEventsUntil([&] { return !panelText("pnlSample").isEmpty(); }, 3000));
    EXPECT_EQ(sim->commands().front(), "N1");
    const int sample = panelText("pnlSample").toInt();
    EXPECT_GT(sample, 40000);
    EXPECT_LT(sample, 60000);
    EXPECT_EQ(panelText("pnlChannel"), QStringLiteral("1"));

    // The chart gains a point every graphics tick.
    const int before = form->Chart().series(0)->dataCount();
    ASSERT_TRUE(runEventsUntil([&] { return form->Chart().series(0)->dataCount() >= before + 3; }, 3000));
    EXPECT_EQ(form->Chart().series(3)->dataCount(), form->Chart().series(0)->dataCount());

    // Logging writes the header and lines in the exact format.
    saveAnswers = {QString::fromStdString(dir.file("run.txt"))};
    form->LogTimer()->setInterval(100);
    QTest::mouseClick(button("btnLogging"), Qt::LeftButton);
    ASSERT_TRUE(form->Logging());
    ASSERT_TRUE(runEventsUntil([&] { return lines(dir.read("run.txt")).size() >= 4; }, 3000));
    QTest::mouseClick(button("btnLogging"), Qt::LeftButton);
    const std::string log = dir.read("run.txt");
    ASSERT_EQ(log.rfind(ChannelsHeader, 0), 0u);
    const auto logLines = lines(log);
    for (size_t i = 1; i < logLines.size(); ++i)
        EXPECT_TRUE(ChannelsLine.match(QString::fromStdString(logLines[i])).hasMatch()) << logLines[i];
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");

    // Concentration mode asks for concentration lines.
    action("ModeConcentrationItem")->trigger();
    ASSERT_TRUE(runEventsUntil([&] { return !panelText("pnlHumidity").isEmpty(); }, 3000));
    EXPECT_EQ(sim->commands().back(), "N");

    // A silenced sensor: the next request (here for a channel reading) times out with the beep, the
    // stopped state and the time-out message.
    sim->setSilent(true);
    action("ModeChannelsItem")->trigger();
    ASSERT_TRUE(runEventsUntil([&] { return !beeps.empty(); }, 5000));
    EXPECT_EQ(beeps.front(), std::make_pair(200, 100));
    EXPECT_EQ(form->StatusPanelText(1), QStringLiteral("Comms response has exceeded timeout period !!!"));
    EXPECT_FALSE(form->DisplaysTimer()->isActive());
    EXPECT_FALSE(button("btnLogging")->isEnabled());

    // Comms > Settings... with the simulator's port restarts acquisition in Channels mode.
    sim->setSilent(false);
    TFormSensorSettings::SetPortLister([&](std::vector<std::string>& ports) { ports = {pty->slavePath()}; });
    whenModal([](QWidget* modal) {
        auto* dialog = qobject_cast<TFormSensorSettings*>(modal);
        ASSERT_NE(dialog, nullptr);
        QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
    });
    action("CommsSettingsItem")->trigger();
    EXPECT_EQ(form->StatusPanelText(1), QString());
    EXPECT_FALSE(form->ConcentrationMode());
    ASSERT_TRUE(runEventsUntil([&] { return sim->commands().back() == "N1"; }, 3000));
    ASSERT_TRUE(runEventsUntil([&] { return !panelText("pnlSample").isEmpty(); }, 3000));
    EXPECT_TRUE(button("btnLogging")->isEnabled());
    EXPECT_TRUE(reports.empty());
}
