// A Standard MIDI File being built in memory: named tracks of tempo, time signature and note
// events at absolute tick positions, serialised as format 0 (everything merged into one track)
// or format 1 (the tracks as they are).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace KelvoraCli
{

class MidiFile
{
public:
    // The largest delta time a variable-length quantity can carry (four bytes of seven bits).
    static constexpr uint32_t MaxVariableLength = 0x0FFFFFFF;

    explicit MidiFile(uint16_t ticksPerQuarter);

    // Returns the new track's index.
    size_t AddTrack(const std::string& name);
    void AddTempo(size_t track, uint32_t tick, uint32_t microsecondsPerQuarter);
    // denominator is the note value (4 for x/4); it is stored as a power of two.
    void AddTimeSignature(size_t track, uint32_t tick, uint8_t numerator, uint32_t denominator);
    // A note from start to end (at least one tick long). channel 0..15, key and velocity 0..127.
    void AddNote(size_t track, uint8_t channel, uint8_t key, uint8_t velocity, uint32_t start,
                 uint32_t end);

    // format 0 or 1; anything else is treated as 1.
    std::string Serialise(int format) const;

    uint16_t TicksPerQuarter() const { return ticksPerQuarter; }
    size_t TrackCount() const { return tracks.size(); }

    // Appends value as a MIDI variable-length quantity, most significant group first; values
    // above MaxVariableLength are clamped to it.
    static void AppendVariableLength(std::string& out, uint32_t value);
    // The tempo meta value for a tempo counted in beats of note value 1/beatUnit, clamped to
    // the 24 bits the event holds (and at least 1).
    static uint32_t MicrosecondsPerQuarter(double beatsPerMinute, uint32_t beatUnit);

private:
    struct Event
    {
        uint32_t tick;
        // At equal ticks: meta events first, then note offs, then note ons, so a note that ends
        // where the next begins is released before the next is struck.
        int order;
        std::string bytes;
    };

    struct Track
    {
        std::string name;
        std::vector<Event> events;
    };

    void AddEvent(size_t track, uint32_t tick, int order, std::string bytes);
    static std::string TrackChunk(const std::string& name, std::vector<Event> events);

    uint16_t ticksPerQuarter;
    std::vector<Track> tracks;
};

} // namespace KelvoraCli
