// Arbitrary file content through the log reader, whole and in pieces whose sizes come from the input.
// Beyond "no crash": the pieces read the same as the whole, every line is either kept, skipped under a
// kind the report names, or the header, the readings come in time order and the gaps point at them.
#include "FuzzCheck.h"
#include "record/LogReader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace {

TLogData parse(std::string_view text, size_t seed)
{
    TLogParser parser;
    while (!text.empty()) {
        const size_t piece = seed == 0 ? text.size() : 1 + seed % 97;
        seed = seed * 31 + 7;
        parser.feed(text.substr(0, piece));
        text.remove_prefix(std::min(piece, text.size()));
    }
    return parser.finish();
}

bool sameValues(const TLogColumn& a, const TLogColumn& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const TLogData whole = parse(text, 0);
    const TLogData pieces = parse(text, size == 0 ? 1 : data[0] + 1u);

    check(whole.times == pieces.times, "pieces give other times");
    check(whole.values.size() == pieces.values.size(), "pieces give other columns");
    for (size_t c = 0; c < whole.values.size(); ++c)
        check(sameValues(whole.values[c], pieces.values[c]), "pieces give other values");
    check(whole.report() == pieces.report(), "pieces give another report");
    check(whole.gaps == pieces.gaps, "pieces give other gaps");

    check(std::is_sorted(whole.times.begin(), whole.times.end()), "readings out of time order");
    check(whole.values.size() == static_cast<size_t>(whole.titles.size()), "a column without a title");
    for (const auto& column : whole.values)
        check(column.size() == whole.count(), "a column of another length");
    for (size_t i = 0; i < whole.gaps.size(); ++i)
        check(whole.gaps[i] > 0 && whole.gaps[i] < whole.count() && (i == 0 || whole.gaps[i] > whole.gaps[i - 1]),
              "a gap out of order or range");

    int64_t skipped = 0;
    bool headerSlot = whole.lineCount > 0;
    for (const TLogProblem& p : whole.problems) {
        check(!p.text().isEmpty() && p.count > 0 && p.firstLine <= whole.lineCount + 1, "a vague problem");
        if (p.skipsLines())
            skipped += p.count;
        if (p.kind == TLogProblem::NoHeader)
            headerSlot = false;
    }
    check(static_cast<int64_t>(whole.count()) + skipped + (headerSlot ? 1 : 0) == whole.lineCount,
          "a line neither kept, skipped nor the header");
    check(whole.count() == 0 || whole.layout != TLogData::Unknown, "readings without a layout");
    return 0;
}
