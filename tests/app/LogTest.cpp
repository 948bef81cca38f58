// The data log file: START/STOP, headers and lines byte for byte, and file failures.
#include "WindowFixture.h"
#include "run/Run.h"
#include "sensor/SensorObjects.h"
#include "support/EventLoopHelper.h"

#include <QAction>
#include <QApplication>
#include <QDate>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
#define CHANNELS_HEADER "Date\tTime\tChannel\tSample\tReference\tVoltage PWM\tConcentration\tTemperature\tPressure"
const char* const ChannelsHeader = CHANNELS_HEADER;
const char* const ChannelsHeaderLine = CHANNELS_HEADER "\r\n";
const char* const ConcentrationHeader = "Date\tTime\tSample Conc 1\tSample Conc 2\tSample Conc 3\tOstrel Conc 1"
                                        "\tOstrel Conc 2\tTemperature\tPressure\tHumidity";
const char* const ChannelsLine = "N3 51234 49876 120 0.0123 24 101.3";
} // namespace

class Log : public WindowTest {
protected:
    QPushButton* logging() const { return button("btnLogging"); }
    void click() { QTest::mouseClick(logging(), Qt::LeftButton); }
    std::string read(const char* name) const { return dir.read(name); }
    size_t lineCount(const char* name) const
    {
        const std::string content = read(name);
        return static_cast<size_t>(std::count(content.begin(), content.end(), '\n'));
    }
    // Date and time columns as written now, checked loosely against the clock.
    static QString timestampPattern()
    {
        return QRegularExpression::escape(QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy")))
               + QStringLiteral("\\t\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\t");
    }
    void expectNotLogging()
    {
        EXPECT_FALSE(form->Logging());
        EXPECT_EQ(logging()->text(), QStringLiteral("START"));
        EXPECT_TRUE(action("CommsSettingsItem")->isEnabled());
        EXPECT_TRUE(menu("menuMode")->isEnabled());
        EXPECT_FALSE(form->LogTimer()->isActive());
    }
};

TEST_F(Log, CancelledStartChangesNothing)
{
    startSimulator();
    createForm();
    click();
    ASSERT_EQ(seenDialogs.size(), 1u);
    EXPECT_EQ(seenDialogs[0].name, QStringLiteral("SaveDialog1"));
    EXPECT_EQ(seenDialogs[0].defaultExt, QStringLiteral("txt"));
    EXPECT_EQ(seenDialogs[0].options, 1);
    expectNotLogging();
    EXPECT_TRUE(reports.empty());
}

TEST_F(Log, ChannelsModeFileByteForByte)
{
    createFormWithLine(ChannelsLine);
    ASSERT_TRUE(waitForPanel("pnlSample", "51234"));
    form->LogTimer()->setInterval(40);
    saveAnswers = {QString::fromStdString(dir.file("log"))};
    click();
    EXPECT_TRUE(form->Logging());
    EXPECT_EQ(logging()->text(), QStringLiteral("STOP"));
    // Neither the port nor the mode can change under the log; reconnection can be switched.
    EXPECT_FALSE(action("CommsSettingsItem")->isEnabled());
    EXPECT_FALSE(menu("menuMode")->isEnabled());
    EXPECT_TRUE(action("CommsReconnectItem")->isEnabled());
    EXPECT_TRUE(form->LogTimer()->isActive());
    EXPECT_EQ(read("log.txt"), ChannelsHeader); // the line end waits in the buffer

    // A line on disk is complete but for its line end until the next line begins.
    ASSERT_TRUE(runEventsUntil([&] { return read("log.txt").size() > strlen(ChannelsHeader) + 2; }, 3000));
    runEventsUntil([&] { return lineCount("log.txt") >= 3; }, 3000);
    click();
    expectNotLogging();
    const std::string content = read("log.txt");
    const QRegularExpression pattern(QStringLiteral("^") + QRegularExpression::escape(ChannelsHeader)
                                     + QStringLiteral("\\r\\n(") + timestampPattern()
                                     + QStringLiteral("3\\t51234\\t49876\\t120\\t0\\.0123\\t24\\t101\\.3\\r\\n){3,}$"));
    EXPECT_TRUE(pattern.match(QString::fromStdString(content)).hasMatch()) << content;
    EXPECT_TRUE(reports.empty());
}

TEST_F(Log, ConcentrationModeFileByteForByte)
{
    createFormWithLine(ChannelsLine);
    ASSERT_TRUE(waitForPanel("pnlSample", "51234"));
    action("ModeConcentrationItem")->trigger();
    sendLine("N 0.00004 1.5 -2.25 3.14159 3.14159 -5 101.3 45");
    ASSERT_TRUE(waitForPanel("pnlSample", "0.0000"));
    form->LogTimer()->setInterval(40);
    saveAnswers = {QString::fromStdString(dir.file("conc.txt"))};
    click();
    runEventsUntil([&] { return lineCount("conc.txt") >= 2; }, 3000);
    click();
    const QRegularExpression pattern(
        QStringLiteral("^") + QRegularExpression::escape(ConcentrationHeader) + QStringLiteral("\\r\\n(")
        + timestampPattern()
        + QStringLiteral("0\\.0000\\t1\\.5000\\t-2\\.2500\\t3\\.14\\t3\\.1416\\t-5\\t101\\.3\\t45\\r\\n){2,}$"));
    EXPECT_TRUE(pattern.match(QString::fromStdString(read("conc.txt"))).hasMatch()) << read("conc.txt");
}

TEST_F(Log, StopRightAfterStartLeavesTheHeaderLineOnly)
{
    startSimulator();
    createForm();
    dir.write("log.txt", "an older, longer file that is truncated\r\n");
    saveAnswers = {QString::fromStdString(dir.file("log.txt"))};
    click();
    click();
    EXPECT_EQ(read("log.txt"), ChannelsHeaderLine);
    expectNotLogging();
}

TEST_F(Log, FileThatCannotBeCreatedReturnsToNotLogging)
{
    startSimulator();
    createForm();
    saveAnswers = {QString::fromStdString(dir.file("missing/log.txt"))};
    click();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "I/O error 2: \"" + dir.file("missing/log.txt") + "\": No such file or directory");
    expectNotLogging();
    EXPECT_TRUE(logging()->isEnabled());
    // The next click is an ordinary START.
    saveAnswers = {QString::fromStdString(dir.file("log.txt"))};
    click();
    EXPECT_TRUE(form->Logging());
    EXPECT_EQ(reports.size(), 1u);
}

TEST_F(Log, HeaderThatCannotBeWrittenReturnsToNotLogging)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "/dev/full is not available";
    ASSERT_EQ(symlink("/dev/full", dir.file("full.txt").c_str()), 0);
    startSimulator();
    createForm();
    saveAnswers = {QString::fromStdString(dir.file("full.txt"))};
    click();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "I/O error 28: \"" + dir.file("full.txt") + "\": No space left on device");
    expectNotLogging();
}

// A file that cannot be written is reported once; logging goes on with the lines waiting, counted in the
// status bar, and STOP says how many could not be written.
TEST_F(Log, WriteErrorIsReportedOnceAndLinesWaitUntilStop)
{
    std::signal(SIGPIPE, SIG_IGN);
    const std::string fifo = dir.file("pipe.txt");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    createFormWithLine(ChannelsLine);
    ASSERT_TRUE(waitForPanel("pnlSample", "51234"));
    saveAnswers = {QString::fromStdString(fifo)};
    click();
    ASSERT_TRUE(form->Logging());
    ::close(reader); // every further write fails
    form->LogTimer()->setInterval(20);
    ASSERT_TRUE(runEventsUntil([&] { return !reports.empty(); }, 3000));
    EXPECT_EQ(reports[0], "Log: cannot write \"" + fifo + "\": Broken pipe; 1 line waiting");
    ASSERT_TRUE(runEventsUntil([&] { return form->StatusPanelText(1).endsWith(QStringLiteral("3 lines waiting")); }));
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_TRUE(form->LogTimer()->isActive());
    EXPECT_TRUE(logging()->isEnabled());
    form->LogTimer()->stop();
    click();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_NE(reports[1].find("lines could not be written"), std::string::npos) << reports[1];
    expectNotLogging();
}

TEST_F(Log, SensorErrorWhileLoggingKeepsStopUsable)
{
    createFormWithLine(ChannelsLine);
    ASSERT_TRUE(waitForPanel("pnlSample", "51234"));
    saveAnswers = {QString::fromStdString(dir.file("log.txt"))};
    click();
    sendLine("D 1 2 3 4 5 6 7 8"); // another kind: the next tick asks again
    ASSERT_TRUE(runEventsUntil([&] { return !beeps.empty(); }, 3000));
    EXPECT_FALSE(form->DisplaysTimer()->isActive());
    EXPECT_TRUE(form->Logging());
    EXPECT_TRUE(logging()->isEnabled());
    EXPECT_EQ(logging()->text(), QStringLiteral("STOP"));
    EXPECT_FALSE(action("CommsSettingsItem")->isEnabled());
    click();
    expectNotLogging();
    EXPECT_FALSE(logging()->isEnabled()); // acquisition is stopped
    EXPECT_EQ(read("log.txt").substr(0, strlen(ChannelsHeader) + 2), ChannelsHeaderLine);
    EXPECT_TRUE(reports.empty());
}

// STOP given while a log tick waits for the sensor ends the log after that tick, without an error.
TEST_F(Log, StopDuringALogTicksWaitEndsTheLogAfterIt)
{
    createFormWithLine(ChannelsLine);
    ASSERT_TRUE(waitForPanel("pnlSample", "51234"));
    form->DisplaysTimer()->stop();
    form->GraphicsTimer()->stop();
    form->Sensor()->setWaitLimits(3000, 3000);
    saveAnswers = {QString::fromStdString(dir.file("log.txt"))};
    click();
    sendLine("D 1 2 3 4 5 6 7 8"); // another kind: the next log tick asks again and waits
    bool pending = false, loggingDuring = false;
    QTimer::singleShot(form->LogTimer()->interval() + 300, form.get(), [&] {
        pending = form->Run().requestPending();
        click();
        loggingDuring = form->Logging();
    });
    QTimer::singleShot(form->LogTimer()->interval() + 600, form.get(), [&] { sendLine(ChannelsLine); });
    ASSERT_TRUE(runEventsUntil([&] { return !form->Logging(); }, 8000));
    EXPECT_TRUE(pending);
    EXPECT_TRUE(loggingDuring);
    expectNotLogging();
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(lineCount("log.txt"), 2u); // the header and the line of the tick that waited
}

TEST_F(Log, DestroyingTheWindowClosesTheFile)
{
    createFormWithLine(ChannelsLine);
    ASSERT_TRUE(waitForPanel("pnlSample", "51234"));
    form->LogTimer()->setInterval(30);
    saveAnswers = {QString::fromStdString(dir.file("log.txt"))};
    click();
    ASSERT_TRUE(runEventsUntil([&] { return read("log.txt").size() > strlen(ChannelsHeader) + 2; }, 3000));
    form.reset();
    const std::string content = read("log.txt");
    ASSERT_GE(content.size(), 2u);
    EXPECT_EQ(content.substr(content.size() - 2), "\r\n");
}

// Closing the window while logging asks first, naming the log file: No keeps the window and the log, Yes
// closes. Not logging, it closes without a question.
TEST_F(Log, ClosingWhileLoggingAsksFirstNamingTheFile)
{
    createFormWithLine(ChannelsLine);
    ASSERT_TRUE(waitForPanel("pnlSample", "51234"));
    saveAnswers = {QString::fromStdString(dir.file("log"))};
    click();
    ASSERT_TRUE(form->Logging());
    form->show();

    QString question;
    const auto answer = [&](QMessageBox::StandardButton button) {
        whenModal([&, button](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            question = box->text();
            EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
            box->button(button)->click();
        });
    };
    answer(QMessageBox::No);
    form->close();
    EXPECT_TRUE(question.contains(QString::fromStdString(dir.file("log.txt")))) << question.toStdString();
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->Logging());
    EXPECT_TRUE(form->LogTimer()->isActive());

    question.clear();
    answer(QMessageBox::Yes);
    form->close();
    EXPECT_FALSE(question.isEmpty());
    ASSERT_TRUE(runEventsUntil([&] { return !form->isVisible(); }, 5000));
}

TEST_F(Log, ClosingWhileNotLoggingAsksNothing)
{
    startSimulator();
    createForm();
    form->show();
    form->close(); // after the sensor's reply to a request under way
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(runEventsUntil([&] { return !form->isVisible(); }, 5000));
}
