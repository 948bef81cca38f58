#include "record/Conversions.h"

#include <charconv>

int32_t StrToInt(const std::string& Text)
{
    const char* first = Text.data();
    const char* last = first + Text.size();
    if (first != last && *first == '+' && last - first > 1 && first[1] != '-')
        ++first; // from_chars accepts '-' only
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last)
        throw EConvertError("'" + Text + "' is not a valid integer value");
    return value;
}

int32_t MultiplyChecked(int32_t a, int32_t b)
{
    int32_t product = 0;
    if (__builtin_mul_overflow(a, b, &product))
        throw EIntOverflow();
    return product;
}
