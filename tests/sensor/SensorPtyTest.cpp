// The sensor object against the simulator on the far side of a pseudo-terminal.
#include "ExpectSensorTimeout.h"
#include "sensor/SensorObjects.h"
#include "serial/CPort.h"
#include "support/EventLoopHelper.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"
#include "tools/SensorSimulator.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

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

TEST_F(SensorPtyTest, SensorGoingSilentAfterSomeLinesKeepsTheStoredReading)
{
    sensor.setStalenessLimit(60000); // the record stays current while the test runs
    SimulatorOptions options;
    options.linesPerSecond = 50;
    options.silentAfter = 5;
    startSimulator(options);
    TConcentrationModeStructure reading;
    sensor.GetConcentrationReading(reading);
    ASSERT_TRUE(runEventsUntil([&] { return simulator->silent(); }, 3000));
    runEventsFor(100);
    TConcentrationModeStructure later;
    sensor.GetConcentrationReading(later); // no error: the last record stands
    EXPECT_EQ(simulator->commands().size(), 1u);
    EXPECT_EQ(simulator->linesSent(), 5u);
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

// Noise inside every other line, XON and XOFF among it: the readings come from the lines that get through
// without asking the sensor again, and a log timer like the window's keeps its interval.
TEST_F(SensorPtyTest, NoisyLineNeitherAsksAgainNorStallsTheLog)
{
    SimulatorOptions options;
    options.linesPerSecond = 40;
    options.noiseEvery = 2;
    options.noiseBytes = 40;
    startSimulator(options);
    constexpr qint64 intervalMs = 500;
    QTimer log; // off while it takes the reading, on again after it
    log.setTimerType(Qt::PreciseTimer);
    log.setInterval(static_cast<int>(intervalMs));
    std::vector<qint64> ticks;
    QElapsedTimer elapsed;
    QObject::connect(&log, &QTimer::timeout, [&] {
        log.stop();
        TChannelsModeStructure reading;
        sensor.GetChannelsReading(reading);
        ticks.push_back(elapsed.elapsed());
        log.start();
    });
    elapsed.start();
    log.start();
    ASSERT_TRUE(runEventsUntil([&] { return ticks.size() >= 8; }, 30000));
    for (size_t i = 1; i < ticks.size(); ++i)
        EXPECT_LE(ticks[i] - ticks[i - 1], 2 * intervalMs) << "log tick " << i;
    // The first request only (a noise fragment that looks like a line of another kind may add one).
    EXPECT_LE(simulator->commands().size(), 2u);
}

// The simulator program publishes its device through a link; SIGUSR2 replugs it behind the same link.
TEST(SimulatorProgram, ReplugsItsDeviceBehindTheLinkOnSigusr2)
{
    namespace fs = std::filesystem;
    TempDir dir;
    const std::string link = dir.file("sensor");
    QProcess sim;
    sim.start(VELMORA_SENSOR_SIM, {"--link", QString::fromStdString(link), "--replug-delay", "0.3"});
    ASSERT_TRUE(sim.waitForReadyRead(10000));
    EXPECT_EQ(sim.readLine().trimmed().toStdString(), link);
    const fs::path first = fs::read_symlink(link);
    TComPort port; // reads on demand, each waiting up to 5 s for a first byte
    port.SetPort(link);
    port.SetEvents({});
    port.Timeouts().SetReadTotalConstant(5000);
    std::string got, chunk;
    const auto openAndAsk = [&] {
        port.OpenPort();
        port.WriteText("N2\r\n");
        for (got.clear(); got.find('\r', got.find("\nN2 ")) == std::string::npos && port.ReadText(chunk, 256) > 0;)
            got += chunk;
        EXPECT_NE(got.find("\nN2 "), std::string::npos) << got;
    };
    openAndAsk();
    EXPECT_TRUE(OtherPortHolders(link).empty()); // the simulator holds the far end: no other reader
    ::kill(static_cast<pid_t>(sim.processId()), SIGUSR2);
    EXPECT_THROW(while (port.ReadText(chunk, 256) > 0){}, EComPort); // the hang-up
    ASSERT_TRUE(runEventsUntil([&] { return fs::is_symlink(link) && fs::read_symlink(link) != first; }, 5000));
    port.ClosePort();
    openAndAsk();
    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

} // namespace
