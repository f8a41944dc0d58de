#include "tools/kelvora/MidiFile.h"

#include <algorithm>
#include <cmath>

namespace KelvoraCli
{

namespace
{

constexpr int MetaOrder = 0;
constexpr int NoteOffOrder = 1;
constexpr int NoteOnOrder = 2;

void AppendBigEndian(std::string& out, uint32_t value, int bytes)
{
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
        out += static_cast<char>((value >> shift) & 0xFF);
}

std::string Meta(uint8_t type, const std::string& data)
{
    std::string bytes{'\xFF', static_cast<char>(type)};
    MidiFile::AppendVariableLength(bytes, static_cast<uint32_t>(data.size()));
    return bytes + data;
}

} // namespace

MidiFile::MidiFile(uint16_t ticks) : ticksPerQuarter(std::clamp<uint16_t>(ticks, 1, 0x7FFF)) {}

size_t MidiFile::AddTrack(const std::string& name)
{
    tracks.push_back({name, {}});
    return tracks.size() - 1;
}

void MidiFile::AddEvent(size_t track, uint32_t tick, int order, std::string bytes)
{
    if (track >= tracks.size())
        return;
    tracks[track].events.push_back({std::min(tick, MaxVariableLength), order, std::move(bytes)});
}

void MidiFile::AddTempo(size_t track, uint32_t tick, uint32_t microsecondsPerQuarter)
{
    std::string data;
    AppendBigEndian(data, std::clamp<uint32_t>(microsecondsPerQuarter, 1, 0xFFFFFF), 3);
    AddEvent(track, tick, MetaOrder, Meta(0x51, data));
}

void MidiFile::AddTimeSignature(size_t track, uint32_t tick, uint8_t numerator,
                                uint32_t denominator)
{
    uint8_t power = 0;
    while (power < 7 && (1u << (power + 1)) <= denominator)
        ++power;
    // 24 MIDI clocks per metronome click, 8 thirty-second notes per quarter: the usual values.
    const std::string data{static_cast<char>(numerator), static_cast<char>(power), 24, 8};
    AddEvent(track, tick, MetaOrder, Meta(0x58, data));
}

void MidiFile::AddNote(size_t track, uint8_t channel, uint8_t key, uint8_t velocity, uint32_t start,
                       uint32_t end)
{
    const char statusChannel = static_cast<char>(channel & 0x0F);
    key &= 0x7F;
    velocity = std::clamp<uint8_t>(velocity, 1, 127); // velocity 0 would mean note off
    end = std::max(end, start + 1);
    AddEvent(track, start, NoteOnOrder,
             {static_cast<char>(0x90 | statusChannel), static_cast<char>(key),
              static_cast<char>(velocity)});
    AddEvent(track, end, NoteOffOrder,
             {static_cast<char>(0x80 | statusChannel), static_cast<char>(key), 64});
}

void MidiFile::AppendVariableLength(std::string& out, uint32_t value)
{
    value = std::min(value, MaxVariableLength);
    char groups[4];
    int count = 0;
    do
    {
        groups[count++] = static_cast<char>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (count > 1)
        out += static_cast<char>(groups[--count] | 0x80);
    out += groups[0];
}

uint32_t MidiFile::MicrosecondsPerQuarter(double beatsPerMinute, uint32_t beatUnit)
{
    if (!(beatsPerMinute > 0.0) || !std::isfinite(beatsPerMinute) || beatUnit == 0)
        return 500000; // 120 quarter notes per minute, the MIDI default
    // A beat of 1/beatUnit lasts 60e6 / bpm microseconds; a quarter is beatUnit / 4 beats.
    const double micros = 60.0e6 / beatsPerMinute * (double(beatUnit) / 4.0);
    const double rounded = std::floor(micros + 0.5);
    return static_cast<uint32_t>(std::clamp(rounded, 1.0, double(0xFFFFFF)));
}

std::string MidiFile::TrackChunk(const std::string& name, std::vector<Event> events)
{
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b)
                     { return a.tick != b.tick ? a.tick < b.tick : a.order < b.order; });
    std::string body;
    if (!name.empty())
    {
        AppendVariableLength(body, 0);
        body += Meta(0x03, name);
    }
    uint32_t now = 0;
    for (const Event& event : events)
    {
        AppendVariableLength(body, event.tick - now);
        body += event.bytes;
        now = event.tick;
    }
    AppendVariableLength(body, 0);
    body += Meta(0x2F, "");

    std::string chunk = "MTrk";
    AppendBigEndian(chunk, static_cast<uint32_t>(body.size()), 4);
    return chunk + body;
}

std::string MidiFile::Serialise(int format) const
{
    std::vector<std::string> chunks;
    if (format == 0)
    {
        std::vector<Event> merged;
        for (const Track& track : tracks)
            merged.insert(merged.end(), track.events.begin(), track.events.end());
        chunks.push_back(TrackChunk(tracks.empty() ? "" : tracks.front().name, merged));
    }
    else
    {
        format = 1;
        for (const Track& track : tracks)
            chunks.push_back(TrackChunk(track.name, track.events));
        if (chunks.empty())
            chunks.push_back(TrackChunk("", {}));
    }

    std::string file = "MThd";
    AppendBigEndian(file, 6, 4);
    AppendBigEndian(file, static_cast<uint32_t>(format), 2);
    AppendBigEndian(file, static_cast<uint32_t>(chunks.size()), 2);
    AppendBigEndian(file, ticksPerQuarter, 2);
    for (const std::string& chunk : chunks)
        file += chunk;
    return file;
}

} // namespace KelvoraCli
