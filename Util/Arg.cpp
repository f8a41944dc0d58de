#include "Util/Arg.h"

#include <string>
#include <string_view>

namespace Util
{

namespace
{

constexpr char digitSymbols[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

uint32_t EffectiveBase(int32_t base)
{
    return (base >= 2 && base <= 36) ? static_cast<uint32_t>(base) : 10u;
}

// Digits of value, most significant first.
std::string Digits(uint32_t value, uint32_t base)
{
    char buffer[32]; // base 2 needs at most 32 digits
    std::size_t start = sizeof buffer;
    do
    {
        buffer[--start] = digitSymbols[value % base];
        value /= base;
    } while (value != 0);
    return std::string(buffer + start, sizeof buffer - start);
}

// Zeros go between the sign and the digits so that a padded negative number still reads as one.
std::string Compose(bool negative, std::string digits, ArgFormat format)
{
    const std::size_t signLength = negative ? 1 : 0;
    std::string text;
    if (negative)
        text.push_back('-');
    if (format.zeroPad && format.minimumWidth > digits.size() + signLength)
        text.append(format.minimumWidth - digits.size() - signLength, '0');
    text.append(digits);
    return text;
}

} // namespace

SharedString Arg(const SharedString& pattern, const SharedString& replacement)
{
    const std::string_view text = pattern.View();
    if (text.empty())
        return replacement;

    std::size_t found = std::string_view::npos;
    char foundDigit = 0;
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
    {
        const char next = text[i + 1];
        if (text[i] != '%' || next < '0' || next > '9')
            continue;
        if (found == std::string_view::npos || next < foundDigit)
        {
            found = i;
            foundDigit = next;
        }
    }
    if (found == std::string_view::npos)
        return pattern + replacement;

    std::string result;
    result.reserve(text.size() - 2 + replacement.Length());
    result.append(text.substr(0, found));
    result.append(replacement.View());
    result.append(text.substr(found + 2));
    return SharedString(std::move(result));
}

SharedString Arg(const SharedString& pattern, uint32_t value, int32_t base, ArgFormat format)
{
    return Arg(pattern, SharedString(Compose(false, Digits(value, EffectiveBase(base)), format)));
}

SharedString Arg(const SharedString& pattern, int32_t value, int32_t base, ArgFormat format)
{
    if (base == 16 || value >= 0)
        return Arg(pattern, static_cast<uint32_t>(value), base, format);
    // The magnitude is taken in unsigned arithmetic so that -2147483648 does not overflow.
    const uint32_t magnitude = 0u - static_cast<uint32_t>(value);
    return Arg(pattern,
               SharedString(Compose(true, Digits(magnitude, EffectiveBase(base)), format)));
}

} // namespace Util
