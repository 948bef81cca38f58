#include "chart/ColumnBorders.h"

#include <algorithm>
#include <qcustomplot.h>

void TColumnBorders::find(const QCPGraphData* points, qsizetype from, qsizetype to, const TKeyToPixel& map)
{
    FSpans.clear();
    FMap = map;
    FFrom = from;
    FTo = to;
    FValid = true;
    const auto columnOf = [&](qsizetype i) { return map.column(points[i].key); };
    for (qsizetype i = from; i < to;) {
        const qint64 column = columnOf(i);
        // The first point past the column: guessed from the keys (evenly spaced keys land on or next to it),
        // bracketed by steps that double, then halved down to.
        const double firstKey = points[i].key, lastKey = points[to - 1].key;
        qsizetype guess = to - 1;
        if (lastKey > firstKey) {
            const double part = (map.lastKeyIn(column) - firstKey) / (lastKey - firstKey);
            if (part < 1)
                guess = i + static_cast<qsizetype>(std::max(part, 0.0) * static_cast<double>(to - 1 - i));
        }
        guess = std::clamp(guess, i, to - 1);
        qsizetype in = i, out = to; // the last index known in the column, the first known past it
        if (columnOf(guess) <= column) {
            in = guess;
            for (qsizetype step = 1; in + step < to; step *= 2) {
                if (columnOf(in + step) > column) {
                    out = in + step;
                    break;
                }
                in += step;
            }
        } else {
            out = guess;
            for (qsizetype step = 1; out - step > i; step *= 2) {
                if (columnOf(out - step) <= column) {
                    in = out - step;
                    break;
                }
                out -= step;
            }
        }
        while (out - in > 1) {
            const qsizetype mid = in + (out - in) / 2;
            (columnOf(mid) <= column ? in : out) = mid;
        }
        FSpans.push_back({column, i, out});
        i = out;
    }
}

TColumnBorders& TSharedColumnBorders::of(QObject* keyAxis)
{
    auto* shared = keyAxis->findChild<TSharedColumnBorders*>(QString(), Qt::FindDirectChildrenOnly);
    if (!shared)
        shared = new TSharedColumnBorders(keyAxis);
    return shared->FBorders;
}
