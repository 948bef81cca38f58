// Requests and their waits against a far end that the test plays on a pseudo-terminal.
#include "ExpectSensorTimeout.h"
#include "sensor/SensorObjects.h"
#include "base/ErrorReport.h"
#include "support/EventLoopHelper.h"
#include "support/FakeClock.h"
#include "support/FakeComPlatform.h"
#include "support/PtyPair.h"

#include <QElapsedTimer>
#include <QTimer>
#include <ctime>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct SensorWaitTest : ::testing::Test {
    PtyPair pty;
    TSensor sensor;
    void SetUp() override
    {
        sensor.ConfigurePort(pty.slavePath());
        sensor.Open();
    }
    // Runs fn after ms, inside whatever wait is running then.
    template <typename Fn> void at(int ms, Fn fn) { QTimer::singleShot(ms, Qt::PreciseTimer, &sensor, fn); }
};

TEST_F(SensorWaitTest, FirstReadingSendsTheChannelRequestThenUsesTheStoredRecord)
{
    std::string sent;
    at(20, [&] {
        sent = pty.read(4, 1000);
        pty.write("\nN1 100 200 5 0.5 21 101.3\r");
    });
    TChannelsModeStructure reading;
    sensor.GetChannelsReading(reading);
    EXPECT_EQ(sent, "N1\r\n");
    EXPECT_EQ(reading, (TChannelsModeStructure{1, 100, 200, 5, false, 0.5, 21, 101.3}));

    // The sensor has gone quiet: the stored record comes back at once, nothing is sent.
    TChannelsModeStructure again;
    sensor.GetChannelsReading(again);
    EXPECT_EQ(again, reading);
    EXPECT_EQ(pty.readAvailable(100), "");
}

TEST_F(SensorWaitTest, RecordIsAskedForAgainOnlyWhenOlderThanTheStalenessLimit)
{
    const struct {
        const char *request, *head, *tail; // a reply line is head, first value, tail
        int32_t (*read)(TSensor&);         // takes a reading: its first value
    } cases[] = {
        {"N1\r\n", "\nN1 ", " 200 5 0.5 21 101.3\r",
         [](TSensor& s) {
             TChannelsModeStructure r;
             s.GetChannelsReading(r);
             return r.Sample;
         }},
        {"N\r\n", "\nN ", " 2 3 4 5 6 7 8\r",
         [](TSensor& s) {
             TConcentrationModeStructure r;
             s.GetConcentrationReading(r);
             return int32_t(r.SampleConc1);
         }},
    };
    FakeClock clock;
    sensor.setClock(&clock);
    sensor.setWaitLimits(200, 200);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        const auto line = [&](int value) { return c.head + std::to_string(value) + c.tail; };
        at(20, [&] { pty.write(line(100)); });
        EXPECT_EQ(c.read(sensor), 100);
        EXPECT_EQ(pty.readAvailable(1000), c.request);
        // Streaming: a line every 2 s of clock time for 400 s, each read when as old as the limit.
        for (int value = 101; value <= 300; ++value) {
            clock.t += 2s;
            sensor.receiveBytes(line(value));
            clock.t += 2s;
            ASSERT_EQ(c.read(sensor), value);
        }
        EXPECT_EQ(pty.readAvailable(50), "");
        clock.t += 1ms; // older: asked for again, and the answer is handed out
        at(20, [&] { pty.write(line(301)); });
        EXPECT_EQ(c.read(sensor), 301);
        EXPECT_EQ(pty.readAvailable(1000), c.request);
        clock.t += 2001ms; // the far end has stopped: the stale record is not handed out
        at(20, [&] { clock.t += 1s; });
        EXPECT_SENSOR_TIMEOUT(c.read(sensor));
        EXPECT_EQ(pty.readAvailable(1000), c.request);
    }
    sensor.setClock(nullptr);
}

TEST_F(SensorWaitTest, NoReplyTimesOutAfterTheCommandWait)
{
    sensor.setWaitLimits(150, 5000);
    QElapsedTimer elapsed;
    elapsed.start();
    TConcentrationModeStructure reading;
    EXPECT_SENSOR_TIMEOUT(sensor.GetConcentrationReading(reading));
    EXPECT_GE(elapsed.elapsed(), 150);
    EXPECT_LT(elapsed.elapsed(), 2000);
    EXPECT_EQ(pty.read(3, 500), "N\r\n");
    EXPECT_EQ(sensor.ReplyKind(), ReplyKind::Unknown); // so the next reading asks again
}

TEST_F(SensorWaitTest, ReplyOfAnotherKindTimesOutAfterTheSecondWait)
{
    sensor.setWaitLimits(300, 300);
    at(50, [&] { pty.write("\nD 1 2 3 4 5 6 7 8\r"); });
    QElapsedTimer elapsed;
    elapsed.start();
    TChannelsModeStructure reading;
    EXPECT_SENSOR_TIMEOUT(sensor.GetChannelsReading(reading));
    EXPECT_GE(elapsed.elapsed(), 350);
    EXPECT_EQ(sensor.ReplyKind(), ReplyKind::D);
    EXPECT_EQ(sensor.ReplyD().Field8, 8);
}

TEST_F(SensorWaitTest, DeadlineIsOneMillisecondPastTheLimitOnTheMonotonicClock)
{
    FakeClock clock;
    sensor.setClock(&clock);
    sensor.setWaitLimits(50, 50);
    const auto start = clock.t;
    int ran = 0;
    // The wait clock stands still while real time passes: no time-out from real time.
    at(10, [&] {
        clock.t = start + 50ms;
        ++ran;
    }); // at the deadline
    at(150, [&] {
        clock.t = start + 50ms + 999us;
        ++ran;
    }); // inside the tolerance
    at(300, [&] {
        clock.t = start + 51ms;
        ++ran;
    }); // past it
    QElapsedTimer elapsed;
    elapsed.start();
    TChannelsModeStructure reading;
    EXPECT_SENSOR_TIMEOUT(sensor.GetChannelsReading(reading));
    EXPECT_EQ(ran, 3);
    EXPECT_GE(elapsed.elapsed(), 290);
    sensor.setClock(nullptr);
}

TEST_F(SensorWaitTest, ReplyCompletedInTheDeadlinePassStillTimesOut)
{
    FakeClock clock;
    sensor.setClock(&clock);
    sensor.setWaitLimits(50, 50);
    const auto start = clock.t;
    at(10, [&] {
        sensor.receiveBytes("\nN 1 2 3 4 5 6 7 8\r");
        clock.t = start + 60ms;
    });
    TConcentrationModeStructure reading;
    EXPECT_SENSOR_TIMEOUT(sensor.GetConcentrationReading(reading));
    EXPECT_TRUE(sensor.ReplyComplete());
    EXPECT_EQ(sensor.ReplyKind(), ReplyKind::Concentration);
    sensor.setClock(nullptr);
}

TEST_F(SensorWaitTest, TimersRunInsideTheWaitAndNestedRequestsShareTheFlags)
{
    TChannelsModeStructure inner;
    at(20, [&] { // a timer tick during the outer wait takes the other reading
        sensor.GetChannelsReading(inner);
        at(20, [&] { pty.write("\nN 1 2 3 4 5 6 7 8\r"); });
    });
    at(60, [&] { pty.write("\nN1 100 200 5 0.5 21 101.3\r"); });
    TConcentrationModeStructure outer;
    sensor.GetConcentrationReading(outer);
    EXPECT_EQ(pty.read(7, 500), "N\r\nN1\r\n");
    EXPECT_EQ(inner.Sample, 100);
    EXPECT_EQ(outer.SampleConc1, 1);
    EXPECT_EQ(outer.Humidity, 8);
}

TEST_F(SensorWaitTest, ATickInsideTheWaitOfTheSameRequestSendsNothingAndSharesTheAnswer)
{
    TChannelsModeStructure inner;
    at(20, [&] { sensor.GetChannelsReading(inner); }); // another timer's tick, in the same mode
    at(100, [&] { pty.write("\nN1 100 200 5 0.5 21 101.3\r"); });
    TChannelsModeStructure outer;
    sensor.GetChannelsReading(outer);
    EXPECT_EQ(pty.readAvailable(200), "N1\r\n");
    EXPECT_EQ(inner.Sample, 100);
    EXPECT_EQ(outer.Sample, 100);
}

TEST_F(SensorWaitTest, TimeOutWaitSleepsInsteadOfSpinning)
{
    constexpr int waitMs = 2000;
    sensor.setWaitLimits(waitMs, waitMs);
    int ticks = 0;
    QTimer display; // like the main window's display timer, it keeps running inside the wait
    QObject::connect(&display, &QTimer::timeout, [&] { ++ticks; });
    display.start(125);
    const double cpuBefore = processCpuSeconds();
    QElapsedTimer elapsed;
    elapsed.start();
    TChannelsModeStructure reading;
    EXPECT_SENSOR_TIMEOUT(sensor.GetChannelsReading(reading));
    const double cpu = processCpuSeconds() - cpuBefore;
    RecordProperty("cpu_microseconds", static_cast<int>(cpu * 1e6));
    EXPECT_GE(elapsed.elapsed(), waitMs);
    // A spinning wait burns the whole interval; a sleeping one a few milliseconds (more under sanitizers
    // on a loaded machine), so the bound is a tenth of the interval.
    EXPECT_LT(cpu, 0.1 * waitMs / 1000.0) << "CPU seconds used during the wait: " << cpu;
    EXPECT_GE(ticks, 12);
}

TEST_F(SensorWaitTest, DeviceLossEndsTheWaitAndFailsLaterReadings)
{
    at(20, [&] { pty.write("\nN1 100 200 5 0.5 21 101.3\r"); });
    TChannelsModeStructure reading;
    sensor.GetChannelsReading(reading);
    ASSERT_EQ(reading.Sample, 100);

    // Lost while waiting: the wait ends at once rather than after 10 s.
    sensor.receiveBytes("\nD 1\r"); // another kind, so the next reading asks again
    at(100, [&] { pty.closeMaster(); });
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_SENSOR_TIMEOUT(sensor.GetChannelsReading(reading));
    EXPECT_LT(elapsed.elapsed(), 3000);
    EXPECT_TRUE(sensor.deviceLost());
    EXPECT_FALSE(sensor.Connected()); // closed at once: the system may give a returning adapter its name

    // The stored record of the right kind is no longer handed out.
    sensor.receiveBytes("\nN1 7 7 7 0.5 21 101.3\r");
    elapsed.restart();
    EXPECT_SENSOR_TIMEOUT(sensor.GetChannelsReading(reading));
    EXPECT_LT(elapsed.elapsed(), 1000); // at once, not after the wait limits

    // Reopening on a working line clears the loss.
    sensor.Close();
    PtyPair other;
    sensor.ConfigurePort(other.slavePath());
    sensor.Open();
    EXPECT_FALSE(sensor.deviceLost());
    QTimer::singleShot(20, &sensor, [&] { other.write("\nN1 5 6 7 0.5 21 101.3\r"); });
    sensor.GetChannelsReading(reading);
    EXPECT_EQ(reading.Sample, 5);
    sensor.Close();
}

TEST_F(SensorWaitTest, DeviceLossWhileIdleIsRememberedUntilReopened)
{
    at(20, [&] { pty.write("\nN 1 2 3 4 5 6 7 8\r"); });
    TConcentrationModeStructure reading;
    sensor.GetConcentrationReading(reading);
    pty.closeMaster();
    ASSERT_TRUE(runEventsUntil([&] { return sensor.deviceLost(); }, 3000));
    EXPECT_FALSE(sensor.Connected());
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_SENSOR_TIMEOUT(sensor.GetConcentrationReading(reading));
    EXPECT_LT(elapsed.elapsed(), 1000); // at once, not after the wait limits
}

// A transfer that finds the device gone before the event thread reports it: the same outage as a time-out
// (no port error reaches the window), and the port is closed.
TEST(SensorDeviceLoss, CommandOrReceiveFindingTheDeviceGoneIsAnOutage)
{
    FakeComPlatform fake;
    ScopedComPlatform scoped(&fake);
    int reports = 0;
    SetApplicationErrorReport([&](const std::exception&) { ++reports; });
    for (const char* call : {"write", "clearCommError"}) {
        for (int error : {EIO, ENXIO, ENODEV, EPIPE}) {
            SCOPED_TRACE(testing::Message() << call << " " << error);
            TSensor sensor;
            sensor.setWaitLimits(500, 500);
            sensor.ConfigurePort("ttyUSB0");
            sensor.Open();
            fake.s.inQueue = 20;
            fake.s.failCall = call;
            fake.s.failErrno = error;
            fake.post(ComMask::RxFlag); // the receive handler asks the queue count: clearCommError
            TChannelsModeStructure reading;
            EXPECT_SENSOR_TIMEOUT(sensor.GetChannelsReading(reading));
            EXPECT_TRUE(sensor.deviceLost());
            EXPECT_FALSE(sensor.Connected());
            fake.s.failCall.clear();
        }
    }
    EXPECT_EQ(reports, 0);
    SetApplicationErrorReport(nullptr);
}

TEST_F(SensorWaitTest, NearlyFullReceiveQueueIsDiscardedAndReceptionGoesOn)
{
    pty.write(std::string(900, 'x'));
    EXPECT_TRUE(runEventsUntil([&] { return sensor.InputQueueCount() == 0; }, 3000));
    at(20, [&] { pty.write("\nN2 11 22 33 0.5 21 101.3\r"); });
    TChannelsModeStructure reading;
    sensor.GetChannelsReading(reading);
    EXPECT_EQ(reading.Channel, 2);
    EXPECT_EQ(reading.Sample, 11);
}

TEST_F(SensorWaitTest, OpenOfAPortInUseFailsAndLeavesTheSensorClosed)
{
    TSensor second;
    second.ConfigurePort(pty.slavePath());
    EXPECT_THROW(second.Open(), EComPort);
    EXPECT_FALSE(second.Connected());
    EXPECT_TRUE(sensor.Connected());
}

} // namespace
