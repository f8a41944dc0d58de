// Draws a loop as an SVG picture: the waveform (min/max per pixel column over all channels), the
// beat grid of its meter, the regions the active cuts make, and one marker per slice point whose
// height is its strength, active ones highlighted.
#pragma once

#include <string>

namespace KelvoraCli
{

class AudioFile;
struct LoopReport;

class WaveformSvg
{
public:
    WaveformSvg(int width, int height);

    std::string Draw(const AudioFile& audio, const LoopReport& report) const;

    // Text safe inside XML elements and attribute values.
    static std::string Escape(const std::string& text);

private:
    int width;
    int height;
};

} // namespace KelvoraCli
