// Log lines as the log writer writes them at each tick (a line with the line end before it, in one write),
// with and without handing each line to the disk (fdatasync) at once. The file lies in the working folder,
// so that it is on a disk rather than in memory (a tmpfs /tmp syncs for free).
#include "record/LogWriter.h"
#include "record/RunClock.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

namespace {

// The system's wall time; a monotonic time that stands still, so the writer's own sync every 5 s never
// falls due and only the explicit sync() hands lines to the disk.
struct StillClock : RunClock {
    std::chrono::nanoseconds now() const override { return {}; }
    QDateTime wallNow() const override { return QDateTime::currentDateTime(); }
};

void writeLines(benchmark::State& state, bool syncEach)
{
    const std::string path = "velmora-bench-log-" + std::to_string(getpid()) + ".txt";
    StillClock clock;
    TLogWriter log(clock);
    log.open(path, false);
    TChannelsModeStructure reading{3, 50123, 49012, 512, true, 0.01234, 21, 101.3};
    for (auto _ : state) {
        log.writeLine(reading);
        if (syncEach)
            log.sync();
        ++reading.Sample;
    }
    log.close();
    unlink(path.c_str());
    state.SetItemsProcessed(state.iterations());
}

void LogLines(benchmark::State& state)
{
    writeLines(state, false);
}
void LogLinesSyncedEach(benchmark::State& state)
{
    writeLines(state, true);
}
BENCHMARK(LogLines)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(LogLinesSyncedEach)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
