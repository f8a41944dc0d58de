#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace Util
{

// A shared handle to an immutable byte string. Copies share the text and the reference count is
// atomic, so handles may travel between threads. A null handle stands for the empty string; an
// empty text is always stored as null so that the two never differ.
class SharedString
{
public:
    SharedString() = default;
    SharedString(const char* text); // up to the first zero byte; null gives the null handle
    SharedString(const char* data, std::size_t length);
    SharedString(std::string_view text);
    SharedString(std::string&& text);

    bool IsNull() const { return !text; }
    std::size_t Length() const { return text ? text->size() : 0; }
    // Always zero-terminated, also for the null handle.
    const char* Data() const { return text ? text->c_str() : ""; }
    std::string_view View() const { return text ? std::string_view(*text) : std::string_view(); }
    std::string ToString() const { return std::string(View()); }

    friend SharedString operator+(const SharedString& a, const SharedString& b);
    friend bool operator==(const SharedString& a, const SharedString& b)
    {
        return a.View() == b.View();
    }

private:
    std::shared_ptr<const std::string> text;
};

} // namespace Util
