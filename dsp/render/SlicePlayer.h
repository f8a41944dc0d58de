#pragma once

#include "dsp/marrowlin/SourceAudio.h"

#include <cstdint>

namespace DSP
{

enum class PlayerState : uint32_t
{
    Stopped = 0,
    Forward = 1,
    EndCrossfade = 2,
    Reverse = 3,
    StartCrossfade = 4,
};

// Reads one slice of the source at a fractional rate with linear interpolation. Past the end of
// the slice it plays the slice's tail back and forth, each turn blended with a linear crossfade
// between the outgoing head and a mirrored incoming one, for as long as it is rendered; without a
// tail (tail start at the slice's end) it stops at the end of the slice.
class SlicePlayer
{
public:
    SlicePlayer() = default;

    void SetSource(Marrowlin::SourceAudio* source);
    // Positions are source frames relative to `start`. A tail start past the slice is taken as
    // the slice's end (no tail loop); the crossfade is at most half the tail.
    void Setup(uint32_t start, uint32_t length, uint32_t tailStart, uint32_t requestedCrossfade,
               double rate);
    // Source frames per output frame. A rate that is not a positive number (NaN, 0, negative)
    // holds the heads where they are.
    void SetRate(double rate);
    double GetRate() const { return rate; }

    // Clears frames samples of each source channel's buffer and writes the slice into them. When
    // a sink is given it receives the absolute source frame being played.
    void Render(uint32_t frames, float** buffers, uint32_t* sink);

    PlayerState GetState() const { return state; }
    double GetPosition() const { return position; }
    double GetReversePosition() const { return reversePosition; }
    bool IsWrapped() const { return wrapped; }
    uint32_t GetTailStart() const { return tailStart; }
    uint32_t GetCrossfade() const { return crossfade; }
    uint32_t GetEndFadeStart() const { return endFadeStart; }
    uint32_t GetStartFadeEnd() const { return startFadeEnd; }

private:
    // The reads of one chunk of output frames: every frame's head with its gain and, while
    // crossfading, the second head with its gain and the frame it belongs to.
    struct ChunkReads;

    // Runs the state machine from frame n of a chunk until its state changes or frame `limit`,
    // recording the reads in `reads`. Returns the next frame.
    uint32_t Advance(ChunkReads& reads, uint32_t n, uint32_t limit);
    static void AddCrossfadeReads(ChunkReads& reads, uint32_t n, double head, float gain,
                                  double crossHead, float crossGain);
    bool SourceIsReadable() const;
    uint32_t ReportedFrame() const;

    Marrowlin::SourceAudio* source = nullptr;
    uint32_t start = 0;
    uint32_t length = 0;
    uint32_t tailStart = 0;
    uint32_t crossfade = 0;
    uint32_t endFadeStart = 0;
    uint32_t startFadeEnd = 0;
    double position = 0.0;
    double reversePosition = 0.0;
    double rate = 0.0;
    PlayerState state = PlayerState::Forward;
    bool wrapped = false;
};

} // namespace DSP
