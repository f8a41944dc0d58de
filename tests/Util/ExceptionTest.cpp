#include "Util/ByteStream.h"
#include "Util/DataStreamIO.h"
#include "Util/ExceptionBase.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

using Util::SharedString;
using Util::Exception::DataStreamIO;

TEST(ExceptionBase, WithoutThrowSiteDescribesEmptyFileLineMinusOne)
{
    const Exception::Base error(SharedString("something failed"));
    EXPECT_TRUE(error.File().IsNull());
    EXPECT_EQ(error.Line(), -1);
    EXPECT_EQ(error.LastError(), 4294967295u);
    EXPECT_EQ(error.Describe().ToString(),
              "Base:\n\tsomething failed\n\t (-1): Thrown, GetLastError(): 4294967295\n");

    const DataStreamIO streamError(SharedString("m"));
    EXPECT_EQ(streamError.Describe().ToString(),
              "Base:\n\tm\n\t (-1): Thrown, GetLastError(): 4294967295\n\nDataStreamIO\n");
}

TEST(ExceptionBase, RecordsThrowSiteAndCopiesAllFields)
{
    Exception::Base error(SharedString("broken"));
    errno = ERANGE;
    error.RecordThrowSite(SharedString("Util/Somewhere.cpp"), 77);
    EXPECT_EQ(error.LastError(), static_cast<uint32_t>(ERANGE));

    const Exception::Base copy = error;
    EXPECT_EQ(copy.Message().ToString(), "broken");
    EXPECT_EQ(copy.File().ToString(), "Util/Somewhere.cpp");
    EXPECT_EQ(copy.Line(), 77);
    EXPECT_EQ(copy.LastError(), static_cast<uint32_t>(ERANGE));
    EXPECT_EQ(copy.Describe().ToString(), "Base:\n\tbroken\n\tUtil/Somewhere.cpp (77): Thrown, "
                                          "GetLastError(): " +
                                              std::to_string(ERANGE) + "\n");
    errno = 0;
}

TEST(ExceptionBase, ThrownStreamFailureDescribesItself)
{
    Util::ByteStream stream;
    errno = 0;
    try
    {
        stream.ReadInt();
        FAIL() << "reading from an empty stream must throw";
    }
    catch (const Exception::Base& error) // caught through the root, described as the subclass
    {
        EXPECT_NE(dynamic_cast<const DataStreamIO*>(&error), nullptr);
        EXPECT_EQ(error.File().ToString(), "Util/ByteStream.h");
        EXPECT_GT(error.Line(), 0);
        EXPECT_EQ(error.LastError(), 0u);
        EXPECT_EQ(error.Describe().ToString(),
                  "Base:\n\tCan't extract 4 bytes at position 0, total size 0\n\t"
                  "Util/ByteStream.h (" +
                      std::to_string(error.Line()) +
                      "): Thrown, GetLastError(): 0\n\nDataStreamIO\n");
    }
}

TEST(ExceptionBase, LastErrorIsTheThreadsErrnoAtTheThrow)
{
    Util::ByteStream stream;
    errno = EDOM;
    try
    {
        std::vector<uint8_t> bytes(3);
        stream.ReadBytes(bytes);
        FAIL() << "reading 3 bytes from an empty stream must throw";
    }
    catch (const DataStreamIO& error)
    {
        EXPECT_EQ(error.LastError(), static_cast<uint32_t>(EDOM));
        EXPECT_EQ(error.File().ToString(), "Util/ByteStream.cpp");
        EXPECT_EQ(error.Message().ToString(), "Can't read 3 bytes");
    }
    errno = 0;
}
