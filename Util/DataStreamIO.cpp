#include "Util/DataStreamIO.h"

#include <utility>

namespace Util::Exception
{

SharedString DataStreamIO::Describe() const
{
    return ::Exception::Base::Describe() + SharedString("\nDataStreamIO\n");
}

void DataStreamIO::Throw(SharedString message, const char* sourceFile, int32_t sourceLine)
{
    DataStreamIO error(std::move(message));
    error.RecordThrowSite(SharedString(sourceFile), sourceLine);
    throw error;
}

} // namespace Util::Exception
