#pragma once

#include "Util/SharedString.h"

#include <cstdint>
#include <vector>

namespace Util
{

// Typed serialisation with a selectable byte order: 0 or 1 little-endian, any other value
// big-endian. Failed reads throw Util::Exception::DataStreamIO.
//
// The "long" values of this interface are 32-bit on the stream on every platform, while C++ long
// is 64-bit on LP64 systems and there the same type as int64_t. They therefore have their own
// names (ReadLong, ReadULong, WriteLong, WriteULong) and take int32_t / uint32_t, which keeps the
// Read / Write overload sets free of ambiguity: the int64_t / uint64_t overloads always move 8
// bytes, the int / unsigned int ones 4.
class DataStream
{
public:
    DataStream() = default;
    DataStream(const DataStream&) = delete;
    DataStream& operator=(const DataStream&) = delete;

    virtual int32_t GetByteOrder() const = 0;
    virtual void SetByteOrder(int32_t order) = 0;
    virtual bool GetLengthPrefix() const = 0;
    virtual void SetLengthPrefix(bool prefix) = 0;

    // Fills the array completely; its current size is the number of bytes read.
    virtual DataStream& ReadBytes(std::vector<uint8_t>& bytes) = 0;
    // A 4-byte length, then that many characters; the text ends at an embedded zero byte.
    virtual DataStream& ReadString(SharedString& text) = 0;
    virtual DataStream& Read(double& value) = 0;
    virtual DataStream& Read(float& value) = 0;
    virtual DataStream& Read(int& value) = 0;
    virtual DataStream& Read(unsigned int& value) = 0;
    virtual DataStream& Read(int64_t& value) = 0;
    virtual DataStream& Read(uint64_t& value) = 0;
    virtual DataStream& ReadLong(int32_t& value) = 0;
    virtual DataStream& ReadULong(uint32_t& value) = 0;
    virtual DataStream& Read(short& value) = 0;
    virtual DataStream& Read(unsigned short& value) = 0;
    virtual DataStream& Read(char& value) = 0;
    virtual DataStream& Read(signed char& value) = 0;
    virtual DataStream& Read(unsigned char& value) = 0;
    virtual DataStream& Read(bool& value) = 0; // any non-zero byte is true

    virtual double ReadDouble() = 0;
    virtual float ReadFloat() = 0;
    virtual int ReadInt() = 0;
    virtual unsigned int ReadUInt() = 0;
    virtual int64_t ReadInt64() = 0;
    virtual uint64_t ReadUInt64() = 0;
    virtual int32_t ReadLong() = 0;
    virtual uint32_t ReadULong() = 0;
    virtual short ReadShort() = 0;
    virtual unsigned short ReadUShort() = 0;
    virtual char ReadChar() = 0;
    virtual signed char ReadSChar() = 0;
    virtual unsigned char ReadUChar() = 0;
    virtual bool ReadBool() = 0;
    virtual DataStream& ReadRaw(uint32_t count, void* destination) = 0;

    virtual DataStream& WriteBytes(const std::vector<uint8_t>& bytes) = 0; // no length
    // The length first when the length prefix is on; no terminator.
    virtual DataStream& WriteString(const SharedString& text) = 0;
    virtual DataStream& Write(double value) = 0;
    virtual DataStream& Write(float value) = 0;
    virtual DataStream& Write(int value) = 0;
    virtual DataStream& Write(unsigned int value) = 0;
    virtual DataStream& Write(int64_t value) = 0;
    virtual DataStream& Write(uint64_t value) = 0;
    virtual DataStream& WriteLong(int32_t value) = 0;
    virtual DataStream& WriteULong(uint32_t value) = 0;
    virtual DataStream& Write(short value) = 0;
    virtual DataStream& Write(unsigned short value) = 0;
    virtual DataStream& Write(char value) = 0;
    virtual DataStream& Write(signed char value) = 0;
    virtual DataStream& Write(unsigned char value) = 0;
    virtual DataStream& Write(bool value) = 0; // 1 or 0
    virtual DataStream& WriteRaw(uint32_t count, const void* source) = 0;

    virtual bool AtEnd() const = 0;
    virtual uint32_t Position() const = 0;
    virtual uint32_t Size() const = 0;
    virtual uint32_t Remaining() const = 0;
    // No check: a later write past the end fills the gap with zero bytes.
    virtual void SetPosition(uint32_t newPosition) = 0;
    virtual void Skip(int32_t count) = 0;

    virtual ~DataStream() = default;
};

} // namespace Util
