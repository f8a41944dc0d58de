#include "TempFolder.h"
#include "TestAudio.h"
#include "ToolProcess.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>

namespace
{

// Two seconds at 44.1 kHz: with the default meter of two 4/4 bars that is 240 BPM.
constexpr int Rate = 44100;
constexpr size_t LoopFrames = 88200;
const std::vector<uint32_t> Hits{0, 9000, 22050, 31000, 44100, 57500, 66150, 80000};
// The detector places onsets to within a few fine frames; a slice more than this far from a
// hit is not that hit.
constexpr long Tolerance = 16;

bool NearAHit(long position)
{
    for (const uint32_t hit : Hits)
        if (std::labs(position - static_cast<long>(hit)) <= Tolerance)
            return true;
    return false;
}

class AnalyseTest : public ::testing::Test
{
protected:
    void SetUp() override { TestAudio::Clicks(Rate, LoopFrames, 2, Hits).Write(loop); }

    nlohmann::json AnalyseJson(std::vector<std::string> extra = {})
    {
        std::vector<std::string> args{"analyse", "--json", loop.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        const ProcessResult run = ToolProcess::Kelvora(args);
        EXPECT_EQ(run.status, 0) << run.err;
        const nlohmann::json all = nlohmann::json::parse(run.out);
        EXPECT_EQ(all.size(), 1u);
        return all.at(0);
    }

    TempFolder folder;
    std::filesystem::path loop = folder / "clicks.wav";
};

TEST_F(AnalyseTest, EveryKnownHitIsAnActiveSliceAndNothingElseIs)
{
    const nlohmann::json report = AnalyseJson();
    std::vector<long> active;
    for (const auto& slice : report["slices"])
        if (slice["active"].get<bool>())
            active.push_back(slice["position"].get<long>());

    for (const uint32_t hit : Hits)
    {
        bool found = false;
        for (const long position : active)
            found = found || std::labs(position - static_cast<long>(hit)) <= Tolerance;
        EXPECT_TRUE(found) << "no active slice near the hit at " << hit;
    }
    for (const long position : active)
        EXPECT_TRUE(NearAHit(position)) << "active slice at " << position << " is no hit";
    EXPECT_EQ(report["activeSlices"].get<size_t>(), active.size());
}

TEST_F(AnalyseTest, ReportsShapeTempoAndMeterOfTheLoop)
{
    const nlohmann::json report = AnalyseJson();
    EXPECT_EQ(report["frames"], LoopFrames);
    EXPECT_EQ(report["sampleRate"], Rate);
    EXPECT_EQ(report["channels"], 2);
    EXPECT_DOUBLE_EQ(report["seconds"].get<double>(), 2.0);
    // 8 beats in 2 seconds.
    EXPECT_NEAR(report["loopTempo"].get<double>(), 240.0, 1e-3);
    EXPECT_EQ(report["meter"]["bars"], 2);
    EXPECT_EQ(report["meter"]["beatsPerBar"], 4);
    EXPECT_EQ(report["meter"]["beatUnit"], 4);
    EXPECT_DOUBLE_EQ(report["sensitivity"].get<double>(), 0.5);
    EXPECT_DOUBLE_EQ(report["threshold"].get<double>(), 0.25);
    EXPECT_DOUBLE_EQ(report["detectionWindowMs"].get<double>(), 75.0);
}

TEST_F(AnalyseTest, RegionsTileTheLoopAndStartAtTheActiveSlices)
{
    const nlohmann::json report = AnalyseJson();
    uint64_t next = 0;
    for (const auto& region : report["regions"])
    {
        EXPECT_EQ(region["start"].get<uint64_t>(), next);
        EXPECT_GT(region["length"].get<uint64_t>(), 0u);
        next += region["length"].get<uint64_t>();
        if (region["start"].get<uint64_t>() != 0)
        {
            EXPECT_TRUE(NearAHit(region["start"].get<long>()));
        }
    }
    EXPECT_EQ(next, LoopFrames);
}

TEST_F(AnalyseTest, MeterAndLoopTempoOptionsChangeTheTempo)
{
    // One bar of 4/4 in two seconds is 120 BPM; 3 bars of 3/4 plus 1 beat are 10 beats: 300.
    EXPECT_NEAR(AnalyseJson({"--bars", "1"})["loopTempo"].get<double>(), 120.0, 1e-3);
    const nlohmann::json waltz =
        AnalyseJson({"--bars", "3", "--beats-per-bar", "3", "--extra-beats", "1"});
    EXPECT_NEAR(waltz["loopTempo"].get<double>(), 300.0, 1e-3);
    EXPECT_EQ(waltz["meter"]["extraBeats"], 1);
    EXPECT_NEAR(AnalyseJson({"--loop-tempo", "97.5"})["loopTempo"].get<double>(), 97.5, 1e-4);
}

TEST_F(AnalyseTest, SensitivityDecidesWhatCuts)
{
    const nlohmann::json none = AnalyseJson({"--sensitivity", "0"});
    EXPECT_EQ(none["activeSlices"], 0);
    ASSERT_EQ(none["regions"].size(), 1u);
    EXPECT_EQ(none["regions"][0]["length"], LoopFrames);

    // At sensitivity 1 every point with any strength cuts.
    const nlohmann::json all = AnalyseJson({"--sensitivity", "1"});
    EXPECT_EQ(all["activeSlices"].get<size_t>(), all["slices"].size());

    // At 0.8 the threshold is 0.04: exactly the points at or above it are active.
    const nlohmann::json some = AnalyseJson({"-s", "0.8"});
    for (const auto& slice : some["slices"])
        EXPECT_EQ(slice["active"].get<bool>(), slice["strength"].get<double>() >= 0.04 - 1e-6)
            << slice.dump();
}

TEST_F(AnalyseTest, TextTableListsTheHitsWithFramesAndSeconds)
{
    const ProcessResult run = ToolProcess::Kelvora({"analyse", "--active-only", loop.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("88200 frames, 2.000 s, 44100 Hz, 2 channels"), std::string::npos);
    EXPECT_NE(run.out.find("tempo 240.00 BPM, meter 2 bars of 4/4"), std::string::npos);

    std::istringstream lines(run.out);
    std::string line;
    std::vector<long> frames;
    while (std::getline(lines, line))
    {
        std::istringstream fields(line);
        long index = 0;
        long frame = 0;
        double seconds = 0.0;
        double strength = 0.0;
        std::string active;
        if (fields >> index >> frame >> seconds >> strength >> active)
        {
            EXPECT_EQ(active, "yes") << line;
            EXPECT_NEAR(seconds, frame / 44100.0, 0.00006) << line;
            frames.push_back(frame);
        }
    }
    ASSERT_EQ(frames.size(), Hits.size()) << run.out;
    for (const long frame : frames)
        EXPECT_TRUE(NearAHit(frame)) << frame;
}

TEST_F(AnalyseTest, SeveralFilesRunOnAndAFailureIsReportedButDoesNotStopTheRest)
{
    const std::filesystem::path second = folder / "second.wav";
    std::filesystem::copy_file(loop, second);
    const std::string missing = (folder / "missing.wav").string();
    const ProcessResult run =
        ToolProcess::Kelvora({"analyse", "--json", loop.string(), missing, second.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kelvora: " + missing + ": file not found\n");
    const nlohmann::json all = nlohmann::json::parse(run.out);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0]["frames"], LoopFrames);
    EXPECT_EQ(all[1]["file"], missing);
    EXPECT_EQ(all[1]["error"], missing + ": file not found");
    EXPECT_EQ(all[2]["slices"], all[0]["slices"]);
}

} // namespace
