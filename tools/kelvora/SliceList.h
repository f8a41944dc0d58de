// Slice points a user brings along instead of the analysis: the JSON that `kelvora analyse
// --json` prints (every point with its strength and edits, plus the meter and sensitivity it was
// analysed with, so a saved analysis restores exactly), or a CSV/text file of frame positions,
// one or more per line (each becomes a cut that always cuts).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace KelvoraCli
{

struct SliceList
{
    struct Point
    {
        uint32_t position = 0;
        float strength = 1.0f;
        bool locked = true;
        bool deleted = false;
        bool disabled = false; // switched off by the tool (DisableSlice)
        bool detected = false; // found by the analysis and not edited since
    };

    // What a saved analysis knew about the loop besides its points.
    struct Saved
    {
        uint32_t bars = 2;
        uint32_t extraBeats = 0;
        uint32_t beatsPerBar = 4;
        uint32_t beatUnit = 4;
        std::optional<float> fixedLoopTempo;
        float sensitivity = 0.0f;
        uint64_t frameCount = 0; // of the loop it was saved for; 0 when not said
    };

    std::vector<Point> points;  // ascending by position
    std::optional<Saved> saved; // JSON only

    // Reads `path` for the loop `input` of frameCount frames. A JSON file with several records
    // uses the one for the same file name. Throws ToolError naming the file for anything
    // unreadable, unsorted, or past the loop's end.
    static SliceList Read(const std::filesystem::path& path, const std::string& input,
                          uint32_t frameCount);
};

} // namespace KelvoraCli
