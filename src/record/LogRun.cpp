#include "record/LogRun.h"

#include "record/ReadingFormat.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <limits>
#include <numeric>

namespace {

QStringList layoutTitles(TLogData::ELayout layout)
{
    return QString::fromLatin1(LogHeader(layout == TLogData::Concentration)).split('\t').mid(2);
}

} // namespace

QStringList TLogRun::report() const
{
    QStringList lines;
    for (const TLogSource& file : files) {
        const QString prefix =
            files.size() > 1 ? QFileInfo(file.fileName).fileName() + QStringLiteral(": ") : QString();
        for (const TLogProblem& p : file.problems)
            lines << prefix + p.text();
    }
    return lines;
}

QStringList LogFilesIn(const QStringList& paths)
{
    QStringList files;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (!info.isDir()) {
            files << path;
            continue;
        }
        const QDir dir(path);
        for (const QString& name : dir.entryList({QStringLiteral("*.txt")}, QDir::Files | QDir::Readable, QDir::Name))
            if (!name.endsWith(QStringLiteral(".events.txt")))
                files << dir.filePath(name);
    }
    return files;
}

TLogRun MergeLogFiles(std::vector<std::pair<QString, TLogData>> files)
{
    std::vector<size_t> order(files.size());
    std::iota(order.begin(), order.end(), size_t(0));
    const auto firstTime = [&files](size_t i) {
        const TLogTimes& t = files[i].second.times;
        return t.empty() ? std::numeric_limits<int64_t>::max() : t.front();
    };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return firstTime(a) < firstTime(b); });

    TLogRun run;
    TLogData& data = run.data;
    size_t total = 0;
    for (const auto& [name, file] : files) {
        total += file.count();
        if (file.count() == 0 || file.layout == TLogData::Unknown)
            continue;
        if (data.layout == TLogData::Unknown)
            data.layout = file.layout;
        else if (data.layout != file.layout)
            data.layout = TLogData::Mixed;
    }
    if (data.layout == TLogData::Mixed) { // the Channels columns, then those only the other layout has
        data.titles = layoutTitles(TLogData::Channels);
        for (const QString& title : layoutTitles(TLogData::Concentration))
            if (!data.titles.contains(title))
                data.titles << title;
    } else if (data.layout != TLogData::Unknown) {
        data.titles = layoutTitles(data.layout);
    }
    data.values.assign(static_cast<size_t>(data.titles.size()), {});
    data.times.reserve(total);
    for (TLogColumn& column : data.values)
        column.reserve(total);

    bool overlap = false;
    for (const size_t i : order) {
        auto& [name, file] = files[i];
        const size_t base = data.count();
        const size_t n = file.count();
        run.files.push_back(
            {name, file.layout, file.count(), file.lineCount, std::move(file.problems), file.cancelled});
        data.cancelled = data.cancelled || file.cancelled;
        if (file.count() == 0)
            continue;
        if (base > 0) {
            overlap = overlap || file.times.front() < data.times.back();
            data.gaps.push_back(base);
        }
        data.times.insert(data.times.end(), file.times.begin(), file.times.end());
        file.times = TLogTimes();
        for (const TLogOffset& o : file.offsets)
            if (data.offsets.empty() || data.offsets.back().seconds != o.seconds)
                data.offsets.push_back({base + o.first, o.seconds});
        for (const size_t g : file.gaps)
            data.gaps.push_back(base + g);
        for (size_t c = 0; c < data.values.size(); ++c) {
            TLogColumn& column = data.values[c];
            const qsizetype own = file.titles.indexOf(data.titles[static_cast<qsizetype>(c)]);
            if (own < 0) {
                column.resize(base + n, std::numeric_limits<double>::quiet_NaN());
                continue;
            }
            TLogColumn& from = file.values[static_cast<size_t>(own)];
            column.insert(column.end(), from.begin(), from.end());
            from = TLogColumn();
        }
        file = TLogData();
    }
    if (overlap) { // files that share time: sorted in, gaps by the spacing alone
        SortLogByTime(data);
        FindLogGaps(data);
    } else {
        data.medianSpacing = MedianLogSpacing(data.times);
    }
    data.lineCount = 0;
    for (const TLogSource& f : run.files)
        data.lineCount += f.lineCount;
    return run;
}

TLogRun ReadLogRun(const QStringList& paths, const TLogProgress& progress, const QTimeZone& zone)
{
    const QStringList names = LogFilesIn(paths);
    int64_t total = 0;
    for (const QString& name : names)
        total += std::max<int64_t>(QFileInfo(name).size(), 0);
    std::vector<std::pair<QString, TLogData>> files;
    int64_t before = 0;
    bool stop = false;
    for (const QString& name : names) {
        if (stop)
            break;
        TLogProgress own;
        if (progress)
            own = [&](int64_t done, int64_t) {
                stop = !progress(before + done, std::max(total, before + done));
                return !stop;
            };
        files.emplace_back(name, ReadLogFile(name, own, zone));
        before += std::max<int64_t>(QFileInfo(name).size(), 0);
    }
    TLogRun run = MergeLogFiles(std::move(files));
    run.data.cancelled = run.data.cancelled || stop;
    return run;
}
