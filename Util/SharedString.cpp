#include "Util/SharedString.h"

#include <utility>

namespace Util
{

SharedString::SharedString(const char* text)
    : SharedString(text ? std::string_view(text) : std::string_view())
{
}

SharedString::SharedString(const char* data, std::size_t length)
    : SharedString(data ? std::string_view(data, length) : std::string_view())
{
}

SharedString::SharedString(std::string_view view)
{
    if (!view.empty())
        text = std::make_shared<const std::string>(view);
}

SharedString::SharedString(std::string&& owned)
{
    if (!owned.empty())
        text = std::make_shared<const std::string>(std::move(owned));
}

SharedString operator+(const SharedString& a, const SharedString& b)
{
    // Joining with an empty side needs no new text: the handles are immutable and can be shared.
    if (a.Length() == 0)
        return b;
    if (b.Length() == 0)
        return a;
    std::string joined;
    joined.reserve(a.Length() + b.Length());
    joined.append(a.View());
    joined.append(b.View());
    return SharedString(std::move(joined));
}

} // namespace Util
