#include "tools/SensorLineFormatter.h"

#include <algorithm>
#include <charconv>
#include <cmath>

void appendFixed(std::string& out, double value, int decimals, bool plusSign)
{
    char buf[64];
    char* p = buf;
    if (plusSign && !std::signbit(value))
        *p++ = '+';
    const auto res = std::to_chars(p, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    out.append(buf, res.ptr);
}

namespace {
void appendInt(std::string& out, long long value)
{
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, res.ptr);
}

bool isNewFirmware(const std::string& version)
{
    const auto point = version.find('.');
    if (point == std::string::npos)
        return false;
    int major = 0;
    int minor = 0;
    const char* b = version.data();
    auto r1 = std::from_chars(b, b + point, major);
    auto r2 = std::from_chars(b + point + 1, b + version.size(), minor);
    return r1.ec == std::errc() && r2.ec == std::errc() && major == 1 && minor > 6;
}
} // namespace

std::string ParseSensorRamp(const std::string& text, SensorRamp& ramp)
{
    static constexpr const char* Known[] = {"concentration", "sample_conc_1", "sample_conc_2", "sample_conc_3",
                                            "ostrel_conc_1", "ostrel_conc_2", "sample",        "reference",
                                            "temperature",   "pressure",      "humidity"};
    ramp = SensorRamp{};
    const size_t first = text.find(':');
    ramp.quantity = text.substr(0, first);
    if (std::none_of(std::begin(Known), std::end(Known), [&](const char* q) { return ramp.quantity == q; }))
        return "--ramp names no quantity the simulator sends ('" + ramp.quantity + "')";
    double* fields[] = {&ramp.low, &ramp.high, &ramp.periodSeconds};
    size_t at = first;
    for (double* field : fields) {
        if (at == std::string::npos)
            return "--ramp takes QUANTITY:LOW:HIGH:PERIOD_SECONDS";
        const size_t next = text.find(':', at + 1);
        const char* begin = text.data() + at + 1;
        const char* end = next == std::string::npos ? text.data() + text.size() : text.data() + next;
        const auto result = std::from_chars(begin, end, *field);
        if (begin == end || result.ec != std::errc() || result.ptr != end || !std::isfinite(*field))
            return "--ramp takes QUANTITY:LOW:HIGH:PERIOD_SECONDS ('" + std::string(begin, end) + "' is no number)";
        at = next;
    }
    if (at != std::string::npos || !(ramp.periodSeconds > 0))
        return "--ramp takes QUANTITY:LOW:HIGH:PERIOD_SECONDS with a period above 0";
    return {};
}

double RampValue(const SensorRamp& ramp, double seconds)
{
    const double phase = std::fmod(std::max(0.0, seconds), ramp.periodSeconds) / ramp.periodSeconds;
    const double rise = phase < 0.5 ? 2 * phase : 2 - 2 * phase;
    return ramp.low + (ramp.high - ramp.low) * rise;
}

void SensorLineFormatter::applyRamp(double seconds)
{
    if (ramp_.quantity.empty())
        return;
    const double v = RampValue(ramp_, seconds);
    const std::string& q = ramp_.quantity;
    if (q == "concentration")
        std::fill(std::begin(conc_), std::end(conc_), v);
    else if (q.starts_with("sample_conc_"))
        conc_[static_cast<size_t>(q.back() - '1')] = v;
    else if (q.starts_with("ostrel_conc_"))
        conc_[3 + static_cast<size_t>(q.back() - '1')] = v;
    else if (q == "sample")
        sample_ = v;
    else if (q == "reference")
        reference_ = v;
    else if (q == "temperature")
        temperature_ = v;
    else if (q == "pressure")
        pressure_ = v;
    else if (q == "humidity")
        humidity_ = v;
}

SensorLineFormatter::SensorLineFormatter(uint32_t seed, std::string firmwareVersion)
    : rng_(seed), firmware_(std::move(firmwareVersion)),
      newFirmware_(isNewFirmware(firmware_)), conc_{0.0102, 0.0098, 0.0100, 0.0101, 0.0099}
{}

int SensorLineFormatter::uniform(int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(rng_);
}

double SensorLineFormatter::walk(double& value, double mean, double spread, double stepSize)
{
    std::normal_distribution<double> noise(0.0, stepSize);
    value += noise(rng_) + (mean - value) * 0.05; // drifts, pulled back towards the mean
    value = std::clamp(value, mean - spread, mean + spread);
    return value;
}

void SensorLineFormatter::step()
{
    for (double& c : conc_)
        walk(c, 0.01, 0.004, 0.0002);
    walk(sample_, 50000, 3000, 40);
    walk(reference_, 49000, 3000, 40);
    walk(temperature_, 21, 3, 0.05);
    walk(pressure_, 101.3, 1.5, 0.02);
    walk(humidity_, 45, 10, 0.2);
}

std::string SensorLineFormatter::concentrationLine()
{
    std::string s = "N";
    for (double c : conc_) {
        s += ' ';
        appendFixed(s, c, 5);
    }
    s += ' ';
    appendInt(s, std::lround(temperature_));
    s += ' ';
    appendFixed(s, pressure_, 2);
    s += ' ';
    appendInt(s, std::lround(humidity_));
    return s;
}

std::string SensorLineFormatter::channelLine(int channel)
{
    std::string s = "N";
    appendInt(s, channel);
    s += ' ';
    appendInt(s, std::lround(sample_));
    s += ' ';
    appendInt(s, std::lround(reference_));
    s += ' ';
    appendInt(s, 512 + channel);
    s += ' ';
    appendFixed(s, conc_[(channel - 1) % 5], 5, newFirmware_);
    s += ' ';
    appendInt(s, std::lround(temperature_));
    s += ' ';
    appendFixed(s, pressure_, 2);
    return s;
}

std::string SensorLineFormatter::otherLine(char kind)
{
    std::string s;
    const auto d = [&s](double v, int decimals) {
        s += ' ';
        appendFixed(s, v, decimals);
    };
    const auto i = [&s](long long v) {
        s += ' ';
        appendInt(s, v);
    };
    switch (kind) {
    case 'C':
        cIndex_ = cIndex_ % 5 + 1;
        s = "C";
        appendInt(s, cIndex_);
        if (cIndex_ <= 3) {
            for (int k = 0; k < 6; ++k)
                d(conc_[k % 5] * (k + 1), 5);
            for (int k = 0; k < 4; ++k)
                i(100 * (k + 1) + cIndex_);
        } else {
            for (int k = 0; k < 3; ++k)
                d(1.0 + 0.25 * k, 4);
            i(7);
            i(cIndex_ * 10);
        }
        break;
    case 'E':
        eIndex_ = eIndex_ % 5 + 1;
        s = "E";
        appendInt(s, eIndex_);
        i(1000 + eIndex_);
        i(2000);
        d(0.5, 4);
        i(3);
        d(1.25, 4);
        d(2.5, 4);
        d(3.75, 4);
        d(5.0, 4);
        i(10);
        i(11);
        break;
    case 'O':
        oIndex_ = oIndex_ % 5 + 1;
        s = "O";
        appendInt(s, oIndex_);
        d(0.001 * oIndex_, 5);
        d(1.5, 3);
        i(40);
        d(2.5, 3);
        d(3.5, 3);
        i(70);
        break;
    case 'D':
        s = "D";
        for (int k = 1; k <= 8; ++k)
            i(k * 11);
        break;
    case 'X':
        s = "X ";
        s += firmware_;
        i(2);
        i(5);
        i(0);
        i(0);
        i(1);
        break;
    case 'U':
        s = "U";
        i(5);
        s += " abc def";
        if (newFirmware_)
            s += " q";
        i(7);
        break;
    case 'A':
        s = "A";
        i(1);
        i(2);
        i(3);
        i(4);
        d(humidity_ / 100.0, 4);
        break;
    case 'R':
    case 'S':
        potsIndex_ = potsIndex_ % 8 + 1;
        s = std::string(1, kind);
        appendInt(s, potsIndex_);
        i(100 + potsIndex_ * 7);
        i(255);
        break;
    default:
        s = std::string(1, kind);
        s += " ?";
        break;
    }
    return s;
}

std::string SensorLineFormatter::malformedLine()
{
    static const char* const faults[] = {
        "N 0.0101 abc 0.0100 0.0099 0.0102 21 101.30 45",    // a value that does not convert
        "N1  50000 49000 513 0.0100 21 101.30",              // two spaces: empty field
        "n 0.0101 0.0100 0.0099 0.0102 0.0098 21 101.30 45", // lower-case n
        "N",                                                 // too short to classify
        "",                                                  // empty line
        "N7 1 2 3 4 5 6",                                    // no such channel
        "C9 1 2 3",                                          // no such index
        "X 1,7 2 5 0 0 1",                                   // version without a point
        "D 1 2 99999999999 4 5 6 7 8",                       // integer beyond 32 bits
    };
    const std::string s = faults[malformedIndex_];
    malformedIndex_ = (malformedIndex_ + 1) % static_cast<int>(std::size(faults));
    return s;
}

std::string SensorLineFormatter::garbage(int bytes)
{
    std::string s;
    s.reserve(static_cast<size_t>(std::max(bytes, 0)));
    for (int k = 0; k < bytes; ++k) {
        char c;
        do
            c = static_cast<char>(uniform(0, 255));
        while (c == 17 || c == 19); // XON/XOFF would stall the line
        s += c;
    }
    return s;
}

std::string SensorLineFormatter::noise(int bytes)
{
    std::string s(static_cast<size_t>(std::max(bytes, 0)), '\0');
    for (char& c : s)
        c = static_cast<char>(uniform(0, 255));
    return s;
}
