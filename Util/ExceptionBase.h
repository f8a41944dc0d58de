#pragma once

#include "Util/SharedString.h"

#include <cstdint>

namespace Exception
{

// Root of the exceptions thrown by the base utilities: a formatted message plus the place it was
// thrown from and the thread's last system error code at that moment. Thrown by value; copies
// share the two texts.
class Base
{
public:
    // File null, line -1 and last error 0xFFFFFFFF until a throw site is recorded.
    explicit Base(Util::SharedString message);
    Base(const Base&) = default;
    Base& operator=(const Base&) = default;
    virtual ~Base();

    // "Base:\n\t<message>\n\t<file> (<line>): Thrown, GetLastError(): <last error>\n"
    virtual Util::SharedString Describe() const;

    // Records the throw site and reads the thread's last error code (errno) at this moment.
    void RecordThrowSite(Util::SharedString sourceFile, int32_t sourceLine);

    const Util::SharedString& Message() const { return message; }
    const Util::SharedString& File() const { return file; }
    int32_t Line() const { return line; }
    uint32_t LastError() const { return lastError; }

private:
    Util::SharedString message;
    Util::SharedString file;
    int32_t line = -1;
    uint32_t lastError = 0xFFFFFFFFu;
};

} // namespace Exception
