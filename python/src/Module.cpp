// The `kelvora` Python module: numpy in, numpy out, over the library's public interface.
#include "PlanarAudio.h"
#include "PyLoop.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

namespace py = pybind11;
using KelvoraPython::PyLoop;

namespace
{

struct SettingDoc
{
    const char* name;
    const char* doc;
};

constexpr SettingDoc SettingDocs[] = {
    {"ticks_per_beat", "Resolution of pinned musical positions, ticks per beat (1 to 65536)."},
    {"bars", "Whole bars in the loop (1 to 1024); with the meter it sets the loop's tempo."},
    {"beats_per_bar", "Beats in one bar (1 to 64)."},
    {"beat_unit", "Note value of one beat: 1, 2, 4, 8, 16 or 32 (4 = quarter note)."},
    {"extra_beats", "Beats after the whole bars (0 to 63)."},
    {"tempo", "Target tempo in BPM (above 0, up to 10000); slices are re-placed, not stretched."},
    {"sensitivity",
     "0 to 1: a point cuts the loop when its strength >= (1 - sensitivity)**2 (default 0.5)."},
    {"transpose", "Transposition in semitones (-48 to 48)."},
    {"fine_tune", "Fine tune in cents (-100 to 100)."},
    {"gain", "Gain of every slice in dB (-96 to 24); reaches a slice when it starts."},
    {"attack", "Envelope attack of every slice in ms (0 to 10000)."},
    {"hold", "Envelope hold in ms (0 to 10000)."},
    {"decay", "Envelope decay in ms (0 to 10000)."},
    {"sustain", "Envelope sustain level in dB (-400 to 0; -80 or below is silence, the default)."},
    {"tail_extension",
     "0 to 1: share of the silence after a short slice by which its release is lengthened."},
    {"tail_from_sound_end",
     "True: a slice's tail loop starts where its sound ends; False: at tail_loop_position."},
    {"tail_loop_position",
     "0 (slice end) to 1 (slice start): where the tail loop starts when not from the sound end."},
};

} // namespace

PYBIND11_MODULE(_kelvora, module)
{
    module.doc() = "Transient detection and tempo-independent loop slicing over numpy arrays.";
    module.attr("__version__") = KELVORA_PYTHON_VERSION;
    PYBIND11_NUMPY_DTYPE(KelvoraPython::SliceRecord, position, source_position, ticks, strength,
                         locked, deleted, active, detected, disabled, added);
    PYBIND11_NUMPY_DTYPE(KelvoraPython::RegionRecord, start, length);

    module.def("detect", &KelvoraPython::Detect, py::arg("audio"), py::arg("sample_rate"),
               py::arg("window_ms") = 75.0, py::kw_only(), py::arg("channel_axis") = py::none(),
               R"doc(Finds the transients of a loop, as Loop does when it analyses one.

audio: float array shaped (frames,), (frames, channels) or (channels, frames); see Loop.
sample_rate: Hz, a positive whole number. window_ms: detection window (above 0, up to 1000);
wider windows keep fewer, stronger hits.

Returns (positions, strengths): uint32 frame positions in ascending order and float32
strengths from 0 to 1. The GIL is released while the analysis runs.)doc");

    py::class_<PyLoop> loop(module, "Loop", R"doc(A loop cut into slices at its transients.

Loop(audio, sample_rate, *, slices=None, loop_tempo=None, output_rate=None,
     channel_axis=None, **settings)

audio is a float array shaped (frames,), (frames, channels) as soundfile returns it, or
(channels, frames). A 2-D array's channel axis is the smaller dimension when that is at most 8
and the two differ; otherwise pass channel_axis=0 or 1. float32 input whose frames are
contiguous (C-contiguous (channels, frames), or the transpose of one) is used without a copy;
anything else is converted once. The Loop holds the array for its whole life: deleting your
reference is safe, but writing into the array changes what the Loop plays.

Without slices the loop is analysed. slices may instead be ascending frame positions or a
structured array shaped like Loop.slices; the loop then plays at loop_tempo (BPM), or at the
tempo its meter gives. Settings are the properties below, as keywords (for example
Loop(x, 44100, tempo=100, bars=1, sensitivity=0.6)); tempo 0 or absent plays at the loop's own
tempo. Bad types raise TypeError, bad values ValueError.

Analysis and rendering release the GIL: Loops on different threads run in parallel, and calls
on one Loop from several threads take turns.)doc");

    loop.def(py::init<py::object, py::object, py::object, py::object, py::object,
                      std::optional<int>, const py::kwargs&>(),
             py::arg("audio"), py::arg("sample_rate"), py::kw_only(),
             py::arg("slices") = py::none(), py::arg("loop_tempo") = py::none(),
             py::arg("output_rate") = py::none(), py::arg("channel_axis") = py::none());

    for (const SettingDoc& setting : SettingDocs)
    {
        const std::string name = setting.name;
        loop.def_property(
            setting.name, [name](PyLoop& self) { return self.Get(name.c_str()); },
            [name](PyLoop& self, py::object value) { self.Set(name.c_str(), value); }, setting.doc);
    }
    loop.def_property("loop_tempo", &PyLoop::LoopTempo, &PyLoop::SetLoopTempo,
                      "The loop's own tempo in BPM: the fixed one, or the meter's beats over the "
                      "loop length. Setting a number fixes it; None derives it from the meter.")
        .def_property("detection_window", &PyLoop::DetectionWindow, &PyLoop::SetDetectionWindow,
                      "Transient detection window in ms (above 0, up to 1000, default 75). "
                      "Changing it analyses the loop again and replaces every slice point.")
        .def_property("output_rate", &PyLoop::OutputRate, &PyLoop::SetOutputRate,
                      "Sample rate of the rendered audio in Hz (1000 to 768000); None or 0 "
                      "renders at the source rate.")
        .def_property_readonly("sample_rate", &PyLoop::SampleRate, "The loop's sample rate in Hz.")
        .def_property_readonly("frames", &PyLoop::Frames, "Frames in the loop.")
        .def_property_readonly("channels", &PyLoop::Channels, "Channels in the loop.")
        .def_property_readonly("audio", &PyLoop::Audio,
                               "The (channels, frames) float32 samples the engine reads.")
        .def_property_readonly("rendered_length", &PyLoop::RenderedLength,
                               "Frames of one pass of the loop at the target tempo and output "
                               "rate.")
        .def_property_readonly("position", &PyLoop::PlayPosition,
                               "The source frame being played; 0 while stopped.")
        .def_property_readonly("slices", &PyLoop::Slices,
                               R"doc(Every slice point, as a numpy structured array (a copy).

Fields: position (uint32, the frame it cuts at), source_position (where it was first placed),
ticks (float32 pinned musical position, -1 when not pinned), strength (float32, 0 to 1),
locked (always cuts unless deleted), deleted (never cuts), active (cuts now), detected (found by
the analysis and not edited), disabled (switched off by disable()), added (made by add()).)doc")
        .def_property_readonly("regions", &PyLoop::Regions,
                               "The slices the active points cut the loop into: a structured "
                               "array of (start, length) in frames.")
        .def("add", &PyLoop::Add, py::arg("position"),
             "Adds a point at a frame position (0 to frames) that always cuts unless deleted or "
             "disabled; the points are sorted by position. Returns the new point's index.")
        .def(
            "move",
            [](PyLoop& self, py::object index, py::object position)
            { self.Edit(index, position, py::none(), py::none(), py::none(), py::none()); },
            py::arg("index"), py::arg("position"),
            "Moves point `index` to a frame position; the list keeps its order.")
        .def(
            "lock",
            [](PyLoop& self, py::object index, py::object locked)
            { self.Edit(index, py::none(), py::none(), py::none(), locked, py::none()); },
            py::arg("index"), py::arg("locked") = true,
            "Locks a point on (it cuts whatever the sensitivity), or unlocks it.")
        .def(
            "delete",
            [](PyLoop& self, py::object index, py::object deleted)
            { self.Edit(index, py::none(), py::none(), py::none(), py::none(), deleted); },
            py::arg("index"), py::arg("deleted") = true,
            "Deletes a point (it never cuts; it stays in the list), or restores it.")
        .def("edit", &PyLoop::Edit, py::arg("index"), py::kw_only(),
             py::arg("position") = py::none(), py::arg("ticks") = py::none(),
             py::arg("strength") = py::none(), py::arg("locked") = py::none(),
             py::arg("deleted") = py::none(),
             "Changes any of a point's position, ticks (a pinned musical position; -1 unpins), "
             "strength, locked and deleted; the point becomes a user point.")
        .def("disable", &PyLoop::Disable, py::arg("index"),
             "Switches a point off: it no longer cuts unless locked. Cannot be undone.")
        .def("render", &PyLoop::Render, py::arg("passes") = 1, py::kw_only(),
             py::arg("out") = py::none(),
             R"doc(Plays the loop from its start `passes` times at the target tempo.

Returns a (frames, channels) float32 array of passes x rendered_length frames (a transposed
view of planar memory; np.ascontiguousarray gives interleaved rows), or fills and returns `out`:
a writable array of that shape with contiguous frames, such as
np.empty((channels, frames), np.float32).T, so repeated renders allocate nothing. Leaves the
loop stopped.
The GIL is released while rendering.)doc")
        .def("play", &PyLoop::Play, py::arg("frames"), py::kw_only(), py::arg("out") = py::none(),
             "Renders the next `frames` frames of what is playing (silence while stopped), for "
             "streaming block by block after start() or audition(); (frames, channels) float32, "
             "or `out` filled as in render().")
        .def("start", &PyLoop::Start, "Starts the loop from its start, repeating.")
        .def("stop", &PyLoop::Stop, "Stops playback.")
        .def("audition", &PyLoop::Audition, py::arg("index"),
             "Plays once the slice that point `index` lies in; pull it with play().")
        .def("to_dict", &PyLoop::ToDict,
             "Every setting and slice point, disabled and added ones included, as plain Python "
             "values (JSON-ready). Loop.from_dict(state, audio) renders the same samples.")
        .def_static("from_dict", &PyLoop::FromDict, py::arg("state"), py::arg("audio"),
                    py::kw_only(), py::arg("channel_axis") = py::none(),
                    "Rebuilds a Loop saved with to_dict() on the same audio.")
        .def("__repr__",
             [](PyLoop& self)
             {
                 return "<kelvora.Loop " + std::to_string(self.Frames()) + " frames x " +
                        std::to_string(self.Channels()) + " at " +
                        std::to_string(self.SampleRate()) + " Hz, " +
                        std::to_string(py::len(self.Slices())) + " points, " +
                        py::str(py::repr(py::float_(self.Get("tempo")))).cast<std::string>() +
                        " BPM>";
             })
        .def(py::pickle([](PyLoop& self) { return self.GetState(); },
                        [](const py::tuple& state) { return PyLoop::SetState(state); }));
}
