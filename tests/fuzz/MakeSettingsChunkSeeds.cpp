// Writes a handful of valid settings chunks, one per file, into the directory given as the only
// argument: the starting corpus of settings_chunk_fuzzer.

#include "dsp/marrowlin/SettingsChunk.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace DSP::Marrowlin;

namespace
{

struct Seed
{
    SlicePoints slicePoints;
    MeterSettings meter;
    ShapingSettings shaping;
};

SlicePoint MakePoint(uint32_t kind, uint32_t position, float strength)
{
    SlicePoint point;
    point.kind = kind;
    point.sourcePosition = position;
    point.position = position;
    point.strength = strength;
    return point;
}

std::vector<Seed> Seeds()
{
    std::vector<Seed> seeds;

    seeds.emplace_back(); // defaults, no points

    Seed sliced; // four user cuts over the whole 8192-frame test source, played at half speed
    sliced.slicePoints.sensitivity = 1.0f;
    sliced.slicePoints.useUser = 1;
    for (uint32_t position : {1024u, 2048u, 4096u, 6144u})
        sliced.slicePoints.points.push_back(MakePoint(User, position, 1.0f));
    sliced.slicePoints.regionEnd = 8192;
    sliced.meter.tempo = 120.0f;
    sliced.shaping.tailLoopPosition = 0.5f;
    sliced.shaping.tailExtension = 0.5f;
    seeds.push_back(sliced);

    Seed mixed = sliced; // every kind and flag, an envelope, transposition and gain
    mixed.slicePoints.sensitivity = 0.5f;
    mixed.slicePoints.useMarkers = 1;
    mixed.slicePoints.useDetected = 1;
    mixed.slicePoints.points = {MakePoint(Marker, 500, 0.75f), MakePoint(Detected, 1500, 0.3f),
                                MakePoint(Detected, 3000, 0.1f), MakePoint(User, 5000, 1.0f)};
    mixed.slicePoints.points[0].forceOn = 1;
    mixed.slicePoints.points[2].conditional = 1;
    mixed.slicePoints.points[3].forceOff = 1;
    mixed.meter.bars = 1;
    mixed.meter.extraBeats = 3;
    mixed.meter.beatsPerBar = 7;
    mixed.meter.beatUnit = 8;
    mixed.meter.tempo = 333.0f;
    mixed.meter.meterFlag = 1;
    mixed.shaping.attackMs = 2.0f;
    mixed.shaping.holdMs = 10.0f;
    mixed.shaping.decayMs = 50.0f;
    mixed.shaping.tailFromSoundEnd = 0;
    mixed.shaping.semitones = 7.0f;
    mixed.shaping.cents = -20.0f;
    mixed.shaping.gainDb = -6.0f;
    seeds.push_back(mixed);

    Seed region = sliced; // a region inside the source, points around and beyond it
    region.slicePoints.regionStart = 1000;
    region.slicePoints.regionEnd = 7000;
    region.slicePoints.points.push_back(MakePoint(User, 9000, 1.0f));
    region.slicePoints.points.insert(region.slicePoints.points.begin(), MakePoint(User, 0, 1.0f));
    region.meter.tempo = 60.0f;
    region.shaping.semitones = -24.0f;
    seeds.push_back(region);

    Seed fast = sliced; // a much higher target tempo
    fast.meter.tempo = 2000.0f;
    fast.shaping.tailExtension = 4.0f;
    seeds.push_back(fast);

    return seeds;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s <output directory>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path directory(argv[1]);
    std::filesystem::create_directories(directory);

    int index = 0;
    for (const Seed& seed : Seeds())
    {
        std::vector<uint8_t> chunk;
        WriteSettingsChunk(seed.slicePoints, seed.meter, seed.shaping, chunk);
        const std::filesystem::path file = directory / ("seed-" + std::to_string(index++));
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(chunk.data()),
                  static_cast<std::streamsize>(chunk.size()));
        if (!out)
        {
            std::fprintf(stderr, "cannot write %s\n", file.c_str());
            return 1;
        }
    }
    std::printf("%d seeds written to %s\n", index, directory.c_str());
    return 0;
}
