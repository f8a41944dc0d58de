// A fixture for tests that run the tool on one generated loop: two seconds of stereo clicks at
// 44.1 kHz (240 BPM as the default two bars of 4/4), with hits at uneven distances.
#pragma once

#include "TempFolder.h"
#include "TestAudio.h"
#include "ToolProcess.h"

#include <gtest/gtest.h>

class ClickLoopTest : public ::testing::Test
{
protected:
    static constexpr int Rate = 44100;
    static constexpr size_t Frames = 88200;
    inline static const std::vector<uint32_t> Hits{0,     9000,  22050, 31000,
                                                   44100, 57500, 66150, 80000};

    void SetUp() override { source.Write(loop); }

    // Runs "kelvora command loop options...".
    ProcessResult Run(const std::string& command, const std::vector<std::string>& options)
    {
        std::vector<std::string> args{command, loop.string()};
        args.insert(args.end(), options.begin(), options.end());
        return ToolProcess::Kelvora(args);
    }

    nlohmann::json Analyse(std::vector<std::string> options = {})
    {
        options.push_back("--json");
        const ProcessResult run = Run("analyse", options);
        EXPECT_EQ(run.status, 0) << run.err;
        return run.status == 0 ? nlohmann::json::parse(run.out).at(0) : nlohmann::json();
    }

    TempFolder folder;
    std::filesystem::path loop = folder / "clicks.wav";
    TestAudio source = TestAudio::Clicks(Rate, Frames, 2, Hits);
};
