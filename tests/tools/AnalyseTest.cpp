#include "ClickLoopTest.h"

namespace
{

using AnalyseTest = ClickLoopTest;

TEST_F(AnalyseTest, FindsExactlyTheHitsAndItsRegionsTileTheLoop)
{
    const nlohmann::json report = Analyse();
    EXPECT_EQ(report["frames"], Frames);
    EXPECT_EQ(report["sampleRate"], Rate);
    EXPECT_EQ(report["channels"], 2);
    EXPECT_NEAR(report["loopTempo"].get<double>(), 240.0, 1e-3); // 8 beats in 2 seconds

    // The detector places onsets to within a few fine frames of the clicks.
    std::vector<long> active;
    for (const auto& slice : report["slices"])
        if (slice["active"].get<bool>())
            active.push_back(slice["position"].get<long>());
    ASSERT_EQ(active.size(), Hits.size());
    EXPECT_EQ(report["activeSlices"].get<size_t>(), active.size());
    for (size_t i = 0; i < active.size(); ++i)
        EXPECT_NEAR(active[i], Hits[i], 16) << "slice " << i;

    const nlohmann::json& regions = report["regions"];
    ASSERT_EQ(regions.size(), Hits.size());
    uint64_t next = 0;
    for (size_t i = 0; i < regions.size(); ++i)
    {
        EXPECT_EQ(regions[i]["start"].get<long>(), i == 0 ? 0 : active[i]);
        EXPECT_EQ(regions[i]["start"].get<uint64_t>(), next);
        next += regions[i]["length"].get<uint64_t>();
    }
    EXPECT_EQ(next, Frames);
}

TEST_F(AnalyseTest, MeterAndSensitivityOptions)
{
    // One bar of 4/4 in two seconds is 120 BPM; 3 bars of 3/4 plus 1 beat are 10 beats: 300.
    EXPECT_NEAR(Analyse({"--bars", "1"})["loopTempo"].get<double>(), 120.0, 1e-3);
    EXPECT_NEAR(Analyse({"--bars", "3", "--beats-per-bar", "3", "--extra-beats", "1"})["loopTempo"]
                    .get<double>(),
                300.0, 1e-3);
    EXPECT_NEAR(Analyse({"--loop-tempo", "97.5"})["loopTempo"].get<double>(), 97.5, 1e-4);

    const nlohmann::json none = Analyse({"--sensitivity", "0"});
    EXPECT_EQ(none["activeSlices"], 0);
    ASSERT_EQ(none["regions"].size(), 1u);
    EXPECT_EQ(none["regions"][0]["length"], Frames);
    // The threshold is (1 - sensitivity)^2, a float: 0.04 at 0.8.
    const nlohmann::json some = Analyse({"-s", "0.8"});
    EXPECT_NEAR(some["threshold"].get<double>(), 0.04, 1e-7);
    for (const auto& slice : some["slices"])
        EXPECT_EQ(slice["active"].get<bool>(), slice["strength"].get<double>() >= 0.04 - 1e-6)
            << slice.dump();
}

TEST_F(AnalyseTest, AFailingFileIsReportedAndTheOthersStillRun)
{
    std::filesystem::copy_file(loop, folder / "second.wav");
    const std::string missing = (folder / "missing.wav").string();
    const ProcessResult run = Run("analyse", {"--json", missing, (folder / "second.wav").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kelvora: " + missing + ": file not found\n");
    const nlohmann::json all = nlohmann::json::parse(run.out);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0]["frames"], Frames);
    EXPECT_EQ(all[1]["error"], missing + ": file not found");
    EXPECT_EQ(all[2]["slices"], all[0]["slices"]);
}

TEST_F(AnalyseTest, PictureOfAFileWithMarkupInItsNameIsWellFormed)
{
    const std::string odd = "drums <take 2> & \"bass\".wav";
    std::filesystem::rename(loop, folder / odd);
    const ProcessResult run = ToolProcess::Kelvora(
        {"analyse", (folder / odd).string(), "--svg", (folder / "picture.svg").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json drawing = ToolProcess::ReadBack("svg", folder / "picture.svg");
    ASSERT_FALSE(drawing["texts"].empty());
    EXPECT_NE(drawing["texts"][0].get<std::string>().find(odd), std::string::npos);
}

} // namespace
