#include "Util/ByteStream.h"
#include "Util/DataStreamIO.h"
#include "Util/ExceptionBase.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

using Util::SharedString;
using Util::Exception::DataStreamIO;

TEST(ExceptionBase, DescribeWithAndWithoutThrowSite)
{
    Exception::Base error(SharedString("broken"));
    EXPECT_EQ(DataStreamIO(SharedString("m")).Describe().ToString(),
              "Base:\n\tm\n\t (-1): Thrown, GetLastError(): 4294967295\n\nDataStreamIO\n");
    errno = ERANGE;
    error.RecordThrowSite(SharedString("Util/Somewhere.cpp"), 77);
    errno = 0;
    const Exception::Base copy = error; // copies every field
    EXPECT_EQ(copy.Describe().ToString(), "Base:\n\tbroken\n\tUtil/Somewhere.cpp (77): Thrown, "
                                          "GetLastError(): " +
                                              std::to_string(ERANGE) + "\n");
}

// A stream failure records its file, its line and the errno of the moment it was thrown.
TEST(ExceptionBase, ThrownStreamFailureDescribesItself)
{
    Util::ByteStream stream;
    errno = EDOM;
    try
    {
        stream.ReadRaw(3, nullptr);
        ADD_FAILURE() << "no exception";
    }
    catch (const Exception::Base& error) // caught through the root, described as the subclass
    {
        EXPECT_GT(error.Line(), 0);
        EXPECT_EQ(error.Describe().ToString(),
                  "Base:\n\tCan't read 3 bytes\n\tUtil/ByteStream.cpp (" +
                      std::to_string(error.Line()) +
                      "): Thrown, GetLastError(): " + std::to_string(EDOM) + "\n\nDataStreamIO\n");
    }
    errno = 0;
}
