#include "PyLoop.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <string>
#include <string_view>

namespace KelvoraPython
{

using VoKelvora::EnvelopeSettings;
using VoKelvora::KelvoraEngine;
using VoKelvora::MeterLayout;
using VoKelvora::SliceInfo;

namespace
{

// Frames per engine call when a whole loop is rendered. The output does not depend on it; a
// block this size keeps the per-call cost negligible without a large scratch buffer.
constexpr uint32_t RenderBlock = 4096;
constexpr float MaxTempo = 10000.0f;
constexpr float NotPinned = -1.0f;
// What the engine reports for a silent sustain, and the level it stores for it.
constexpr float SilentSustainDb = -400.0f;
constexpr double DefaultSensitivity = 0.5;

enum class Kind
{
    Real,
    Whole,
    Flag,
};

// Every engine setting a Python user can change, in the order a new Loop applies them: the
// meter before the tempo that depends on it, shaping last, as a host restoring a loop must.
// A setting lives in a field of the meter, in a field of the envelope, or behind an engine
// getter and setter of its own; the three that fit none of these (ticks per beat, the tail flag
// and the sustain level) are handled by name.
struct Setting
{
    std::string_view name;
    Kind kind;
    double min;
    double max;
    const char* unit;
    bool aboveMin = false; // the minimum itself is refused
    uint32_t MeterLayout::*meterField = nullptr;
    float EnvelopeSettings::*envelopeField = nullptr;
    float (KelvoraEngine::*get)() = nullptr;
    void (KelvoraEngine::*set)(float) = nullptr;
};

using Engine = KelvoraEngine;

// clang-format off
constexpr Setting Settings[] = {
    {"ticks_per_beat", Kind::Whole, 1, 65536, "ticks"},
    {"bars", Kind::Whole, 1, 1024, "bars", false, &MeterLayout::bars},
    {"beats_per_bar", Kind::Whole, 1, 64, "beats", false, &MeterLayout::beatsPerBar},
    {"beat_unit", Kind::Whole, 1, 32, "(1, 2, 4, 8, 16 or 32)", false, &MeterLayout::beatUnit},
    {"extra_beats", Kind::Whole, 0, 63, "beats", false, &MeterLayout::extraBeats},
    {"tempo", Kind::Real, 0, MaxTempo, "BPM", true, {}, {}, &Engine::GetTempo, &Engine::SetTempo},
    {"sensitivity", Kind::Real, 0, 1, "", false, {}, {},
     &Engine::GetSensitivity, &Engine::SetSensitivity},
    {"transpose", Kind::Real, -48, 48, "semitones", false, {}, {},
     &Engine::GetTranspose, &Engine::SetTranspose},
    {"fine_tune", Kind::Real, -100, 100, "cents", false, {}, {},
     &Engine::GetFineTune, &Engine::SetFineTune},
    {"gain", Kind::Real, -96, 24, "dB", false, {}, {}, &Engine::GetGain, &Engine::SetGain},
    {"attack", Kind::Real, 0, 10000, "ms", false, {}, &EnvelopeSettings::attackMs},
    {"hold", Kind::Real, 0, 10000, "ms", false, {}, &EnvelopeSettings::holdMs},
    {"decay", Kind::Real, 0, 10000, "ms", false, {}, &EnvelopeSettings::decayMs},
    {"sustain", Kind::Real, -400, 0, "dB"},
    {"tail_extension", Kind::Real, 0, 1, "", false, {}, {},
     &Engine::GetTailExtension, &Engine::SetTailExtension},
    {"tail_from_sound_end", Kind::Flag, 0, 1, ""},
    {"tail_loop_position", Kind::Real, 0, 1, "", false, {}, {},
     &Engine::GetTailLoopPosition, &Engine::SetTailLoopPosition},
};
// clang-format on

constexpr Setting LoopTempoSetting{"loop_tempo", Kind::Real, 0, MaxTempo, "BPM", true};

const Setting& FindSetting(std::string_view name)
{
    for (const Setting& setting : Settings)
        if (setting.name == name)
            return setting;
    throw py::type_error("no setting named '" + std::string(name) + "'");
}

std::string TypeName(py::object value)
{
    return py::str(py::type::of(value).attr("__name__")).cast<std::string>();
}

std::string Number(double value)
{
    return py::repr(py::float_(value)).cast<std::string>();
}

double RealValue(py::object value, std::string_view name)
{
    if (PyBool_Check(value.ptr()) || !PyNumber_Check(value.ptr()) || PyComplex_Check(value.ptr()))
        throw py::type_error(std::string(name) + " must be a number; got " + TypeName(value));
    return py::float_(py::reinterpret_borrow<py::object>(value));
}

int64_t WholeValue(py::object value, std::string_view name)
{
    if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr()))
        throw py::type_error(std::string(name) + " must be a whole number; got " + TypeName(value));
    py::int_ whole = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
    int overflow = 0;
    const long long result = PyLong_AsLongLongAndOverflow(whole.ptr(), &overflow);
    if (overflow != 0)
        throw py::value_error(std::string(name) +
                              " is out of range: " + py::repr(value).cast<std::string>());
    return result;
}

bool FlagValue(py::object value, std::string_view name)
{
    const bool numpyBool =
        py::isinstance(value, py::module_::import("numpy").attr("bool_").cast<py::type>());
    if (!PyBool_Check(value.ptr()) && !numpyBool)
        throw py::type_error(std::string(name) + " must be True or False; got " + TypeName(value));
    return value.cast<bool>();
}

// Checks a value against a setting's range and returns it as the engine stores it.
double CheckedValue(const Setting& setting, py::object value)
{
    double number = 0.0;
    switch (setting.kind)
    {
    case Kind::Flag:
        return FlagValue(value, setting.name) ? 1.0 : 0.0;
    case Kind::Whole:
        number = static_cast<double>(WholeValue(value, setting.name));
        break;
    case Kind::Real:
        number = RealValue(value, setting.name);
        break;
    }
    const bool exclusiveMin = setting.aboveMin;
    const bool powerOfTwo = setting.name == "beat_unit";
    const bool inRange =
        (exclusiveMin ? number > setting.min : number >= setting.min) && number <= setting.max &&
        (!powerOfTwo || (static_cast<uint32_t>(number) & (static_cast<uint32_t>(number) - 1)) == 0);
    if (!inRange)
        throw py::value_error(std::string(setting.name) + " must be " +
                              (powerOfTwo ? "one of " : (exclusiveMin ? "above " : "from ")) +
                              (powerOfTwo ? "" : Number(setting.min)) +
                              (powerOfTwo ? "" : (exclusiveMin ? " and up to " : " to ")) +
                              (powerOfTwo ? "" : Number(setting.max)) + " " + setting.unit +
                              "; got " + py::repr(value).cast<std::string>());
    return number;
}

uint32_t CheckedPosition(py::object value, uint32_t frames)
{
    const int64_t position = WholeValue(value, "position");
    if (position < 0 || position > frames)
        throw py::value_error("position must be from 0 to the loop length " +
                              std::to_string(frames) + "; got " + std::to_string(position));
    return static_cast<uint32_t>(position);
}

bool SameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool SamePoint(const SliceInfo& a, const SliceInfo& b)
{
    return a.position == b.position && SameBits(a.tickPosition, b.tickPosition) &&
           SameBits(a.strength, b.strength) && a.lockedOn == b.lockedOn && a.deleted == b.deleted;
}

// One of to_dict's slice records as the engine's point.
SliceInfo SavedPoint(py::handle record, uint32_t frames)
{
    SliceInfo info{};
    info.position = CheckedPosition(record["position"], frames);
    info.sourcePosition = CheckedPosition(record["source_position"], frames);
    info.tickPosition = record["ticks"].cast<float>();
    info.strength = record["strength"].cast<float>();
    info.lockedOn = FlagValue(record["locked"], "locked");
    info.deleted = FlagValue(record["deleted"], "deleted");
    return info;
}

// The slice list a host hands SetLoop: bare positions, or records shaped like Loop.slices.
std::vector<SliceInfo> HostSlices(py::object slices, uint32_t frames)
{
    std::vector<SliceInfo> infos;
    py::array array = py::module_::import("numpy").attr("asarray")(slices);
    const bool records = array.dtype().attr("names").is_none() == false;
    if (array.ndim() != 1)
        throw py::value_error("slices must be a 1-D sequence of positions or slice records");
    for (py::ssize_t i = 0; i < array.shape(0); ++i)
    {
        py::object item = array[py::int_(i)];
        SliceInfo info{};
        info.tickPosition = NotPinned;
        info.strength = 1.0f;
        if (records)
        {
            info.position = CheckedPosition(item["position"], frames);
            info.sourcePosition = CheckedPosition(item["source_position"], frames);
            info.tickPosition = item["ticks"].cast<float>();
            info.strength = item["strength"].cast<float>();
            info.lockedOn = item["locked"].cast<bool>();
            info.deleted = item["deleted"].cast<bool>();
        }
        else
        {
            info.position = info.sourcePosition = CheckedPosition(item, frames);
        }
        if (!infos.empty() && info.position < infos.back().position)
            throw py::value_error("slices must be in ascending position");
        infos.push_back(info);
    }
    if (infos.empty())
        throw py::value_error("slices is empty; pass None to have the loop analysed");
    return infos;
}

} // namespace

// Construction ------------------------------------------------------------------------------

PyLoop::PyLoop(PlanarAudio audioIn, uint32_t sampleRateIn, uint32_t outputRateIn)
    : audio(std::move(audioIn)), sampleRate(sampleRateIn), outputRate(outputRateIn)
{
    KelvoraEngine::Create(&engine, audio.Channels(), sampleRate, outputRate);
    if (!engine)
        throw py::value_error("the engine cannot take " + std::to_string(audio.Channels()) +
                              " channels at " + std::to_string(sampleRate) + " Hz");
}

PyLoop::PyLoop(py::object audioIn, py::object sampleRateIn, py::object slices, py::object loopTempo,
               py::object outputRateIn, std::optional<int> channelAxis, const py::kwargs& settings)
    : PyLoop(PlanarAudio(audioIn, channelAxis), CheckedSampleRate(sampleRateIn, "sample_rate"), 0)
{
    for (auto item : settings)
    {
        const std::string name = py::str(item.first);
        if (name != "detection_window")
            FindSetting(name); // unknown names raise TypeError, as for any keyword
    }
    SetOutputRate(outputRateIn);
    if (settings.contains("detection_window"))
        SetDetectionWindow(settings["detection_window"]);
    std::vector<SliceInfo> hostSlices;
    float tempoArgument = 0.0f;
    if (!slices.is_none())
    {
        hostSlices = HostSlices(slices, audio.Frames());
        if (!loopTempo.is_none())
            tempoArgument = static_cast<float>(CheckedValue(LoopTempoSetting, loopTempo));
    }
    {
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> guard(engineMutex);
        engine->SetLoop(audio.Frames(), audio.Channels(), audio.Pointers(), tempoArgument,
                        hostSlices.empty() ? nullptr : hostSlices.data(),
                        static_cast<uint32_t>(hostSlices.size()));
    }
    if (tempoArgument > 0.0f)
        fixedLoopTempo = tempoArgument;
    flags.assign(SliceCount(), Flags{});

    py::dict applied;
    for (const Setting& setting : Settings)
    {
        const py::str name(std::string(setting.name));
        if (settings.contains(name))
            applied[name] = settings[name];
    }
    if (!applied.contains("sensitivity"))
        applied["sensitivity"] = DefaultSensitivity;
    if (!loopTempo.is_none() && slices.is_none())
        applied["loop_tempo"] = loopTempo;
    ApplySettings(applied);
}

PyLoop::~PyLoop()
{
    KelvoraEngine::Destroy(engine);
}

void PyLoop::ApplySettings(const py::dict& values)
{
    // The meter goes in as one layout so that no intermediate meter is ever applied.
    MeterLayout meter{};
    {
        std::lock_guard<std::mutex> guard(engineMutex);
        engine->GetMeter(&meter);
    }
    for (const Setting& setting : Settings)
    {
        const py::str name(std::string(setting.name));
        if (setting.meterField && values.contains(name))
            meter.*setting.meterField = static_cast<uint32_t>(CheckedValue(setting, values[name]));
    }
    if (values.contains("ticks_per_beat"))
        Set("ticks_per_beat", values["ticks_per_beat"]);
    {
        std::lock_guard<std::mutex> guard(engineMutex);
        engine->SetMeter(&meter);
    }
    if (values.contains("loop_tempo"))
        SetLoopTempo(values["loop_tempo"]);
    // Tempo 0 or absent: play at the loop's own tempo.
    if (values.contains("tempo") && RealValue(values["tempo"], "tempo") != 0.0)
        Set("tempo", values["tempo"]);
    else
    {
        std::lock_guard<std::mutex> guard(engineMutex);
        engine->SetTempo(engine->GetLoopTempo());
    }
    for (const Setting& setting : Settings)
    {
        const py::str name(std::string(setting.name));
        if (values.contains(name) && !setting.meterField && setting.name != "tempo" &&
            setting.name != "ticks_per_beat")
            Set(std::string(setting.name).c_str(), values[name]);
    }
}

// Settings ----------------------------------------------------------------------------------

py::object PyLoop::Get(const char* name)
{
    const Setting& setting = FindSetting(name);
    std::lock_guard<std::mutex> guard(engineMutex);
    if (setting.meterField)
    {
        MeterLayout meter{};
        engine->GetMeter(&meter);
        return py::int_(meter.*setting.meterField);
    }
    if (setting.get)
        return py::float_((engine->*setting.get)());
    if (setting.name == "ticks_per_beat")
        return py::int_(engine->GetTicksPerBeat());
    if (setting.name == "tail_from_sound_end")
        return py::bool_(engine->GetTailFromSoundEnd());
    EnvelopeSettings envelope{};
    engine->GetEnvelope(&envelope);
    if (setting.envelopeField)
        return py::float_(envelope.*setting.envelopeField);
    // The sustain: the engine stores a level and reports it back through a logarithm; the dB
    // value set is what reproduces that level exactly.
    return py::float_(sustainDb.value_or(envelope.sustainDb));
}

void PyLoop::Set(const char* name, py::object value)
{
    const Setting& setting = FindSetting(name);
    const double checked = CheckedValue(setting, value);
    const auto real = static_cast<float>(checked);
    std::lock_guard<std::mutex> guard(engineMutex);
    if (setting.meterField)
    {
        MeterLayout meter{};
        engine->GetMeter(&meter);
        meter.*setting.meterField = static_cast<uint32_t>(checked);
        engine->SetMeter(&meter);
    }
    else if (setting.set)
        (engine->*setting.set)(real);
    else if (setting.name == "ticks_per_beat")
        engine->SetTicksPerBeat(static_cast<uint32_t>(checked));
    else if (setting.name == "tail_from_sound_end")
        engine->SetTailFromSoundEnd(checked != 0.0);
    else
    {
        EnvelopeSettings envelope{};
        engine->GetEnvelope(&envelope);
        if (setting.envelopeField)
            envelope.*setting.envelopeField = real;
        else
            sustainDb = real;
        envelope.sustainDb = sustainDb.value_or(SilentSustainDb);
        engine->SetEnvelope(&envelope);
    }
}

void PyLoop::SetOutputRate(py::object value)
{
    uint32_t rate = 0;
    if (!value.is_none() && !(PyNumber_Check(value.ptr()) && !PyBool_Check(value.ptr()) &&
                              RealValue(value, "output_rate") == 0.0))
    {
        rate = CheckedSampleRate(value, "output_rate");
        if (rate < 1000 || rate > 768000)
            throw py::value_error("output_rate must be from 1000 to 768000 Hz, or None for the "
                                  "source rate; got " +
                                  std::to_string(rate));
    }
    std::lock_guard<std::mutex> guard(engineMutex);
    engine->SetOutputSampleRate(rate);
    outputRate = rate;
}

py::object PyLoop::LoopTempo()
{
    std::lock_guard<std::mutex> guard(engineMutex);
    return py::float_(engine->GetLoopTempo());
}

void PyLoop::SetLoopTempo(py::object value)
{
    std::optional<float> fixed;
    if (!value.is_none())
        fixed = static_cast<float>(CheckedValue(LoopTempoSetting, value));
    std::lock_guard<std::mutex> guard(engineMutex);
    engine->SetLoopTempo(fixed.value_or(0.0f));
    fixedLoopTempo = fixed;
}

float PyLoop::DetectionWindow()
{
    std::lock_guard<std::mutex> guard(engineMutex);
    return engine->GetDetectionWindow();
}

void PyLoop::SetDetectionWindow(py::object value)
{
    const double ms = RealValue(value, "detection_window");
    if (!(ms > 0.0 && ms <= 1000.0))
        throw py::value_error("detection_window must be above 0 and up to 1000 ms; got " +
                              py::repr(value).cast<std::string>());
    {
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> guard(engineMutex);
        const float before = engine->GetDetectionWindow();
        engine->SetDetectionWindow(static_cast<float>(ms));
        // With a loop attached, a changed window analyses it again and replaces every point;
        // pushing the sensitivity again rebuilds the playback plan, so the slices the Loop
        // reports are the ones it plays. Before SetLoop nothing is analysed and there are no
        // points.
        if (before != engine->GetDetectionWindow())
        {
            engine->SetSensitivity(engine->GetSensitivity());
            flags.assign(engine->GetSliceCount(), Flags{});
        }
    }
}

// Slice points ------------------------------------------------------------------------------

uint32_t PyLoop::SliceCount()
{
    std::lock_guard<std::mutex> guard(engineMutex);
    return engine->GetSliceCount();
}

std::vector<SliceInfo> PyLoop::Infos()
{
    std::vector<SliceInfo> infos(engine->GetSliceCount());
    if (!infos.empty())
        engine->GetSlices(infos.data());
    return infos;
}

uint32_t PyLoop::CheckedIndex(int64_t value, py::object index) const
{
    const auto count = static_cast<int64_t>(flags.size());
    if (value < 0)
        value += count;
    if (value < 0 || value >= count)
        throw py::index_error("slice index " + py::repr(index).cast<std::string>() +
                              " is out of range for " + std::to_string(count) + " slice points");
    return static_cast<uint32_t>(value);
}

py::array PyLoop::Slices()
{
    std::lock_guard<std::mutex> guard(engineMutex);
    const std::vector<SliceInfo> infos = Infos();
    py::array_t<SliceRecord> records(static_cast<py::ssize_t>(infos.size()));
    SliceRecord* out = records.mutable_data();
    std::memset(static_cast<void*>(out), 0, infos.size() * sizeof(SliceRecord));
    for (size_t i = 0; i < infos.size(); ++i)
    {
        const SliceInfo& info = infos[i];
        const Flags flag = i < flags.size() ? flags[i] : Flags{};
        // The engine's own cut rule, with the edits it does not report.
        const bool active =
            !info.deleted &&
            (info.lockedOn || (!flag.disabled && (flag.added || info.aboveThreshold)));
        // Field by field into zeroed memory, so that the padding bytes are zero too.
        SliceRecord& record = out[i];
        record.position = info.position;
        record.source_position = info.sourcePosition;
        record.ticks = info.tickPosition;
        record.strength = info.strength;
        record.locked = info.lockedOn;
        record.deleted = info.deleted;
        record.active = active;
        record.detected = info.detected;
        record.disabled = flag.disabled;
        record.added = flag.added;
    }
    return records;
}

py::array PyLoop::Regions()
{
    std::vector<RegionRecord> regions;
    {
        std::lock_guard<std::mutex> guard(engineMutex);
        const uint32_t frames = audio.Frames();
        uint32_t position = 0;
        while (position < frames)
        {
            uint32_t start = 0;
            uint32_t length = 0;
            engine->GetSliceRegion(position, &start, &length);
            if (start != position || length == 0 || uint64_t(start) + length > frames)
            {
                regions.push_back({position, frames - position});
                break;
            }
            regions.push_back({start, length});
            position = start + length;
        }
    }
    py::array_t<RegionRecord> out(static_cast<py::ssize_t>(regions.size()));
    std::copy(regions.begin(), regions.end(), out.mutable_data());
    return out;
}

uint32_t PyLoop::Add(py::object positionIn)
{
    const uint32_t position = CheckedPosition(positionIn, audio.Frames());
    std::lock_guard<std::mutex> guard(engineMutex);
    const std::vector<SliceInfo> before = Infos();
    if (!engine->AddSlice(position))
        throw py::value_error("the engine refused a point at " + std::to_string(position));
    // The engine appends the point and stable-sorts the list by position; the same sort of the
    // same keys tells where every recorded edit moved.
    std::vector<uint32_t> order(before.size() + 1);
    std::iota(order.begin(), order.end(), 0u);
    const auto key = [&](uint32_t i) { return i < before.size() ? before[i].position : position; };
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return key(a) < key(b); });
    std::vector<Flags> moved(order.size());
    uint32_t added = 0;
    for (size_t i = 0; i < order.size(); ++i)
    {
        moved[i] = order[i] < before.size() ? flags[order[i]] : Flags{false, true};
        if (order[i] == before.size())
            added = static_cast<uint32_t>(i);
    }
    flags = std::move(moved);
    return added;
}

void PyLoop::Edit(py::object indexIn, py::object position, py::object ticks, py::object strength,
                  py::object locked, py::object deleted)
{
    const int64_t value = WholeValue(indexIn, "index");
    uint32_t index = 0;
    SliceInfo info{};
    {
        std::lock_guard<std::mutex> guard(engineMutex);
        index = CheckedIndex(value, indexIn);
        engine->GetSlice(index, &info);
    }
    if (!position.is_none())
        info.position = CheckedPosition(position, audio.Frames());
    if (!ticks.is_none())
    {
        const double value = RealValue(ticks, "ticks");
        if (!(value >= 0.0 && value <= 1e9) && value != NotPinned)
            throw py::value_error("ticks must be from 0 to 1e9, or -1 to unpin; got " +
                                  py::repr(ticks).cast<std::string>());
        info.tickPosition = static_cast<float>(value);
    }
    if (!strength.is_none())
    {
        const double value = RealValue(strength, "strength");
        if (!(value >= 0.0 && value <= 1.0))
            throw py::value_error("strength must be from 0 to 1; got " +
                                  py::repr(strength).cast<std::string>());
        info.strength = static_cast<float>(value);
    }
    if (!locked.is_none())
        info.lockedOn = FlagValue(locked, "locked");
    if (!deleted.is_none())
        info.deleted = FlagValue(deleted, "deleted");
    std::lock_guard<std::mutex> guard(engineMutex);
    engine->SetSlice(index, &info);
}

void PyLoop::Disable(py::object indexIn)
{
    const int64_t value = WholeValue(indexIn, "index");
    std::lock_guard<std::mutex> guard(engineMutex);
    const uint32_t index = CheckedIndex(value, indexIn);
    engine->DisableSlice(index);
    flags[index].disabled = true;
}

// Saving and restoring ----------------------------------------------------------------------

py::dict PyLoop::ToDict()
{
    py::dict state;
    state["sample_rate"] = sampleRate;
    state["output_rate"] = outputRate;
    state["detection_window"] = DetectionWindow();
    state["loop_tempo"] = fixedLoopTempo ? py::object(py::float_(*fixedLoopTempo)) : py::none();
    for (const Setting& setting : Settings)
    {
        const std::string name(setting.name);
        state[py::str(name)] = Get(name.c_str());
    }
    py::list records;
    py::array slices = Slices();
    const py::tuple names = slices.dtype().attr("names");
    for (auto record : slices.attr("tolist")())
    {
        py::tuple fields = record.cast<py::tuple>();
        py::dict point;
        for (size_t i = 0; i < names.size(); ++i)
            point[names[i]] = fields[i];
        records.append(point);
    }
    state["slices"] = records;
    return state;
}

std::unique_ptr<PyLoop> PyLoop::FromDict(const py::dict& state, py::object audioIn,
                                         std::optional<int> channelAxis)
{
    const auto field = [&](const char* name) -> py::object
    {
        if (!state.contains(name))
            throw py::value_error(std::string("saved loop state lacks '") + name + "'");
        return state[name];
    };
    PlanarAudio planar(audioIn, channelAxis);
    const uint32_t rate = CheckedSampleRate(field("sample_rate"), "sample_rate");
    auto loop = std::unique_ptr<PyLoop>(new PyLoop(std::move(planar), rate, 0));
    loop->SetOutputRate(field("output_rate"));
    loop->SetDetectionWindow(field("detection_window"));

    std::vector<SliceInfo> saved;
    std::vector<Flags> savedFlags;
    for (auto record : py::list(field("slices")))
    {
        saved.push_back(SavedPoint(record, loop->Frames()));
        savedFlags.push_back(
            {FlagValue(record["disabled"], "disabled"), FlagValue(record["added"], "added")});
    }
    // The points the host list can carry; the added ones, which only AddSlice makes, follow.
    std::vector<SliceInfo> base;
    for (size_t i = 0; i < saved.size(); ++i)
        if (!savedFlags[i].added)
            base.push_back(saved[i]);
    {
        // No host points left means the loop's last analysis found none; analysing the same
        // audio with the same window finds none again.
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> guard(loop->engineMutex);
        loop->engine->SetLoop(loop->Frames(), loop->Channels(), loop->audio.Pointers(), 0.0f,
                              base.empty() ? nullptr : base.data(),
                              static_cast<uint32_t>(base.size()));
    }
    loop->flags.assign(loop->SliceCount(), Flags{});
    if (loop->flags.size() != base.size())
        throw py::value_error("saved loop state does not match this audio");

    py::dict settings;
    for (const Setting& setting : Settings)
        settings[py::str(std::string(setting.name))] = field(std::string(setting.name).c_str());
    settings["loop_tempo"] = field("loop_tempo");
    loop->ApplySettings(settings);
    loop->RestoreSlices(saved, savedFlags);
    return loop;
}

void PyLoop::RestoreSlices(const std::vector<SliceInfo>& target,
                           const std::vector<Flags>& targetFlags)
{
    std::lock_guard<std::mutex> guard(engineMutex);
    // AddSlice appends at the point's source position and stable-sorts the whole list by
    // position. Before each one, the points already in place get temporary positions that keep
    // their order and put the new point at its saved index: at most its source position before
    // it, above it after it. Added points go in by ascending saved index, so the points before
    // that index are exactly the ones already present.
    for (size_t k = 0; k < target.size(); ++k)
    {
        if (!targetFlags[k].added)
            continue;
        const uint32_t source = target[k].sourcePosition;
        std::vector<SliceInfo> current = Infos();
        uint32_t floor = 0;
        for (size_t i = 0; i < current.size(); ++i)
        {
            const uint32_t wanted = i < k ? std::min(current[i].position, source)
                                          : std::max(current[i].position, source + 1);
            const uint32_t position = std::max(wanted, floor);
            floor = position;
            if (position != current[i].position)
            {
                current[i].position = position;
                engine->SetSlice(static_cast<uint32_t>(i), &current[i]);
            }
        }
        engine->AddSlice(source);
    }
    const std::vector<SliceInfo> current = Infos();
    for (size_t i = 0; i < target.size(); ++i)
    {
        if (i >= current.size() || current[i].sourcePosition != target[i].sourcePosition)
            throw py::value_error("saved slice points cannot be restored on this audio");
        if (!SamePoint(current[i], target[i]))
            engine->SetSlice(static_cast<uint32_t>(i), &target[i]);
        if (targetFlags[i].disabled)
            engine->DisableSlice(static_cast<uint32_t>(i));
    }
    flags = targetFlags;
}

py::tuple PyLoop::GetState()
{
    return py::make_tuple(Audio(), ToDict());
}

std::unique_ptr<PyLoop> PyLoop::SetState(const py::tuple& state)
{
    if (state.size() != 2)
        throw py::value_error("not a pickled kelvora.Loop");
    return FromDict(state[1].cast<py::dict>(), state[0], 0);
}

// Playback ----------------------------------------------------------------------------------

uint32_t PyLoop::RenderedLength()
{
    std::lock_guard<std::mutex> guard(engineMutex);
    return engine->GetRenderedLength();
}

uint32_t PyLoop::PlayPosition()
{
    std::lock_guard<std::mutex> guard(engineMutex);
    return engine->GetPlayPosition();
}

py::array PyLoop::RenderFrames(uint64_t frames, bool fromStart, py::object target)
{
    const uint32_t channels = audio.Channels();
    py::array out;
    float* data = nullptr;
    auto channelStride = static_cast<py::ssize_t>(frames);
    if (target.is_none())
    {
        py::array_t<float> planar(
            {static_cast<py::ssize_t>(channels), static_cast<py::ssize_t>(frames)});
        data = planar.mutable_data();
        // Planar memory, seen as (frames, channels) the way soundfile and most Python audio
        // code expect it; no copy.
        out = planar.attr("T");
    }
    else
    {
        if (!py::isinstance<py::array>(target) ||
            !py::array(target).dtype().equal(py::dtype::of<float>()))
            throw py::type_error("out must be a float32 numpy array");
        out = target;
        const bool shaped = out.ndim() == 2 && uint64_t(out.shape(0)) == frames &&
                            uint64_t(out.shape(1)) == channels;
        if (!shaped || !out.writeable() ||
            (frames > 1 && out.strides(0) != static_cast<py::ssize_t>(sizeof(float))) ||
            out.strides(1) % static_cast<py::ssize_t>(sizeof(float)) != 0)
            throw py::value_error("out must be a writable (" + std::to_string(frames) + ", " +
                                  std::to_string(channels) +
                                  ") float32 array with contiguous frames, like the transpose "
                                  "of np.empty((channels, frames), np.float32)");
        data = static_cast<float*>(out.mutable_data());
        channelStride = out.strides(1) / static_cast<py::ssize_t>(sizeof(float));
    }
    {
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> guard(engineMutex);
        std::vector<float*> pointers(channels);
        if (fromStart)
            engine->Transport(0, 0);
        for (uint64_t done = 0; done < frames;)
        {
            const auto count =
                static_cast<uint32_t>(std::min<uint64_t>(RenderBlock, frames - done));
            for (uint32_t channel = 0; channel < channels; ++channel)
                pointers[channel] = data + channel * channelStride + done;
            engine->Render(count, pointers.data());
            done += count;
        }
        if (fromStart)
            engine->Transport(1, 0);
    }
    return out;
}

py::array PyLoop::Render(py::object passesIn, py::object out)
{
    const int64_t passes = WholeValue(passesIn, "passes");
    if (passes < 1 || passes > 1'000'000)
        throw py::value_error("passes must be from 1 to 1000000; got " + std::to_string(passes));
    return RenderFrames(uint64_t(RenderedLength()) * static_cast<uint64_t>(passes), true, out);
}

py::array PyLoop::Play(py::object framesIn, py::object out)
{
    const int64_t frames = WholeValue(framesIn, "frames");
    if (frames < 0 || frames > std::numeric_limits<uint32_t>::max())
        throw py::value_error("frames must be from 0 to 2^32 - 1; got " + std::to_string(frames));
    return RenderFrames(static_cast<uint64_t>(frames), false, out);
}

void PyLoop::Start()
{
    std::lock_guard<std::mutex> guard(engineMutex);
    engine->Transport(0, 0);
}

void PyLoop::Stop()
{
    std::lock_guard<std::mutex> guard(engineMutex);
    engine->Transport(1, 0);
}

void PyLoop::Audition(py::object index)
{
    const int64_t value = WholeValue(index, "index");
    std::lock_guard<std::mutex> guard(engineMutex);
    engine->Transport(2, CheckedIndex(value, index));
}

// Detection ---------------------------------------------------------------------------------

py::tuple Detect(py::object audioIn, py::object sampleRateIn, py::object windowMs,
                 std::optional<int> channelAxis)
{
    PlanarAudio planar(audioIn, channelAxis);
    const uint32_t rate = CheckedSampleRate(sampleRateIn, "sample_rate");
    const double window = RealValue(windowMs, "window_ms");
    if (!(window > 0.0 && window <= 1000.0))
        throw py::value_error("window_ms must be above 0 and up to 1000; got " +
                              py::repr(windowMs).cast<std::string>());
    std::vector<SliceInfo> infos;
    {
        py::gil_scoped_release release;
        KelvoraEngine* engine = nullptr;
        KelvoraEngine::Create(&engine, planar.Channels(), rate, 0);
        std::unique_ptr<KelvoraEngine, void (*)(KelvoraEngine*)> owner(engine,
                                                                       KelvoraEngine::Destroy);
        engine->SetDetectionWindow(static_cast<float>(window));
        engine->SetLoop(planar.Frames(), planar.Channels(), planar.Pointers(), 0.0f, nullptr, 0);
        infos.resize(engine->GetSliceCount());
        if (!infos.empty())
            engine->GetSlices(infos.data());
    }
    py::array_t<uint32_t> positions(static_cast<py::ssize_t>(infos.size()));
    py::array_t<float> strengths(static_cast<py::ssize_t>(infos.size()));
    for (size_t i = 0; i < infos.size(); ++i)
    {
        positions.mutable_data()[i] = infos[i].position;
        strengths.mutable_data()[i] = infos[i].strength;
    }
    return py::make_tuple(positions, strengths);
}

} // namespace KelvoraPython
