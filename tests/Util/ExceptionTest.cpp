#include "Util/ByteStream.h"
#include "Util/DataStreamIO.h"
#include "Util/ExceptionBase.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

using Util::SharedString;
using Util::Exception::DataStreamIO;

TEST(ExceptionBase, DescribeWithAndWithoutThrowSite)
{
    Exception::Base error(SharedString("broken"));
    EXPECT_EQ(error.Describe().ToString(),
              "Base:\n\tbroken\n\t (-1): Thrown, GetLastError(): 4294967295\n");
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
TEST(ExceptionBase, ThrownStreamFailuresDescribeThemselves)
{
    const struct
    {
        std::function<void(Util::ByteStream&)> fail;
        const char *file, *message;
        int lastError;
    } cases[] = {
        {[](Util::ByteStream& s) { s.ReadInt(); }, "Util/ByteStream.h",
         "Can't extract 4 bytes at position 0, total size 0", 0},
        {[](Util::ByteStream& s) { s.ReadRaw(3, nullptr); }, "Util/ByteStream.cpp",
         "Can't read 3 bytes", EDOM},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.message);
        Util::ByteStream stream;
        errno = c.lastError;
        try
        {
            c.fail(stream);
            ADD_FAILURE() << "no exception";
        }
        catch (const Exception::Base& error) // caught through the root, described as the subclass
        {
            EXPECT_GT(error.Line(), 0);
            EXPECT_EQ(error.Describe().ToString(),
                      std::string("Base:\n\t") + c.message + "\n\t" + c.file + " (" +
                          std::to_string(error.Line()) + "): Thrown, GetLastError(): " +
                          std::to_string(c.lastError) + "\n\nDataStreamIO\n");
        }
        errno = 0;
    }
}
