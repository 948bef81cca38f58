#include "publish/PublishSpool.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char Magic[8] = {'V', 'M', 'L', 'S', 'P', 'O', 'O', 'L'};
constexpr uint32_t Version = 1;
enum Kind : uint8_t { ChannelsReading = 1, ConcentrationReading = 2, Event = 3 };

uint32_t crc32(const unsigned char* data, size_t size)
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

struct TWriter {
    unsigned char* out;
    size_t n = 0;
    template <typename T> void put(T value)
    {
        std::memcpy(out + n, &value, sizeof value);
        n += sizeof value;
    }
    void putName(const char* name)
    {
        const size_t length = strnlen(name, TPublishEvent::NameSize - 1);
        put(uint8_t(length));
        std::memcpy(out + n, name, length);
        n += length;
    }
};

struct TReader {
    const unsigned char* data;
    size_t size;
    size_t n = 0;
    bool ok = true;
    template <typename T> T get()
    {
        T value{};
        if (n + sizeof value > size) {
            ok = false;
            return value;
        }
        std::memcpy(&value, data + n, sizeof value);
        n += sizeof value;
        return value;
    }
    void getName(char (&field)[TPublishEvent::NameSize])
    {
        const size_t length = get<uint8_t>();
        if (!ok || length >= TPublishEvent::NameSize || n + length > size) {
            ok = false;
            return;
        }
        TPublishEvent::copyName(field, std::string_view(reinterpret_cast<const char*>(data + n), length));
        n += length;
    }
};

std::string errnoText()
{
    return std::strerror(errno);
}

// "20261210T140709Z"
std::string utcStamp()
{
    const time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return text;
}

bool readWhole(int fd, std::string& content)
{
    content.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        content.append(buffer, static_cast<size_t>(n));
    }
}

// The byte offsets at which the records of `content` start, and the offset where the readable part ends.
size_t scanRecords(const std::string& content, std::vector<size_t>* starts)
{
    size_t at = TPublishSpool::HeaderSize;
    const auto* bytes = reinterpret_cast<const unsigned char*>(content.data());
    while (at + 8 <= content.size()) {
        uint32_t length = 0, sum = 0;
        std::memcpy(&length, bytes + at, 4);
        std::memcpy(&sum, bytes + at + 4, 4);
        if (length == 0 || length > TPublishSpool::MaxPayload || at + 8 + length > content.size()
            || crc32(bytes + at + 8, length) != sum)
            break;
        if (starts)
            starts->push_back(at);
        at += 8 + length;
    }
    return at;
}

} // namespace

TPublishSpool::~TPublishSpool()
{
    if (FFd >= 0)
        ::close(FFd);
}

size_t TPublishSpool::encode(const TQueuedItem& item, unsigned char* out)
{
    TWriter w{out};
    const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(item.takenAt.time_since_epoch()).count();
    if (const auto* reading = std::get_if<TReading>(&item.what)) {
        if (const auto* c = std::get_if<TChannelsModeStructure>(reading)) {
            w.put(uint8_t(ChannelsReading));
            w.put(ms);
            w.put(c->Channel);
            w.put(c->Sample);
            w.put(c->Reference);
            w.put(c->VoltagePWM);
            w.put(uint8_t(c->ConcentrationFlag));
            w.put(c->Concentration);
            w.put(c->Temperature);
            w.put(c->Pressure);
        } else {
            const auto& r = std::get<TConcentrationModeStructure>(*reading);
            w.put(uint8_t(ConcentrationReading));
            w.put(ms);
            for (const double v : {r.SampleConc1, r.SampleConc2, r.SampleConc3, r.OstrelConc1, r.OstrelConc2})
                w.put(v);
            w.put(r.Temperature);
            w.put(r.Pressure);
            w.put(r.Humidity);
        }
    } else if (const auto* e = std::get_if<TPublishEvent>(&item.what)) {
        w.put(uint8_t(Event));
        w.put(ms);
        w.put(uint8_t(e->alarm));
        w.put(e->value);
        w.put(e->level);
        w.putName(e->event);
        w.putName(e->quantity);
    }
    return w.n;
}

bool TPublishSpool::decode(const unsigned char* data, size_t size, TQueuedItem& item)
{
    TReader r{data, size};
    const auto kind = r.get<uint8_t>();
    item.takenAt = std::chrono::system_clock::time_point(std::chrono::milliseconds(r.get<int64_t>()));
    if (kind == ChannelsReading) {
        TChannelsModeStructure c;
        c.Channel = r.get<int32_t>();
        c.Sample = r.get<int32_t>();
        c.Reference = r.get<int32_t>();
        c.VoltagePWM = r.get<int32_t>();
        c.ConcentrationFlag = r.get<uint8_t>() != 0;
        c.Concentration = r.get<double>();
        c.Temperature = r.get<int32_t>();
        c.Pressure = r.get<double>();
        item.what = TReading(c);
    } else if (kind == ConcentrationReading) {
        TConcentrationModeStructure c;
        for (double* v : {&c.SampleConc1, &c.SampleConc2, &c.SampleConc3, &c.OstrelConc1, &c.OstrelConc2})
            *v = r.get<double>();
        c.Temperature = r.get<int32_t>();
        c.Pressure = r.get<double>();
        c.Humidity = r.get<int32_t>();
        item.what = TReading(c);
    } else if (kind == Event) {
        TPublishEvent e;
        e.time = item.takenAt;
        const auto alarm = r.get<uint8_t>();
        if (alarm > uint8_t(TPublishEvent::Alarm::Off))
            return false;
        e.alarm = TPublishEvent::Alarm(alarm);
        e.value = r.get<double>();
        e.level = r.get<double>();
        r.getName(e.event);
        r.getName(e.quantity);
        item.what = e;
    } else {
        return false;
    }
    return r.ok && r.n == size;
}

bool TPublishSpool::open(const std::string& path, size_t compactAbove, std::vector<TQueuedItem>& items)
{
    FPath = path;
    FCompactAbove = compactAbove;
    FError.clear();
    FRecords = 0;
    items.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_CREAT, 0600);
    if (fd < 0) {
        FError = "the spool " + path + " cannot be opened (" + errnoText() + ")";
        return false;
    }
    std::string content;
    const bool read = readWhole(fd, content);
    ::close(fd);
    if (!read) {
        FError = "the spool " + path + " cannot be read (" + errnoText() + ")";
        return false;
    }

    const bool headerOk = content.size() >= HeaderSize && std::memcmp(content.data(), Magic, 8) == 0 && [&] {
        uint32_t version = 0;
        std::memcpy(&version, content.data() + 8, 4);
        return version == Version;
    }();
    std::vector<size_t> starts;
    size_t end = headerOk ? scanRecords(content, &starts) : 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(content.data());
    for (size_t i = 0; i < starts.size(); ++i) {
        uint32_t length = 0;
        std::memcpy(&length, bytes + starts[i], 4);
        TQueuedItem item;
        if (!TPublishSpool::decode(bytes + starts[i] + 8, length, item)) {
            end = starts[i]; // a sound record of something this program does not know: damage from here
            starts.resize(i);
            break;
        }
        items.push_back(item);
    }

    const bool damaged = !content.empty() && end != content.size();
    if (damaged) {
        const std::string aside = path + ".damaged-" + utcStamp();
        if (::rename(path.c_str(), aside.c_str()) != 0) {
            FError = "the spool " + path + " is damaged and cannot be set aside (" + errnoText() + ")";
            items.clear();
            return false;
        }
        FNotes.push_back("The publishing spool " + path + " is damaged at byte " + std::to_string(end) + ": "
                         + std::to_string(items.size()) + " waiting items read, the rest ("
                         + std::to_string(content.size() - end) + " bytes) kept in " + aside);
    }
    if (damaged || !headerOk) {
        // A new file with the records read: written beside, then renamed over the name.
        const std::string fresh = path + ".new";
        const int out = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        unsigned char header[HeaderSize] = {};
        std::memcpy(header, Magic, 8);
        std::memcpy(header + 8, &Version, 4);
        const bool written = out >= 0 && writeAll(out, header, HeaderSize)
                             && (headerOk ? writeAll(out, bytes + HeaderSize, end - HeaderSize) : true);
        if (out >= 0)
            ::close(out);
        if (!written || ::rename(fresh.c_str(), path.c_str()) != 0) {
            FError = "the spool " + path + " cannot be written (" + errnoText() + ")";
            ::unlink(fresh.c_str());
            items.clear();
            return false;
        }
    }
    FFd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (FFd < 0) {
        FError = "the spool " + path + " cannot be written (" + errnoText() + ")";
        items.clear();
        return false;
    }
    FRecords = items.size();
    return true;
}

std::vector<std::string> TPublishSpool::takeNotes()
{
    std::vector<std::string> notes;
    notes.swap(FNotes);
    return notes;
}

bool TPublishSpool::writeAll(int fd, const unsigned char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Spooling ends: the items wait in memory only from now on.
void TPublishSpool::fail(const std::string& what)
{
    FNotes.push_back("The publishing spool " + FPath + " " + what + " (" + errnoText()
                     + "): readings waiting for the broker are kept in memory only");
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
}

void TPublishSpool::append(const TQueuedItem& item)
{
    if (FFd < 0 || item.isMark())
        return;
    unsigned char record[8 + MaxPayload];
    const size_t length = encode(item, record + 8);
    const uint32_t length32 = static_cast<uint32_t>(length), sum = crc32(record + 8, length);
    std::memcpy(record, &length32, 4);
    std::memcpy(record + 4, &sum, 4);
    // One write: O_APPEND puts it whole at the end; a short write (disk full) is completed or reported.
    if (!writeAll(FFd, record, 8 + length))
        return fail("cannot be written");
    ++FRecords;
}

void TPublishSpool::settle(size_t live)
{
    if (FFd < 0 || live >= FRecords)
        return;
    if (live == 0) {
        if (::ftruncate(FFd, static_cast<off_t>(HeaderSize)) != 0)
            return fail("cannot be emptied");
        FRecords = 0;
    } else if (FRecords - live > FCompactAbove) {
        rewrite(FRecords - live);
    }
}

// The file without its first `dead` records: written beside, then renamed over it.
void TPublishSpool::rewrite(size_t dead)
{
    const int in = ::open(FPath.c_str(), O_RDONLY | O_CLOEXEC);
    std::string content;
    const bool read = in >= 0 && readWhole(in, content);
    if (in >= 0)
        ::close(in);
    if (!read)
        return fail("cannot be read");
    std::vector<size_t> starts;
    starts.reserve(FRecords);
    const size_t end = scanRecords(content, &starts);
    if (starts.size() < dead)
        return fail("was changed by someone else");
    const auto* bytes = reinterpret_cast<const unsigned char*>(content.data());
    const std::string fresh = FPath + ".new";
    const int out = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const size_t from = dead < starts.size() ? starts[dead] : end;
    const bool written = out >= 0 && writeAll(out, bytes, HeaderSize) && writeAll(out, bytes + from, end - from);
    if (out >= 0)
        ::close(out);
    if (!written || ::rename(fresh.c_str(), FPath.c_str()) != 0) {
        ::unlink(fresh.c_str());
        return fail("cannot be rewritten");
    }
    ::close(FFd);
    FFd = ::open(FPath.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (FFd < 0)
        return fail("cannot be opened again");
    FRecords = starts.size() - dead;
}
