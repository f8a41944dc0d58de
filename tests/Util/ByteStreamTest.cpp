#include "Util/ByteStream.h"
#include "Util/DataStreamIO.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <new>
#include <string>
#include <vector>

using Util::ByteStream;
using Util::SharedString;
using Bytes = std::vector<uint8_t>;

namespace
{

// Writes value in every byte order (only 0 and 1 are little-endian), checks its bytes against
// the little-endian image or its mirror, and reads it back.
template <class T> void ExpectImage(T value, T (ByteStream::*read)(), const Bytes& little)
{
    for (int32_t order : {0, 1, 2, -3, 255})
    {
        ByteStream stream;
        stream.SetByteOrder(order);
        stream.Write(value);
        const bool isLittle = order == 0 || order == 1;
        EXPECT_EQ(stream.Bytes(), isLittle ? little : Bytes(little.rbegin(), little.rend()))
            << value << " in order " << order;
        stream.SetPosition(0);
        EXPECT_EQ((stream.*read)(), value) << order;
        EXPECT_TRUE(stream.AtEnd());
    }
}

} // namespace

TEST(ByteStream, WritesImagesGrowOverwriteAndTransferRawBytes)
{
    ExpectImage(1, &ByteStream::ReadInt, {1, 0, 0, 0});
    ExpectImage(1.5, &ByteStream::ReadDouble, {0, 0, 0, 0, 0, 0, 0xF8, 0x3F});
    ExpectImage(-2.25f, &ByteStream::ReadFloat, {0, 0, 0x10, 0xC0});
    ExpectImage(int64_t(-0x0102030405060708), &ByteStream::ReadInt64,
                {0xF8, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE});
    ExpectImage(true, &ByteStream::ReadBool, {1});
    EXPECT_TRUE(ByteStream(Bytes{7}).ReadBool()); // any non-zero byte reads as true

    ByteStream stream;
    EXPECT_TRUE(stream.AtEnd());
    stream.SetPosition(10); // past the end: the gap is filled with zeros
    stream.Write('x');
    EXPECT_EQ(stream.Bytes(), Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'x'}));
    stream.SetPosition(2);
    stream.SetByteOrder(2);
    stream.Write(short(0x0102)); // overwrites, does not insert
    stream.SetPosition(9);
    stream.WriteULong(0xAABBCCDDu); // straddles the end: grows to exactly its end
    EXPECT_EQ(stream.Bytes(), Bytes({0, 0, 1, 2, 0, 0, 0, 0, 0, 0xAA, 0xBB, 0xCC, 0xDD}));

    Bytes two(2), none;
    uint8_t raw[2] = {};
    stream.SetPosition(9);
    stream.ReadBytes(two).ReadRaw(2, raw).ReadBytes(none).ReadRaw(0, nullptr); // empty at the end
    EXPECT_EQ(two, Bytes({0xAA, 0xBB}));
    EXPECT_EQ(Bytes(raw, raw + 2), Bytes({0xCC, 0xDD}));
    ByteStream out;
    out.WriteBytes(Bytes({1, 2})).WriteRaw(2, raw).WriteRaw(0, nullptr);
    EXPECT_EQ(out.Bytes(), Bytes({1, 2, 0xCC, 0xDD}));
}

// A failing read reports its numbers and changes nothing, also where a careless check would wrap;
// a string read consumes the length it refuses.
TEST(ByteStream, FailedReadsReportAndChangeNothing)
{
    Bytes target(4, 0xEE), stored = {1, 2, 3, 4, 5, 6}, improbable = {0x41, 0x0D, 0x03, 0};
    improbable.resize(4 + 200001, 'q'); // one more than the longest accepted
    uint8_t raw[4] = {};
    int value = 99;
    SharedString text; // a failed string read leaves it null
    const auto readInt = [&](ByteStream& s) { s.Read(value); };
    const auto readBytes = [&](ByteStream& s) { s.ReadBytes(target); };
    const auto readString = [&](ByteStream& s) { s.ReadString(text = SharedString("previous")); };
    const struct
    {
        Bytes contents;
        uint32_t position, positionAfter;
        std::function<void(ByteStream&)> read;
        std::string message;
    } cases[] = {
        {{}, 0, 0, readInt, "Can't extract 4 bytes at position 0, total size 0"},
        {stored, 4, 4, [](ByteStream& s) { s.ReadDouble(); },
         "Can't extract 8 bytes at position 4, total size 6"},
        {stored, 4, 4, readBytes, "Can't read 4 bytes"},
        {stored, 0xFFFFFFFE, 0xFFFFFFFE, readInt,
         "Can't extract 4 bytes at position 4294967294, total size 6"},
        {stored, 0xFFFFFFFE, 0xFFFFFFFE, [&](ByteStream& s) { s.ReadRaw(4, raw); },
         "Can't read 4 bytes"},
        {stored, 0xFFFFFFFE, 0xFFFFFFFE, readBytes, "Can't read 4 bytes"},
        {improbable, 0, 4, readString, "Improbable string length 200001"},
        {{0xFF, 0xFF, 0xFF, 0xFF}, 0, 4, readString, "Improbable string length 4294967295"},
        {{10, 0, 0, 0, 'a', 'b', 'c'}, 0, 4, readString, "Can't read string of length 10"},
        {{1, 0}, 0, 0, readString, "Can't extract 4 bytes at position 0, total size 2"},
    };
    for (const auto& c : cases)
    {
        ByteStream stream(c.contents);
        stream.SetPosition(c.position);
        std::string message;
        try
        {
            c.read(stream);
        }
        catch (const Util::Exception::DataStreamIO& error)
        {
            message = error.Message().ToString();
        }
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(stream.Position(), c.positionAfter) << c.message;
        EXPECT_EQ(stream.Bytes(), c.contents) << c.message;
        EXPECT_TRUE(text.IsNull()) << c.message;
    }
    EXPECT_EQ(value, 99);
    EXPECT_EQ(target, Bytes(4, 0xEE));

    ByteStream stream(stored); // a write ending beyond the 32-bit size cannot be allocated
    stream.SetPosition(0xFFFFFFFEu);
    EXPECT_THROW(stream.Write(1), std::bad_alloc);
    EXPECT_EQ(stream.Size(), 6u);
}

TEST(ByteStream, Strings)
{
    ByteStream stream;
    stream.WriteString(SharedString()); // null handle: a zero length and nothing else
    stream.SetLengthPrefix(false);
    stream.WriteString(SharedString()).WriteString(SharedString("hi"));
    EXPECT_EQ(stream.Bytes(), Bytes({0, 0, 0, 0, 'h', 'i'}));

    // An embedded zero ends the text, but the whole stored length is consumed; 200000 characters
    // are the longest accepted.
    Bytes records = {5, 0, 0, 0, 'a', 'b', 0, 'c', 'd', 0x40, 0x0D, 0x03, 0};
    records.resize(records.size() + 200000, 'q');
    records.push_back('z');
    ByteStream in(records);
    SharedString first, second;
    in.ReadString(first).ReadString(second);
    EXPECT_EQ(first.ToString(), "ab");
    EXPECT_EQ(second.ToString(), std::string(200000, 'q'));
    EXPECT_EQ(in.Position(), 9u + 200004u);
}
