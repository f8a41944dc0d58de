#include "tools/kelvora/SfzMap.h"

#include <algorithm>
#include <cctype>

namespace KelvoraCli
{

SfzMap::SfzMap(std::string text) : comment(std::move(text))
{
    // A comment runs to the end of its line; a line break in a file name must not end it early.
    std::replace(comment.begin(), comment.end(), '\n', ' ');
    std::replace(comment.begin(), comment.end(), '\r', ' ');
}

void SfzMap::AddRegion(const std::string& sample, uint8_t key, uint8_t channel)
{
    regions.push_back(
        {SafeName(sample), static_cast<uint8_t>(key & 0x7F), std::min<uint8_t>(channel, 16)});
}

std::string SfzMap::SafeName(const std::string& name)
{
    std::string safe = name;
    for (char& c : safe)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-')
            c = '_';
    return safe;
}

std::string SfzMap::Text() const
{
    std::string text = "// " + comment + "\n\n";
    // Slices are cut to their own length, so they play through once per key press.
    text += "<global>\nloop_mode=one_shot\n\n";
    for (const Region& region : regions)
    {
        text += "<region> key=" + std::to_string(region.key);
        if (region.channel > 0)
            text += " lochan=" + std::to_string(region.channel) +
                    " hichan=" + std::to_string(region.channel);
        text += " sample=" + region.sample + "\n";
    }
    return text;
}

} // namespace KelvoraCli
