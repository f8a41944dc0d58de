#pragma once

#include "dsp/analysis/TransientCandidate.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace DSP
{

struct DetectedTransient
{
    uint32_t position = 0; // samples from the start of the audio
    float strength = 0.0f; // (0, 1]
};

// Finds the transients of planar audio; `out` is cleared first and filled in fine-frame order.
void DetectTransients(uint32_t sampleRate, uint32_t channelCount, uint32_t length,
                      const float* const* channels, std::vector<DetectedTransient>& out,
                      float detectionWindowMs);

// The working state of one detection run: three onset feature tracks computed once, and the
// candidates of the latest peak-picking pass, one per fine frame. The fields are open so that
// the picking can be studied on tracks prepared by hand.
class TransientDetector
{
public:
    // Chooses the frame sizes for the sample rate and fills the three tracks.
    void ComputeFeatures(const float* const* channels, uint32_t channelCount, uint32_t length,
                         float sampleRate);

    // Keeps the coarse flux peaks that no stronger neighbour within the window suppresses, in
    // either direction, and places each one on the fine grid, sample-accurately where the energy
    // shows a clear rise. Reassigns `candidates` (one entry per fine flux frame).
    void PickPeaks(const float* const* channels, uint32_t channelCount, uint32_t length,
                   float sampleRate, float floorScale, float windowSeconds);

    // The coarse frame size: the smallest power of two, at least 16, not below 4 ms of audio.
    // Rates beyond any 32-bit rate (and infinity) stop at 2^25.
    static int32_t BaseFrameSize(float sampleRate);

    // The suppression radius in coarse frames, windowSeconds * sampleRate / hopCoarse rounded.
    // NaN and negative windows give 0 (nothing is suppressed, as a negative radius would);
    // radii above twice the frame count give twice the frame count, which already spans every
    // frame at weight 1, so the result is the same as for any larger radius.
    static int64_t SuppressionRadius(float windowSeconds, float sampleRate, int32_t hopCoarse,
                                     size_t coarseFrames);

    // Folds the candidates of pass `pass` (0..3) into `best`: each candidate scores within the
    // pass's quarter of [0, 1] relative to the pass's strongest, and replaces the entry in `best`
    // when that score beats the entry's strength. `best` is resized to the candidates first.
    static void ScorePass(const std::vector<TransientCandidate>& candidates, int pass,
                          std::vector<TransientCandidate>& best);

    // Appends one transient per non-zero entry of `best`, in entry order, with strengths
    // normalised to the strongest. Positions outside the audio are reported as 0.
    static void EmitTransients(const std::vector<TransientCandidate>& best, int32_t hopFine,
                               uint32_t length, std::vector<DetectedTransient>& out);

    // The sample-accurate search: among the 32 positions from `start`, the first where the
    // rooted level of all channels rises most steeply. Samples outside the audio read as zero.
    static int32_t FindStep(const float* const* channels, uint32_t channelCount, uint32_t length,
                            int64_t start);

    std::vector<TransientCandidate> candidates;
    std::vector<float> fluxCoarse; // frame N, hop hopCoarse
    std::vector<float> fluxFine;   // frame N/4, hop hopFine
    std::vector<float> energyFine; // frame N/8, hop hopFine
    int32_t hopFine = 0;           // N/16
    int32_t hopCoarse = 0;         // N/4

private:
    static void Suppress(std::vector<float>& values, int64_t radius, bool backward);
    void PlacePeak(const float* const* channels, uint32_t channelCount, uint32_t length,
                   int64_t coarseFrame, float strength);
};

} // namespace DSP
