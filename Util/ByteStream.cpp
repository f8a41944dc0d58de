#include "Util/ByteStream.h"

#include "dsp/foundation/VectorOps.h"

#include <new>

namespace Util
{

namespace
{

constexpr const char* sourceFile = "Util/ByteStream.cpp";

// Strings longer than this are taken as a corrupt length field rather than allocated.
constexpr uint32_t maximumStringLength = 200000;

constexpr uint64_t maximumSize = 0xFFFFFFFFu;

// A 64-bit parameter, so that the test stays meaningful (and free of always-false warnings) where
// size_t is 32 bits wide.
bool BeyondMaximumSize(uint64_t count)
{
    return count > maximumSize;
}

} // namespace

ByteStream::ByteStream(uint32_t capacityHint)
{
    buffer.reserve(capacityHint);
}

ByteStream::ByteStream(const std::vector<uint8_t>& bytes)
{
    if (BeyondMaximumSize(bytes.size()))
        throw std::bad_alloc();
    buffer = bytes;
}

ByteStream::ByteStream(uint32_t count, const void* source)
{
    if (count == 0 || source == nullptr)
        return;
    buffer.resize(count);
    DSP::VectorOps::CopyBytes(count, static_cast<const uint8_t*>(source), buffer.data());
}

ByteStream::~ByteStream() = default;

ByteStream& ByteStream::ReadBytes(std::vector<uint8_t>& bytes)
{
    if (bytes.empty())
        return *this;
    const uint64_t count = bytes.size();
    if (count > Size() || position > Size() - count)
    {
        const uint32_t shown =
            BeyondMaximumSize(count) ? 0xFFFFFFFFu : static_cast<uint32_t>(count);
        Exception::DataStreamIO::Throw(Arg(SharedString("Can't read %1 bytes"), shown), sourceFile,
                                       __LINE__);
    }
    DSP::VectorOps::CopyBytes(static_cast<uint32_t>(count), buffer.data() + position, bytes.data());
    position += static_cast<uint32_t>(count);
    return *this;
}

ByteStream& ByteStream::ReadString(SharedString& text)
{
    text = SharedString();
    const uint32_t length = static_cast<uint32_t>(ReadLong());
    if (length > maximumStringLength)
        Exception::DataStreamIO::Throw(Arg(SharedString("Improbable string length %1"), length),
                                       sourceFile, __LINE__);
    if (length == 0)
        return *this;
    if (length > Size() || position > Size() - length)
        Exception::DataStreamIO::Throw(Arg(SharedString("Can't read string of length %1"), length),
                                       sourceFile, __LINE__);
    // Read as zero-terminated text: an embedded zero byte ends the string, although the whole
    // stored length is consumed.
    std::vector<char> characters(length + 1, '\0');
    DSP::VectorOps::CopyBytes(length, buffer.data() + position,
                              reinterpret_cast<uint8_t*>(characters.data()));
    position += length;
    text = SharedString(characters.data());
    return *this;
}

ByteStream& ByteStream::Read(bool& value)
{
    signed char byte = 0;
    Read(byte);
    value = byte != 0;
    return *this;
}

ByteStream& ByteStream::ReadRaw(uint32_t count, void* destination)
{
    if (count == 0)
        return *this;
    if (count > Size() || position > Size() - count)
        Exception::DataStreamIO::Throw(Arg(SharedString("Can't read %1 bytes"), count), sourceFile,
                                       __LINE__);
    DSP::VectorOps::CopyBytes(count, buffer.data() + position, static_cast<uint8_t*>(destination));
    position += count;
    return *this;
}

ByteStream& ByteStream::WriteBytes(const std::vector<uint8_t>& bytes)
{
    if (bytes.empty())
        return *this;
    if (BeyondMaximumSize(bytes.size()))
        throw std::bad_alloc();
    return WriteRaw(static_cast<uint32_t>(bytes.size()), bytes.data());
}

ByteStream& ByteStream::WriteString(const SharedString& text)
{
    const std::size_t length = text.Length();
    // Checked before the length goes out, so that a string the stream cannot hold leaves no
    // half-written record behind.
    const uint64_t prefixLength = lengthPrefix ? 4 : 0;
    if (BeyondMaximumSize(length) || BeyondMaximumSize(position + prefixLength + length))
        throw std::bad_alloc();
    if (lengthPrefix)
        WriteLong(static_cast<int32_t>(static_cast<uint32_t>(length)));
    if (length > 0)
        WriteRaw(static_cast<uint32_t>(length), text.Data());
    return *this;
}

ByteStream& ByteStream::Write(bool value)
{
    return WriteValue<unsigned char>(value ? 1 : 0);
}

ByteStream& ByteStream::WriteRaw(uint32_t count, const void* source)
{
    if (count == 0)
        return *this;
    const uint64_t end = static_cast<uint64_t>(position) + count;
    if (BeyondMaximumSize(end))
        throw std::bad_alloc();
    if (buffer.size() < end)
        buffer.resize(static_cast<std::size_t>(end)); // new bytes are zero
    DSP::VectorOps::CopyBytes(count, static_cast<const uint8_t*>(source), buffer.data() + position);
    position = static_cast<uint32_t>(end);
    return *this;
}

} // namespace Util
