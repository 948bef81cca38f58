#include "sensor/SensorNumbers.h"

#include <charconv>
#include <cmath>

namespace SensorNumbers {
namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Drops a leading "+" (std::from_chars takes "-" only); the sign must be followed by a digit.
bool stripPlus(std::string_view& text)
{
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        return !text.empty() && isDigit(text.front());
    }
    return true;
}

} // namespace

bool toInt32(std::string_view text, int32_t& value)
{
    if (!stripPlus(text) || text.empty())
        return false;
    const char* end = text.data() + text.size();
    int32_t v = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), end, v, 10);
    if (ec != std::errc() || ptr != end)
        return false;
    value = v;
    return true;
}

bool toDouble(std::string_view text, double& value)
{
    if (!stripPlus(text) || text.empty())
        return false;
    // from_chars also takes "inf", "nan" and ".5": require a digit after the optional sign.
    const size_t first = text.front() == '-' ? 1 : 0;
    if (text.size() <= first || !isDigit(text[first]))
        return false;
    const char* end = text.data() + text.size();
    double v = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), end, v, std::chars_format::general);
    if (ec != std::errc() || ptr != end || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

bool invalidLowerCaseLetter(std::string_view text)
{
    return !(text.size() == 1 && text.front() >= 'a' && text.front() <= 'z');
}

} // namespace SensorNumbers
