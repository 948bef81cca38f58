#include "CPort.h"
#include "EventLoopHelper.h"
#include "PtyPair.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

using ::testing::ElementsAre;
using ::testing::HasSubstr;

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
    // OnRxFlag appends everything queued to `into`.
    void appendReceivedTo(std::string& into)
    {
        port.OnRxFlag = [this, &into](QObject*) {
            std::string text;
            port.ReadText(text, port.InputQueueCount());
            into += text;
        };
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

TEST(PortHolders, OtherProcessesHoldingTheDeviceOpenAreListed)
{
    EXPECT_TRUE(OtherPortHolders("/dev/velmora-no-such-device").empty());
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.slavePath());
    port.OpenPort();
    EXPECT_TRUE(OtherPortHolders(pty.slavePath()).empty()); // this process's own descriptors do not count

    QProcess terminal; // a program left open on the line
    terminal.setStandardInputFile(QString::fromStdString(pty.slavePath()));
    terminal.start("sleep", {"30"});
    ASSERT_TRUE(terminal.waitForStarted());
    std::vector<PortHolder> holders;
    EXPECT_TRUE(runEventsUntil([&] {
        holders = OtherPortHolders(pty.slavePath());
        return holders.size() == 1 && holders[0].Command == "sleep";
    }));
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].Pid, terminal.processId());
    terminal.kill();
    terminal.waitForFinished();
    EXPECT_TRUE(OtherPortHolders(pty.slavePath()).empty());
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
    port.OpenPort();
    pty.write("\nabc");
    runEventsFor(100);
    EXPECT_TRUE(lines.empty()); // bytes other than the event character raise nothing
    pty.write("def\r");
    ASSERT_TRUE(runEventsUntil([&] { return !lines.empty(); }));
    EXPECT_EQ(handlerThread, QThread::currentThreadId());
    EXPECT_EQ(lines[0], "\nabcdef\r");
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
    port.OpenPort();
    ASSERT_FALSE(port.ThreadCreated());
    pty.write("abcd");
    ASSERT_TRUE(runEventsUntil([&] { return port.InputQueueCount() == 4; }));
    std::string text;
    EXPECT_EQ(port.ReadText(text, 10), 4); // the default time-outs: at once with what is queued
    EXPECT_EQ(text, "abcd");
    EXPECT_EQ(port.ReadText(text, 10), 0);

    // No interval, a long total: the read waits for all Count bytes, and no longer.
    port.Timeouts().SetReadInterval(0);
    port.Timeouts().SetReadTotalConstant(10000);
    pty.write("wx");
    std::thread rest([&] {
        usleep(50 * 1000);
        pty.write("yz");
    });
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(port.ReadText(text, 4), 4);
    rest.join();
    EXPECT_EQ(text, "wxyz");
    EXPECT_LT(elapsed.elapsed(), 5000);

    // A short total: fewer bytes once it has passed.
    port.Timeouts().SetReadTotalConstant(100);
    pty.write("12");
    elapsed.restart();
    EXPECT_EQ(port.ReadText(text, 4), 2);
    EXPECT_GE(elapsed.elapsed(), 90);
    EXPECT_EQ(text, "12");
}

TEST_F(PtyPort, ReadsOfAVanishedDeviceFailInsteadOfWaiting)
{
    for (bool eventThread : {false, true}) {
        SCOPED_TRACE(eventThread ? "with event thread" : "without event thread");
        PtyPair line;
        TComPort p;
        p.SetPort(line.slavePath());
        p.SetEvents(eventThread ? TComEvents{evRxFlag} : TComEvents{});
        p.Timeouts().SetReadInterval(0); // wait for all Count bytes, without limit
        p.OpenPort();
        std::thread unplug([&] {
            usleep(50 * 1000);
            line.closeMaster();
        });
        std::string text;
        try {
            p.ReadText(text, 10);
            ADD_FAILURE() << "read returned";
        } catch (const EComPort& e) {
            EXPECT_EQ(e.ErrorCode, 3);
            EXPECT_EQ(e.SystemErrorCode, EIO);
        }
        unplug.join();
        if (!eventThread) {
            try {
                p.InputQueueCount();
                ADD_FAILURE() << "no error";
            } catch (const EComPort& e) {
                EXPECT_EQ(e.ErrorCode, 10);
            }
        }
        p.ClosePort();
    }
}

TEST_F(PtyPort, AHandlerMayCloseThePort)
{
    for (TSyncMethod mode : {smThreadSync, smWindowSync}) {
        SCOPED_TRACE(testing::Message() << "sync method " << int(mode));
        port.SetSyncMethod(mode);
        port.SetEvents({evRxChar, evRxFlag});
        std::vector<std::string> journal;
        port.OnRxChar = [&](QObject*, int32_t) {
            journal.push_back("RxChar");
            port.ClosePort();
        };
        port.OnRxFlag = [&](QObject*) { journal.push_back("RxFlag"); };
        port.OpenPort();
        pty.write("x\r");
        ASSERT_TRUE(runEventsUntil([&] { return !port.Connected(); }));
        EXPECT_EQ(journal.front(), "RxChar");
        if (mode == smThreadSync) {
            EXPECT_THAT(journal, ElementsAre("RxChar")); // the rest of the report is not raised
        }
    }

    // A handler that the close itself runs (a report waiting for the main thread) closes it again.
    port.SetSyncMethod(smThreadSync);
    port.OnRxFlag = nullptr;
    int calls = 0;
    port.OnRxChar = [&](QObject*, int32_t) {
        ++calls;
        port.ClosePort();
    };
    port.OpenPort();
    pty.write("y\r");
    usleep(100 * 1000); // the report now waits for the main thread
    port.ClosePort();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(port.Connected());
}

TEST_F(PtyPort, DiscardedZeroBytesAndAWrappingQueueKeepTheBytesInOrder)
{
    port.Buffer().SetInputSize(16);
    port.SetDiscardNull(true);
    std::string got;
    appendReceivedTo(got);
    port.OpenPort();
    std::string expected;
    for (int i = 0; i < 10; ++i) { // five bytes a line in a queue of sixteen
        pty.write(std::string("a\0b", 3) + std::to_string(i) + "\r");
        expected += "ab" + std::to_string(i) + "\r";
        ASSERT_TRUE(runEventsUntil([&] { return got.size() >= expected.size(); }));
    }
    EXPECT_EQ(got, expected);
}

TEST_F(PtyPort, WriteGivesUpAfterTheWriteTimeoutWhenTheLineIsHeldByXoff)
{
    port.SetEvents({});
    port.Timeouts().SetWriteTotalConstant(50);
    port.Timeouts().SetWriteTotalMultiplier(0);
    port.OpenPort();
    pty.write("\x13"); // XOFF from the far end
    usleep(50 * 1000);
    const std::string big(64 * 1024, 'x');
    const int32_t written = port.WriteText(big);
    EXPECT_LT(written, static_cast<int32_t>(big.size()));
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

TEST_F(PtyPort, ClosingWhileAHandOverWaitsCompletesItFirst)
{
    std::vector<std::string> journal;
    port.OnRxFlag = [&](QObject*) {
        std::string text;
        port.ReadText(text, port.InputQueueCount());
        journal.push_back("RxFlag:" + text);
    };
    port.OnBeforeClose = [&](QObject*) { journal.push_back("BeforeClose"); };
    port.OnAfterClose = [&](QObject*) { journal.push_back("AfterClose"); };
    port.OpenPort();
    pty.write("line\r");
    usleep(100 * 1000); // the event thread is now blocked in the hand-over; the main thread has not run it
    port.ClosePort();
    EXPECT_THAT(journal, ElementsAre("BeforeClose", "RxFlag:line\r", "AfterClose"));
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
    pty.closeMaster();
    ASSERT_TRUE(runEventsUntil([&] { return lost == 1; }));
    runEventsFor(50);
    EXPECT_EQ(lost, 1);
    EXPECT_TRUE(port.Connected());
    port.ClosePort();
    EXPECT_FALSE(port.Connected());
}

TEST_F(PtyPort, AnotherReaderOfTheLineIsNoDeviceLoss)
{
    // A terminal program left open on the same line: every byte wakes both, one of them reads nothing.
    const int other = ::open(pty.slavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    std::atomic<bool> stop{false};
    std::thread otherReader([&] {
        char sink[64];
        while (!stop) {
            pollfd p{other, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0)
                [[maybe_unused]] ssize_t n = ::read(other, sink, sizeof sink);
        }
    });
    int lost = 0;
    port.OnDeviceLost = [&](QObject*) { ++lost; };
    std::string received;
    appendReceivedTo(received);
    port.OpenPort();
    std::atomic<bool> sent{false};
    std::thread sender([&] {
        for (int i = 0; i < 300; ++i) {
            pty.write(i % 2 ? "\r" : "y");
            usleep(500); // one race per byte
        }
        sent = true;
    });
    runEventsUntil([&] { return lost > 0 || sent; });
    sender.join();
    stop = true;
    otherReader.join();
    ::close(other);
    EXPECT_EQ(lost, 0);
    received.clear();
    pty.write("\nmine\r");
    ASSERT_TRUE(runEventsUntil([&] { return received.find("\nmine\r") != std::string::npos; }));
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
