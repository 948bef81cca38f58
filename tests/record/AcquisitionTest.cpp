// The run's tick pattern and reconnection under a plain QCoreApplication, as the service runs them: a
// failure inside a tick or a try is reported through the error report and the program goes on.
#include "record/Acquisition.h"
#include "record/LogFile.h"
#include "record/RunClock.h"
#include "sensor/SensorObjects.h"
#include "support/EventLoopHelper.h"
#include "support/PtyPair.h"
#include "tools/SensorSimulator.h"

#include <QTimer>
#include <gtest/gtest.h>
#include <stdexcept>
#include <unistd.h>

namespace {

struct Acquisition : ::testing::Test {
    std::vector<std::string> reports;
    void SetUp() override
    {
        SetApplicationErrorReport([this](const std::exception& e) { reports.emplace_back(e.what()); });
    }
    void TearDown() override { SetApplicationErrorReport({}); }
};

TEST_F(Acquisition, AFailingWriteInATickIsReportedAndLeavesItsTimerOffWhileTheNextTickGoesOn)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "/dev/full is not available";
    PtyPair pty;
    SensorSimulator sim(pty.masterFd());
    sim.start();
    TAcquisition run(systemRunClock());
    run.sensor().ConfigurePort(pty.slavePath());
    ASSERT_TRUE(run.openPort());
    TLogFile disk;
    disk.Rewrite("/dev/full");
    QTimer timer;
    run.runTick(&timer, [&](const TReading&) {
        disk.Append("line"); // the disk is full
        return true;
    });
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "I/O error 28: \"/dev/full\": No space left on device");
    EXPECT_FALSE(timer.isActive());
    TReading taken;
    run.runTick(&timer, [&](const TReading& reading) {
        taken = reading;
        return true;
    });
    EXPECT_TRUE(timer.isActive());
    EXPECT_EQ(std::get<TChannelsModeStructure>(taken).Channel, 1);
    EXPECT_EQ(reports.size(), 1u);
    run.sensor().Close(); // before the simulator goes
}

TEST_F(Acquisition, AFailingTryOrResumeIsReportedAndEndsTheTries)
{
    int tries = 0;
    bool answer = false;
    TReconnectController reconnect(
        [&] {
            if (++tries == 1)
                throw std::runtime_error("the port cannot be opened: unexpected");
            return answer;
        },
        [] { throw std::runtime_error("the settings cannot be saved"); }, nullptr);
    reconnect.timer().setInterval(10);
    reconnect.setEnabled(true);
    reconnect.lost();
    EXPECT_TRUE(reconnect.retrying());
    ASSERT_TRUE(runEventsUntil([&] { return !reports.empty(); }));
    EXPECT_EQ(reports[0], "the port cannot be opened: unexpected");
    EXPECT_FALSE(reconnect.timer().isActive()); // no more tries for this outage
    EXPECT_FALSE(reconnect.trying());
    EXPECT_TRUE(reconnect.outage());
    EXPECT_FALSE(reconnect.retrying()); // a service's watchdog stops, so that it is restarted

    answer = true;
    reconnect.clear();
    reconnect.lost();
    ASSERT_TRUE(runEventsUntil([&] { return reports.size() == 2; }));
    EXPECT_EQ(reports[1], "the settings cannot be saved");
    EXPECT_FALSE(reconnect.outage());
}

} // namespace
