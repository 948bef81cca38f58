#pragma once
#include <QTimeZone>
#include <cstdint>
#include <vector>

inline constexpr int64_t MsPerDay = 86400000;

// A written clock time placed on the UTC time line: the instant and the zone's offset it was written in.
struct TPlacedTime {
    int64_t utc = 0;    // ms since 1970-01-01 00:00 UTC
    int32_t offset = 0; // seconds ahead of UTC
};

// Places the local clock times of a log (ms since 1970-01-01 00:00 of that clock, no offset written) with
// a time zone's offsets, one reading after the other in file order. A time the autumn change repeats is
// read in its first pass, unless the reading before it lies in the second pass or just before the change
// with this time, read in the second pass, a short step after it (at most half the change): then the
// clock went back with the change and the reading follows the one before. A time the spring change skips
// keeps the offset before the change. The zone's transitions are looked up once for each stretch of weeks.
class TLogZonePlacer {
public:
    explicit TLogZonePlacer(const QTimeZone& zone = QTimeZone::systemTimeZone());

    // `previous`: the reading before in the file, or nullptr for the first.
    TPlacedTime place(int64_t written, const TPlacedTime* previous);

private:
    struct TPeriod {
        int64_t from; // UTC ms, [from, to)
        int64_t to;
        int32_t offset;
    };
    void load(int64_t written);

    QTimeZone FZone;
    std::vector<TPeriod> FPeriods;
    int64_t FFrom = 1; // the written times FPeriods answer for: [FFrom, FTo)
    int64_t FTo = 0;
};
