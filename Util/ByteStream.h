#pragma once

#include "Util/Arg.h"
#include "Util/DataStream.h"
#include "Util/DataStreamIO.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace Util
{

// A DataStream over a growable in-memory byte array. Position, size and every count are 32-bit:
// a stream never holds more than 0xFFFFFFFF bytes, and a write that would need more fails like an
// exhausted heap (std::bad_alloc).
class ByteStream : public DataStream
{
public:
    // Each constructor leaves position 0, byte order 0 and the length prefix on.
    explicit ByteStream(uint32_t capacityHint = 0);
    explicit ByteStream(const std::vector<uint8_t>& bytes);
    ByteStream(uint32_t count, const void* source); // nothing is copied from a null source
    ~ByteStream() override;

    int32_t GetByteOrder() const override { return byteOrder; }
    void SetByteOrder(int32_t order) override { byteOrder = order; }
    bool GetLengthPrefix() const override { return lengthPrefix; }
    void SetLengthPrefix(bool prefix) override { lengthPrefix = prefix; }

    ByteStream& ReadBytes(std::vector<uint8_t>& bytes) override;
    ByteStream& ReadString(SharedString& text) override;
    ByteStream& Read(double& value) override { return ReadValue(value); }
    ByteStream& Read(float& value) override { return ReadValue(value); }
    ByteStream& Read(int& value) override { return ReadValue(value); }
    ByteStream& Read(unsigned int& value) override { return ReadValue(value); }
    ByteStream& Read(int64_t& value) override { return ReadValue(value); }
    ByteStream& Read(uint64_t& value) override { return ReadValue(value); }
    ByteStream& ReadLong(int32_t& value) override { return ReadValue(value); }
    ByteStream& ReadULong(uint32_t& value) override { return ReadValue(value); }
    ByteStream& Read(short& value) override { return ReadValue(value); }
    ByteStream& Read(unsigned short& value) override { return ReadValue(value); }
    ByteStream& Read(char& value) override { return ReadValue(value); }
    ByteStream& Read(signed char& value) override { return ReadValue(value); }
    ByteStream& Read(unsigned char& value) override { return ReadValue(value); }
    ByteStream& Read(bool& value) override;

    double ReadDouble() override { return ReadAs<double>(); }
    float ReadFloat() override { return ReadAs<float>(); }
    int ReadInt() override { return ReadAs<int>(); }
    unsigned int ReadUInt() override { return ReadAs<unsigned int>(); }
    int64_t ReadInt64() override { return ReadAs<int64_t>(); }
    uint64_t ReadUInt64() override { return ReadAs<uint64_t>(); }
    int32_t ReadLong() override
    {
        int32_t value = 0;
        ReadLong(value);
        return value;
    }
    uint32_t ReadULong() override
    {
        uint32_t value = 0;
        ReadULong(value);
        return value;
    }
    short ReadShort() override { return ReadAs<short>(); }
    unsigned short ReadUShort() override { return ReadAs<unsigned short>(); }
    char ReadChar() override { return ReadAs<char>(); }
    signed char ReadSChar() override { return static_cast<signed char>(ReadAs<unsigned char>()); }
    unsigned char ReadUChar() override { return ReadAs<unsigned char>(); }
    bool ReadBool() override { return ReadAs<bool>(); }
    ByteStream& ReadRaw(uint32_t count, void* destination) override;

    ByteStream& WriteBytes(const std::vector<uint8_t>& bytes) override;
    ByteStream& WriteString(const SharedString& text) override;
    ByteStream& Write(double value) override { return WriteValue(value); }
    ByteStream& Write(float value) override { return WriteValue(value); }
    ByteStream& Write(int value) override { return WriteValue(value); }
    ByteStream& Write(unsigned int value) override { return WriteValue(value); }
    ByteStream& Write(int64_t value) override { return WriteValue(value); }
    ByteStream& Write(uint64_t value) override { return WriteValue(value); }
    ByteStream& WriteLong(int32_t value) override { return WriteValue(value); }
    ByteStream& WriteULong(uint32_t value) override { return WriteValue(value); }
    ByteStream& Write(short value) override { return WriteValue(value); }
    ByteStream& Write(unsigned short value) override { return WriteValue(value); }
    ByteStream& Write(char value) override { return WriteValue(value); }
    ByteStream& Write(signed char value) override { return WriteValue(value); }
    ByteStream& Write(unsigned char value) override { return WriteValue(value); }
    ByteStream& Write(bool value) override;
    ByteStream& WriteRaw(uint32_t count, const void* source) override;

    bool AtEnd() const override { return position >= Size(); }
    uint32_t Position() const override { return position; }
    uint32_t Size() const override { return static_cast<uint32_t>(buffer.size()); }
    uint32_t Remaining() const override { return Size() - position; }
    void SetPosition(uint32_t newPosition) override { position = newPosition; }
    void Skip(int32_t count) override { SetPosition(Position() + static_cast<uint32_t>(count)); }

    // The finished contents: Data() points at Size() bytes.
    const uint8_t* Data() const { return buffer.data(); }
    const std::vector<uint8_t>& Bytes() const { return buffer; }

private:
    bool SwapsBytes() const
    {
        const bool littleEndian = byteOrder == 0 || byteOrder == 1;
        return littleEndian != (std::endian::native == std::endian::little);
    }

    template <class T> ByteStream& ReadValue(T& value)
    {
        constexpr uint32_t width = sizeof(T);
        // Widened so that a position near the top of the 32-bit range cannot wrap past the check.
        if (static_cast<uint64_t>(Size()) < static_cast<uint64_t>(position) + width)
            Exception::DataStreamIO::Throw(
                Arg(Arg(Arg(SharedString("Can't extract %1 bytes at position %2, total size %3"),
                            width),
                        position),
                    Size()),
                "Util/ByteStream.h", __LINE__);
        uint8_t bytes[sizeof(T)];
        std::memcpy(bytes, buffer.data() + position, width);
        if (SwapsBytes())
            Reverse(bytes);
        std::memcpy(&value, bytes, width);
        position += width;
        return *this;
    }

    template <class T> T ReadAs()
    {
        T value{};
        Read(value);
        return value;
    }

    template <class T> ByteStream& WriteValue(T value)
    {
        uint8_t bytes[sizeof(T)];
        std::memcpy(bytes, &value, sizeof(T));
        if (SwapsBytes())
            Reverse(bytes);
        return WriteRaw(sizeof(T), bytes);
    }

    template <std::size_t N> static void Reverse(uint8_t (&bytes)[N])
    {
        for (std::size_t i = 0; i < N / 2; ++i)
        {
            const uint8_t swapped = bytes[i];
            bytes[i] = bytes[N - 1 - i];
            bytes[N - 1 - i] = swapped;
        }
    }

    std::vector<uint8_t> buffer;
    uint32_t position = 0;
    int32_t byteOrder = 0;
    bool lengthPrefix = true;
};

} // namespace Util
