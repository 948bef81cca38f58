#pragma once
#include <cstdint>
#include <string>

// Input validators: each returns true when the text is NOT acceptable.

// True for an empty text, for a character outside '0'..'9' or for a sign anywhere but first.
// A lone sign passes; the check goes through every character.
bool IsInvalidInteger(const std::string& Text);

// True when IsInvalidInteger(Text), or when Text converts to a value below Minimum.
// A text that passes the character check but is not a 32-bit integer raises EConvertError.
bool IsInvalidIntegerMin(const std::string& Text, int32_t Minimum);

// An interval in whole seconds, at least 1, as typed into an interval editor, in milliseconds; -1 when
// IsInvalidIntegerMin(Text, 1) refuses it. A text that passes that check but does not convert raises
// EConvertError, and one whose milliseconds do not fit in 32 bits EIntOverflow.
int32_t IntervalMilliseconds(const std::string& Text);
