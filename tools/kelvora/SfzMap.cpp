#include "tools/kelvora/SfzMap.h"

#include <algorithm>

namespace KelvoraCli
{

SfzMap::SfzMap(std::string text) : comment(std::move(text))
{
    // A comment runs to the end of its line; a line break in a file name must not end it early.
    std::replace(comment.begin(), comment.end(), '\n', ' ');
    std::replace(comment.begin(), comment.end(), '\r', ' ');
}

void SfzMap::AddRegion(const std::string& sample, uint8_t key)
{
    regions.push_back({sample, static_cast<uint8_t>(key & 0x7F)});
}

std::string SfzMap::Text() const
{
    std::string text = "// " + comment + "\n\n";
    // Slices are cut to their own length, so they play through once per key press.
    text += "<global>\nloop_mode=one_shot\n\n";
    for (const Region& region : regions)
    {
        const std::string key = std::to_string(region.key);
        // sample= last: its value runs to the end of the line, spaces included.
        text += "<region> key=" + key + " sample=" + region.sample + "\n";
    }
    return text;
}

} // namespace KelvoraCli
