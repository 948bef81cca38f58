#pragma once
#include "record/LogTimeZone.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// One kind of trouble met in a log file: where it was met first and how often.
struct TLogProblem {
    enum EKind {
        CannotOpen,     // the file cannot be opened or read
        EmptyFile,      // no byte at all
        NotALog,        // neither a header nor a reading
        NoHeader,       // line 1 is a reading
        UnknownHeader,  // line 1 is neither layout's header
        RepeatedHeader, // a header line after line 1
        EmptyLine,      //
        BinaryData,     // control bytes or bytes outside ASCII
        TooLong,        // longer than TLogParser::MaxLineLength
        FieldCount,     // not the layout's number of fields (one kind for each wrong number)
        BadDate,        //
        BadTime,        //
        BadNumber,      //
        CutShort,       // the last line, without its line end and short of fields
        NoLineEnd,      // the last line is complete but lacks its line end (kept)
        TimeBack,       // the time goes back (kept, placed by its time)
        Cancelled,      // reading stopped on request
    };
    EKind kind;
    int64_t firstLine = 0; // 1-based; 0 for the file as a whole
    int64_t count = 1;
    std::string detail; // of the first such line

    // "line 81234: 4 fields, 9 expected; 3 such lines skipped"
    QString text() const;
    // Whether lines of this kind are left out (the others are notes on lines that are kept).
    bool skipsLines() const;
};

using TLogTimes = std::vector<int64_t>;
using TLogColumn = std::vector<double>;

// From reading `first` on, the written times are `seconds` ahead of UTC (until the next such run).
struct TLogOffset {
    size_t first;
    int32_t seconds;
};

// A log file as read: the value columns' titles, and per reading its time and its values, in the order of
// their times (the file's order, unless its clock was set back: then sorted, stable).
struct TLogData {
    enum ELayout { Unknown, Channels, Concentration, Mixed };
    ELayout layout = Unknown;
    QStringList titles; // value columns, after Date and Time

    // The instant of each reading, in milliseconds since 1970-01-01 00:00 UTC: the written local time
    // placed with the time zone it was read with (TLogZonePlacer).
    TLogTimes times;
    // The offset each written time was placed with, as runs (a run begins at each change of offset).
    std::vector<TLogOffset> offsets;
    std::vector<TLogColumn> values; // [column][reading]
    // Readings that begin a new stretch: the time jumped by more than three times the median spacing (an
    // outage). Ascending.
    std::vector<size_t> gaps;
    int64_t medianSpacing = 0; // ms, over the forward steps

    std::vector<TLogProblem> problems; // in the order they were first met
    int64_t lineCount = 0;             // lines in the file, header included
    bool cancelled = false;

    size_t count() const { return times.size(); }
    // Seconds ahead of UTC of reading i's written time.
    int32_t offsetAt(size_t i) const;
    // The clock time of reading i as written (a local date and time, as the file has it).
    QDateTime clockTime(size_t i) const;
    // Reading i's instant with the offset it was written in (shows the written time and its offset).
    QDateTime placedTime(size_t i) const;
    // Bytes the readings take: the times and the values.
    size_t bytes() const
    {
        return count() * sizeof(int64_t) * (1 + values.size()) + offsets.size() * sizeof(TLogOffset);
    }
    // Whether reading i is the first after a gap.
    bool startsStretch(size_t i) const;
    QStringList report() const;
};

// Parses the text of a log file handed over in pieces of any size. Lines may end in CR LF or LF. Each
// line is checked on its own: a bad line is counted under its kind and left out, every good one kept.
// A line longer than MaxLineLength is skipped without being held.
class TLogParser {
public:
    static constexpr size_t MaxLineLength = 4096;

    // The written times are placed with `zone` (the machine's by default).
    explicit TLogParser(const QTimeZone& zone = QTimeZone::systemTimeZone());

    // Reserves room for up to `lines` readings (at most 64 M): room not filled takes address space only.
    void reserve(size_t lines);
    void feed(std::string_view bytes);
    // The last line, the gaps and the summary; the parser is spent afterwards.
    TLogData finish();
    // Stops with what was read so far (a Cancelled note at the next line).
    TLogData cancel();
    int64_t linesSeen() const { return FLine; }

private:
    void line(std::string_view text, bool ended);
    bool readHeader(std::string_view text);
    bool parseReading(std::string_view text, bool store);
    void reserveColumns();
    void problem(TLogProblem::EKind kind, int64_t line, std::string detail = {});
    void setLayout(TLogData::ELayout layout);
    void findGaps();

    TLogData FData;
    std::string FCarry; // a line not ended yet
    bool FCarryTooLong = false;
    int64_t FLine = 0; // lines completed
    bool FHeaderSeen = false;
    size_t FHeaderProblem = SIZE_MAX; // index of the NoHeader/UnknownHeader problem, to complete it
    size_t FFieldCount = 0;           // of the layout, 0 while unknown
    std::string FLastDate;            // the date text of the last reading and its day number
    int64_t FLastDay = 0;
    int64_t FLastWritten = 0; // written time of the last reading
    TLogZonePlacer FPlacer;
    TPlacedTime FLastPlaced; // of the last reading, in file order
    std::vector<size_t> FLastProblemOfKind = std::vector<size_t>(TLogProblem::Cancelled + 1, SIZE_MAX);
    // FieldCount problems by the number of fields, 0 to 11, the last entry for more than 11.
    std::vector<size_t> FFieldCountProblem = std::vector<size_t>(13, SIZE_MAX);
    size_t FLastFields = 0;
    size_t FReserve = 0;
};

// Reads a log file in pieces of 1 MiB. `progress` is called after each piece with the bytes read and the
// file's size; returning false stops the reading (the data then holds what was read, marked cancelled).
// The written times are placed with `zone`.
using TLogProgress = std::function<bool(int64_t done, int64_t total)>;
TLogData ReadLogFile(const QString& fileName, const TLogProgress& progress = {},
                     const QTimeZone& zone = QTimeZone::systemTimeZone());

// Sorts the readings by their time (stable: readings of the same time keep their order).
void SortLogByTime(TLogData& data);
// The median of the forward steps between sorted times (0 without any).
int64_t MedianLogSpacing(const TLogTimes& times);
// The median spacing and the gaps of sorted readings: steps of more than three times the median.
void FindLogGaps(TLogData& data);
