#include "Util/SharedString.h"

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

SharedString operator+(const SharedString& a, const SharedString& b)
{
    std::string joined;
    joined.reserve(a.Length() + b.Length());
    joined.append(a.View());
    joined.append(b.View());
    return SharedString(std::string_view(joined));
}

} // namespace Util
