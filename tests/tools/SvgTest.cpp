#include "TempFolder.h"
#include "TestAudio.h"
#include "ToolProcess.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace
{

nlohmann::json Markers(const std::filesystem::path& svg)
{
    const ProcessResult run = ToolProcess::Python("svg_markers.py", {svg.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    return run.status == 0 ? nlohmann::json::parse(run.out) : nlohmann::json();
}

TEST(SvgTest, OneMarkerPerSlicePointWithActiveOnesAndStrengthsAsHeights)
{
    // The demo's drum loop has strong hits and many weak points between them, so the picture
    // has both kinds of marker.
    TempFolder folder;
    ASSERT_EQ(ToolProcess::Kelvora({"demo", "--dir", folder.Path().string()}).status, 0);
    const std::filesystem::path loop = folder / "drum-loop.wav";
    const std::filesystem::path svg = folder / "drums.svg";
    const ProcessResult run =
        ToolProcess::Kelvora({"analyse", loop.string(), "--json", "--svg", svg.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json report = nlohmann::json::parse(run.out).at(0);
    const nlohmann::json drawing = Markers(svg);
    EXPECT_EQ(drawing["root"], "{http://www.w3.org/2000/svg}svg");

    const nlohmann::json& slices = report["slices"];
    const nlohmann::json& markers = drawing["markers"];
    ASSERT_EQ(markers.size(), slices.size());
    size_t active = 0;
    for (const auto& marker : markers)
        active += marker["active"].get<bool>();
    EXPECT_GT(active, 0u);
    EXPECT_LT(active, markers.size());
    double tallest = 0.0;
    for (const auto& marker : markers)
        tallest = std::max(tallest, marker["height"].get<double>());
    ASSERT_GT(tallest, 0.0);
    for (size_t i = 0; i < markers.size(); ++i)
    {
        EXPECT_EQ(markers[i]["index"], slices[i]["index"]);
        EXPECT_EQ(markers[i]["position"], slices[i]["position"]);
        EXPECT_EQ(markers[i]["active"], slices[i]["active"]);
        // Heights are proportional to strength; the strongest point has strength 1.
        EXPECT_NEAR(markers[i]["height"].get<double>() / tallest,
                    slices[i]["strength"].get<double>(), 0.002);
    }
}

TEST(SvgTest, NamesWithMarkupCharactersStayWellFormed)
{
    TempFolder folder;
    const std::filesystem::path loop = folder / "drums <take 2> & \"bass\".wav";
    TestAudio::Clicks(44100, 44100, 2, {0, 22050}).Write(loop);
    const std::filesystem::path svg = folder / "picture.svg";
    const ProcessResult run =
        ToolProcess::Kelvora({"analyse", loop.string(), "--svg", svg.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json drawing = Markers(svg);
    ASSERT_FALSE(drawing["texts"].empty());
    EXPECT_NE(drawing["texts"][0].get<std::string>().find("drums <take 2> & \"bass\".wav"),
              std::string::npos);
}

TEST(SvgTest, SeveralInputsIntoAFolderGetOnePictureEach)
{
    TempFolder folder;
    TestAudio::Clicks(44100, 44100, 1, {0, 11025}).Write(folder / "one.wav");
    TestAudio::Clicks(44100, 44100, 1, {0, 11025, 30000}).Write(folder / "two.wav");
    std::filesystem::create_directory(folder / "pictures");
    const ProcessResult run = ToolProcess::Kelvora(
        {"analyse", (folder / "one.wav").string(), (folder / "two.wav").string(), "--svg",
         (folder / "pictures").string(), "--active-only"});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json one = Markers(folder / "pictures" / "one.svg");
    const nlohmann::json two = Markers(folder / "pictures" / "two.svg");
    size_t activeOne = 0;
    size_t activeTwo = 0;
    for (const auto& marker : one["markers"])
        activeOne += marker["active"].get<bool>();
    for (const auto& marker : two["markers"])
        activeTwo += marker["active"].get<bool>();
    EXPECT_EQ(activeOne, 2u);
    EXPECT_EQ(activeTwo, 3u);
}

} // namespace
