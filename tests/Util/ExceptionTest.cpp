#include "Util/ByteStream.h"
#include "Util/DataStreamIO.h"
#include "Util/ExceptionBase.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

using Util::SharedString;

// A stream failure records its file, its line and the errno of the moment it was thrown; caught
// through the root it still describes itself as the subclass, and a copy into the root keeps every
// recorded field. Without a throw site the defaults show.
TEST(ExceptionBase, DescribesItsThrowSite)
{
    EXPECT_EQ(Util::Exception::DataStreamIO(SharedString("m")).Describe().ToString(),
              "Base:\n\tm\n\t (-1): Thrown, GetLastError(): 4294967295\n\nDataStreamIO\n");
    Util::ByteStream stream;
    errno = EDOM;
    try
    {
        stream.ReadRaw(3, nullptr);
        ADD_FAILURE() << "no exception";
    }
    catch (const Exception::Base& error)
    {
        errno = 0;
        const Exception::Base copy = error;
        const std::string base = "Base:\n\tCan't read 3 bytes\n\tUtil/ByteStream.cpp (" +
                                 std::to_string(error.Line()) +
                                 "): Thrown, GetLastError(): " + std::to_string(EDOM) + "\n";
        EXPECT_GT(error.Line(), 0);
        EXPECT_EQ(error.Describe().ToString(), base + "\nDataStreamIO\n");
        EXPECT_EQ(copy.Describe().ToString(), base);
    }
}
