#include "dsp/render/SteadySteps.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <tuple>

using namespace DSP;

// Every run equals the chain of rounded additions bit for bit and ends before its stop. Plain rates
// at usual heads take the closed form; steps halfway between two ulps of the head (rounded to
// even, so the result depends on the head) and heads below 1 never do.
TEST(SteadySteps, RunsRepeatTheChainOfAdditionsBitForBit)
{
    // head, step, backward -> whether the closed form is taken
    const std::tuple<double, double, bool, bool> cases[] = {
        {1000.0, 1.189207115002721, false, true},
        {5000.25, 0.8, true, true},
        {2047.9, 1.3, false, false},            // the next binade starts within eight frames
        {1500.0, 1.25 + 0x1p-43, false, false}, // a tie at ulp 2^-42
        {0.5, 0.01, false, false},
        {3.0e6, 1.0 / 3.0, true, true},
    };
    // Runs from head towards a stop `distance` away and checks the run against the chain; returns
    // its length.
    const auto check = [](double head, double step, bool backward, double distance)
    {
        const double stop = backward ? head - distance : head + distance;
        double heads[128], next = 0.0;
        const uint32_t m = backward ? SteadySteps::Backward(head, step, stop, 128, heads, next)
                                    : SteadySteps::Forward(head, step, stop, 128, heads, next);
        double chain = head;
        for (uint32_t k = 0; k < m; ++k)
        {
            EXPECT_EQ(std::bit_cast<uint64_t>(heads[k]), std::bit_cast<uint64_t>(chain))
                << head << " + " << step << " frame " << k;
            chain = backward ? chain - step : chain + step;
            EXPECT_TRUE(backward ? chain > stop : chain < stop) << head << " frame " << k;
        }
        EXPECT_EQ(std::bit_cast<uint64_t>(next), std::bit_cast<uint64_t>(chain)) << head;
        return m;
    };
    for (const auto& [head, step, backward, closedForm] : cases)
        EXPECT_EQ(check(head, step, backward, 90.0) > 0, closedForm) << head;

    // Random heads, steps and stops, ties among them.
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    uint64_t closedFrames = 0;
    for (int t = 0; t < 20000 && !HasFailure(); ++t)
    {
        const double head = unit(rng) * std::ldexp(1.0, int(unit(rng) * 24));
        const double step = t % 4 == 0
                                ? std::ldexp(std::floor(unit(rng) * 64) + 0.5, -int(unit(rng) * 50))
                                : unit(rng) * 3.0;
        const bool backward = t % 2 == 0;
        closedFrames += check(head, step, backward, unit(rng) * 300.0);
    }
    EXPECT_GT(closedFrames, 20000u * 20u);
}
