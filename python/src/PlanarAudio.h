#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace KelvoraPython
{

namespace py = pybind11;

// A numpy array seen as planar float32 audio: one pointer per channel, each to `frames`
// contiguous samples. Input whose frames are already contiguous float32 samples (a C-contiguous
// (channels, frames) or (frames,) array, or the transpose of one) is used in place; anything
// else is converted once into a (channels, frames) array that this object owns. Either way the
// array is held here, so the channel pointers stay valid as long as this object lives, whatever
// the caller does with its own reference. The samples are read, never written.
class PlanarAudio
{
public:
    // The most channels a 2-D array may have when its layout is inferred from its shape.
    static constexpr size_t MaxInferredChannels = 8;

    // `channelAxis` says which axis of a 2-D array holds the channels; without it the smaller
    // dimension does, when it is at most MaxInferredChannels and the two differ. Raises
    // TypeError for non-numeric or non-floating input, ValueError for shapes it cannot read.
    PlanarAudio(py::object audio, std::optional<int> channelAxis);

    uint32_t Frames() const { return frames; }
    uint32_t Channels() const { return static_cast<uint32_t>(pointers.size()); }
    float** Pointers() { return pointers.data(); }
    // The (channels, frames) array the pointers refer to, for saving the loop.
    py::array Planar() const { return owner; }

private:
    py::array owner;
    std::vector<float*> pointers;
    uint32_t frames = 0;
};

// A sample rate in Hz: a positive whole number that fits 32 bits. Raises TypeError for
// non-numbers and ValueError for NaN, infinities, fractions, zero and negative values.
uint32_t CheckedSampleRate(py::object rate, const char* name);

} // namespace KelvoraPython
