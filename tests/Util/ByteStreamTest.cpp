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
using Util::Exception::DataStreamIO;

namespace
{

using Bytes = std::vector<uint8_t>;

// Runs a call and returns the message of the stream exception it throws.
template <class Call> std::string FailureMessage(Call call)
{
    try
    {
        call();
    }
    catch (const DataStreamIO& error)
    {
        return error.Message().ToString();
    }
    return ""; // nothing thrown
}

std::string Extract(uint32_t width, uint32_t position, uint32_t size)
{
    return "Can't extract " + std::to_string(width) + " bytes at position " +
           std::to_string(position) + ", total size " + std::to_string(size);
}

// Writes value in every byte order (only 0 and 1 are little-endian), compares the bytes with
// the little-endian image or its mirror, and reads the value back with the named reader.
template <class T>
void ExpectImage(T value, T (ByteStream::*read)(), const Bytes& little,
                 ByteStream& (ByteStream::*write)(T) = nullptr)
{
    for (int32_t order : {0, 1, 2, -3, 255})
    {
        SCOPED_TRACE(testing::PrintToString(value) + " in order " + std::to_string(order));
        ByteStream stream;
        stream.SetByteOrder(order);
        if (write)
            (stream.*write)(value);
        else
            stream.Write(value);
        const bool isLittle = order == 0 || order == 1;
        EXPECT_EQ(stream.Bytes(), isLittle ? little : Bytes(little.rbegin(), little.rend()));
        EXPECT_EQ(stream.Position(), little.size());
        stream.SetPosition(0);
        EXPECT_EQ((stream.*read)(), value);
        EXPECT_TRUE(stream.AtEnd());
    }
}

} // namespace

TEST(ByteStream, ByteImagesAndReadBackOfEachType)
{
    ExpectImage(1.5, &ByteStream::ReadDouble, {0, 0, 0, 0, 0, 0, 0xF8, 0x3F});
    ExpectImage(-2.25f, &ByteStream::ReadFloat, {0, 0, 0x10, 0xC0});
    ExpectImage(1, &ByteStream::ReadInt, {1, 0, 0, 0});
    ExpectImage(-2, &ByteStream::ReadInt, {0xFE, 0xFF, 0xFF, 0xFF});
    ExpectImage(0x01020304u, &ByteStream::ReadUInt, {4, 3, 2, 1});
    ExpectImage(int64_t(-0x0102030405060708), &ByteStream::ReadInt64,
                {0xF8, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE});
    ExpectImage(uint64_t(0xF0E0D0C0B0A09080u), &ByteStream::ReadUInt64,
                {0x80, 0x90, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0, 0xF0});
    ExpectImage(int32_t(-0x01020304), &ByteStream::ReadLong, {0xFC, 0xFC, 0xFD, 0xFE},
                &ByteStream::WriteLong);
    ExpectImage(uint32_t(0x016C4359u), &ByteStream::ReadULong, {0x59, 0x43, 0x6C, 0x01},
                &ByteStream::WriteULong); // the settings chunk's magic
    ExpectImage(short(-30000), &ByteStream::ReadShort, {0xD0, 0x8A});
    ExpectImage((unsigned short)0xBEEF, &ByteStream::ReadUShort, {0xEF, 0xBE});
    ExpectImage('A', &ByteStream::ReadChar, {0x41});
    ExpectImage((signed char)-100, &ByteStream::ReadSChar, {0x9C});
    ExpectImage((unsigned char)0x80, &ByteStream::ReadUChar, {0x80});
    ExpectImage(true, &ByteStream::ReadBool, {1});
    ExpectImage(false, &ByteStream::ReadBool, {0});

    ByteStream stored(Bytes{7, 0x80}); // any non-zero byte reads as true
    bool value = false;
    EXPECT_TRUE(stored.ReadBool());
    EXPECT_TRUE(stored.Read(value).AtEnd());
    EXPECT_TRUE(value);
}

TEST(ByteStream, WritesGrowOverwriteAndFillGapsWithZeros)
{
    ByteStream stream;
    EXPECT_TRUE(stream.AtEnd());
    EXPECT_TRUE(stream.GetLengthPrefix());
    stream.SetPosition(10); // past the end: no check
    stream.Write('x');
    EXPECT_EQ(stream.Bytes(), Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'x'}));
    EXPECT_EQ(stream.Position(), 11u);

    stream.SetPosition(2);
    stream.SetByteOrder(2);
    stream.Write(short(0x0102)); // overwrites, does not insert
    EXPECT_EQ(stream.Bytes(), Bytes({0, 0, 1, 2, 0, 0, 0, 0, 0, 0, 'x'}));

    stream.SetPosition(9);
    stream.WriteULong(0xAABBCCDDu); // straddles the end: grows to exactly its end
    EXPECT_EQ(stream.Bytes(), Bytes({0, 0, 1, 2, 0, 0, 0, 0, 0, 0xAA, 0xBB, 0xCC, 0xDD}));

    stream.Skip(-11);
    EXPECT_EQ(stream.Position(), 2u);
    EXPECT_EQ(stream.Remaining(), 11u);
    stream.SetPosition(20);
    EXPECT_TRUE(stream.AtEnd());
    EXPECT_EQ(stream.Remaining(), uint32_t(13 - 20)); // unsigned, as the position is past the end
}

TEST(ByteStream, ConstructorsAndRawTransfers)
{
    const uint8_t source[] = {9, 8, 7};
    EXPECT_EQ(ByteStream(3, source).Bytes(), Bytes({9, 8, 7}));
    EXPECT_EQ(ByteStream(0, source).Size(), 0u);
    EXPECT_EQ(ByteStream(5, nullptr).Size(), 0u);

    ByteStream stream(Bytes({10, 20, 30, 40, 50}));
    Bytes two(2);
    stream.ReadBytes(two);
    EXPECT_EQ(two, Bytes({10, 20}));
    uint8_t raw[3] = {};
    stream.ReadRaw(3, raw);
    EXPECT_EQ(Bytes(raw, raw + 3), Bytes({30, 40, 50}));
    EXPECT_TRUE(stream.AtEnd());
    Bytes none; // an empty array and a zero count succeed at the end
    stream.ReadBytes(none).ReadRaw(0, nullptr);
    EXPECT_EQ(stream.Position(), 5u);

    ByteStream out;
    out.WriteBytes(Bytes({1, 2})).WriteBytes(Bytes()).WriteRaw(2, raw).WriteRaw(0, nullptr);
    EXPECT_EQ(out.Bytes(), Bytes({1, 2, 30, 40}));
}

// A failing read reports its numbers and leaves position, byte order and contents alone, also near
// the top of the 32-bit range, where a careless check would wrap.
TEST(ByteStream, FailedReadsReportAndChangeNothing)
{
    Bytes target(4, 0xEE);
    uint8_t raw[8] = {};
    int value = 99;
    const auto readInt = [&](ByteStream& s) { s.Read(value); };
    const auto readBytes = [&](ByteStream& s) { s.ReadBytes(target); };
    const struct
    {
        uint32_t size, position;
        std::function<void(ByteStream&)> read;
        std::string message;
    } cases[] = {
        {0, 0, readInt, "Can't extract 4 bytes at position 0, total size 0"},
        {0, 0, [](ByteStream& s) { s.ReadDouble(); }, Extract(8, 0, 0)},
        {0, 0, [](ByteStream& s) { s.ReadBool(); }, Extract(1, 0, 0)},
        {6, 4, readInt, Extract(4, 4, 6)},
        {6, 4, readBytes, "Can't read 4 bytes"},
        {6, 4, [&](ByteStream& s) { s.ReadRaw(7, raw); }, "Can't read 7 bytes"},
        {6, 0xFFFFFFFE, readInt, Extract(4, 4294967294, 6)},
        {6, 0xFFFFFFFE, [&](ByteStream& s) { s.ReadRaw(4, raw); }, "Can't read 4 bytes"},
        {6, 0xFFFFFFFE, readBytes, "Can't read 4 bytes"},
    };
    const Bytes contents = {1, 2, 3, 4, 5, 6};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.message);
        const Bytes before(contents.begin(), contents.begin() + c.size);
        ByteStream stream(before);
        stream.SetByteOrder(2);
        stream.SetPosition(c.position);
        EXPECT_EQ(FailureMessage([&] { c.read(stream); }), c.message);
        EXPECT_EQ(stream.Position(), c.position);
        EXPECT_EQ(stream.GetByteOrder(), 2);
        EXPECT_EQ(stream.Bytes(), before);
    }
    EXPECT_EQ(value, 99);
    EXPECT_EQ(target, Bytes(4, 0xEE));

    // A write whose end lies beyond the 32-bit size is an allocation failure.
    ByteStream stream(contents);
    stream.SetPosition(0xFFFFFFFEu);
    EXPECT_THROW(stream.Write(1), std::bad_alloc);
    EXPECT_EQ(stream.Size(), 6u);
}

TEST(ByteStream, WriteString)
{
    ByteStream stream;
    stream.WriteString(SharedString()); // null handle: a zero length and nothing else
    stream.SetLengthPrefix(false);
    stream.WriteString(SharedString()).WriteString(SharedString("hi"));
    EXPECT_EQ(stream.Bytes(), Bytes({0, 0, 0, 0, 'h', 'i'}));

    ByteStream big;
    big.SetByteOrder(2);
    big.WriteString(SharedString("abc")).SetPosition(0);
    EXPECT_EQ(big.Bytes(), Bytes({0, 0, 0, 3, 'a', 'b', 'c'}));
    SharedString back;
    EXPECT_TRUE(big.ReadString(back).AtEnd());
    EXPECT_EQ(back.ToString(), "abc");
}

TEST(ByteStream, ReadStringLimits)
{
    Bytes longest = {0x40, 0x0D, 0x03, 0}; // 200000, the longest accepted
    longest.resize(4 + 200000, 'q');
    Bytes improbable = {0x41, 0x0D, 0x03, 0};
    improbable.resize(4 + 200001, 'q');
    const struct
    {
        Bytes stored;
        std::string text;
        std::string failure;
        uint32_t positionAfter;
    } cases[] = {
        // An embedded zero ends the text, but the whole stored length is consumed.
        {{5, 0, 0, 0, 'a', 'b', 0, 'c', 'd', 'z'}, "ab", "", 9},
        {{0, 0, 0, 0}, "", "", 4},
        {longest, std::string(200000, 'q'), "", 200004},
        {improbable, "", "Improbable string length 200001", 4},
        {{0xFF, 0xFF, 0xFF, 0xFF}, "", "Improbable string length 4294967295", 4},
        {{10, 0, 0, 0, 'a', 'b', 'c'}, "", "Can't read string of length 10", 4},
        {{1, 0}, "", Extract(4, 0, 2), 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.failure);
        ByteStream stream(c.stored);
        SharedString out("previous");
        EXPECT_EQ(FailureMessage([&] { stream.ReadString(out); }), c.failure);
        EXPECT_EQ(out.ToString(), c.text);
        EXPECT_EQ(out.IsNull(), c.text.empty());
        EXPECT_EQ(stream.Position(), c.positionAfter);
    }
}
