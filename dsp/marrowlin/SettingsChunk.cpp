#include "dsp/marrowlin/SettingsChunk.h"

#include "Util/ByteStream.h"
#include "Util/DataStreamIO.h"
#include "dsp/foundation/VectorOps.h"

namespace DSP::Marrowlin
{

namespace
{

constexpr uint32_t chunkMagic = 0x016C4359u;
constexpr uint32_t chunkVersion = 1;
// The size field counts from its own offset to the end of the chunk.
constexpr uint32_t sizeFieldOffset = 8;
constexpr uint32_t initialCapacity = 216;
// More points than any loop holds; a larger count is taken as a corrupt chunk before anything is
// allocated for it.
constexpr uint32_t maximumPointCount = 1000000;

// A 64-bit parameter, so that the test stays meaningful where size_t is 32 bits wide.
bool BeyondStreamSize(uint64_t count)
{
    return count > 0xFFFFFFFFu;
}

uint8_t ReadFlag(Util::ByteStream& stream)
{
    return stream.ReadBool() ? 1 : 0;
}

void WriteFields(Util::ByteStream& stream, const SlicePoints& slicePoints,
                 const MeterSettings& meter, const ShapingSettings& shaping)
{
    stream.Write(slicePoints.sensitivity);
    stream.Write(slicePoints.useMarkers != 0);
    stream.Write(slicePoints.useDetected != 0);
    stream.Write(slicePoints.useUser != 0);
    stream.WriteULong(static_cast<uint32_t>(slicePoints.points.size()));
    for (const SlicePoint& point : slicePoints.points)
    {
        stream.WriteULong(point.kind);
        stream.WriteULong(point.sourcePosition);
        stream.WriteULong(point.position);
        stream.Write(point.forceOn != 0);
        stream.Write(point.conditional != 0);
        stream.Write(point.forceOff != 0);
        stream.Write(point.strength);
    }
    stream.WriteULong(slicePoints.regionStart);
    stream.WriteULong(slicePoints.regionEnd);

    stream.WriteULong(meter.bars);
    stream.WriteULong(meter.extraBeats);
    stream.WriteULong(meter.beatsPerBar);
    stream.WriteULong(meter.beatUnit);
    stream.Write(meter.tempo);

    stream.Write(shaping.attackMs);
    stream.Write(shaping.holdMs);
    stream.Write(shaping.decayMs);
    stream.Write(shaping.tailExtension);
    stream.Write(shaping.tailLoopPosition);
    stream.Write(shaping.tailFromSoundEnd != 0);
    stream.Write(shaping.semitones);
    stream.Write(shaping.cents);
    stream.Write(shaping.gainDb);

    stream.Write(meter.meterFlag != 0);
}

bool ReadFields(Util::ByteStream& stream, uint32_t chunkLength, SlicePoints& slicePoints,
                MeterSettings& meter, ShapingSettings& shaping)
{
    if (stream.ReadULong() != chunkMagic)
        return false;
    if (stream.ReadULong() != chunkVersion)
        return false;
    if (chunkLength <= sizeFieldOffset)
        return false;
    // Only an upper bound: trailing bytes after the last field are allowed and ignored.
    if (stream.ReadULong() > chunkLength - sizeFieldOffset)
        return false;

    slicePoints.sensitivity = stream.ReadFloat();
    slicePoints.useMarkers = ReadFlag(stream);
    slicePoints.useDetected = ReadFlag(stream);
    slicePoints.useUser = ReadFlag(stream);

    const uint32_t pointCount = stream.ReadULong();
    if (pointCount > maximumPointCount)
        return false;
    // Points that stay keep their unstored fields; new ones start as host-created points.
    slicePoints.points.resize(pointCount);
    for (SlicePoint& point : slicePoints.points)
    {
        point.kind = stream.ReadULong();
        point.sourcePosition = stream.ReadULong();
        point.position = stream.ReadULong();
        point.forceOn = ReadFlag(stream);
        point.conditional = ReadFlag(stream);
        point.forceOff = ReadFlag(stream);
        point.strength = stream.ReadFloat();
    }
    slicePoints.regionStart = stream.ReadULong();
    slicePoints.regionEnd = stream.ReadULong();

    meter.bars = stream.ReadULong();
    meter.extraBeats = stream.ReadULong();
    meter.beatsPerBar = stream.ReadULong();
    meter.beatUnit = stream.ReadULong();
    meter.tempo = stream.ReadFloat();

    shaping.attackMs = stream.ReadFloat();
    shaping.holdMs = stream.ReadFloat();
    shaping.decayMs = stream.ReadFloat();
    shaping.tailExtension = stream.ReadFloat();
    shaping.tailLoopPosition = stream.ReadFloat();
    shaping.tailFromSoundEnd = ReadFlag(stream);
    shaping.semitones = stream.ReadFloat();
    shaping.cents = stream.ReadFloat();
    shaping.gainDb = stream.ReadFloat();

    meter.meterFlag = ReadFlag(stream);
    return true;
}

} // namespace

void WriteSettingsChunk(const SlicePoints& slicePoints, const MeterSettings& meter,
                        const ShapingSettings& shaping, std::vector<uint8_t>& out)
{
    try
    {
        Util::ByteStream stream(initialCapacity);
        stream.SetByteOrder(1);
        stream.WriteULong(chunkMagic);
        stream.WriteULong(chunkVersion);
        stream.WriteULong(0); // size, patched once the rest is written
        WriteFields(stream, slicePoints, meter, shaping);

        const uint32_t length = stream.Size() - sizeFieldOffset;
        stream.SetPosition(sizeFieldOffset);
        stream.WriteULong(length);

        out.resize(stream.Size());
        VectorOps::CopyBytes(stream.Size(), stream.Data(), out.data());
    }
    catch (const Util::Exception::DataStreamIO&)
    {
        out.clear();
    }
}

bool ReadSettingsChunk(const std::vector<uint8_t>& bytes, SlicePoints& slicePoints,
                       MeterSettings& meter, ShapingSettings& shaping)
{
    // A chunk beyond what a 32-bit stream can address cannot have been written by this format.
    if (BeyondStreamSize(bytes.size()))
        return false;
    try
    {
        Util::ByteStream stream(bytes);
        stream.SetByteOrder(1);
        return ReadFields(stream, static_cast<uint32_t>(bytes.size()), slicePoints, meter, shaping);
    }
    catch (const Util::Exception::DataStreamIO&)
    {
        return false;
    }
}

} // namespace DSP::Marrowlin
