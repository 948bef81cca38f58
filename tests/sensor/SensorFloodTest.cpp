// A noisy line: random bytes at and above the wire rate, with and without CR and LF.
#include "support/EventLoopHelper.h"
#include "support/PtyPair.h"
#include "sensor/SensorObjects.h"

#include <atomic>
#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace {

// Random bytes without XON/XOFF (the line's flow control would act on them); with or without CR and LF.
std::string noise(size_t size, bool lineEnds, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::string out;
    out.reserve(size);
    while (out.size() < size) {
        const char c = static_cast<char>(rng() & 0xFF);
        if (c == 0x11 || c == 0x13 || (!lineEnds && (c == '\r' || c == '\n')))
            continue;
        out += c;
    }
    return out;
}

class SensorFlood : public ::testing::TestWithParam<bool> {
protected:
    PtyPair pty;
    TSensor sensor;
};

} // namespace

TEST_P(SensorFlood, QueuePurgesAtEightyPercentAndLinesAfterTheFloodParse)
{
    int purges = 0;
    sensor.OnRx80Full = [&](QObject* sender) {
        ++purges;
        sensor.HandleRx80Full(sender);
    };
    sensor.ConfigurePort(pty.slavePath());
    sensor.setWaitLimits(2000, 2000);
    sensor.Open();

    // 64 KiB of noise, written from another thread while the main thread handles events.
    const std::string flood = noise(64 * 1024, GetParam(), 42);
    std::atomic<bool> written{false};
    std::thread writer([&] {
        pty.write(flood);
        written = true;
    });
    const bool finished = runEventsUntil([&] { return written.load(); }, 20000);
    writer.join();
    ASSERT_TRUE(finished);
    runEventsFor(200);
    EXPECT_GT(purges, 0);
    EXPECT_LE(sensor.ReplyText().size(), TSensor::MaxLineLength);

    // A valid line after the flood is parsed.
    pty.write("\nN2 51234 49876 120 0.0123 24 101.3\r");
    ASSERT_TRUE(runEventsUntil([&] { return sensor.ReplyKind() == ReplyKind::Channels; }, 2000));
    TChannelsModeStructure reading;
    sensor.GetChannelsReading(reading);
    EXPECT_EQ(reading.Channel, 2);
    EXPECT_EQ(reading.Sample, 51234);
    EXPECT_DOUBLE_EQ(reading.Pressure, 101.3);
    sensor.Close();
}

INSTANTIATE_TEST_SUITE_P(LineEnds, SensorFlood, ::testing::Values(true, false),
                         [](const auto& test) { return test.param ? "WithCrLf" : "WithoutCrLf"; });
