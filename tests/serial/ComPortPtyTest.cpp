#include "serial/CPort.h"
#include "support/EventLoopHelper.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <atomic>
#include <fcntl.h>
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::Field;
using ::testing::HasSubstr;
using ::testing::Throws;

namespace {

// A port configured as the sensor uses it: CR is the event character, thread hand-over.
class PtyPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        port.SetPort(pty.slavePath());
        port.SetBaudRate(br57600);
        port.FlowControl().SetFlowControl(fcSoftware);
        port.SetEventChar('\r');
        port.SetEvents({evRxFlag, evRx80Full});
    }
    void TearDown() override { SetApplicationErrorReport(nullptr); }
    void expectUnplugEndsARead()
    {
        port.Timeouts().SetReadInterval(0);
        port.Timeouts().SetReadTotalConstant(0);
        auto unplug = std::async(std::launch::async, [this] {
            usleep(50 * 1000);
            pty.closeMaster();
        });
        std::string text;
        EXPECT_THAT([&] { port.ReadText(text, 4); },
                    Throws<EComPort>(AllOf(Field(&EComPort::ErrorCode, 3), Field(&EComPort::SystemErrorCode, EIO))));
    }
    PtyPair pty;
    TComPort port;
};

int expectOpenError(TComPort& port)
{
    try {
        port.OpenPort();
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode, 1);
        EXPECT_FALSE(port.Connected());
        return e.SystemErrorCode;
    }
    ADD_FAILURE() << "open succeeded";
    return 0;
}

} // namespace

TEST_F(PtyPort, OpensAndClosesCleanlyOnAPseudoTerminal)
{
    port.OpenPort();
    EXPECT_TRUE(port.Connected());
    EXPECT_TRUE(port.ThreadCreated());
    EXPECT_TRUE(port.LineSignals().empty()); // no modem lines: all off
    port.ClosePort();
    EXPECT_FALSE(port.Connected());
    port.OpenPort(); // reopens after close
    EXPECT_TRUE(port.Connected());
}

TEST(PortOpenFailures, MissingBusyAndNonTerminalDevices)
{
    TComPort missing;
    missing.SetPort("/dev/velmora-no-such-device");
    EXPECT_EQ(expectOpenError(missing), ENOENT);
    try {
        missing.OpenPort();
    } catch (const EComPort& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to open com port (win error code: " + std::to_string(ENOENT) + ")");
    }

    TComPort bare;
    bare.SetPort("velmora-no-such-tty"); // a bare name means /dev/NAME
    EXPECT_EQ(expectOpenError(bare), ENOENT);
    EXPECT_EQ(PortDevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(PortDevicePath("/dev/pts/3"), "/dev/pts/3");

    TempDir dir;
    dir.write("settings.xml", "<x/>");
    for (const std::string& path : {dir.file("settings.xml"), dir.path(), std::string("/dev/../etc/passwd")}) {
        TComPort notTty;
        notTty.SetPort(path);
        EXPECT_EQ(expectOpenError(notTty), ENOTTY) << path;
    }
    EXPECT_EQ(dir.read("settings.xml"), "<x/>");

    PtyPair pty;
    TComPort first, second;
    first.SetPort(pty.slavePath());
    second.SetPort(pty.slavePath());
    first.OpenPort();
    EXPECT_EQ(expectOpenError(second), EBUSY);
    first.ClosePort();
    second.OpenPort();
    EXPECT_TRUE(second.Connected());

    // Another process (or program) holding the lock makes the port busy too.
    second.ClosePort();
    const int other = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(expectOpenError(second), EBUSY);
    ::close(other);
}

TEST_F(PtyPort, EventCharacterRaisesRxFlagOnTheMainThreadAndReadsWhatIsQueued)
{
    std::vector<std::string> lines;
    Qt::HANDLE handlerThread = nullptr;
    port.OnRxFlag = [&](QObject* sender) {
        EXPECT_EQ(sender, &port);
        handlerThread = QThread::currentThreadId();
        std::string text;
        port.ReadText(text, port.InputQueueCount());
        lines.push_back(text);
    };
    port.Buffer().SetInputSize(16);
    port.SetDiscardNull(true);
    port.OpenPort();
    pty.write("\nabc");
    runEventsFor(100);
    EXPECT_TRUE(lines.empty()); // bytes other than the event character raise nothing
    pty.write("def\r");
    ASSERT_TRUE(runEventsUntil([&] { return !lines.empty(); }));
    EXPECT_EQ(handlerThread, QThread::currentThreadId());
    EXPECT_EQ(lines[0], "\nabcdef\r");
    for (size_t i = 1; i <= 10; ++i) { // zeros are discarded; lines of five bytes wrap round the queue of 16
        pty.write(std::string("a\0bc", 4) + std::to_string(i % 10) + "\r");
        ASSERT_TRUE(runEventsUntil([&] { return lines.size() > i; }));
        EXPECT_EQ(lines[i], "abc" + std::to_string(i % 10) + "\r");
    }
}

TEST_F(PtyPort, ReadsAndWritesReturnTheirCounts)
{
    port.SetEvents({});
    port.OpenPort();
    std::string text = "x";
    EXPECT_EQ(port.ReadText(text, 0), 0);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(port.WriteText(""), 0);
    EXPECT_EQ(pty.readAvailable(100), "");
    EXPECT_EQ(port.WriteText("N1\r\n"), 4);
    EXPECT_EQ(pty.read(4), "N1\r\n");
    port.ClosePort();

    port.SetEvents({evRxFlag});
    bool flagged = false;
    port.OnRxFlag = [&](QObject*) { flagged = true; };
    port.OpenPort();
    pty.write("1234\r");
    ASSERT_TRUE(runEventsUntil([&] { return flagged; }));
    EXPECT_EQ(port.InputQueueCount(), 5);
    EXPECT_EQ(port.ReadText(text, 10), 5);
    EXPECT_EQ(text, "1234\r");
    EXPECT_EQ(port.ReadText(text, 10), 0); // read returns at once with nothing queued
}

TEST_F(PtyPort, WithoutAnEventThreadReadsSeeWhatHasArrivedAndKeepTheirTimeouts)
{
    port.SetEvents({});
    port.Timeouts().SetReadInterval(0); // waits for all Count bytes
    port.Timeouts().SetReadTotalConstant(10000);
    port.OpenPort();
    pty.write("wx");
    ASSERT_TRUE(runEventsUntil([&] { return port.InputQueueCount() == 2; }));
    auto rest = std::async(std::launch::async, [&] {
        usleep(50 * 1000);
        pty.write("yz");
    });
    QElapsedTimer elapsed;
    elapsed.start();
    std::string text;
    EXPECT_EQ(port.ReadText(text, 4), 4);
    rest.wait();
    EXPECT_EQ(text, "wxyz");
    EXPECT_LT(elapsed.elapsed(), 5000); // and no longer
    port.Timeouts().SetReadTotalConstant(100);
    elapsed.restart();
    EXPECT_EQ(port.ReadText(text, 4), 0); // until the total has passed
    EXPECT_GE(elapsed.elapsed(), 90);
    expectUnplugEndsARead();
}

TEST_F(PtyPort, AHandlerMayCloseThePort)
{
    port.SetEvents({evRxChar, evRxFlag});
    int flags = 0;
    port.OnRxChar = [&](QObject*, int32_t) { port.ClosePort(); };
    port.OnRxFlag = [&](QObject*) { ++flags; };
    for (TSyncMethod mode : {smWindowSync, smThreadSync}) {
        flags = 0;
        port.SetSyncMethod(mode);
        port.OpenPort();
        pty.write("x\r");
        ASSERT_TRUE(runEventsUntil([&] { return !port.Connected(); })) << mode;
    }
    EXPECT_EQ(flags, 0); // thread hand-over: the rest of the report is not raised
}

TEST_F(PtyPort, OutputHeldByAStrayXoffGoesOnAfterAShortLimitButNoWriteOutlastsItsTimeout)
{
    port.SetEvents({});
    port.OpenPort();
    ASSERT_TRUE(pty.holdOutputByXoff());
    // No XON follows (noise on the line sent the XOFF): the request goes out all the same.
    EXPECT_EQ(port.WriteText("N1\r\n"), 4);
    EXPECT_EQ(pty.read(4), "N1\r\n");
    // A write time-out shorter than the limit ends the write first, with what was written.
    port.Timeouts().SetWriteTotalConstant(50);
    port.Timeouts().SetWriteTotalMultiplier(0);
    ASSERT_TRUE(pty.holdOutputByXoff());
    EXPECT_EQ(port.WriteText("N1\r\n"), 0);
}

TEST_F(PtyPort, QueueReaching80PercentRaisesRx80FullAndPurgeEmptiesIt)
{
    int full = 0;
    port.OnRx80Full = [&](QObject*) {
        ++full;
        port.PurgeQueues(true, false);
    };
    std::string last;
    port.OnRxFlag = [&](QObject*) { port.ReadText(last, port.InputQueueCount()); };
    port.OpenPort();
    pty.write(std::string(900, 'g'));
    ASSERT_TRUE(runEventsUntil([&] { return full == 1; }));
    EXPECT_EQ(port.InputQueueCount(), 0);
    pty.write("\nok\r");
    ASSERT_TRUE(runEventsUntil([&] { return !last.empty(); }));
    EXPECT_THAT(last, HasSubstr("\nok\r"));
}

TEST_F(PtyPort, HandlerExceptionIsReportedOnTheMainThreadAndDeliveryGoesOn)
{
    for (TSyncMethod mode : {smThreadSync, smWindowSync, smNone}) {
        SCOPED_TRACE(testing::Message() << "sync method " << int(mode));
        port.SetSyncMethod(mode);
        std::vector<std::string> reports;
        bool reportedOnMain = false;
        SetApplicationErrorReport([&](const std::exception& e) {
            reportedOnMain = QThread::currentThread() == QCoreApplication::instance()->thread();
            reports.push_back(e.what());
        });
        std::atomic<int> calls{0};
        port.OnRxFlag = [&](QObject*) {
            std::string text;
            port.ReadText(text, port.InputQueueCount());
            if (++calls == 1)
                throw std::runtime_error("handler failed");
        };
        port.OpenPort();
        pty.write("a\r");
        ASSERT_TRUE(runEventsUntil([&] { return !reports.empty(); }));
        pty.write("b\r");
        ASSERT_TRUE(runEventsUntil([&] { return calls == 2; }));
        port.ClosePort();
        EXPECT_THAT(reports, ElementsAre("handler failed"));
        EXPECT_TRUE(reportedOnMain);
    }
}

TEST_F(PtyPort, VanishedDeviceIsReportedOnceAndCloseStillWorks)
{
    int lost = 0;
    port.OnDeviceLost = [&](QObject*) { ++lost; };
    port.OpenPort();
    expectUnplugEndsARead();
    ASSERT_TRUE(runEventsUntil([&] { return lost == 1; }));
    runEventsFor(50);
    EXPECT_EQ(lost, 1);
    EXPECT_TRUE(port.Connected());
    port.ClosePort();
    EXPECT_FALSE(port.Connected());
}

TEST_F(PtyPort, AProgramLeftOpenOnTheLineIsListedAndItsReadsAreNoDeviceLoss)
{
    QProcess terminal;
    terminal.setStandardInputFile(QString::fromStdString(pty.slavePath()));
    terminal.start("sleep", {"30"});
    ASSERT_TRUE(terminal.waitForStarted());
    const int other = ::open(pty.slavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK); // a reader in this process
    ASSERT_GE(other, 0);
    int lost = 0, flags = 0;
    port.OnDeviceLost = [&](QObject*) { ++lost; };
    port.OnRxFlag = [&](QObject*) { ++flags; };
    port.OpenPort();
    EXPECT_TRUE(runEventsUntil([&] { // this process's own descriptors do not count
        const std::vector<PortHolder> holders = OtherPortHolders(pty.slavePath());
        return holders.size() == 1 && holders[0].Command == "sleep" && holders[0].Pid == terminal.processId();
    }));
    terminal.close();
    for (int i = 0; i < 300; ++i) { // each byte wakes both readers; the one that loses the race reads nothing
        pty.write("y");
        pollfd p{other, POLLIN, 0};
        char sink[64];
        if (::poll(&p, 1, 1) > 0) [[maybe_unused]]
            ssize_t n = ::read(other, sink, sizeof sink);
    }
    ::close(other);
    pty.write("\r");
    ASSERT_TRUE(runEventsUntil([&] { return flags > 0 || lost > 0; }));
    EXPECT_EQ(lost, 0);
}

TEST_F(PtyPort, NoHandOverModeRunsHandlersOnTheEventThread)
{
    port.SetSyncMethod(smNone);
    std::atomic<bool> onOtherThread{false};
    std::atomic<int> calls{0};
    const auto mainThread = QThread::currentThreadId();
    port.OnRxFlag = [&](QObject*) {
        onOtherThread = QThread::currentThreadId() != mainThread;
        ++calls;
    };
    port.OpenPort();
    pty.write("x\r");
    ASSERT_TRUE(runEventsUntil([&] { return calls > 0; }));
    EXPECT_TRUE(onOtherThread);
}

TEST_F(PtyPort, WindowHandOverModeDeliversOnTheMainThread)
{
    port.SetSyncMethod(smWindowSync);
    std::vector<std::string> got;
    port.OnRxFlag = [&](QObject*) {
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        std::string text;
        port.ReadText(text, port.InputQueueCount());
        got.push_back(text);
    };
    port.OpenPort();
    pty.write("w\r");
    ASSERT_TRUE(runEventsUntil([&] { return !got.empty(); }));
    EXPECT_EQ(got[0], "w\r");
}
