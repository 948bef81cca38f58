// Lines per second written to a local file with the log format's per-field flushes (every field and
// TAB handed to the operating system at once, the line end left in the buffer).
#include "record/LogFile.h"
#include "record/ReadingFormat.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <unistd.h>

namespace {

void LogLinesWithFieldFlushes(benchmark::State& state)
{
    char path[] = "/tmp/velmora-bench-log-XXXXXX";
    const int fd = mkstemp(path);
    close(fd);
    TLogFile file;
    file.Rewrite(path);
    TChannelsModeStructure reading{3, 50123, 49012, 512, true, 0.01234, 21, 101.3};
    for (auto _ : state) {
        const auto values = ChannelsLogValues(reading);
        file.Write("09/12/2026");
        file.Flush();
        file.Write("\t");
        file.Flush();
        file.Write(FormatLogTime(12, 34, 56, 789));
        file.Flush();
        for (const std::string& v : values) {
            file.Write("\t");
            file.Flush();
            file.Write(v);
            file.Flush();
        }
        file.WriteLineEnd();
        ++reading.Sample;
    }
    file.Close();
    unlink(path);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(LogLinesWithFieldFlushes);

} // namespace

BENCHMARK_MAIN();
