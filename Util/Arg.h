#pragma once

#include "Util/SharedString.h"

#include <cstdint>

namespace Util
{

// How a number is laid out when it replaces a placeholder.
struct ArgFormat
{
    uint32_t minimumWidth = 0;
    bool zeroPad = false; // prepend "0" until the text is minimumWidth characters long
};

// Positional message formatting. Each call fills the placeholder %0..%9 with the smallest digit
// (the leftmost one among equals) and returns a new text; without a placeholder the replacement
// is appended. Only one digit is read, so "%12" is placeholder 1 followed by "2". The pattern
// itself is never changed.
SharedString Arg(const SharedString& pattern, const SharedString& replacement);

// Numbers in a base from 2 to 36 (any other base means 10), upper-case digits, no prefix.
SharedString Arg(const SharedString& pattern, uint32_t value, int32_t base = 10,
                 ArgFormat format = {});
// Base 16 shows the two's-complement bit pattern; other bases a minus sign and the magnitude.
SharedString Arg(const SharedString& pattern, int32_t value, int32_t base = 10,
                 ArgFormat format = {});

} // namespace Util
