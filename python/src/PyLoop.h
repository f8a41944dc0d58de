#pragma once

#include "PlanarAudio.h"
#include "engine/KelvoraEngine.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace KelvoraPython
{

namespace py = pybind11;

// One row of Loop.slices. `disabled` and `added` are edits the engine applies but does not
// report; the Loop records them so that a saved loop can be restored exactly.
struct SliceRecord
{
    uint32_t position;
    uint32_t source_position;
    float ticks;
    float strength;
    bool locked;
    bool deleted;
    bool active;
    bool detected;
    bool disabled;
    bool added;
};

struct RegionRecord
{
    uint32_t start;
    uint32_t length;
};

// A loop in one engine, as Python sees it. Every engine call happens under `engineMutex`, so
// threads sharing one Loop take turns; analysis and rendering run with the GIL released, so
// different Loops on different threads run in parallel.
class PyLoop
{
public:
    // Builds the engine and hands it the loop. `slices` is None (analyse), a sequence of
    // positions or a structured array shaped like Loop.slices. Settings are keyword
    // arguments named like the properties.
    PyLoop(py::object audio, py::object sampleRate, py::object slices, py::object loopTempo,
           py::object outputRate, std::optional<int> channelAxis, const py::kwargs& settings);
    ~PyLoop();

    PyLoop(const PyLoop&) = delete;
    PyLoop& operator=(const PyLoop&) = delete;

    // Everything needed, besides the audio, to rebuild a Loop that renders the same samples.
    py::dict ToDict();
    static std::unique_ptr<PyLoop> FromDict(const py::dict& state, py::object audio,
                                            std::optional<int> channelAxis);
    py::tuple GetState();
    static std::unique_ptr<PyLoop> SetState(const py::tuple& state);

    py::object Get(const char* setting);
    void Set(const char* setting, py::object value);

    uint32_t SampleRate() const { return sampleRate; }
    uint32_t OutputRate() const { return outputRate != 0 ? outputRate : sampleRate; }
    void SetOutputRate(py::object value);
    py::object LoopTempo();
    void SetLoopTempo(py::object value);
    float DetectionWindow();
    void SetDetectionWindow(py::object value);
    uint32_t Frames() const { return audio.Frames(); }
    uint32_t Channels() const { return audio.Channels(); }
    py::array Audio() const { return audio.Planar(); }

    py::array Slices();
    py::array Regions();
    uint32_t Add(py::object position);
    void Edit(py::object index, py::object position, py::object ticks, py::object strength,
              py::object locked, py::object deleted);
    void Disable(py::object index);

    uint32_t RenderedLength();
    uint32_t PlayPosition();
    // Both return `out` when given: a writable (frames, channels) float32 array whose frames
    // are contiguous, rendered into without allocating.
    py::array Render(py::object passes, py::object out);
    py::array Play(py::object frames, py::object out);
    void Start();
    void Stop();
    void Audition(py::object index);

private:
    struct Flags
    {
        bool disabled = false;
        bool added = false;
    };

    PyLoop(PlanarAudio audio, uint32_t sampleRate, uint32_t outputRate);
    uint32_t SliceCount();
    // The engine's slice records; the caller holds engineMutex.
    std::vector<VoKelvora::SliceInfo> Infos();
    // A Python index (negative counts from the end) into the slice list; the caller holds
    // engineMutex.
    uint32_t CheckedIndex(int64_t value, py::object index) const;
    void ApplySettings(const py::dict& settings);
    void RestoreSlices(const std::vector<VoKelvora::SliceInfo>& target,
                       const std::vector<Flags>& targetFlags);
    py::array RenderFrames(uint64_t frames, bool fromStart, py::object out);

    PlanarAudio audio;
    uint32_t sampleRate;
    uint32_t outputRate; // 0: the source rate
    std::optional<float> fixedLoopTempo;
    std::optional<float> sustainDb; // as last set; the engine keeps only the level
    std::vector<Flags> flags;       // one per slice point, in list order
    VoKelvora::KelvoraEngine* engine = nullptr;
    std::mutex engineMutex;
};

// Slice positions and strengths the engine finds in `audio`, as the Loop's analysis does.
py::tuple Detect(py::object audio, py::object sampleRate, py::object windowMs,
                 std::optional<int> channelAxis);

} // namespace KelvoraPython
