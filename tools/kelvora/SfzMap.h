// An SFZ instrument that maps one key to each sample file, so the exported slices play from a
// sampler with the same notes as the exported MIDI file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace KelvoraCli
{

class SfzMap
{
public:
    explicit SfzMap(std::string comment);

    // sample is a path relative to the .sfz file.
    void AddRegion(const std::string& sample, uint8_t key);
    std::string Text() const;

private:
    struct Region
    {
        std::string sample;
        uint8_t key;
    };

    std::string comment;
    std::vector<Region> regions;
};

} // namespace KelvoraCli
