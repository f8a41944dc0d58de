// A minimal Kelvora host: reads a loop with libsndfile, lets the engine slice it, prints the
// slices that cut the loop and writes one pass of the loop played at another tempo.
//
//   slice_loop IN.wav OUT.wav TEMPO_BPM [BARS]
//
// The loop's own tempo comes from its length and meter (BARS bars of 4/4, default 2).
#include <kelvora/KelvoraEngine.h>

#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace VoKelvora;

int main(int argc, char** argv)
{
    if (argc < 4 || argc > 5)
    {
        std::fprintf(stderr, "usage: %s IN.wav OUT.wav TEMPO_BPM [BARS]\n", argv[0]);
        return 2;
    }
    const float tempo = std::strtof(argv[3], nullptr);
    const long bars = argc == 5 ? std::strtol(argv[4], nullptr, 10) : 2;
    if (!(tempo > 0.0f && tempo <= 10000.0f) || bars < 1 || bars > 1024)
    {
        std::fprintf(stderr, "%s: the tempo must be in (0, 10000] BPM, bars in 1..1024\n", argv[0]);
        return 2;
    }

    // Read the whole file, interleaved, then split it into the planar channels the engine takes.
    SF_INFO format = {};
    SNDFILE* in = sf_open(argv[1], SFM_READ, &format);
    if (!in)
    {
        std::fprintf(stderr, "%s: %s\n", argv[1], sf_strerror(nullptr));
        return 1;
    }
    if (format.frames <= 0 || format.frames > 0x7fffffff / format.channels)
    {
        std::fprintf(stderr, "%s: empty, or too long for one loop\n", argv[1]);
        sf_close(in);
        return 1;
    }
    const uint32_t channels = static_cast<uint32_t>(format.channels);
    const uint32_t frames = static_cast<uint32_t>(format.frames);
    std::vector<float> interleaved(static_cast<size_t>(frames) * channels);
    const sf_count_t read = sf_readf_float(in, interleaved.data(), frames);
    sf_close(in);
    if (read != static_cast<sf_count_t>(frames))
    {
        std::fprintf(stderr, "%s: could not read its %u frames\n", argv[1], frames);
        return 1;
    }
    std::vector<std::vector<float>> loop(channels, std::vector<float>(frames));
    std::vector<float*> loopChannels(channels);
    for (uint32_t c = 0; c < channels; ++c)
    {
        for (uint32_t f = 0; f < frames; ++f)
            loop[c][f] = interleaved[static_cast<size_t>(f) * channels + c];
        loopChannels[c] = loop[c].data();
    }

    KelvoraEngine* engine = nullptr;
    KelvoraEngine::Create(&engine, channels, static_cast<uint32_t>(format.samplerate), 0);
    if (!engine)
        return 1;
    const MeterLayout meter = {static_cast<uint32_t>(bars), 0, 4, 4};
    engine->SetMeter(&meter);
    engine->SetLoop(frames, channels, loopChannels.data(), 0.0f, nullptr, 0); // analyses the loop
    engine->SetSensitivity(0.5f); // points with strength >= 0.25 cut the loop

    // The points that cut: the rule the engine plays by.
    std::vector<SliceInfo> points(engine->GetSliceCount());
    engine->GetSlices(points.data());
    std::vector<SliceInfo> cuts;
    for (const SliceInfo& point : points)
        if (!point.deleted && (point.lockedOn || point.aboveThreshold))
            cuts.push_back(point);
    std::printf("Kelvora library version %u\n", GetKelvoraVersion());
    std::printf("%s: %u frames, %u channels, %d Hz, loop tempo %.2f BPM\n", argv[1], frames,
                channels, format.samplerate, engine->GetLoopTempo());
    std::printf("%zu slices\n", cuts.size());
    for (size_t i = 0; i < cuts.size(); ++i)
        std::printf("%4zu %10u %9.4f s  strength %.3f\n", i + 1, cuts[i].position,
                    cuts[i].position / static_cast<double>(format.samplerate), cuts[i].strength);

    // One pass of the loop at the new tempo, rendered block by block as a host's callback would.
    engine->SetTempo(tempo);
    engine->Transport(0, 0);
    const uint32_t length = engine->GetRenderedLength();
    const uint32_t blockFrames = 512;
    std::vector<std::vector<float>> block(channels, std::vector<float>(blockFrames));
    std::vector<float*> blockChannels(channels);
    for (uint32_t c = 0; c < channels; ++c)
        blockChannels[c] = block[c].data();
    std::vector<float> output(static_cast<size_t>(length) * channels);
    for (uint32_t done = 0; done < length; done += blockFrames)
    {
        const uint32_t count = length - done < blockFrames ? length - done : blockFrames;
        engine->Render(count, blockChannels.data());
        for (uint32_t f = 0; f < count; ++f)
            for (uint32_t c = 0; c < channels; ++c)
                output[(static_cast<size_t>(done) + f) * channels + c] = block[c][f];
    }
    KelvoraEngine::Destroy(engine);

    // Written under a temporary name and renamed when complete, so a failure leaves no partial
    // file.
    const std::string partial = std::string(argv[2]) + ".part";
    SF_INFO outFormat = {};
    outFormat.samplerate = format.samplerate;
    outFormat.channels = format.channels;
    outFormat.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* out = sf_open(partial.c_str(), SFM_WRITE, &outFormat);
    if (!out)
    {
        std::fprintf(stderr, "%s: %s\n", argv[2], sf_strerror(nullptr));
        return 1;
    }
    // No PEAK chunk: it holds a time stamp, and the same render should give the same file.
    sf_command(out, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    const sf_count_t written = sf_writef_float(out, output.data(), length);
    if (sf_close(out) != 0 || written != static_cast<sf_count_t>(length) ||
        std::rename(partial.c_str(), argv[2]) != 0)
    {
        std::remove(partial.c_str());
        std::fprintf(stderr, "%s: could not write all %u frames\n", argv[2], length);
        return 1;
    }
    std::printf("wrote %s: %u frames at %.2f BPM\n", argv[2], length, tempo);
    return 0;
}
