#include "record/LogTimeZone.h"

#include <QDateTime>
#include <limits>

namespace {

constexpr int64_t LoadBefore = 3 * MsPerDay; // around the written time, more than any offset
constexpr int64_t LoadAfter = 60 * MsPerDay;

} // namespace

TLogZonePlacer::TLogZonePlacer(const QTimeZone& zone) : FZone(zone.isValid() ? zone : QTimeZone::utc()) {}

void TLogZonePlacer::load(int64_t written)
{
    const int64_t from = written - LoadBefore;
    const int64_t to = written + LoadAfter;
    const QDateTime start = QDateTime::fromMSecsSinceEpoch(from, Qt::UTC);
    FPeriods.clear();
    FPeriods.push_back(
        {std::numeric_limits<int64_t>::min() / 2, std::numeric_limits<int64_t>::max() / 2, FZone.offsetFromUtc(start)});
    if (FZone.hasTransitions()) {
        for (const QTimeZone::OffsetData& t : FZone.transitions(start, QDateTime::fromMSecsSinceEpoch(to, Qt::UTC))) {
            const int64_t at = t.atUtc.toMSecsSinceEpoch();
            if (t.offsetFromUtc == FPeriods.back().offset || at <= FPeriods.back().from)
                continue;
            FPeriods.back().to = at;
            FPeriods.push_back({at, std::numeric_limits<int64_t>::max() / 2, t.offsetFromUtc});
        }
    }
    FFrom = from + MsPerDay;
    FTo = to - MsPerDay;
}

TPlacedTime TLogZonePlacer::place(int64_t written, const TPlacedTime* previous)
{
    if (written < FFrom || written >= FTo)
        load(written);
    const auto utcIn = [written](const TPeriod& p) { return written - p.offset * 1000LL; };
    // The last period whose written times begin at or before this one.
    size_t k = 0;
    while (k + 1 < FPeriods.size() && utcIn(FPeriods[k + 1]) >= FPeriods[k + 1].from)
        ++k;
    const TPeriod& later = FPeriods[k];
    const bool inLater = utcIn(later) < later.to;
    const bool inEarlier = k > 0 && utcIn(FPeriods[k - 1]) < FPeriods[k - 1].to;
    if (!inEarlier) // one reading, or skipped by a spring change: the offset before it
        return {utcIn(later), later.offset};
    const TPeriod& earlier = FPeriods[k - 1];
    if (!inLater)
        return {utcIn(earlier), earlier.offset};
    // Repeated by an autumn change.
    const int64_t first = utcIn(earlier);
    const int64_t second = utcIn(later);
    const int64_t change = (earlier.offset - later.offset) * 1000LL;
    if (previous
        && ((previous->offset == later.offset && previous->utc >= later.from)
            || (previous->utc > first && second >= previous->utc && second - previous->utc <= change / 2)))
        return {second, later.offset};
    return {first, earlier.offset};
}
