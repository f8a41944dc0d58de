#pragma once

#include <cstdint>
#include <vector>

// Onset feature tracks: one float per analysis frame, frames centred on multiples of the hop.
// Frames sum channel 0 and, when present, channel 1 (further channels are not used), weighted by
// a unit-mean Hann window; samples outside [0, length) read as zero, as do null channels.
// A loop shorter than four hops yields four zeros.
namespace DSP
{

// Wide-context spectral flux: per frame, the mean over bins of the positive part of
// (the frame and the 7 following) minus (the 8 preceding), on the square root of the magnitude.
// frameSize is rounded up to a power of two for the transform.
void SpectralFluxTrack(const float* const* channels, uint32_t channelCount, uint32_t length,
                       float sampleRate, int32_t offset, int32_t frameSize, int32_t hop,
                       std::vector<float>& out);

// The flux at frameSize and the energy at frameSize / 2, both with offset 0 and hop `hop`: the
// values of the two calls, taken in one pass over the audio (where the frames are four hops, the
// energy frames are the middle halves of the flux frames and share their samples).
void FluxAndEnergyTracks(const float* const* channels, uint32_t channelCount, uint32_t length,
                         float sampleRate, int32_t frameSize, int32_t hop, std::vector<float>& flux,
                         std::vector<float>& energy);

// Fourth root of the windowed frame energy.
void EnergyTrack(const float* const* channels, uint32_t channelCount, uint32_t length,
                 float sampleRate, int32_t offset, int32_t frameSize, int32_t hop,
                 std::vector<float>& outEnergy);

} // namespace DSP
