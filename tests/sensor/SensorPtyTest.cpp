// The sensor object against the simulator on the far side of a pseudo-terminal.
#include "EventLoopHelper.h"
#include "ExpectSensorTimeout.h"
#include "FakeClock.h"
#include "PtyPair.h"
#include "SensorObjects.h"
#include "SensorSimulator.h"
#include "TempDir.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct SensorPtyTest : ::testing::Test {
    PtyPair pty;
    TSensor sensor;
    std::unique_ptr<SensorSimulator> simulator;

    void startSimulator(SimulatorOptions options = {})
    {
        simulator = std::make_unique<SensorSimulator>(pty.masterFd(), options);
        simulator->start();
        sensor.ConfigurePort(pty.slavePath());
        sensor.Open();
    }
    void TearDown() override
    {
        simulator.reset(); // stop it before the line goes
        sensor.Close();
    }
};

TEST_F(SensorPtyTest, ReadingsRequestOnceWhileTheSensorStreams)
{
    SimulatorOptions options;
    options.linesPerSecond = 40;
    startSimulator(options);
    TChannelsModeStructure reading;
    sensor.GetChannelsReading(reading);
    EXPECT_EQ(reading.Channel, 1);
    EXPECT_NEAR(reading.Sample, 50000, 3000);
    EXPECT_NEAR(reading.Pressure, 101.3, 1.5);
    EXPECT_EQ(simulator->commands(), std::vector<std::string>{"N1"});

    // Later readings come from the stream without traffic.
    const auto sent = simulator->linesSent();
    ASSERT_TRUE(runEventsUntil([&] { return simulator->linesSent() >= sent + 3; }, 3000));
    for (int i = 0; i < 5; ++i)
        sensor.GetChannelsReading(reading);
    EXPECT_EQ(simulator->commands().size(), 1u);

    // Switching to the other reading asks once.
    TConcentrationModeStructure concentration;
    sensor.GetConcentrationReading(concentration);
    EXPECT_NEAR(concentration.SampleConc1, 0.01, 0.005);
    EXPECT_NEAR(concentration.Humidity, 45, 10);
    EXPECT_EQ(simulator->commands(), (std::vector<std::string>{"N1", "N"}));
}

TEST_F(SensorPtyTest, AfterAnotherKindOfLineTheStoredChannelIsRequested)
{
    SimulatorOptions options;
    options.linesPerSecond = 0; // replies only, so no line of the stream can come between
    startSimulator(options);
    TChannelsModeStructure reading;
    sensor.GetChannelsReading(reading);
    simulator->inject("N3 100 200 5 +0.0012 25 998.5");
    ASSERT_TRUE(runEventsUntil([&] { return sensor.Channels().Channel == 3; }, 3000));
    simulator->inject("D 1 2 3 4 5 6 7 8");
    ASSERT_TRUE(runEventsUntil([&] { return sensor.ReplyKind() == ReplyKind::D; }, 3000));

    sensor.GetChannelsReading(reading);
    EXPECT_EQ(simulator->commands(), (std::vector<std::string>{"N1", "N3"}));
    EXPECT_EQ(reading.Channel, 3);
    EXPECT_NEAR(reading.Sample, 50000, 3000);
}

TEST_F(SensorPtyTest, SilentSensorRaisesTheTimeoutError)
{
    startSimulator();
    simulator->setSilent(true);
    sensor.setWaitLimits(200, 200);
    QElapsedTimer elapsed;
    elapsed.start();
    TChannelsModeStructure reading;
    EXPECT_SENSOR_TIMEOUT(sensor.GetChannelsReading(reading));
    EXPECT_GE(elapsed.elapsed(), 200);
    EXPECT_TRUE(runEventsUntil([&] { return simulator->commands().size() == 1; }, 1000));
    EXPECT_EQ(simulator->commands().front(), "N1");
}

TEST_F(SensorPtyTest, SensorGoingSilentKeepsTheStoredReadingOnlyUntilItIsStale)
{
    FakeClock clock;
    sensor.setClock(&clock);
    SimulatorOptions options;
    options.linesPerSecond = 50;
    options.silentAfter = 5;
    startSimulator(options);
    TConcentrationModeStructure reading;
    sensor.GetConcentrationReading(reading);
    ASSERT_TRUE(runEventsUntil([&] { return simulator->silent(); }, 3000));
    runEventsFor(100);
    TConcentrationModeStructure later;
    sensor.GetConcentrationReading(later); // within the staleness limit the last record stands
    EXPECT_EQ(simulator->commands().size(), 1u);
    EXPECT_EQ(simulator->linesSent(), 5u);

    // Past it the reading asks again, and the silent sensor ends in the time-out.
    clock.t += std::chrono::milliseconds(SensorStalenessLimitMs + 1);
    sensor.setWaitLimits(200, 200);
    QTimer::singleShot(20, &sensor, [&] { clock.t += std::chrono::seconds(1); });
    EXPECT_SENSOR_TIMEOUT(sensor.GetConcentrationReading(later));
    EXPECT_TRUE(runEventsUntil([&] { return simulator->commands().size() == 2; }, 3000));
    sensor.setClock(nullptr);
}

TEST_F(SensorPtyTest, InterleavedKindsMalformedLinesAndGarbageAtFullRate)
{
    SimulatorOptions options;
    options.fullRate = true;
    options.interleaveKinds = "CEODXUARS";
    options.interleaveEvery = 3;
    options.malformedEvery = 7;
    options.garbageEvery = 11;
    options.garbageBytes = 40;
    startSimulator(options);
    // Each reading that finds another kind last asks again; all end with a channel reading.
    TChannelsModeStructure reading;
    for (int i = 0; i < 20; ++i) {
        sensor.GetChannelsReading(reading);
        EXPECT_EQ(reading.Channel, 1);
        runEventsFor(10);
    }
    EXPECT_GT(simulator->linesSent(), 20u);
    EXPECT_EQ(sensor.SettingsMode().Version, "1.7");
}

// The simulator program publishes its device through a link; SIGUSR2 unplugs it (the application's
// side sees the hang-up, the link goes) and plugs a new one in behind the same link.
TEST(SimulatorProgram, ReplugsItsDeviceBehindTheLinkOnSigusr2)
{
    TempDir dir;
    const std::string link = dir.file("sensor");
    QProcess sim;
    sim.start(QStringLiteral(VELMORA_SENSOR_SIM),
              {QStringLiteral("--link"), QString::fromStdString(link), QStringLiteral("--replug-delay"), QStringLiteral("0.3")});
    ASSERT_TRUE(sim.waitForReadyRead(10000));
    EXPECT_EQ(sim.readLine().trimmed().toStdString(), link);

    // Opens the link like the application and asks for one channel line.
    const auto openAndAsk = [&] {
        const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        if (fd >= 0 && tcgetattr(fd, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(fd, TCSANOW, &t);
        }
        EXPECT_EQ(::write(fd, "N2\r\n", 4), 4);
        std::string got;
        pollfd p{fd, POLLIN, 0};
        while (got.find('\r', got.find("\nN2 ")) == std::string::npos && ::poll(&p, 1, 5000) > 0) {
            char buf[256];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0)
                break;
            got.append(buf, static_cast<size_t>(n));
        }
        EXPECT_NE(got.find("\nN2 "), std::string::npos) << got;
        return fd;
    };
    const std::filesystem::path first = std::filesystem::read_symlink(link);
    const int before = openAndAsk();

    ::kill(static_cast<pid_t>(sim.processId()), SIGUSR2);
    pollfd hangUp{before, 0, 0};
    ASSERT_EQ(::poll(&hangUp, 1, 5000), 1);
    EXPECT_TRUE(hangUp.revents & POLLHUP);
    ASSERT_TRUE(runEventsUntil([&] { return std::filesystem::is_symlink(link) && std::filesystem::read_symlink(link) != first; }, 5000));
    ::close(openAndAsk());
    ::close(before);

    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

} // namespace
