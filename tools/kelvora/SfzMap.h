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

    // sample is a path relative to the .sfz file, made of letters, digits, '.', '_' and '-'
    // (SFZ has no quoting; SafeName makes such a name). channel 0 answers on every MIDI
    // channel, 1..16 on that one only.
    void AddRegion(const std::string& sample, uint8_t key, uint8_t channel = 0);

    // `name` with every character that could end or split an SFZ value replaced by '_'.
    static std::string SafeName(const std::string& name);
    std::string Text() const;

private:
    struct Region
    {
        std::string sample;
        uint8_t key;
        uint8_t channel;
    };

    std::string comment;
    std::vector<Region> regions;
};

} // namespace KelvoraCli
