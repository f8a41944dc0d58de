#include "tools/kelvora/LoopMeterEstimator.h"

#include "tools/kelvora/NumberText.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace KelvoraCli
{

namespace
{

// The tempo prior: log-normal around the tempo most loops are made at, on the felt pulse. A
// dotted-quarter pulse (6/8) is felt slower than a quarter-note one. Pulses outside the
// plausible range are not considered while some candidate lies inside it.
constexpr double PriorCentreBpm = 115.0;
constexpr double CompoundPriorCentreBpm = 75.0;
constexpr double PriorLogWidth = 0.45;
constexpr double SlowestPulseBpm = 50.0;
constexpr double FastestPulseBpm = 220.0;
// A loop shorter than one beat at this tempo has no tempo at all.
constexpr double FastestBeatBpm = 300.0;

// How much the onsets count against the prior: one unit of grid fit is worth this many units of
// log prior.
constexpr double EvidenceWeight = 3.0;
// A pulse level whose subdivisions carry more than this share of the pulses' salience is
// probably a level too slow; the excess costs SlowGridWeight per unit.
constexpr double SubdivisionShare = 0.6;
constexpr double SlowGridWeight = 1.0;
// What dividing the pulse against the onsets (in two where they fall in three, or the reverse)
// costs per unit of salience.
constexpr double DivisionWeight = 1.0;

// Onsets may sit a little off the grid (detector placement, played feel): a grid point picks up
// an onset with a Gaussian weight of this width, narrowed on fast grids so neighbours stay apart.
constexpr double OnsetToleranceSeconds = 0.015;
// A loop may open with this much silence before its first downbeat; an onset carrying at least
// StrongOnsetWeight (of the strongest, squared) counts as that downbeat.
constexpr double LongestLeadInSeconds = 0.12;
constexpr double StrongOnsetWeight = 0.3;

// Loops longer than this are not analysed for a grid: over minutes a played tempo drifts, and
// the count of bars is a guess whatever the onsets say.
constexpr double LongestAnalysedSeconds = 64.0;
// Fewer onsets than this, at a fifth of the strongest or above (weights are squared), cannot
// show a beat.
constexpr size_t FewestUsefulOnsets = 3;
constexpr double UsefulOnsetWeight = 0.2 * 0.2;
// Below this share of the evidence the pick is reported as weak.
constexpr double WeakConfidence = 0.35;

struct MeterShape
{
    uint32_t beatsPerBar;
    uint32_t beatUnit;
    uint32_t beatsPerPulse; // meter beats in one felt pulse
    uint32_t pulseDivision; // how the pulse divides: into 2 or into 3
    double logPrior;        // how much rarer than 4/4
    double priorCentreBpm;  // the most common pulse tempo in this meter
};

constexpr std::array<MeterShape, 3> Shapes{{
    {4, 4, 1, 2, 0.0, PriorCentreBpm},
    {3, 4, 1, 2, -0.6, PriorCentreBpm},
    {6, 8, 3, 3, -0.6, CompoundPriorCentreBpm},
}};

double BarCountLogPrior(uint32_t bars)
{
    switch (bars)
    {
    case 1:
    case 2:
    case 4:
    case 8:
        return 0.0;
    case 16:
    case 32:
        return -0.3;
    case 3:
    case 6:
    case 12:
        return -0.8;
    default:
        return -1.5;
    }
}

double TempoLogPrior(double pulseBpm, double centreBpm)
{
    const double x = std::log(pulseBpm / centreBpm) / PriorLogWidth;
    return -0.5 * x * x;
}

struct Candidate
{
    MeterChoice meter;
    uint32_t pulses = 0;
    uint32_t pulseDivision = 2;
    double pulseBpm = 0.0;
    double score = 0.0;
};

// Onset salience on a circular timeline: a point on the loop picks up the strongest nearby
// onset, weighted by how far off it lies.
class OnsetField
{
public:
    OnsetField(uint64_t length, const std::vector<Onset>& onsets) : loopLength(length)
    {
        float strongest = 0.0f;
        for (const Onset& onset : onsets)
            if (onset.frame < length && std::isfinite(onset.strength) && onset.strength > 0.0f)
                strongest = std::max(strongest, onset.strength);
        if (strongest <= 0.0f)
            return;
        for (const Onset& onset : onsets)
            if (onset.frame < length && std::isfinite(onset.strength) && onset.strength > 0.0f)
            {
                // Squared, so that accents stand out from evenly loud off-beats.
                const double share = std::min(onset.strength, strongest) / strongest;
                points.push_back({static_cast<double>(onset.frame), share * share});
            }
        std::sort(points.begin(), points.end(),
                  [](const Point& a, const Point& b) { return a.frame < b.frame; });
    }

    size_t CountAtLeast(double share) const
    {
        return static_cast<size_t>(std::count_if(
            points.begin(), points.end(), [&](const Point& p) { return p.weight >= share; }));
    }

    // Where the first downbeat lies: loops start on one, unless a short silence comes first,
    // so the first strong onset within the lead-in allowance, else the loop start.
    double Downbeat(double leadInFrames) const
    {
        for (const Point& p : points)
        {
            if (p.frame > leadInFrames)
                break;
            if (p.weight >= StrongOnsetWeight)
                return p.frame;
        }
        return 0.0;
    }

    double At(double position, double sigma) const
    {
        const double length = static_cast<double>(loopLength);
        position = std::fmod(position, length);
        if (position < 0.0)
            position += length;
        const double reach = 4.0 * sigma;
        double best = 0.0;
        // The window may wrap round either end of the loop.
        for (double shift : {-length, 0.0, length})
        {
            const double low = position + shift - reach;
            const double high = position + shift + reach;
            auto it = std::lower_bound(points.begin(), points.end(), low,
                                       [](const Point& p, double v) { return p.frame < v; });
            for (; it != points.end() && it->frame <= high; ++it)
            {
                const double d = (it->frame - position - shift) / sigma;
                best = std::max(best, it->weight * std::exp(-0.5 * d * d));
            }
        }
        return best;
    }

private:
    struct Point
    {
        double frame;
        double weight; // strength over the strongest onset's
    };
    uint64_t loopLength;
    std::vector<Point> points;
};

// How well a grid of `pulses` equal pulses explains the onsets. The base is the mean salience on
// the pulses: a grid at twice the true tempo puts every other pulse on a weak off-beat. A grid at
// half the true tempo finds its subdivisions about as strong as its pulses, which costs it; and
// the pulse should divide the way the onsets between pulses do, in two or in three.
double GridFit(const OnsetField& field, uint64_t length, uint32_t pulses, uint32_t division,
               double sigmaFrames, double downbeat)
{
    const double period = static_cast<double>(length) / pulses;
    const double sigma = std::min(sigmaFrames, period / 12.0);
    double onPulse = 0.0;
    double inHalves = 0.0;
    double inThirds = 0.0;
    for (uint32_t k = 0; k < pulses; ++k)
    {
        const double at = downbeat + k * period;
        onPulse += field.At(at, sigma);
        inHalves += field.At(at + period / 2.0, sigma);
        inThirds +=
            std::max(field.At(at + period / 3.0, sigma), field.At(at + period * 2.0 / 3.0, sigma));
    }
    onPulse /= pulses;
    inHalves /= pulses;
    inThirds /= pulses;
    const double between = std::max(inHalves, inThirds);
    const double againstDivision = division == 3 ? inHalves - inThirds : inThirds - inHalves;
    return onPulse - SlowGridWeight * std::max(0.0, between - SubdivisionShare * onPulse) -
           DivisionWeight * std::max(0.0, againstDivision);
}

std::vector<Candidate> Candidates(double seconds)
{
    std::vector<Candidate> result;
    for (const MeterShape& shape : Shapes)
    {
        // Every whole-bar count whose pulse lies in the plausible range, and in 4/4 the part-bar
        // lengths of a short loop (one to three beats).
        const double barsPerBpm = seconds / 60.0 / (shape.beatsPerBar / shape.beatsPerPulse);
        const uint32_t firstBars =
            std::max<uint32_t>(1, static_cast<uint32_t>(std::ceil(SlowestPulseBpm * barsPerBpm)));
        const uint32_t lastBars = static_cast<uint32_t>(std::floor(FastestPulseBpm * barsPerBpm));
        auto add = [&](uint32_t bars, uint32_t extraBeats, double extraPrior)
        {
            Candidate c;
            c.meter.bars = bars;
            c.meter.extraBeats = extraBeats;
            c.meter.beatsPerBar = shape.beatsPerBar;
            c.meter.beatUnit = shape.beatUnit;
            const uint32_t beats = bars * shape.beatsPerBar + extraBeats;
            c.meter.tempoBpm = beats * 60.0 / seconds;
            c.pulses = beats / shape.beatsPerPulse;
            c.pulseDivision = shape.pulseDivision;
            c.pulseBpm = c.meter.tempoBpm / shape.beatsPerPulse;
            c.score = TempoLogPrior(c.pulseBpm, shape.priorCentreBpm) + shape.logPrior + extraPrior;
            result.push_back(c);
        };
        for (uint32_t bars = firstBars; bars <= lastBars; ++bars)
            add(bars, 0, BarCountLogPrior(bars));
        if (shape.beatsPerBar == 4 && shape.beatUnit == 4)
            for (uint32_t beats = 1; beats < 4; ++beats)
            {
                const double bpm = beats * 60.0 / seconds;
                if (bpm >= SlowestPulseBpm && bpm <= FastestPulseBpm)
                    add(0, beats, beats == 2 ? -1.0 : -1.5);
            }
    }
    return result;
}

// With no candidate in the plausible range (a loop of a fraction of a second, or hours long),
// the nearest length in 4/4 to the prior's centre.
MeterChoice NearestToCentre(double seconds)
{
    MeterChoice meter;
    const double beats = std::max(1.0, std::round(PriorCentreBpm * seconds / 60.0));
    const double total = std::min(beats, 4.0e9);
    const uint64_t whole = static_cast<uint64_t>(total);
    meter.bars = static_cast<uint32_t>(whole / 4);
    meter.extraBeats = static_cast<uint32_t>(whole % 4);
    if (meter.bars >= 1 && meter.extraBeats != 0 && whole >= 16)
    {
        // Long files: whole bars read better than a precise beat count nobody can check.
        meter.bars = static_cast<uint32_t>(std::llround(total / 4.0));
        meter.extraBeats = 0;
    }
    const double counted = meter.bars * 4.0 + meter.extraBeats;
    meter.tempoBpm = counted * 60.0 / seconds;
    return meter;
}

} // namespace

MeterEstimate EstimateLoopMeter(uint64_t frameCount, uint32_t sampleRate,
                                const std::vector<Onset>& onsets)
{
    MeterEstimate estimate;
    const double seconds = sampleRate ? static_cast<double>(frameCount) / sampleRate : 0.0;
    if (seconds * FastestBeatBpm / 60.0 < 1.0)
    {
        // Not even one beat at any tempo: no meter, and a tempo of 0 as the engine gives for a
        // loop of no beats.
        estimate.best.bars = 0;
        estimate.reason = frameCount == 0 || sampleRate == 0
                              ? "no tempo: the loop is empty"
                              : "no tempo: the loop is shorter than a beat";
        return estimate;
    }
    const OnsetField field(frameCount, onsets);
    const size_t usefulOnsets = field.CountAtLeast(UsefulOnsetWeight);

    std::vector<Candidate> candidates =
        seconds <= LongestAnalysedSeconds ? Candidates(seconds) : std::vector<Candidate>{};
    if (candidates.empty())
    {
        estimate.best = NearestToCentre(seconds);
        estimate.reason = MeterSummary(estimate.best, seconds > LongestAnalysedSeconds
                                                          ? "a guess: too long for a loop"
                                                          : "a guess: too short for a bar");
        return estimate;
    }

    const bool enoughOnsets = usefulOnsets >= FewestUsefulOnsets;
    if (enoughOnsets)
    {
        const double downbeat = field.Downbeat(LongestLeadInSeconds * sampleRate);
        const double sigma = OnsetToleranceSeconds * sampleRate;
        for (Candidate& c : candidates)
            c.score += EvidenceWeight *
                       GridFit(field, frameCount, c.pulses, c.pulseDivision, sigma, downbeat);
    }

    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
    const double top = candidates.front().score;
    double total = 0.0;
    for (const Candidate& c : candidates)
        total += std::exp(c.score - top);
    for (Candidate& c : candidates)
        c.meter.confidence = std::exp(c.score - top) / total;

    estimate.best = candidates.front().meter;
    if (candidates.size() > 1)
        estimate.runnerUp = candidates[1].meter;
    estimate.weakEvidence = !enoughOnsets || estimate.best.confidence < WeakConfidence;
    if (!enoughOnsets)
        estimate.reason = MeterSummary(
            estimate.best, usefulOnsets == 0 ? "a guess: no onsets" : "a guess: too few onsets");
    else if (estimate.weakEvidence)
        estimate.reason = MeterSummary(estimate.best, "a guess: the onsets fit several tempos");
    else
        estimate.reason = MeterSummary(estimate.best, "from the onsets");
    return estimate;
}

namespace
{

bool IsUnitWord(std::string_view word)
{
    static constexpr std::array<std::string_view, 16> Units{
        "k",    "khz",   "hz", "bit", "bits", "b",   "bar", "bars",
        "beat", "beats", "st", "ms",  "s",    "sec", "x",   "ch"};
    return std::find(Units.begin(), Units.end(), word) != Units.end();
}

std::string Lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool IsLetter(char c)
{
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

bool IsDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

} // namespace

std::optional<double> TempoFromFileName(std::string_view path)
{
    const size_t slash = path.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string_view::npos && dot > 0)
    {
        const std::string_view extension = name.substr(dot + 1);
        if (!extension.empty() &&
            std::all_of(extension.begin(), extension.end(),
                        [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }) &&
            !std::all_of(extension.begin(), extension.end(), IsDigit))
            name = name.substr(0, dot);
    }
    const std::string text = Lower(name);

    std::optional<double> marked;
    std::vector<double> bare;
    size_t i = 0;
    while (i < text.size())
    {
        if (!IsDigit(text[i]))
        {
            ++i;
            continue;
        }
        const size_t start = i;
        while (i < text.size() && IsDigit(text[i]))
            ++i;
        bool decimal = false;
        if (i + 1 < text.size() && text[i] == '.' && IsDigit(text[i + 1]))
        {
            decimal = true;
            ++i;
            while (i < text.size() && IsDigit(text[i]))
                ++i;
        }
        const std::string_view number(text.data() + start, i - start);
        double value = 0.0;
        std::from_chars(number.data(), number.data() + number.size(), value);

        // The word glued to the number, or else the next word after separators.
        size_t wordStart = i;
        while (wordStart < text.size() && !IsLetter(text[wordStart]) && !IsDigit(text[wordStart]) &&
               text[wordStart] != '.')
            ++wordStart;
        size_t wordEnd = wordStart;
        while (wordEnd < text.size() && IsLetter(text[wordEnd]))
            ++wordEnd;
        const std::string_view next(text.data() + wordStart, wordEnd - wordStart);
        const bool glued = wordStart == i && !next.empty();
        const bool markedAfter = next == "bpm";
        // "bpm128", "BPM_128": the marker before the number.
        size_t before = start;
        while (before > 0 && !IsLetter(text[before - 1]) && !IsDigit(text[before - 1]) &&
               text[before - 1] != '.')
            --before;
        const bool markedBefore = before >= 3 && text.compare(before - 3, 3, "bpm") == 0 &&
                                  (before == 3 || !IsLetter(text[before - 4]));
        const bool letterBefore = start > 0 && IsLetter(text[start - 1]);
        const bool dotAround =
            (start > 0 && text[start - 1] == '.') || (i < text.size() && text[i] == '.');

        if ((markedAfter || markedBefore) && value >= 40.0 && value <= 300.0)
        {
            if (!marked)
                marked = value;
            continue;
        }
        // A bare number counts only as a word of its own: not glued to letters ("96k", "A140",
        // "24bit"), not a decimal ("44.1"), not a leading track number, not followed by a unit.
        if (glued || letterBefore || decimal || dotAround || start == 0 || IsUnitWord(next))
            continue;
        if (value >= 60.0 && value <= 200.0)
            bare.push_back(value);
    }
    if (marked)
        return marked;
    // Two different bare numbers leave it unclear which one is the tempo.
    if (!bare.empty() &&
        std::all_of(bare.begin(), bare.end(), [&](double v) { return v == bare[0]; }))
        return bare[0];
    return std::nullopt;
}

MeterChoice MeterForTempo(uint64_t frameCount, uint32_t sampleRate, double tempoBpm,
                          uint32_t beatsPerBar, uint32_t beatUnit)
{
    MeterChoice meter;
    meter.beatsPerBar = beatsPerBar == 0 ? 4 : beatsPerBar;
    meter.beatUnit = beatUnit == 0 ? 4 : beatUnit;
    if (frameCount == 0 || sampleRate == 0 || !std::isfinite(tempoBpm) || tempoBpm <= 0.0)
    {
        meter.tempoBpm = 0.0;
        return meter;
    }
    const double seconds = static_cast<double>(frameCount) / sampleRate;
    const double exactBeats = std::min(tempoBpm * seconds / 60.0, 4.0e9);
    const double perBar = meter.beatsPerBar;
    const double wholeBars = std::max(1.0, std::round(exactBeats / perBar));
    auto relativeError = [&](double beats)
    { return std::fabs(beats * 60.0 / seconds - tempoBpm) / tempoBpm; };

    constexpr double Fits = 0.02;
    double beats = wholeBars * perBar;
    if (relativeError(beats) > Fits)
        beats = std::max(1.0, std::round(exactBeats)); // a part-bar length fits better
    const uint64_t whole = static_cast<uint64_t>(beats);
    meter.bars = static_cast<uint32_t>(whole / meter.beatsPerBar);
    meter.extraBeats = static_cast<uint32_t>(whole % meter.beatsPerBar);
    meter.tempoBpm = beats * 60.0 / seconds;
    meter.confidence = std::clamp(1.0 - (relativeError(beats) - Fits) / 0.1, 0.0, 1.0);
    return meter;
}

std::string DescribeMeter(const MeterChoice& meter)
{
    std::string text;
    auto count = [](uint32_t n, const char* one, const char* many)
    { return std::to_string(n) + " " + (n == 1 ? one : many); };
    if (meter.bars > 0)
        text = count(meter.bars, "bar", "bars");
    if (meter.extraBeats > 0)
        text += (text.empty() ? "" : " and ") + count(meter.extraBeats, "beat", "beats");
    if (text.empty())
        text = "0 bars";
    return text + " of " + std::to_string(meter.beatsPerBar) + "/" + std::to_string(meter.beatUnit);
}

std::string MeterSummary(const MeterChoice& meter, std::string_view source)
{
    std::string text = "tempo " + OneDecimal(meter.tempoBpm) + " BPM";
    if (meter.beatUnit == 8)
        text += " (eighth notes)";
    return text + ": " + DescribeMeter(meter) + ", " + std::string(source);
}

} // namespace KelvoraCli
