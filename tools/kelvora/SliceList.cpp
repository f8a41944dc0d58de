#include "tools/kelvora/SliceList.h"

#include "tools/kelvora/ToolError.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace KelvoraCli
{

namespace
{

// The record of a saved analysis that belongs to `input`: the same name as given, else the same
// file name, else the only record there is.
const nlohmann::json& RecordFor(const nlohmann::json& document, const std::string& input,
                                const std::string& name)
{
    if (document.is_object())
        return document;
    if (!document.is_array() || document.empty())
        throw ToolError::About(name, "holds no analysis record");
    const std::string fileName = std::filesystem::path(input).filename().string();
    for (const auto& byPath : {true, false})
        for (const auto& record : document)
        {
            const std::string file = record.value("file", "");
            if (byPath ? file == input
                       : std::filesystem::path(file).filename().string() == fileName)
                return record;
        }
    if (document.size() == 1)
        return document.front();
    throw ToolError::About(name, "has no record for " + input);
}

SliceList FromJson(const nlohmann::json& record)
{
    SliceList list;
    SliceList::Saved saved;
    if (record.contains("meter"))
    {
        const auto& meter = record.at("meter");
        saved.bars = meter.value("bars", saved.bars);
        saved.extraBeats = meter.value("extraBeats", saved.extraBeats);
        saved.beatsPerBar = meter.value("beatsPerBar", saved.beatsPerBar);
        saved.beatUnit = meter.value("beatUnit", saved.beatUnit);
    }
    if (record.value("loopTempoFixed", false))
        saved.fixedLoopTempo = record.at("loopTempo").get<float>();
    saved.sensitivity = record.value("sensitivity", 0.0f);
    saved.frameCount = record.value("frames", uint64_t(0));
    list.saved = saved;
    for (const auto& slice : record.at("slices"))
    {
        SliceList::Point point;
        point.position = slice.at("position").get<uint32_t>();
        // A point without a strength was written by hand; it cuts as the file says.
        if (slice.contains("strength") && slice["strength"].is_number())
        {
            point.strength = slice["strength"].get<float>();
            point.locked = slice.value("locked", false);
        }
        else
            point.locked = slice.value("active", true);
        point.deleted = slice.value("deleted", false);
        point.disabled = slice.value("disabled", false);
        point.detected = slice.value("detected", false);
        list.points.push_back(point);
    }
    return list;
}

SliceList FromText(std::istream& in, const std::string& name)
{
    SliceList list;
    std::string line;
    for (size_t number = 1; std::getline(in, line); ++number)
    {
        std::replace_if(
            line.begin(), line.end(), [](char c) { return c == ',' || c == ';' || c == '\t'; },
            ' ');
        std::istringstream words(line);
        std::string word;
        while (words >> word)
        {
            if (word.front() == '#')
                break;
            const bool digits = std::all_of(word.begin(), word.end(),
                                            [](unsigned char c) { return std::isdigit(c); });
            if (!digits || word.size() > 10 || std::stoull(word) > UINT32_MAX)
            {
                // A header line of column names is fine; anything else is a mistake.
                if (list.points.empty() && number == 1)
                    break;
                throw ToolError::About(name, "line " + std::to_string(number) + ": '" + word +
                                                 "' is not a frame position");
            }
            list.points.push_back({static_cast<uint32_t>(std::stoull(word))});
        }
    }
    std::sort(list.points.begin(), list.points.end(),
              [](const auto& a, const auto& b) { return a.position < b.position; });
    list.points.erase(std::unique(list.points.begin(), list.points.end(),
                                  [](const auto& a, const auto& b)
                                  { return a.position == b.position; }),
                      list.points.end());
    return list;
}

} // namespace

SliceList SliceList::Read(const std::filesystem::path& path, const std::string& input,
                          uint32_t frameCount)
{
    const std::string name = path.string();
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw ToolError::About(name,
                               std::filesystem::exists(path) ? "cannot be read" : "file not found");
    std::stringstream text;
    text << file.rdbuf();
    const std::string content = text.str();
    const size_t first = content.find_first_not_of(" \t\r\n");
    SliceList list;
    if (first != std::string::npos && (content[first] == '[' || content[first] == '{'))
    {
        try
        {
            list = FromJson(RecordFor(nlohmann::json::parse(content), input, name));
        }
        catch (const nlohmann::json::exception& error)
        {
            throw ToolError::About(name, std::string("not a slice list: ") + error.what());
        }
    }
    else
    {
        std::istringstream lines(content);
        list = FromText(lines, name);
    }
    if (list.points.empty())
        throw ToolError::About(name, "holds no slice points");
    if (list.saved && list.saved->frameCount != 0 && list.saved->frameCount != frameCount)
        throw ToolError::About(name, "was saved for a loop of " +
                                         std::to_string(list.saved->frameCount) + " frames; " +
                                         input + " has " + std::to_string(frameCount));
    for (size_t i = 0; i < list.points.size(); ++i)
    {
        if (list.points[i].position > frameCount)
            throw ToolError::About(name, "slice point at frame " +
                                             std::to_string(list.points[i].position) +
                                             " lies past the end of " + input + " (" +
                                             std::to_string(frameCount) + " frames)");
        if (i > 0 && list.points[i].position < list.points[i - 1].position)
            throw ToolError::About(name, "slice points are not in ascending order");
    }
    return list;
}

} // namespace KelvoraCli
