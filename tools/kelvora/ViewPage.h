// The interactive page of one analysed loop: a single HTML file that works offline from disk,
// with the waveform, every slice point, a live sensitivity control, audition and slice downloads.
// The page's HTML, CSS and JavaScript are the files in tools/kelvora/view, compiled in; this
// class fills them with the loop's report and its audio.
#pragma once

#include <string>

namespace KelvoraCli
{

class AudioFile;
struct EngineSettings;
struct LoopReport;

class ViewPage
{
public:
    // Builds the whole page in memory: about 4/3 of the embedded WAV plus some 40 KB, so a
    // 4-second stereo float loop at 44.1 kHz makes a page of about 1.9 MB.
    // settings are the ones the report was made with; the page's command line repeats the
    // options among them that decide where the loop is cut.
    ViewPage(const AudioFile& audio, const LoopReport& report, const EngineSettings& settings);

    const std::string& Html() const { return html; }
    // Sample format of the embedded audio: 16 or 24 (integer PCM) or 32 (float), the smallest
    // that holds every sample of the loop exactly.
    int AudioBitDepth() const { return bitDepth; }

private:
    int bitDepth;
    std::string html;
};

} // namespace KelvoraCli
