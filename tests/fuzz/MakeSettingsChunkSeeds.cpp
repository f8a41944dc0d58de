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

SlicePoint Point(uint32_t kind, uint32_t position, float strength = 1.0f)
{
    return {.kind = kind, .sourcePosition = position, .position = position, .strength = strength};
}

std::vector<Seed> Seeds()
{
    // Four user cuts over the whole 8192-frame test source, played at half speed.
    Seed cuts;
    cuts.slicePoints = {
        .sensitivity = 1.0f,
        .useUser = 1,
        .points = {Point(User, 1024), Point(User, 2048), Point(User, 4096), Point(User, 6144)},
        .regionEnd = 8192};
    cuts.meter.tempo = 120.0f;
    cuts.shaping = {.tailExtension = 0.5f, .tailLoopPosition = 0.5f};

    // Every kind and flag, an odd meter, an envelope, transposition and gain.
    Seed mixed = cuts;
    mixed.slicePoints.sensitivity = 0.5f;
    mixed.slicePoints.useMarkers = mixed.slicePoints.useDetected = 1;
    mixed.slicePoints.points = {Point(Marker, 500, 0.75f), Point(Detected, 1500, 0.3f),
                                Point(Detected, 3000, 0.1f), Point(User, 5000)};
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

    // A region inside the source, with points before, on and beyond its ends.
    Seed region = cuts;
    region.slicePoints.regionStart = 1000;
    region.slicePoints.regionEnd = 7000;
    region.slicePoints.points.insert(region.slicePoints.points.begin(), Point(User, 0));
    region.slicePoints.points.push_back(Point(User, 9000));
    region.meter.tempo = 60.0f;
    region.shaping.semitones = -24.0f;

    // A far higher target tempo with long tails.
    Seed fast = cuts;
    fast.meter.tempo = 2000.0f;
    fast.shaping.tailExtension = 4.0f;

    return {Seed{}, cuts, mixed, region, fast};
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
    const std::vector<Seed> seeds = Seeds();
    for (size_t i = 0; i < seeds.size(); ++i)
    {
        std::vector<uint8_t> chunk;
        WriteSettingsChunk(seeds[i].slicePoints, seeds[i].meter, seeds[i].shaping, chunk);
        const std::filesystem::path file = directory / ("seed-" + std::to_string(i));
        if (!std::ofstream(file, std::ios::binary | std::ios::trunc)
                 .write(reinterpret_cast<const char*>(chunk.data()),
                        static_cast<std::streamsize>(chunk.size())))
        {
            std::fprintf(stderr, "cannot write %s\n", file.c_str());
            return 1;
        }
    }
    std::printf("%zu seeds written to %s\n", seeds.size(), directory.c_str());
    return 0;
}
