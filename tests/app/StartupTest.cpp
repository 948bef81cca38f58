// Start-up with a working, busy, missing or unusable port; the modes.
#include "WindowFixture.h"
#include "app/StatusPanel.h"
#include "chart/StripChart.h"
#include "sensor/SensorObjects.h"
#include "support/EventLoopHelper.h"

#include <QAction>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
const char* const Panels[] = {"pnlConcentration", "pnlChannel",   "pnlPressure",   "pnlHumidity",
                              "pnlSample",        "pnlReference", "pnlTemperature"};

std::vector<QString> seriesTitles(TFormMain& form)
{
    std::vector<QString> titles;
    for (int i = 0; i < TStripChart::SeriesCount; ++i)
        titles.push_back(form.Chart().series(i)->name());
    return titles;
}
} // namespace

using Startup = WindowTest;

TEST_F(Startup, WorkingPortStartsAcquisitionInChannelsMode)
{
    startSimulator();
    createForm();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Velmora Data Logger"));
    EXPECT_EQ(form->StatusPanelText(0), QString::fromStdString(pty->slavePath()));
    EXPECT_EQ(form->StatusPanelText(1), QString());
    EXPECT_TRUE(form->DisplaysTimer()->isActive());
    EXPECT_TRUE(form->GraphicsTimer()->isActive());
    EXPECT_FALSE(form->LogTimer()->isActive());
    EXPECT_EQ(form->DisplaysTimer()->interval(), 125);
    EXPECT_TRUE(edit("edtGraphicsInterval")->isEnabled());
    EXPECT_TRUE(edit("edtLoggingInterval")->isEnabled());
    EXPECT_TRUE(button("btnLogging")->isEnabled());
    EXPECT_EQ(button("btnLogging")->text(), QStringLiteral("START"));
    EXPECT_FALSE(button("btnGraphicsInterval")->isEnabled());
    EXPECT_FALSE(button("btnLoggingInterval")->isEnabled());
    EXPECT_FALSE(form->ConcentrationMode());
    EXPECT_TRUE(action("ModeChannelsItem")->isChecked());
    EXPECT_FALSE(action("ModeConcentrationItem")->isChecked());
    EXPECT_FALSE(form->Logging());

    ASSERT_TRUE(runEventsUntil([&] { return !panelText("pnlSample").isEmpty(); }, 3000));
    EXPECT_FALSE(panelText("pnlConcentration").isEmpty());
    EXPECT_TRUE(panelText("pnlHumidity").isEmpty());
    ASSERT_FALSE(sim->commands().empty());
    EXPECT_EQ(sim->commands().front(), "N1");
    EXPECT_TRUE(reports.empty());
}

TEST_F(Startup, BusyPortShowsThePortMessageAndStaysUsable)
{
    const int holder = ::open(pty->slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    startSimulator();
    createForm();
    EXPECT_EQ(form->StatusPanelText(1), QStringLiteral("Current port is already in use or unavailable !!!"));
    EXPECT_EQ(form->StatusPanelText(0), QString::fromStdString(pty->slavePath()));
    for (const char* name : Panels)
        EXPECT_TRUE(panelText(name).isEmpty()) << name;
    EXPECT_FALSE(edit("edtGraphicsInterval")->isEnabled());
    EXPECT_FALSE(edit("edtLoggingInterval")->isEnabled());
    EXPECT_FALSE(button("btnLogging")->isEnabled());
    EXPECT_TRUE(menu("menuComms")->isEnabled());
    EXPECT_TRUE(menu("menuMode")->isEnabled());
    EXPECT_TRUE(menu("menuHelp")->isEnabled());
    EXPECT_FALSE(form->DisplaysTimer()->isActive()); // no timer that could ask the sensor
    EXPECT_FALSE(form->GraphicsTimer()->isActive());
    EXPECT_TRUE(sim->commands().empty());
    EXPECT_TRUE(reports.empty());

    // Switching modes while stopped changes captions and titles only.
    action("ModeConcentrationItem")->trigger();
    EXPECT_EQ(box("gbSample")->title(), QStringLiteral("Channel 1"));
    EXPECT_TRUE(sim->commands().empty());
    EXPECT_FALSE(form->DisplaysTimer()->isActive());
    ::close(holder);
}

TEST_F(Startup, AnotherProgramHoldingThePortOpenIsNamedAndAcquisitionGoesOn)
{
    QProcess holder;
    holder.setStandardInputFile(QString::fromStdString(pty->slavePath()));
    holder.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    ASSERT_TRUE(holder.waitForStarted());
    startSimulator();
    createForm();
    const QString note = QStringLiteral("The port is also open in sleep (%1)").arg(holder.processId());
    EXPECT_TRUE(form->StatusPanelText(1).startsWith(note)) << form->StatusPanelText(1).toStdString();
    EXPECT_TRUE(form->DisplaysTimer()->isActive());
    holder.kill();
    holder.waitForFinished();
}

TEST_F(Startup, MissingPortShowsItsNameAndThePortMessage)
{
    storePort("/nonexistent/ttyVM7");
    createForm();
    EXPECT_EQ(form->StatusPanelText(0), QStringLiteral("/nonexistent/ttyVM7"));
    EXPECT_EQ(form->StatusPanelText(1), QStringLiteral("Current port is already in use or unavailable !!!"));
    EXPECT_FALSE(button("btnLogging")->isEnabled());
    EXPECT_TRUE(reports.empty());
}

TEST_F(Startup, NoSettingsFileAndNoPortsLeavesThePortNameEmpty)
{
    portStored = true; // no file
    createForm();
    EXPECT_EQ(form->StatusPanelText(0), QString());
    EXPECT_EQ(form->StatusPanelText(1), QStringLiteral("Current port is already in use or unavailable !!!"));
    EXPECT_TRUE(reports.empty());
}

TEST_F(Startup, UnreadablePortListLeavesTheWindowWithoutSensorButUsable)
{
    portStored = true;
    form =
        std::make_unique<TFormMain>(TFormMainSetup{QString::fromStdString(dir.path()), dir.file("no-such-folder"), {}});
    form->show();
    ASSERT_EQ(reports.size(), 1u); // the settings load's error, reported once
    EXPECT_EQ(form->Sensor(), nullptr);
    EXPECT_EQ(form->StatusPanelText(0), QString());
    for (const char* name :
         {"gbConcentration", "gbChannel", "gbPressure", "gbHumidity", "gbSample", "gbReference", "gbTemperature"})
        EXPECT_TRUE(box(name)->isVisible()) << name;
    EXPECT_EQ(box("gbSample")->title(), QStringLiteral("Sample"));
    EXPECT_EQ(box("gbChannel")->title(), QStringLiteral("Channel"));
    EXPECT_EQ(seriesTitles(*form)[1], QStringLiteral("Ref Counts"));
    EXPECT_EQ(seriesTitles(*form)[2], QStringLiteral("Concentration * 10 000"));
    EXPECT_FALSE(action("ModeChannelsItem")->isChecked());
    EXPECT_FALSE(action("ModeConcentrationItem")->isChecked());
    EXPECT_FALSE(form->DisplaysTimer()->isActive());

    // Comms > Settings... explains instead of failing.
    action("CommsSettingsItem")->trigger();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_NE(reports[1].find("restart the program"), std::string::npos) << reports[1];
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(Startup, ModesSetCaptionsVisibilityTitlesAndCheckMarks)
{
    startSimulator();
    createForm();
    EXPECT_EQ(seriesTitles(*form), (std::vector<QString>{"Sample Counts", "Reference Counts", "Conc * 10000",
                                                         "Temperature", "Pressure * 10", "Humidity"}));
    EXPECT_FALSE(box("gbConcentration")->isHidden());
    EXPECT_TRUE(box("gbHumidity")->isHidden());
    EXPECT_EQ(box("gbReference")->title(), QStringLiteral("Reference"));

    action("ModeConcentrationItem")->trigger();
    EXPECT_TRUE(form->ConcentrationMode());
    EXPECT_TRUE(box("gbConcentration")->isHidden());
    EXPECT_FALSE(box("gbHumidity")->isHidden());
    EXPECT_EQ(box("gbSample")->title(), QStringLiteral("Channel 1"));
    EXPECT_EQ(box("gbReference")->title(), QStringLiteral("Channel 2"));
    EXPECT_EQ(box("gbChannel")->title(), QStringLiteral("Channel 3"));
    EXPECT_EQ(seriesTitles(*form), (std::vector<QString>{"Conc 1 * 10000", "Conc 2 * 10000", "Conc 3 * 10000",
                                                         "Temperature", "Pressure * 10", "Humidity"}));
    EXPECT_TRUE(action("ModeConcentrationItem")->isChecked());
    EXPECT_FALSE(action("ModeChannelsItem")->isChecked());

    // Choosing the active mode again keeps its check mark.
    action("ModeConcentrationItem")->trigger();
    EXPECT_TRUE(action("ModeConcentrationItem")->isChecked());

    action("ModeChannelsItem")->trigger();
    EXPECT_FALSE(form->ConcentrationMode());
    EXPECT_EQ(box("gbSample")->title(), QStringLiteral("Sample"));
    EXPECT_EQ(box("gbChannel")->title(), QStringLiteral("Channel"));
    EXPECT_TRUE(action("ModeChannelsItem")->isChecked());
    EXPECT_FALSE(action("ModeConcentrationItem")->isChecked());
    EXPECT_EQ(seriesTitles(*form)[0], QStringLiteral("Sample Counts"));
}

TEST_F(Startup, LayoutKeepsTheRightBoxesAnchoredAndStretchesTheChart)
{
    startSimulator();
    createForm();
    QWidget* central = form->centralWidget();
    QWidget* graphics = box("gbGraphics");
    QWidget* logging = box("gbLogging");
    QWidget* chart = find<QWidget>("Chart1");
    EXPECT_EQ(central->width(), 992);
    EXPECT_EQ(logging->geometry(), QRect(840, 3, 140, 155));
    EXPECT_EQ(chart->geometry(), QRect(0, 160, 992, 666 - 19 - 160)); // down to the status bar
    EXPECT_GE(form->minimumWidth(), 735);
    EXPECT_GE(form->minimumHeight(), 550);

    form->resize(1200, 800);
    runEventsUntil([&] { return central->width() == 1200; }, 1000);
    EXPECT_EQ(logging->x() + logging->width(), 1200 - 12);
    EXPECT_EQ(graphics->x() + graphics->width(), 1200 - 158);
    EXPECT_EQ(chart->width(), 1200);
    EXPECT_EQ(chart->y() + chart->height(), central->height());
}

// At any size: no empty band below the chart, the legend's frame whole, the status bar's text with its
// descenders.
TEST_F(Startup, ChartReachesTheStatusBarItsLegendIsFramedAndTheStatusTextFits)
{
    startSimulator();
    createForm();
    QWidget* chart = find<QWidget>("Chart1");
    QCPLegend* legend = form->Chart().chart()->legend;
    for (const QSize size : {QSize(992, 687), form->minimumSize(), QSize(1500, 1000)}) {
        form->resize(size);
        ASSERT_TRUE(runEventsUntil([&] { return form->size() == size; }, 1000));
        form->Chart().chart()->replot();
        EXPECT_EQ(chart->mapTo(form.get(), QPoint(0, chart->height())).y(), form->statusBar()->y());
        const QImage image = chart->grab().toImage();
        // A rectangle's outline runs along its right and bottom edges one pixel outside.
        const QRect frame = legend->outerRect().adjusted(0, 0, 1, 1);
        ASSERT_TRUE(image.rect().contains(frame)) << size.width();
        int right = 0, bottom = 0;
        for (int y = frame.top(); y <= frame.bottom(); ++y)
            right += qGray(image.pixel(frame.right(), y)) < 128;
        for (int x = frame.left(); x <= frame.right(); ++x)
            bottom += qGray(image.pixel(x, frame.bottom())) < 128;
        EXPECT_EQ(right, frame.height()) << size.width();
        EXPECT_EQ(bottom, frame.width()) << size.width();
        for (int i = 0; i < 2; ++i) {
            const QWidget* panel = find<QWidget>(qPrintable(QStringLiteral("StatusBar1Panel%1").arg(i)));
            EXPECT_GE(panel->contentsRect().height(), panel->fontMetrics().height()) << size.width();
            EXPECT_LE(panel->geometry().bottom(), form->statusBar()->height() - 1);
        }
    }

    // Every panel takes the status bar's font; a text too long for its panel is elided, whole in the tooltip.
    for (const char* name : {"StatusBar1Panel0", "StatusBar1Panel1", "StatusBar1Panel2"})
        EXPECT_EQ(find<QWidget>(name)->font(), form->statusBar()->font()) << name;
    QStatusBar bar;
    bar.setFont(form->statusBar()->font());
    bar.resize(600, 19);
    auto* message = new TStatusPanel(&bar);
    auto* publishing = new TStatusPanel(&bar);
    bar.addWidget(message, 1);
    bar.addPermanentWidget(publishing);
    bar.show();
    const QString timeout = QStringLiteral("Comms response has exceeded timeout period !!!");
    message->setText(timeout);
    publishing->setText(QStringLiteral("Publishing to broker.example.net:8883"));
    runEventsFor(50);
    EXPECT_EQ(message->shownText(), timeout);
    EXPECT_EQ(message->toolTip(), timeout);
    const QString longText = QStringList(20, timeout).join(' ');
    message->setText(longText);
    runEventsFor(50);
    EXPECT_EQ(message->text(), longText);
    EXPECT_LT(message->shownText().size(), longText.size());
    EXPECT_TRUE(message->shownText().size() > 10 && longText.startsWith(message->shownText().chopped(1)))
        << message->shownText().toStdString();
    EXPECT_EQ(message->toolTip(), longText);
    EXPECT_EQ(publishing->shownText(), publishing->text());
}

TEST_F(Startup, AtTheMinimumSizeNothingOverlapsAndNoLegendTitleIsClipped)
{
    startSimulator();
    createForm();
    form->resize(form->minimumSize());
    ASSERT_TRUE(runEventsUntil([&] { return form->centralWidget()->width() == form->minimumWidth(); }, 1000));
    for (const char* name :
         {"gbConcentration", "gbChannel", "gbPressure", "gbHumidity", "gbSample", "gbReference", "gbTemperature"})
        for (const char* right : {"gbGraphics", "gbLogging"})
            EXPECT_FALSE(box(name)->geometry().intersects(box(right)->geometry())) << name << " " << right;
    QCPLegend* legend = form->Chart().chart()->legend;
    auto expectTitlesInFull = [&](bool oneRow) {
        legend->parentPlot()->replot();
        EXPECT_EQ(legend->rowCount() == 1, oneRow);
        for (int i = 0; i < legend->itemCount(); ++i) // cells; those after the last title are empty
            if (auto* item = qobject_cast<QCPPlottableLegendItem*>(legend->item(i))) {
                EXPECT_GE(item->rect().width() - legend->iconSize().width() - legend->iconTextPadding(),
                          QFontMetrics(item->font()).horizontalAdvance(item->plottable()->name()))
                    << item->plottable()->name().toStdString();
            }
    };
    expectTitlesInFull(true);
    // Titles too wide for one row (a large font) wrap onto more rows instead of being cut.
    QFont large = legend->font();
    large.setPixelSize(QFontInfo(large).pixelSize() * 2);
    legend->setFont(large);
    expectTitlesInFull(false);
}
