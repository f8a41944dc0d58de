// How long a loop is in musical terms, found rather than assumed. A loop's length alone fixes its
// tempo only once the number of beats is known, and 1, 2 and 4 bars of 4/4 at 240, 120 and 60 BPM
// all last the same two seconds. The estimator tries every bar count and meter that gives a
// musical tempo, lays each one's beat grid over the loop, and keeps the one whose grid best
// explains where the strong onsets fall, weighted by how common that tempo is in practice.
//
// Tempo convention: tempoBpm counts the meter's own beats, as the engine's loop tempo does
// (beats = bars * beatsPerBar + extraBeats over the loop length). A 6/8 bar therefore has six
// beats and a 6/8 tempo counts eighth notes.
//
// Plain functions: no state, no I/O, not for the real-time path (they allocate: vectors,
// strings). EstimateLoopMeter costs about (candidate meters, a few dozen to a few hundred) x
// (beats in the loop) x log(onsets); loops over a minute are not searched.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace KelvoraCli
{

// One detected slice point as the engine reports it: position in source frames and strength
// 0..1. Points may come in any order; non-finite strengths count as 0, points past the loop end
// are ignored.
struct Onset
{
    uint32_t frame = 0;
    float strength = 0.0f;
};

struct MeterChoice
{
    uint32_t bars = 2;
    uint32_t extraBeats = 0;
    uint32_t beatsPerBar = 4;
    uint32_t beatUnit = 4;
    double tempoBpm = 0.0;   // beats of the meter per minute (see above); 0 for an empty loop
    double confidence = 0.0; // 0..1: this choice's share of the evidence among all candidates
};

struct MeterEstimate
{
    MeterChoice best;
    std::optional<MeterChoice> runnerUp; // the second-best candidate, when there was a choice
    // True when the pick is a guess: fewer than three onsets at a fifth of the strongest's
    // strength or above, a loop too short for a bar or longer than a minute (the 4/4 length
    // nearest 115 BPM is taken), or a best choice with under 35 % of the evidence. The tool
    // should say so rather than present the tempo as found.
    bool weakEvidence = true;
    // One line for the user, e.g. "tempo 120.0 BPM: 1 bar of 4/4, from the onsets".
    std::string reason;
};

// Chooses bars, beats per bar (4/4, 3/4 or 6/8) and tempo for a loop of frameCount frames at
// sampleRate from its slice points (pass every detected point with its strength, not only those
// that cut: the weak ones are weighted down, not ignored). Never fails: a loop without enough
// onsets, or longer than a minute, gets the 4/4 length nearest the prior's centre, marked weak; an
// empty loop, or one shorter than a beat at 300 BPM, gets 0 bars, 0 beats and tempo 0, also weak.
MeterEstimate EstimateLoopMeter(uint64_t frameCount, uint32_t sampleRate,
                                const std::vector<Onset>& onsets);

// A tempo written into a file name by sample-pack convention ("Funk_128bpm.wav", "Loop 140 BPM
// Am.wav", "drums-96-dry.wav"); the directory part is ignored. A number marked "bpm" (before or
// after it) counts in 40..300 and wins; otherwise a bare number in 60..200 counts when it is a
// word of its own, not the first word (a track number), not a decimal and not followed by a unit
// (k, kHz, bit, bars, ...), and when no other such number disagrees with it. Sample rates, bit
// depths, years and keys ("A140", "96k", "24bit", "2019") are thereby not taken.
std::optional<double> TempoFromFileName(std::string_view path);

// The whole-bar length of beatsPerBar/beatUnit that makes a loop of frameCount frames play
// closest to tempoBpm: bars (and extraBeats when a whole number of bars does not fit) and the
// exact tempo that length implies. Confidence is 1 when that tempo is within 2 % of tempoBpm and
// falls linearly to 0 at 12 % off. A zero or non-finite input gives a zero tempo.
MeterChoice MeterForTempo(uint64_t frameCount, uint32_t sampleRate, double tempoBpm,
                          uint32_t beatsPerBar = 4, uint32_t beatUnit = 4);

// "1 bar of 4/4", "2 bars and 1 beat of 3/4": the length part of the summary line.
std::string DescribeMeter(const MeterChoice& meter);

// "tempo 120.0 BPM: 1 bar of 4/4, from the file name", with `source` after the comma.
std::string MeterSummary(const MeterChoice& meter, std::string_view source);

} // namespace KelvoraCli
