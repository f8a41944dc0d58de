#pragma once

#include <random>
#include <vector>

using Audio = std::vector<std::vector<float>>; // one vector per channel

inline std::vector<const float*> Pointers(const Audio& audio)
{
    std::vector<const float*> p;
    for (const auto& c : audio)
        p.push_back(c.data());
    return p;
}

// Silence, then random signs of magnitude `level` from `onset` for `duration` samples.
inline std::vector<float> Burst(size_t length, size_t onset, size_t duration, float level,
                                unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<float> x(length, 0.0f);
    for (size_t i = onset; i < onset + duration && i < length; ++i)
        x[i] = (rng() & 1) ? level : -level;
    return x;
}
