#include "record/LogReader.h"

#include "record/ReadingFormat.h"

#include <QDate>
#include <QFile>
#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr int64_t UnixEpochJulianDay = 2440588;
constexpr size_t MaxFields = 11; // one more than the widest layout, to tell "too many"

size_t layoutFields(TLogData::ELayout layout)
{
    return layout == TLogData::Channels ? 2 + ChannelsLogValueCount : 2 + ConcentrationLogValueCount;
}

const char* layoutName(TLogData::ELayout layout)
{
    return layout == TLogData::Channels ? "Channels" : "Concentration";
}

// Unsigned decimal of 1..maxDigits digits, the whole text.
bool digits(std::string_view text, size_t maxDigits, int& value)
{
    if (text.empty() || text.size() > maxDigits)
        return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

// "dd/mm/yyyy" (one-digit day and month accepted): the day's number since 1970-01-01.
bool parseDate(std::string_view text, int64_t& day)
{
    const size_t a = text.find('/');
    const size_t b = a == std::string_view::npos ? a : text.find('/', a + 1);
    if (b == std::string_view::npos)
        return false;
    int d = 0, m = 0, y = 0;
    if (!digits(text.substr(0, a), 2, d) || !digits(text.substr(a + 1, b - a - 1), 2, m) || text.size() - b - 1 != 4
        || !digits(text.substr(b + 1), 4, y) || !QDate::isValid(y, m, d))
        return false;
    day = QDate(y, m, d).toJulianDay() - UnixEpochJulianDay;
    return true;
}

// "hh:mm:ss.mmm" (the fraction may have one to three digits or be absent): milliseconds since midnight.
bool parseTime(std::string_view text, int64_t& ms)
{
    if (text.size() < 8 || text[2] != ':' || text[5] != ':')
        return false;
    int h = 0, m = 0, s = 0, frac = 0;
    if (!digits(text.substr(0, 2), 2, h) || !digits(text.substr(3, 2), 2, m) || !digits(text.substr(6, 2), 2, s)
        || h > 23 || m > 59 || s > 59)
        return false;
    if (text.size() > 8) {
        const std::string_view f = text.substr(9);
        if (text[8] != '.' || !digits(f, 3, frac))
            return false;
        for (size_t n = f.size(); n < 3; ++n)
            frac *= 10;
    }
    ms = ((h * 60 + m) * 60 + s) * 1000LL + frac;
    return true;
}

// The whole field as a number ("nan" and "inf" included: a value the writer wrote as such).
bool parseNumber(std::string_view text, double& value)
{
    if (text.empty())
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// A field or line for a message: at most 24 characters, a TAB shown as \t.
std::string quoted(std::string_view text)
{
    constexpr size_t shown = 24;
    std::string out = "\"";
    for (const char c : text.substr(0, shown))
        out += c == '\t' ? std::string("\\t") : std::string(1, c);
    return out + (text.size() > shown ? "...\"" : "\"");
}

std::string duration(int64_t ms)
{
    const auto u = [](int64_t v) { return static_cast<unsigned>(v); };
    char hours[24];
    std::snprintf(hours, sizeof hours, "%02lld", static_cast<long long>(ms / 3600000));
    return hours + FormatLogTime(0, u(ms / 60000 % 60), u(ms / 1000 % 60), u(ms % 1000)).substr(2);
}

bool binary(std::string_view text)
{
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if ((b < 0x20 && b != '\t') || b >= 0x7F)
            return true;
    }
    return false;
}

} // namespace

QString TLogProblem::text() const
{
    QString t = firstLine > 0 ? QStringLiteral("line %1: ").arg(firstLine) : QString();
    t += QString::fromStdString(detail);
    if (skipsLines())
        t += count == 1 ? QStringLiteral("; skipped") : QStringLiteral("; %1 such lines skipped").arg(count);
    else if (kind == TimeBack || kind == NoLineEnd)
        t += count == 1 ? QStringLiteral("; kept") : QStringLiteral("; %1 such lines kept").arg(count);
    return t;
}

bool TLogProblem::skipsLines() const
{
    switch (kind) {
    case RepeatedHeader:
    case EmptyLine:
    case BinaryData:
    case TooLong:
    case FieldCount:
    case BadDate:
    case BadTime:
    case BadNumber:
    case CutShort: return true;
    default: return false;
    }
}

int32_t TLogData::offsetAt(size_t i) const
{
    const auto run =
        std::upper_bound(offsets.begin(), offsets.end(), i, [](size_t n, const TLogOffset& o) { return n < o.first; });
    return run == offsets.begin() ? 0 : std::prev(run)->seconds;
}

QDateTime TLogData::placedTime(size_t i) const
{
    return QDateTime::fromMSecsSinceEpoch(times[i], QTimeZone(offsetAt(i)));
}

QDateTime TLogData::clockTime(size_t i) const
{
    const int64_t t = times[i] + offsetAt(i) * 1000LL;
    const int64_t day = (t >= 0 ? t : t - MsPerDay + 1) / MsPerDay;
    return QDateTime(QDate::fromJulianDay(day + UnixEpochJulianDay),
                     QTime::fromMSecsSinceStartOfDay(static_cast<int>(t - day * MsPerDay)));
}

bool TLogData::startsStretch(size_t i) const
{
    return std::binary_search(gaps.begin(), gaps.end(), i);
}

QStringList TLogData::report() const
{
    QStringList lines;
    for (const TLogProblem& p : problems)
        lines << p.text();
    return lines;
}

TLogParser::TLogParser(const QTimeZone& zone) : FPlacer(zone) {}

void TLogParser::reserve(size_t lines)
{
    FReserve = std::min<size_t>(lines, size_t(1) << 26);
    reserveColumns();
}

void TLogParser::reserveColumns()
{
    try {
        FData.times.reserve(FReserve);
        for (auto& column : FData.values)
            column.reserve(FReserve);
    } catch (const std::bad_alloc&) {
        FReserve = 0; // the columns grow as they fill
    }
}

void TLogParser::feed(std::string_view bytes)
{
    while (!bytes.empty()) {
        const void* found = std::memchr(bytes.data(), '\n', bytes.size());
        if (!found) {
            if (!FCarryTooLong && FCarry.size() + bytes.size() <= MaxLineLength)
                FCarry.append(bytes);
            else {
                FCarryTooLong = true;
                FCarry.clear();
            }
            return;
        }
        const size_t length = static_cast<size_t>(static_cast<const char*>(found) - bytes.data());
        const std::string_view piece = bytes.substr(0, length);
        if (FCarryTooLong)
            line(std::string_view(nullptr, 0), true);
        else if (FCarry.empty())
            line(piece, true);
        else if (FCarry.size() + piece.size() > MaxLineLength) {
            FCarryTooLong = true;
            line(std::string_view(nullptr, 0), true);
        } else {
            FCarry.append(piece);
            line(FCarry, true);
        }
        FCarry.clear();
        FCarryTooLong = false;
        bytes.remove_prefix(length + 1);
    }
}

void TLogParser::problem(TLogProblem::EKind kind, int64_t line, std::string detail)
{
    // Each wrong number of fields is a kind of its own.
    static_assert(MaxFields == 11, "FFieldCountProblem has an entry for each count up to MaxFields and one more");
    size_t& index = kind == TLogProblem::FieldCount ? FFieldCountProblem[std::min(FLastFields, MaxFields + 1)]
                                                    : FLastProblemOfKind[kind];
    if (index != SIZE_MAX) {
        ++FData.problems[index].count;
        return;
    }
    index = FData.problems.size();
    FData.problems.push_back({kind, line, 1, std::move(detail)});
}

void TLogParser::setLayout(TLogData::ELayout layout)
{
    FData.layout = layout;
    FFieldCount = layoutFields(layout);
    const QStringList header = QString::fromLatin1(LogHeader(layout == TLogData::Concentration)).split('\t');
    FData.titles = header.mid(2);
    FData.values.assign(FFieldCount - 2, {});
    reserveColumns();
    if (FHeaderProblem != SIZE_MAX)
        FData.problems[FHeaderProblem].detail +=
            "; read as the " + std::string(layoutName(layout)) + " layout (" + std::to_string(FFieldCount) + " fields)";
}

bool TLogParser::readHeader(std::string_view text)
{
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    for (const auto layout : {TLogData::Channels, TLogData::Concentration}) {
        if (text == LogHeader(layout == TLogData::Concentration)) {
            setLayout(layout);
            return true;
        }
    }
    return false;
}

void TLogParser::line(std::string_view raw, bool ended)
{
    const int64_t number = ++FLine;
    const bool tooLong = FCarryTooLong || raw.size() > MaxLineLength;
    std::string_view text = raw;
    if (text.ends_with('\r'))
        text.remove_suffix(1);
    if (!FHeaderSeen) {
        FHeaderSeen = true;
        if (!tooLong && readHeader(text))
            return;
        FHeaderProblem = FData.problems.size();
        if (!tooLong && !binary(text) && parseReading(text, false)) {
            problem(TLogProblem::NoHeader, number, "no header: the file begins with a reading");
        } else {
            problem(TLogProblem::UnknownHeader, number,
                    "not a header of this program's logs"
                        + (tooLong ? std::string(" (a line of more than ") + std::to_string(MaxLineLength) + " bytes)"
                           : binary(text) ? std::string(" (binary data)")
                           : text.empty() ? std::string(" (an empty line)")
                                          : " (" + quoted(text) + ")"));
            return;
        }
    }
    if (tooLong) {
        problem(TLogProblem::TooLong, number, "longer than " + std::to_string(MaxLineLength) + " bytes");
        return;
    }
    if (text.empty()) {
        problem(TLogProblem::EmptyLine, number, "an empty line");
        return;
    }
    if (binary(text)) {
        problem(TLogProblem::BinaryData, number, "binary data");
        return;
    }
    if (text == LogHeader(false) || text == LogHeader(true)) {
        problem(TLogProblem::RepeatedHeader, number, "a header line");
        return;
    }
    const size_t fields = static_cast<size_t>(std::count(text.begin(), text.end(), '\t')) + 1;
    const bool known = FFieldCount != 0;
    if (known ? fields != FFieldCount
              : fields != layoutFields(TLogData::Channels) && fields != layoutFields(TLogData::Concentration)) {
        const std::string counts =
            (fields > MaxFields ? "more than " + std::to_string(MaxFields) : std::to_string(fields))
            + (fields == 1 ? " field, " : " fields, ") + (known ? std::to_string(FFieldCount) : "9 or 10")
            + " expected";
        FLastFields = fields;
        if (!ended && fields < (known ? FFieldCount : layoutFields(TLogData::Concentration)))
            problem(TLogProblem::CutShort, number, "the last line is cut short (" + counts + ")");
        else
            problem(TLogProblem::FieldCount, number, counts);
        return;
    }
    if (parseReading(text, true) && !ended)
        problem(TLogProblem::NoLineEnd, number, "the last line has no line end");
}

// Splits and converts one line; with `store`, reports what is wrong or keeps the reading. Without it, it
// only tells whether the line is a reading of either layout.
bool TLogParser::parseReading(std::string_view text, bool store)
{
    std::array<std::string_view, MaxFields> field;
    size_t n = 0;
    for (size_t start = 0;;) {
        const size_t tab = text.find('\t', start);
        if (n == MaxFields)
            return false;
        field[n++] = text.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start);
        if (tab == std::string_view::npos)
            break;
        start = tab + 1;
    }
    const size_t expected = FFieldCount != 0 ? FFieldCount : n;
    if (n != expected || (n != layoutFields(TLogData::Channels) && n != layoutFields(TLogData::Concentration)))
        return false;

    const bool sameDate = !FLastDate.empty() && field[0] == FLastDate;
    int64_t day = FLastDay;
    if (!sameDate && !parseDate(field[0], day)) {
        if (store)
            problem(TLogProblem::BadDate, FLine, quoted(field[0]) + " is not a date (dd/mm/yyyy)");
        return false;
    }
    int64_t ms = 0;
    if (!parseTime(field[1], ms)) {
        if (store)
            problem(TLogProblem::BadTime, FLine, quoted(field[1]) + " is not a time (hh:mm:ss.mmm)");
        return false;
    }
    std::array<double, MaxFields> value{};
    for (size_t i = 2; i < n; ++i) {
        if (!parseNumber(field[i], value[i])) {
            if (store) {
                const std::string title = FData.titles.value(static_cast<qsizetype>(i - 2)).toStdString();
                problem(TLogProblem::BadNumber, FLine,
                        quoted(field[i]) + (title.empty() ? "" : " in column " + title) + " is not a number");
            }
            return false;
        }
    }
    if (!store)
        return true;
    if (FFieldCount == 0)
        setLayout(n == layoutFields(TLogData::Channels) ? TLogData::Channels : TLogData::Concentration);

    int64_t t = day * MsPerDay + ms;
    const bool first = FData.times.empty();
    // The date is read before the time: a line just after midnight can carry the old day's date.
    if (!first && sameDate && t < FLastWritten - MsPerDay / 2)
        t += MsPerDay;
    const TPlacedTime placed = FPlacer.place(t, first ? nullptr : &FLastPlaced);
    if (!first && placed.utc < FLastPlaced.utc)
        problem(TLogProblem::TimeBack, FLine, "the time goes back by " + duration(FLastPlaced.utc - placed.utc));
    if (!sameDate) {
        FLastDate.assign(field[0]);
        FLastDay = day;
    }
    FLastWritten = t;
    FLastPlaced = placed;
    if (FData.offsets.empty() || FData.offsets.back().seconds != placed.offset)
        FData.offsets.push_back({FData.times.size(), placed.offset});
    FData.times.push_back(placed.utc);
    for (size_t i = 2; i < n; ++i)
        FData.values[i - 2].push_back(value[i]);
    return true;
}

void SortLogByTime(TLogData& data)
{
    TLogTimes& t = data.times;
    if (std::is_sorted(t.begin(), t.end()))
        return;
    std::vector<size_t> order(t.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&t](size_t a, size_t b) { return t[a] < t[b]; });
    std::vector<int32_t> offset(t.size());
    for (size_t i = 0; i < offset.size(); ++i)
        offset[i] = data.offsetAt(i);
    TLogTimes sortedTimes(t.size());
    for (size_t i = 0; i < order.size(); ++i)
        sortedTimes[i] = t[order[i]];
    t.swap(sortedTimes);
    sortedTimes = TLogTimes();
    data.offsets.clear();
    for (size_t i = 0; i < order.size(); ++i)
        if (data.offsets.empty() || data.offsets.back().seconds != offset[order[i]])
            data.offsets.push_back({i, offset[order[i]]});
    offset = std::vector<int32_t>();
    TLogColumn sorted(t.size());
    for (TLogColumn& column : data.values) {
        for (size_t i = 0; i < order.size(); ++i)
            sorted[i] = column[order[i]];
        column.swap(sorted);
    }
}

int64_t MedianLogSpacing(const TLogTimes& t)
{
    std::vector<int32_t> steps;
    steps.reserve(t.size());
    for (size_t i = 1; i < t.size(); ++i) {
        if (t[i] > t[i - 1])
            steps.push_back(static_cast<int32_t>(std::min<int64_t>(t[i] - t[i - 1], INT32_MAX)));
    }
    if (steps.empty())
        return 0;
    auto middle = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
    std::nth_element(steps.begin(), middle, steps.end());
    return *middle;
}

void FindLogGaps(TLogData& data)
{
    const TLogTimes& t = data.times;
    data.medianSpacing = MedianLogSpacing(t);
    data.gaps.clear();
    for (size_t i = 1; i < t.size(); ++i) {
        if (data.medianSpacing > 0 && t[i] - t[i - 1] > 3 * data.medianSpacing)
            data.gaps.push_back(i);
    }
}

void TLogParser::findGaps()
{
    SortLogByTime(FData);
    FindLogGaps(FData);
}

TLogData TLogParser::finish()
{
    if (!FCarry.empty() || FCarryTooLong)
        line(FCarry, false);
    FCarry.clear();
    FCarryTooLong = false;
    if (FLine == 0)
        FData.problems.insert(FData.problems.begin(), {TLogProblem::EmptyFile, 1, 1, "the file is empty"});
    else if (FData.layout == TLogData::Unknown) // neither a header nor a reading
        FData.problems.insert(FData.problems.begin(), {TLogProblem::NotALog, 1, 1,
                                                       "not a log of this program: no line holds a date, a time and "
                                                           + std::to_string(ChannelsLogValueCount) + " or "
                                                           + std::to_string(ConcentrationLogValueCount) + " values"});
    findGaps();
    FData.lineCount = FLine;
    return std::move(FData);
}

TLogData TLogParser::cancel()
{
    FCarry.clear();
    FCarryTooLong = false;
    problem(TLogProblem::Cancelled, FLine + 1, "reading cancelled: this line and the lines after it are not shown");
    findGaps();
    FData.lineCount = FLine;
    FData.cancelled = true;
    return std::move(FData);
}

TLogData ReadLogFile(const QString& fileName, const TLogProgress& progress, const QTimeZone& zone)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        TLogData data;
        data.problems.push_back(
            {TLogProblem::CannotOpen, 0, 1,
             "cannot open \"" + fileName.toStdString() + "\": " + file.errorString().toStdString()});
        return data;
    }
    const int64_t total = file.size();
    TLogParser parser(zone);
    // The shortest reading is about 32 bytes: room for every line at once, of which only what is filled
    // takes memory, so the columns never move while they grow.
    parser.reserve(static_cast<size_t>(total / 32 + 1));
    std::vector<char> buffer(1 << 20);
    int64_t done = 0;
    for (;;) {
        const qint64 n = file.read(buffer.data(), static_cast<qint64>(buffer.size()));
        if (n < 0) {
            TLogData data = parser.finish();
            data.problems.push_back({TLogProblem::CannotOpen, parser.linesSeen() + 1, 1,
                                     "cannot read the file further: " + file.errorString().toStdString()});
            return data;
        }
        if (n == 0)
            break;
        parser.feed(std::string_view(buffer.data(), static_cast<size_t>(n)));
        done += n;
        if (progress && !progress(done, total))
            return parser.cancel();
    }
    return parser.finish();
}
