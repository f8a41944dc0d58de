// Kelvora loop-slicing engine: the public interface.
//
// A host creates one engine per loop, hands it planar 32-bit float audio with SetLoop, reads and
// edits the slices the engine finds, sets tempo, pitch and envelope parameters, starts playback
// with Transport and pulls audio with Render, one block at a time. Destroy releases the engine.
//
// This header is self-contained and compiles as C++11. The library exports exactly three
// functions: KelvoraEngine::Create, KelvoraEngine::Destroy and GetKelvoraVersion.
//
// Conventions:
//  - Positions and lengths are sample frames (one sample per channel), unsigned 32-bit.
//  - Audio is planar: an array of channel pointers, each to contiguous float samples.
//  - No operation reports errors through codes or exceptions. Operations that take a slice index
//    return false (or write nothing) for an index at or past GetSliceCount(). Only running out of
//    memory throws (std::bad_alloc).
//  - One engine must not be called from two threads at once, Render included. Separate engines
//    share nothing and may live on different threads.
//  - Setter costs, for hosts that automate them from the audio thread (32 s stereo loop in 128
//    slices, one x86-64 core): SetTempo, SetLoopTempo, SetTicksPerBeat, SetMeter,
//    SetSensitivity, SetOutputSampleRate and DisableSlice rebuild the playback plan, about 5 us,
//    linear in the number of slice points; SetSlice and AddSlice also search the audio of the
//    slices whose cuts they move (about 20 us). The shaping setters (SetTranspose, SetFineTune,
//    the tail settings, SetGain, SetEnvelope) cost about 3 us and never allocate. The rebuilding
//    setters allocate only when the point or slice list grows past its largest size so far.
//    SetLoop and SetDetectionWindow run the analysis (tens of ms per 30 s of audio) and
//    allocate; neither belongs on the audio thread.
//  - Every call other than a getter runs with denormals flushed to zero (flush-to-zero and
//    denormals-are-zero on x86-64) and restores the caller's floating-point mode before it
//    returns. Denormal audio counts as silence and never reaches the output; a denormal setting
//    is stored and read back as given but acts as 0 (a detection window compares equal to 0).
#ifndef KELVORA_ENGINE_H
#define KELVORA_ENGINE_H

#include <stdint.h>

#if defined(_WIN32)
#define KELVORA_API __declspec(dllexport)
#else
#define KELVORA_API __attribute__((visibility("default")))
#endif

namespace VoKelvora
{

// One slice point as the host sees it.
struct SliceInfo
{
    uint32_t sourcePosition; // where the point was first placed, in source frames; never edited
    uint32_t position;       // the point's current cut position, in source frames
    float tickPosition;      // musical position in ticks, or -1.0 when the point is not pinned
    float strength;          // 0..1; detected points carry the detector's value, new ones 1.0
    bool lockedOn;           // always cuts, unless deleted or its kind is switched off
    bool deleted;            // never cuts; wins over lockedOn
    bool aboveThreshold;     // read-only: sensitivity > 0 and strength >= (1 - sensitivity)^2
    bool detected;           // read-only: found by the analysis and not edited since
};

// The amplitude envelope every slice is played with.
struct EnvelopeSettings
{
    float attackMs;
    float holdMs;
    float decayMs;
    float sustainDb; // -80 dB or below means silence; reads back as -400 dB then
};

// The loop is `bars` whole bars plus `extraBeats` beats; a bar has `beatsPerBar` beats of note
// value 1/`beatUnit`. Defaults: 2, 0, 4, 4.
struct MeterLayout
{
    uint32_t bars;
    uint32_t extraBeats;
    uint32_t beatsPerBar;
    uint32_t beatUnit;
};

// Saving and restoring a loop. There is no state chunk at this interface; a host restores a loop
// so that it renders bit for bit the same by saving the loop audio, GetSlices, GetMeter,
// GetTicksPerBeat, GetTempo, GetSensitivity, GetDetectionWindow and the shaping getters
// (transpose, fine tune, tail extension, tail from sound end, tail-loop position, gain), plus
// what no getter returns exactly and the host therefore keeps itself:
//  - the engine's creation arguments and the last rates given to SetSampleRate and
//    SetOutputSampleRate (GetOutputSampleRate only reports the creation rate);
//  - the loop tempo it fixed with SetLoop or SetLoopTempo, or none. GetLoopTempo cannot tell a
//    fixed tempo from one derived from the meter, and a derived tempo passed back as a fixed one
//    can move the stretch by one ulp and with it a slice's gate;
//  - the envelope it set: GetEnvelope converts the stored sustain level back to dB, and that
//    value set again does not always give the same level;
//  - which points it added with AddSlice or switched off with DisableSlice (SliceInfo shows
//    neither). In the saved list, mark a switched-off point that is not locked on as deleted and
//    an added point that was not switched off as locked on: they then cut exactly as before.
// Restore into an engine created with the same arguments, in this order: SetSampleRate, then
// SetOutputSampleRate, then SetDetectionWindow (before any loop, so that nothing is analysed);
// SetLoop with the saved list and the fixed tempo (0 for none); then SetMeter, SetTicksPerBeat,
// SetTempo and SetSensitivity, and last the shaping setters and SetEnvelope: SetLoop resets the
// meter, both tempos, the sensitivity and the shaping. Restored points read back as host points
// (detected false); playback starts stopped.
class KelvoraEngine
{
public:
    // Builds an engine. Nothing is written when `out` is null; *out becomes null when
    // channelCount or sampleRate is 0. outputSampleRate 0 means: render at sampleRate.
    KELVORA_API static void Create(KelvoraEngine** out, uint32_t channelCount, uint32_t sampleRate,
                                   uint32_t outputSampleRate);
    // Destroys an engine made by Create. A null pointer is ignored.
    KELVORA_API static void Destroy(KelvoraEngine* engine);

    // 0. Hands the engine a loop. The channel pointers stay the host's and must stay valid until
    // the next SetLoop or Destroy. Without slices (null or count 0) the loop is analysed and its
    // transients become slice points. With slices, the host's list (in ascending position) and
    // the loop's own tempo (0 for none) are taken instead, no analysis runs, and every shaping
    // setting returns to its default. Stops any playback.
    virtual void SetLoop(uint32_t frameCount, uint32_t channelCount, float** channels, float tempo,
                         const SliceInfo* slices, uint32_t sliceCount) = 0;
    // 1. Sets the rate audio is rendered at (0: the source rate). GetOutputSampleRate keeps
    // reporting the rate fixed at creation. A later SetSampleRate can replace this rate (see
    // there).
    virtual void SetOutputSampleRate(uint32_t rate) = 0;
    // 2. The output rate fixed at creation (outputSampleRate, or sampleRate when that was 0).
    virtual double GetOutputSampleRate() = 0;
    // 3. Sets the source sample rate used by the next SetLoop and by GetLoopTempo. When the
    // output rate fixed at creation equals the current source rate, that rate first becomes the
    // explicit output rate, so the output rate does not move. The same rate again does nothing.
    // That pin overrides an output rate set before: an engine created at 44.1 kHz with output
    // rate 0, given SetOutputSampleRate(48000) and then SetSampleRate(48000), renders at 44.1 kHz
    // again: 44100 output frames per second of source instead of 48000. Set the source rate
    // first, then the output rate.
    virtual void SetSampleRate(uint32_t rate) = 0;
    // 4. The source sample rate.
    virtual double GetSampleRate() = 0;
    // 5. Slice sensitivity, 0..1: a point cuts when its strength >= (1 - sensitivity)^2.
    virtual float GetSensitivity() = 0;
    // 6. Sets the sensitivity and rebuilds the playback plan.
    virtual void SetSensitivity(float sensitivity) = 0;
    // 7. Window of the transient detector in milliseconds (default 75).
    virtual float GetDetectionWindow() = 0;
    // 8. Sets the detection window; when it changes and a loop is attached, the slice points are
    // replaced by a fresh detection (the playback plan follows at the next setter).
    virtual void SetDetectionWindow(float ms) = 0;
    // 9. The loop's own tempo in BPM: the fixed loop tempo when set, otherwise the meter's beat
    // count over the loop length; 0 when either is 0.
    virtual float GetLoopTempo() = 0;
    // 10. A value above 0 fixes the loop's own tempo; 0, negative or NaN removes it.
    virtual void SetLoopTempo(float bpm) = 0;
    // 11. The target tempo the loop plays at; the loop is stretched by loop tempo / target tempo.
    virtual float GetTempo() = 0;
    // 12. Sets the target tempo and re-places the slices.
    virtual void SetTempo(float bpm) = 0;
    // 13. Resolution of musical positions, in ticks per beat (default 96).
    virtual uint32_t GetTicksPerBeat() = 0;
    // 14. Sets the ticks per beat.
    virtual void SetTicksPerBeat(uint32_t ticks) = 0;
    // 15. Copies the meter out.
    virtual void GetMeter(MeterLayout* out) = 0;
    // 16. Sets the meter and rebuilds the playback plan.
    virtual void SetMeter(const MeterLayout* in) = 0;
    // 17. Fine tune in cents.
    virtual float GetFineTune() = 0;
    // 18. Sets the fine tune. A value that is not finite silences the slices that play under
    // it (see SetTranspose); GetFineTune still returns it.
    virtual void SetFineTune(float cents) = 0;
    // 19. Transposition in semitones.
    virtual float GetTranspose() = 0;
    // 20. Sets the transposition; sounding slices change pitch at once. A transposition or fine
    // tune that is not finite, or that makes the playback rate infinite, silences the slice
    // playing and the slices started under it; the output stays finite and GetPlayPosition within
    // the loop. GetTranspose returns the value as set.
    virtual void SetTranspose(float semitones) = 0;
    // 21. Tail extension, 0..1: the share of the silent gap after a slice that plays shorter than
    // its slot by which its release is lengthened (default 0).
    virtual float GetTailExtension() = 0;
    // 22. Sets the tail extension.
    // Reaches each slice when it starts: a slice already sounding keeps the value it started with.
    virtual void SetTailExtension(float amount) = 0;
    // 23. When true, a slice's back-and-forth tail loop starts where its sound ends; otherwise
    // at the tail-loop position (default true).
    virtual bool GetTailFromSoundEnd() = 0;
    // 24. Sets the tail-from-sound-end flag.
    // Reaches each slice when it starts: a slice already sounding keeps the value it started with.
    virtual void SetTailFromSoundEnd(bool enabled) = 0;
    // 25. Tail-loop position, 0..1: the tail loop starts at slice length x (1 - value) when
    // tail-from-sound-end is off.
    virtual float GetTailLoopPosition() = 0;
    // 26. Sets the tail-loop position.
    // Reaches each slice when it starts: a slice already sounding keeps the value it started with.
    virtual void SetTailLoopPosition(float position) = 0;
    // 27. Output gain of every slice in dB (default 0).
    virtual float GetGain() = 0;
    // 28. Sets the output gain. A slice takes the gain in force when it starts; a slice already
    // sounding keeps the gain it started with. A gain that is not a number or above +120 dB makes
    // the slices started under it play silence (the output stays finite), and GetGain still
    // returns it.
    virtual void SetGain(float db) = 0;
    // 29. Copies the amplitude envelope out.
    virtual void GetEnvelope(EnvelopeSettings* out) = 0;
    // 30. Sets the amplitude envelope. It reaches each slice when it starts: a slice already
    // sounding keeps the envelope it started with. A sustain level that is not a number or above
    // +120 dB makes the slices started under it play silence; GetEnvelope still returns what was
    // set.
    virtual void SetEnvelope(const EnvelopeSettings* in) = 0;
    // 31. Number of slice points, disabled and deleted ones included.
    virtual uint32_t GetSliceCount() = 0;
    // 32. Fills GetSliceCount() records, in list order.
    virtual void GetSlices(SliceInfo* out) = 0;
    // 33. Fills one record; an index at or past the count leaves `out` untouched.
    virtual void GetSlice(uint32_t index, SliceInfo* out) = 0;
    // 34. Edits a point from position, tickPosition, strength, lockedOn and deleted of `in`; the
    // point becomes a user point. False for an index at or past the count.
    virtual bool SetSlice(uint32_t index, const SliceInfo* in) = 0;
    // 35. The region a source position falls into: from the nearest active cut at or before it
    // to the next one after it.
    virtual void GetSliceRegion(uint32_t position, uint32_t* start, uint32_t* length) = 0;
    // 36. Adds a user point at a source position and sorts the points by position. False when
    // the position lies past the loop end.
    virtual bool AddSlice(uint32_t position) = 0;
    // 37. Switches a point off (a lockedOn point still cuts); it stays in the list. False for an
    // index at or past the count.
    virtual bool DisableSlice(uint32_t index) = 0;
    // 38. 0: play the loop from its start, repeating. 1: stop. 2: play once the region that slice
    // point `sliceIndex` lies in (false for an index at or past the count). Other commands:
    // false. True otherwise, also when nothing could be started.
    virtual bool Transport(uint32_t command, uint32_t sliceIndex) = 0;
    // 39. The source position being played, in frames; 0 while stopped. A slice playing its tail
    // loop reports its end, so the loop's frame count itself can appear.
    virtual uint32_t GetPlayPosition() = 0;
    // 40. Length of one pass of the loop in output frames at the target tempo and output rate.
    virtual uint32_t GetRenderedLength() = 0;
    // 41. Maps a position in the loop rendered at `bpm` (0: the target tempo) back to a source
    // position relative to the loop start.
    virtual uint32_t OutputToSourcePosition(uint32_t position, float bpm) = 0;
    // 42. Converts ticks to output frames at `bpm` (0: the target tempo); 0 for an empty loop.
    virtual uint32_t TicksToSamples(float ticks, float bpm) = 0;
    // 43. Fills frameCount frames of one output buffer per source channel: silence plus whatever
    // is playing. Writes nothing before the first SetLoop. Real-time safe: no allocation, lock or
    // I/O, for any frameCount (blocks are worked through in pieces of at most 4096 frames, whose
    // buffers SetLoop sizes). Cost is linear in frameCount and the channel count.
    virtual void Render(uint32_t frameCount, float** outputs) = 0;

    virtual ~KelvoraEngine() {}
};

// The library's version: 1001.
KELVORA_API uint32_t GetKelvoraVersion();

} // namespace VoKelvora

#endif
