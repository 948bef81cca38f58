#include "record/ValidateLib.h"

#include "record/Conversions.h"

bool IsInvalidInteger(const std::string& Text)
{
    if (Text.empty())
        return true;
    int signCount = 0;
    bool invalid = false;
    for (size_t i = 0; i < Text.size(); ++i) {
        const char c = Text[i];
        if (c == '+' || c == '-') {
            if (i == 0 && signCount < 1)
                signCount = 1;
            else
                invalid = true;
        } else if (c < '0' || c > '9') {
            invalid = true;
        }
    }
    return invalid;
}

bool IsInvalidIntegerMin(const std::string& Text, int32_t Minimum)
{
    if (IsInvalidInteger(Text))
        return true;
    return StrToInt(Text) < Minimum;
}

int32_t IntervalMilliseconds(const std::string& Text)
{
    if (IsInvalidIntegerMin(Text, 1))
        return -1;
    return MultiplyChecked(StrToInt(Text), 1000);
}
