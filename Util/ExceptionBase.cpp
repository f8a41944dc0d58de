#include "Util/ExceptionBase.h"

#include "Util/Arg.h"

#include <cerrno>
#include <utility>

namespace Exception
{

Base::Base(Util::SharedString text) : message(std::move(text)) {}

Base::~Base() = default;

Util::SharedString Base::Describe() const
{
    const Util::SharedString header = Util::Arg(
        Util::Arg(Util::Arg(Util::SharedString("%1 (%2): Thrown, GetLastError(): %3\n"), file),
                  line),
        lastError);
    return Util::SharedString("Base:\n\t") + message + Util::SharedString("\n\t") + header;
}

void Base::RecordThrowSite(Util::SharedString sourceFile, int32_t sourceLine)
{
    file = std::move(sourceFile);
    line = sourceLine;
    lastError = static_cast<uint32_t>(errno);
}

} // namespace Exception
