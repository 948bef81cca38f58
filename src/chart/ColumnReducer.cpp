#include "chart/ColumnReducer.h"

#include "chart/ColumnBorders.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <qcustomplot.h>

namespace {
// How many levels a bucket across a column border goes down at once: its 2^LevelsAtOnce buckets there
// are read in a row rather than found by halving, which costs a wait for memory at every level.
constexpr int LevelsAtOnce = 3;
// How many buckets ahead the sweep asks for the memory a bucket across a column border will need, so that
// several such waits overlap.
constexpr qsizetype Lookahead = 8;

// The next double towards minus infinity (for finite values).
double below(double x)
{
    if (x == 0)
        return -std::numeric_limits<double>::denorm_min();
    const auto bits = std::bit_cast<quint64>(x);
    return std::bit_cast<double>(x > 0 ? bits - 1 : bits + 1);
}

// Asks for the memory of [begin, end) ahead of reading it, a cache line at a time.
template <typename T> void prefetch(const T* begin, const T* end)
{
    for (const char* p = reinterpret_cast<const char*>(begin); p < reinterpret_cast<const char*>(end); p += 64)
        __builtin_prefetch(p);
}
} // namespace

double TKeyToPixel::lastKeyIn(qint64 column) const
{
    // Just below where the next column starts by the arithmetic; rounding may leave it a little too high.
    double key = below(lower + (static_cast<double>(column + 1) - shift - left) / width * size);
    for (int step = 0; step < 8 && std::isfinite(key); ++step) {
        if (this->column(key) <= column)
            return key;
        key = below(key);
    }
    return -std::numeric_limits<double>::infinity(); // every key is placed on its own
}

TColumnReducer::TColumnReducer(const QCPGraphData* points, const TMinMaxPyramid& pyramid, const TKeyToPixel& map,
                               QList<QCPGraphData>& out)
    : FPoints(points), FPyramid(pyramid), FMap(map), FOut(out), FSize(out.size())
{}

void TColumnReducer::reduce(qsizetype from, qsizetype to, qsizetype columns)
{
    FFrom = from;
    FTo = std::min(to, FPyramid.count());
    if (FFrom >= FTo)
        return;
    makeRoom(4 * columns + 16);
    // The highest level whose buckets are, on average, no wider than a column.
    int level = -1;
    while (level + 1 < FPyramid.levelCount() && ((FTo - FFrom) >> (TMinMaxPyramid::BucketShift + level + 1)) >= columns)
        ++level;
    if (level < 0) {
        addPoints(FFrom, FTo);
    } else {
        const int shift = TMinMaxPyramid::BucketShift + level;
        const qsizetype complete = FPyramid.bucketCount(level);
        for (qsizetype bucket = FFrom >> shift; bucket <= (FTo - 1) >> shift; ++bucket) {
            const qsizetype ahead = bucket + Lookahead;
            if (ahead + 1 < complete)
                prefetchBorder(level, ahead);
            visit(level, bucket);
        }
    }
    flush();
    FOut.resize(FSize);
}

// When bucket `bucket` of `level` spans a column border, asks for the memory its descent will read: the
// buckets on the way down and the points around the border, whose index is estimated from the keys.
void TColumnReducer::prefetchBorder(int level, qsizetype bucket)
{
    const TPyramidBucket& b = FPyramid.bucket(level, bucket);
    const double nextKey = FPyramid.bucket(level, bucket + 1).firstKey;
    const qint64 column = FMap.column(b.firstKey);
    if (column == FMap.column(nextKey) || !(nextKey > b.firstKey))
        return;
    const int shift = TMinMaxPyramid::BucketShift + level;
    const qsizetype first = bucket << shift, last = first + (qsizetype(1) << shift) - 1;
    const double border =
        FMap.lower + (static_cast<double>(column + 1) - FMap.shift - FMap.left) / FMap.width * FMap.size;
    const double at = (border - b.firstKey) / (nextKey - b.firstKey) * static_cast<double>(last - first + 1);
    const qsizetype index = std::clamp(first + static_cast<qsizetype>(at), first, last);
    for (int l = level; l > 0;) {
        const int down = std::min(l, LevelsAtOnce);
        l -= down;
        const qsizetype begin = (index >> (TMinMaxPyramid::BucketShift + l + down)) << down;
        const qsizetype stored = std::min(begin + (qsizetype(1) << down), FPyramid.bucketCount(l));
        if (begin < stored)
            prefetch(&FPyramid.bucket(l, begin), &FPyramid.bucket(l, stored - 1) + 1);
    }
    const qsizetype points = (index >> TMinMaxPyramid::BucketShift) << TMinMaxPyramid::BucketShift;
    const qsizetype end = std::min(points + TMinMaxPyramid::BucketPoints, FPyramid.count());
    if (points < end)
        prefetch(FPoints + points, FPoints + end);
}

void TColumnReducer::visit(int level, qsizetype bucket)
{
    const int shift = TMinMaxPyramid::BucketShift + level;
    const qsizetype first = bucket << shift;
    const qsizetype end = first + (qsizetype(1) << shift);
    if (end <= FFrom || first >= FTo)
        return;
    const qsizetype complete = FPyramid.bucketCount(level);
    if (first >= FFrom && end <= FTo && bucket < complete) {
        const TPyramidBucket& b = FPyramid.bucket(level, bucket);
        // The next bucket's first key bounds this one's keys without reading its last point.
        const double after =
            bucket + 1 < complete ? FPyramid.bucket(level, bucket + 1).firstKey : (FPoints + (end - 1))->key;
        if (b.range.usable()) {
            if (FOpen && after <= FColumnLast) { // follows the run, in its column
                FRange.join(b.range);
                FLast = end - 1;
                return;
            }
            const qint64 column = FMap.column(b.firstKey);
            if (column == FMap.column(after)) {
                if (FOpen && column == FColumn)
                    FRange.join(b.range);
                else
                    startRun(first, column, b.range);
                FLast = end - 1;
                return;
            }
        }
    }
    // Across a column border or over a gap: look closer, a few levels down at once; the buckets there lie
    // one after the other in memory.
    if (level == 0) {
        const qsizetype from = std::max(first, FFrom), to = std::min(end, FTo);
        prefetch(FPoints + from, FPoints + to);
        addPoints(from, to);
        return;
    }
    const int down = std::min(level, LevelsAtOnce);
    const int lower = level - down;
    const qsizetype begin = bucket << down, stop = (bucket + 1) << down;
    const qsizetype stored = std::min(stop, FPyramid.bucketCount(lower));
    if (begin < stored)
        prefetch(&FPyramid.bucket(lower, begin), &FPyramid.bucket(lower, stored - 1) + 1);
    for (qsizetype b = begin; b < stop; ++b)
        visit(lower, b);
}

void TColumnReducer::addPoints(qsizetype from, qsizetype to)
{
    auto it = FPoints + from;
    for (qsizetype i = from; i < to;) {
        if (FOpen) {
            // The points that stay in the run's column, in registers.
            TValueRange range = FRange;
            const double limit = FColumnLast;
            const qsizetype start = i;
            for (; i < to && it->key <= limit && std::isfinite(it->value); ++i, ++it)
                range.take(it->key, it->value);
            FRange = range;
            if (i > start)
                FLast = i - 1;
            if (i == to)
                return;
        }
        // A gap, or a point past the run's column (or too near its border to tell by key).
        const QCPGraphData& point = *it;
        if (!std::isfinite(point.value)) {
            addBreak(point.key);
        } else {
            const qint64 column = FMap.column(point.key);
            if (FOpen && column == FColumn)
                FRange.join(TValueRange::of(point.key, point.value));
            else
                startRun(i, column, TValueRange::of(point.key, point.value));
            FLast = i;
        }
        ++i;
        ++it;
    }
}

void TColumnReducer::startRun(qsizetype first, qint64 column, const TValueRange& range)
{
    flush();
    FOpen = true;
    FColumn = column;
    FColumnLast = FMap.lastKeyIn(column);
    FFirst = first;
    FRange = range;
}

void TColumnReducer::makeRoom(qsizetype points)
{
    if (FSize + points > FOut.size()) {
        FOut.resize(std::max(FSize + points, 2 * FOut.size())); // zeroed: QCPGraphData is a primitive type
        FData = FOut.data();
    } else if (!FData) {
        FData = FOut.data();
    }
}

void TColumnReducer::addBreak(double key)
{
    flush();
    makeRoom(1);
    if (FSize == 0 || !std::isnan(FData[FSize - 1].value))
        FData[FSize++] = QCPGraphData(key, std::numeric_limits<double>::quiet_NaN());
}

void TColumnReducer::flush()
{
    if (!FOpen)
        return;
    FOpen = false;
    makeRoom(4);
    // First, the extremes in the order of their keys, last.
    const QCPGraphData& first = *(FPoints + FFirst);
    const QCPGraphData& last = *(FPoints + FLast);
    put(first.key, first.value);
    const bool lowFirst = FRange.minKey <= FRange.maxKey;
    put(lowFirst ? FRange.minKey : FRange.maxKey, lowFirst ? FRange.min : FRange.max);
    put(lowFirst ? FRange.maxKey : FRange.minKey, lowFirst ? FRange.max : FRange.min);
    put(last.key, last.value);
}

void TColumnReducer::put(double key, double value)
{
    if (FSize > 0 && FData[FSize - 1].key == key && FData[FSize - 1].value == value)
        return;
    FData[FSize].key = key;
    FData[FSize].value = value;
    ++FSize;
}

bool TColumnReducer::reduceSpans(const std::vector<TColumnSpan>& spans)
{
    const qsizetype start = FSize;
    FFrom = spans.empty() ? 0 : spans.front().from;
    FTo = spans.empty() ? 0 : std::min(spans.back().to, FPyramid.count());
    makeRoom(4 * static_cast<qsizetype>(spans.size()) + 16);
    for (size_t s = 0; s < spans.size(); ++s) {
        if (s + Lookahead < spans.size())
            prefetchSpan(spans[s + Lookahead].from, spans[s + Lookahead].to);
        const TColumnSpan& span = spans[s];
        if (span.to > FTo || FMap.column((FPoints + span.from)->key) != span.column
            || FMap.column((FPoints + (span.to - 1))->key) != span.column) {
            FOpen = false;
            FSize = start;
            FOut.resize(FSize);
            return false;
        }
        TValueRange range;
        flush();
        if (rangeOf(span.from, span.to, range)) {
            FOpen = true;
            FColumn = span.column;
            FFirst = span.from;
            FLast = span.to - 1;
            FRange = range;
        } else {
            addPoints(span.from, span.to); // a gap in the column: runs either side of it
        }
    }
    flush();
    FOut.resize(FSize);
    return true;
}

bool TColumnReducer::rangeOf(qsizetype from, qsizetype to, TValueRange& range) const
{
    const QCPGraphData* p = FPoints + from;
    range = TValueRange::of(p->key, p->value);
    if (!range.usable())
        return false;
    const qsizetype complete = FPyramid.bucketCount(0);
    for (qsizetype i = from + 1; i < to;) {
        if ((i & (TMinMaxPyramid::BucketPoints - 1)) == 0 && i + TMinMaxPyramid::BucketPoints <= to
            && (i >> TMinMaxPyramid::BucketShift) < complete) {
            // The largest stored bucket that starts here and ends within the range.
            int level = 0;
            while (level + 1 < FPyramid.levelCount()) {
                const int shift = TMinMaxPyramid::BucketShift + level + 1;
                if ((i & ((qsizetype(1) << shift) - 1)) != 0 || i + (qsizetype(1) << shift) > to
                    || (i >> shift) >= FPyramid.bucketCount(level + 1))
                    break;
                ++level;
            }
            const TValueRange& b = FPyramid.bucket(level, i >> (TMinMaxPyramid::BucketShift + level)).range;
            if (!b.usable())
                return false;
            range.join(b);
            i += qsizetype(1) << (TMinMaxPyramid::BucketShift + level);
            continue;
        }
        // Points up to the next bucket's start, in registers.
        const qsizetype stop = std::min(to, ((i >> TMinMaxPyramid::BucketShift) + 1) << TMinMaxPyramid::BucketShift);
        TValueRange r = range;
        bool finite = true;
        for (p = FPoints + i; i < stop; ++i, ++p) {
            finite = finite && std::isfinite(p->value);
            r.take(p->key, p->value);
        }
        if (!finite)
            return false;
        range = r;
    }
    return true;
}

// Asks for the memory rangeOf will read for points [from, to): the points beside the buckets and the
// buckets at the span's ends, level by level.
void TColumnReducer::prefetchSpan(qsizetype from, qsizetype to) const
{
    const qsizetype head = std::min(to, ((from >> TMinMaxPyramid::BucketShift) + 1) << TMinMaxPyramid::BucketShift);
    prefetch(FPoints + from, FPoints + head);
    const qsizetype tail = std::max(head, (to >> TMinMaxPyramid::BucketShift) << TMinMaxPyramid::BucketShift);
    prefetch(FPoints + tail, FPoints + to);
    __builtin_prefetch(FPoints + (to - 1));
    for (int level = 0; level < FPyramid.levelCount(); ++level) {
        const int shift = TMinMaxPyramid::BucketShift + level;
        const qsizetype first = (from + (qsizetype(1) << shift) - 1) >> shift, last = (to >> shift) - 1;
        if (first > last || last >= FPyramid.bucketCount(level))
            break;
        __builtin_prefetch(&FPyramid.bucket(level, first));
        if (last != first)
            __builtin_prefetch(&FPyramid.bucket(level, last));
    }
}
