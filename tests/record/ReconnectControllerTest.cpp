// Reconnection under a plain QCoreApplication, as the service runs it: a failure inside a try is reported
// through the error report and the program goes on.
#include "base/ErrorReport.h"
#include "record/ReconnectController.h"
#include "support/EventLoopHelper.h"

#include <QTimer>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

struct Reconnect : ::testing::Test {
    std::vector<std::string> reports;
    void SetUp() override
    {
        SetApplicationErrorReport([this](const std::exception& e) { reports.emplace_back(e.what()); });
    }
    void TearDown() override { SetApplicationErrorReport({}); }
};

TEST_F(Reconnect, AFailingTryOrResumeIsReportedAndEndsTheTries)
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
