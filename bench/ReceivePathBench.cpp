// Lines per second through the sensor's receive path (framing, classification, parsing), fed as the
// chunks the port hands over, against a baseline that parses the same lines with std::istringstream.
#include "tools/SensorLineFormatter.h"
#include "sensor/SensorObjects.h"

#include <benchmark/benchmark.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Channel and concentration lines, framed LF ... CR, one chunk per line as HandleRxFlag reads them.
const std::vector<std::string>& chunks()
{
    static const std::vector<std::string> lines = [] {
        SensorLineFormatter f(7);
        std::vector<std::string> out;
        for (int i = 0; i < 1000; ++i) {
            f.step();
            out.push_back("\n" + (i % 2 ? f.concentrationLine() : f.channelLine(1 + i % 5)) + "\r");
        }
        return out;
    }();
    return lines;
}

void ReceivePath(benchmark::State& state)
{
    TSensor sensor;
    const auto& in = chunks();
    for (auto _ : state) {
        for (const std::string& chunk : in)
            sensor.receiveBytes(chunk);
        benchmark::DoNotOptimize(sensor.Channels());
        benchmark::DoNotOptimize(sensor.Concentration());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}
BENCHMARK(ReceivePath);

// The same lines split into 16-byte pieces, as a slow reader would see them.
void ReceivePathSmallChunks(benchmark::State& state)
{
    TSensor sensor;
    std::string all;
    for (const std::string& c : chunks())
        all += c;
    for (auto _ : state) {
        for (size_t pos = 0; pos < all.size(); pos += 16)
            sensor.receiveBytes(std::string_view(all).substr(pos, 16));
        benchmark::DoNotOptimize(sensor.Channels());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * chunks().size()));
}
BENCHMARK(ReceivePathSmallChunks);

// Baseline: frame by hand, split and convert with std::istringstream.
void IstringstreamBaseline(benchmark::State& state)
{
    const auto& in = chunks();
    TChannelsModeStructure channels;
    TConcentrationModeStructure conc;
    for (auto _ : state) {
        for (const std::string& chunk : in) {
            const size_t lf = chunk.find('\n');
            const size_t cr = chunk.find('\r', lf);
            std::istringstream line(chunk.substr(lf + 1, cr - lf - 1));
            std::string head;
            line >> head;
            if (head == "N") {
                double temperature = 0;
                line >> conc.SampleConc1 >> conc.SampleConc2 >> conc.SampleConc3 >> conc.OstrelConc1 >> conc.OstrelConc2
                    >> temperature >> conc.Pressure >> conc.Humidity;
                conc.Temperature = static_cast<int32_t>(temperature);
            } else {
                std::string concText;
                line >> channels.Sample >> channels.Reference >> channels.VoltagePWM >> concText >> channels.Temperature
                    >> channels.Pressure;
                std::istringstream(concText) >> channels.Concentration;
                channels.Channel = head.size() > 1 ? head[1] - '0' : 1;
            }
        }
        benchmark::DoNotOptimize(channels);
        benchmark::DoNotOptimize(conc);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}
BENCHMARK(IstringstreamBaseline);

} // namespace

BENCHMARK_MAIN();
