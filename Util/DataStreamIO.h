#pragma once

#include "Util/ExceptionBase.h"

#include <cstdint>

namespace Util::Exception
{

// A failed read of a DataStream (not enough bytes, or an implausible string length).
class DataStreamIO : public ::Exception::Base
{
public:
    using ::Exception::Base::Base;

    // The base description followed by "\nDataStreamIO\n".
    SharedString Describe() const override;

    // Builds the exception from a finished message, records the throw site (a repo-relative
    // file name and the caller's __LINE__) with the thread's last error code, and throws a copy.
    [[noreturn]] static void Throw(SharedString message, const char* sourceFile,
                                   int32_t sourceLine);
};

} // namespace Util::Exception
