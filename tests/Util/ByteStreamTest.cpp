#include "Util/ByteStream.h"
#include "Util/DataStreamIO.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <string>
#include <vector>

using Util::ByteStream;
using Util::SharedString;
using Util::Exception::DataStreamIO;

namespace
{

using Bytes = std::vector<uint8_t>;

// Runs a call that must fail and returns the exception's message.
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
    return "<no exception>";
}

} // namespace

TEST(ByteStream, NewStreamIsEmptyAndRefusesReads)
{
    ByteStream stream;
    EXPECT_EQ(stream.Size(), 0u);
    EXPECT_EQ(stream.Position(), 0u);
    EXPECT_TRUE(stream.AtEnd());
    EXPECT_EQ(stream.GetByteOrder(), 0);
    EXPECT_TRUE(stream.GetLengthPrefix());
    EXPECT_EQ(FailureMessage([&] { stream.ReadInt(); }),
              "Can't extract 4 bytes at position 0, total size 0");
    EXPECT_EQ(FailureMessage([&] { stream.ReadDouble(); }),
              "Can't extract 8 bytes at position 0, total size 0");
    EXPECT_EQ(FailureMessage([&] { stream.ReadBool(); }),
              "Can't extract 1 bytes at position 0, total size 0");

    // An empty array and a zero count read nothing and succeed at the end.
    Bytes none;
    stream.ReadBytes(none);
    stream.ReadRaw(0, nullptr);
    EXPECT_EQ(stream.Position(), 0u);
}

TEST(ByteStream, IntOneInEachByteOrder)
{
    for (int32_t order : {0, 1, 2, -3, 255})
    {
        ByteStream stream;
        stream.SetByteOrder(order);
        stream.Write(1);
        const bool little = order == 0 || order == 1;
        EXPECT_EQ(stream.Bytes(), little ? Bytes({1, 0, 0, 0}) : Bytes({0, 0, 0, 1})) << order;
        stream.SetPosition(0);
        EXPECT_EQ(stream.ReadInt(), 1) << order;
    }
}

TEST(ByteStream, ByteImagesOfEachType)
{
    struct Case
    {
        const char* name;
        void (*write)(ByteStream&);
        Bytes little;
    };
    const Case cases[] = {
        {"double 1.5", [](ByteStream& s) { s.Write(1.5); }, {0, 0, 0, 0, 0, 0, 0xF8, 0x3F}},
        {"float -2.25", [](ByteStream& s) { s.Write(-2.25f); }, {0, 0, 0x10, 0xC0}},
        {"int -2", [](ByteStream& s) { s.Write(-2); }, {0xFE, 0xFF, 0xFF, 0xFF}},
        {"unsigned", [](ByteStream& s) { s.Write(0x01020304u); }, {4, 3, 2, 1}},
        {"int64",
         [](ByteStream& s) { s.Write(int64_t(0x0102030405060708)); },
         {8, 7, 6, 5, 4, 3, 2, 1}},
        {"uint64",
         [](ByteStream& s) { s.Write(uint64_t(0xF0E0D0C0B0A09080u)); },
         {0x80, 0x90, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0, 0xF0}},
        {"long", [](ByteStream& s) { s.WriteLong(-0x01020304); }, {0xFC, 0xFC, 0xFD, 0xFE}},
        {"unsigned long",
         [](ByteStream& s) { s.WriteULong(0xA1B2C3D4u); },
         {0xD4, 0xC3, 0xB2, 0xA1}},
        {"short", [](ByteStream& s) { s.Write(short(0x1234)); }, {0x34, 0x12}},
        {"unsigned short", [](ByteStream& s) { s.Write((unsigned short)0xBEEF); }, {0xEF, 0xBE}},
        {"char", [](ByteStream& s) { s.Write('A'); }, {0x41}},
        {"signed char", [](ByteStream& s) { s.Write((signed char)-1); }, {0xFF}},
        {"unsigned char", [](ByteStream& s) { s.Write((unsigned char)0x80); }, {0x80}},
        {"bool true", [](ByteStream& s) { s.Write(true); }, {1}},
        {"bool false", [](ByteStream& s) { s.Write(false); }, {0}},
    };
    for (const Case& c : cases)
    {
        ByteStream little;
        little.SetByteOrder(1);
        c.write(little);
        EXPECT_EQ(little.Bytes(), c.little) << c.name;
        EXPECT_EQ(little.Position(), c.little.size()) << c.name;

        ByteStream big;
        big.SetByteOrder(2);
        c.write(big);
        EXPECT_EQ(big.Bytes(), Bytes(c.little.rbegin(), c.little.rend())) << c.name;
    }
}

TEST(ByteStream, RoundTripOfEveryTypeInBothByteOrders)
{
    for (int32_t order : {1, 2})
    {
        ByteStream stream(64);
        stream.SetByteOrder(order);
        stream.Write(-1234.5678e100)
            .Write(3.25e-20f)
            .Write(-123456789)
            .Write(4000000000u)
            .Write(int64_t(-9000000000000000000))
            .Write(uint64_t(18000000000000000000u))
            .WriteLong(-2000000000)
            .WriteULong(4100000000u)
            .Write(short(-30000))
            .Write((unsigned short)65000)
            .Write('z')
            .Write((signed char)-100)
            .Write((unsigned char)200)
            .Write(true);
        EXPECT_EQ(stream.Size(), 8u + 4 + 4 + 4 + 8 + 8 + 4 + 4 + 2 + 2 + 1 + 1 + 1 + 1);

        stream.SetPosition(0);
        EXPECT_EQ(stream.ReadDouble(), -1234.5678e100);
        EXPECT_EQ(stream.ReadFloat(), 3.25e-20f);
        EXPECT_EQ(stream.ReadInt(), -123456789);
        EXPECT_EQ(stream.ReadUInt(), 4000000000u);
        EXPECT_EQ(stream.ReadInt64(), int64_t(-9000000000000000000));
        EXPECT_EQ(stream.ReadUInt64(), uint64_t(18000000000000000000u));
        EXPECT_EQ(stream.ReadLong(), -2000000000);
        EXPECT_EQ(stream.ReadULong(), 4100000000u);
        EXPECT_EQ(stream.ReadShort(), -30000);
        EXPECT_EQ(stream.ReadUShort(), 65000);
        EXPECT_EQ(stream.ReadChar(), 'z');
        EXPECT_EQ(stream.ReadSChar(), -100);
        EXPECT_EQ(stream.ReadUChar(), 200);
        EXPECT_TRUE(stream.ReadBool());
        EXPECT_TRUE(stream.AtEnd());
    }
}

TEST(ByteStream, BoolReadsAnyNonZeroByteAsTrue)
{
    const Bytes stored = {7, 0, 0x80};
    ByteStream stream(stored);
    EXPECT_TRUE(stream.ReadBool());
    EXPECT_FALSE(stream.ReadBool());
    bool value = false;
    stream.Read(value);
    EXPECT_TRUE(value);
}

TEST(ByteStream, WritesGrowOverwriteAndFillGapsWithZeros)
{
    ByteStream stream;
    stream.SetPosition(10);
    stream.Write('x');
    EXPECT_EQ(stream.Size(), 11u);
    EXPECT_EQ(stream.Position(), 11u);
    EXPECT_EQ(stream.Bytes(), Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'x'}));

    // Writing inside the buffer overwrites and does not insert.
    stream.SetPosition(2);
    stream.SetByteOrder(2);
    stream.Write(short(0x0102));
    EXPECT_EQ(stream.Size(), 11u);
    EXPECT_EQ(stream.Bytes(), Bytes({0, 0, 1, 2, 0, 0, 0, 0, 0, 0, 'x'}));

    // A write that straddles the end grows the buffer to exactly its end.
    stream.SetPosition(9);
    stream.WriteULong(0xAABBCCDDu);
    EXPECT_EQ(stream.Size(), 13u);
    EXPECT_EQ(stream.Bytes()[9], 0xAA);
    EXPECT_EQ(stream.Bytes()[12], 0xDD);
}

TEST(ByteStream, PositionArithmetic)
{
    ByteStream stream(Bytes(8, 0));
    stream.Skip(6);
    EXPECT_EQ(stream.Position(), 6u);
    EXPECT_EQ(stream.Remaining(), 2u);
    stream.Skip(-4);
    EXPECT_EQ(stream.Position(), 2u);
    EXPECT_FALSE(stream.AtEnd());
    stream.SetPosition(8);
    EXPECT_TRUE(stream.AtEnd());
    stream.SetPosition(20);
    EXPECT_TRUE(stream.AtEnd());
    EXPECT_EQ(stream.Remaining(), uint32_t(8 - 20)); // unsigned, as the position is past the end
}

TEST(ByteStream, Constructors)
{
    const uint8_t source[] = {9, 8, 7};
    ByteStream counted(3, source);
    EXPECT_EQ(counted.Bytes(), Bytes({9, 8, 7}));
    EXPECT_EQ(counted.Position(), 0u);
    EXPECT_EQ(ByteStream(0, source).Size(), 0u);
    EXPECT_EQ(ByteStream(5, nullptr).Size(), 0u);

    Bytes original = {1, 2};
    ByteStream copied(original);
    original[0] = 42;
    EXPECT_EQ(copied.Bytes(), Bytes({1, 2}));
    EXPECT_EQ(copied.GetByteOrder(), 0);
    EXPECT_TRUE(copied.GetLengthPrefix());

    ByteStream hinted(1000);
    EXPECT_EQ(hinted.Size(), 0u);
    EXPECT_GE(hinted.Bytes().capacity(), 1000u);
}

TEST(ByteStream, FailedReadsChangeNothing)
{
    ByteStream stream(Bytes({1, 2, 3, 4, 5, 6}));
    stream.SetByteOrder(2);
    stream.SetPosition(4);
    int value = 99;
    EXPECT_EQ(FailureMessage([&] { stream.Read(value); }),
              "Can't extract 4 bytes at position 4, total size 6");
    EXPECT_EQ(value, 99);
    EXPECT_EQ(stream.Position(), 4u);
    EXPECT_EQ(stream.GetByteOrder(), 2);
    EXPECT_EQ(stream.Size(), 6u);

    Bytes three(3, 0xEE);
    EXPECT_EQ(FailureMessage([&] { stream.ReadBytes(three); }), "Can't read 3 bytes");
    EXPECT_EQ(three, Bytes(3, 0xEE));
    uint8_t raw[8] = {};
    EXPECT_EQ(FailureMessage([&] { stream.ReadRaw(7, raw); }), "Can't read 7 bytes");
    EXPECT_EQ(stream.Position(), 4u);

    // The remaining two bytes are still there to read.
    EXPECT_EQ(stream.ReadUShort(), 0x0506);
}

TEST(ByteStream, RangeChecksDoNotWrapNearTheTopOfThePositionRange)
{
    ByteStream stream(Bytes(10, 0));
    stream.SetPosition(0xFFFFFFFEu);
    EXPECT_EQ(FailureMessage([&] { stream.ReadInt(); }),
              "Can't extract 4 bytes at position 4294967294, total size 10");
    uint8_t raw[4];
    EXPECT_EQ(FailureMessage([&] { stream.ReadRaw(4, raw); }), "Can't read 4 bytes");
    Bytes four(4);
    EXPECT_EQ(FailureMessage([&] { stream.ReadBytes(four); }), "Can't read 4 bytes");
    EXPECT_EQ(stream.Position(), 0xFFFFFFFEu);

    // A write whose end lies beyond the 32-bit size is an allocation failure, not a wrap.
    EXPECT_THROW(stream.Write(1), std::bad_alloc);
    EXPECT_EQ(stream.Size(), 10u);
    EXPECT_EQ(stream.Position(), 0xFFFFFFFEu);
}

TEST(ByteStream, ReadBytesAndRawCopyAndAdvance)
{
    ByteStream stream(Bytes({10, 20, 30, 40, 50}));
    Bytes two(2);
    stream.ReadBytes(two);
    EXPECT_EQ(two, Bytes({10, 20}));
    uint8_t raw[3] = {};
    stream.ReadRaw(3, raw);
    EXPECT_EQ(Bytes(raw, raw + 3), Bytes({30, 40, 50}));
    EXPECT_TRUE(stream.AtEnd());

    ByteStream out;
    out.WriteBytes(Bytes({1, 2})).WriteBytes(Bytes()).WriteRaw(2, raw).WriteRaw(0, nullptr);
    EXPECT_EQ(out.Bytes(), Bytes({1, 2, 30, 40}));
}

TEST(ByteStream, WriteStringWithAndWithoutLengthPrefix)
{
    ByteStream stream;
    stream.WriteString(SharedString());
    EXPECT_EQ(stream.Bytes(), Bytes({0, 0, 0, 0}));
    stream.SetLengthPrefix(false);
    stream.WriteString(SharedString());
    EXPECT_EQ(stream.Size(), 4u);
    stream.WriteString(SharedString("hi"));
    EXPECT_EQ(stream.Bytes(), Bytes({0, 0, 0, 0, 'h', 'i'}));

    ByteStream big;
    big.SetByteOrder(2);
    big.WriteString(SharedString("abc"));
    EXPECT_EQ(big.Bytes(), Bytes({0, 0, 0, 3, 'a', 'b', 'c'}));
    big.SetPosition(0);
    SharedString back;
    big.ReadString(back);
    EXPECT_EQ(back.ToString(), "abc");
    EXPECT_TRUE(big.AtEnd());
}

TEST(ByteStream, ReadStringStopsAtAnEmbeddedZeroButConsumesTheWholeLength)
{
    ByteStream stream(Bytes({5, 0, 0, 0, 'a', 'b', 0, 'c', 'd', 'z'}));
    SharedString text;
    stream.ReadString(text);
    EXPECT_EQ(text.ToString(), "ab");
    EXPECT_EQ(stream.Position(), 9u);

    ByteStream empty(Bytes({0, 0, 0, 0}));
    SharedString previous("old");
    empty.ReadString(previous);
    EXPECT_TRUE(previous.IsNull());
    EXPECT_EQ(empty.Position(), 4u);
}

TEST(ByteStream, ReadStringLengthLimits)
{
    ByteStream accepted;
    accepted.WriteULong(200000);
    accepted.WriteRaw(200000, std::vector<uint8_t>(200000, 'q').data());
    accepted.SetPosition(0);
    SharedString text;
    accepted.ReadString(text);
    EXPECT_EQ(text.Length(), 200000u);
    EXPECT_EQ(text.View().front(), 'q');
    EXPECT_TRUE(accepted.AtEnd());

    ByteStream improbable;
    improbable.WriteULong(200001);
    improbable.WriteRaw(200001, std::vector<uint8_t>(200001, 'q').data());
    improbable.SetPosition(0);
    SharedString out("previous");
    EXPECT_EQ(FailureMessage([&] { improbable.ReadString(out); }),
              "Improbable string length 200001");
    EXPECT_TRUE(out.IsNull());
    EXPECT_EQ(improbable.Position(), 4u); // the length itself was read

    // A negative stored length is a huge unsigned one.
    ByteStream negative(Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(FailureMessage([&] { negative.ReadString(out); }),
              "Improbable string length 4294967295");

    ByteStream shortData(Bytes({10, 0, 0, 0, 'a', 'b', 'c'}));
    out = SharedString("previous");
    EXPECT_EQ(FailureMessage([&] { shortData.ReadString(out); }), "Can't read string of length 10");
    EXPECT_TRUE(out.IsNull());
    EXPECT_EQ(shortData.Position(), 4u);

    ByteStream noLength(Bytes({1, 0}));
    out = SharedString("previous");
    EXPECT_EQ(FailureMessage([&] { noLength.ReadString(out); }),
              "Can't extract 4 bytes at position 0, total size 2");
    EXPECT_TRUE(out.IsNull());
    EXPECT_EQ(noLength.Position(), 0u);
}
