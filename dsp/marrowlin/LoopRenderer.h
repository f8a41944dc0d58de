#pragma once

#include "dsp/marrowlin/SourceAudio.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace DSP::Marrowlin
{

class Loop;
class SliceRenderer;

enum class LoopRendererMode : uint32_t
{
    Idle = 0,
    Audition = 1,
    LoopPlayback = 2,
};

// Plays the Loop's render slices on an output timeline of the Loop's output length, starting
// each slice at its output position on one of two alternating voices.
class LoopRenderer
{
public:
    explicit LoopRenderer(Loop* loop);
    virtual ~LoopRenderer();

    LoopRenderer(const LoopRenderer&) = delete;
    LoopRenderer& operator=(const LoopRenderer&) = delete;

    void SetSource(SourceAudio* source);
    void Resync();
    std::optional<uint32_t> GetPlayPosition() const;
    void AuditionSlice(uint32_t sourceStart, uint32_t sourceLength);
    void PlayLoop();
    void Stop();
    // Adds the playing voices into frames 0..frameCount-1 of every source channel.
    void Render(uint32_t frameCount, float** channels);

    LoopRendererMode GetMode() const { return mode; }
    uint32_t GetPosition() const { return position; }
    uint32_t GetLoopLength() const { return loopLength; }
    uint32_t GetNextSlice() const { return nextSlice; }
    uint32_t GetNextVoice() const { return nextVoice; }
    const SliceRenderer& GetVoice(uint32_t index) const { return *voices[index]; }

private:
    void RenderLoopPlayback(uint32_t frameCount, float** channels);

    Loop* loop;
    SourceAudio* source = nullptr;
    LoopRendererMode mode = LoopRendererMode::Idle;
    uint32_t position = 0;
    uint32_t loopLength = 0;
    uint32_t reportedPosition = 0;
    uint32_t nextSlice = 0;
    uint32_t nextVoice = 0;
    std::vector<std::shared_ptr<SliceRenderer>> voices;
};

} // namespace DSP::Marrowlin
