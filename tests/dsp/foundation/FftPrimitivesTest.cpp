#include "dsp/foundation/Primitives.h"
#include "tests/dsp/foundation/ReferenceDft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <tuple>

namespace
{

using namespace DSP::Primitives;
using namespace ReferenceDft;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
// A float FFT is good to about 1e-7 of the signal's norm, growing slowly with log N; ten times
// that still catches any wrong twiddle, sign or index.
constexpr double kTolerance = 1e-6;

struct PlanDeleter
{
    void operator()(FftPlan* plan) const { FftFree(plan); }
};
using PlanHandle = std::unique_ptr<FftPlan, PlanDeleter>;

PlanHandle MakePlan(int order, int scaling = FftDivideInverseByN, int hint = FftHintFast)
{
    FftPlan* plan = nullptr;
    EXPECT_EQ(FftCreate(&plan, order, scaling, hint), StatusOk);
    return PlanHandle(plan);
}

// Every order up to 2^14 with both algorithm hints; unknown hints select the fast method.
class FftSizes : public ::testing::TestWithParam<std::tuple<int, int>>
{
protected:
    int Order() const { return std::get<0>(GetParam()); }
    size_t N() const { return size_t{1} << Order(); }
    PlanHandle Plan(int scaling = FftDivideInverseByN) const
    {
        return MakePlan(Order(), scaling, std::get<1>(GetParam()));
    }
    static int32_t WorkBytes(const FftPlan* plan)
    {
        int32_t bytes = -1;
        EXPECT_EQ(FftWorkSize(plan, &bytes), StatusOk);
        return bytes;
    }
};

TEST_P(FftSizes, MatchesTheDirectSums)
{
    const auto plan = Plan();
    std::vector<uint8_t> work(std::max(WorkBytes(plan.get()), 1));
    const auto x = RandomSignal(N(), 17u + Order());
    std::vector<float> X(N() + 2, 12345.0f), back(N());
    ASSERT_EQ(FftForward(x.data(), X.data(), plan.get(), work.data()), StatusOk);
    EXPECT_LT(RelativeError(X, Forward(x)), kTolerance);
    EXPECT_EQ(X[1], 0.0f);
    EXPECT_EQ(X[N() + 1], 0.0f);
    ASSERT_EQ(FftInverse(X.data(), back.data(), plan.get(), work.data()), StatusOk);
    for (size_t i = 0; i < N(); ++i)
        ASSERT_NEAR(back[i], x[i], 2e-6f * float(Order() + 1)) << i;

    // An arbitrary spectrum, unscaled; NaN in the never-read entries 1 and N+1 must not leak.
    const auto raw = Plan(FftNoDivide);
    auto spectrum = RandomSignal(N() + 2, 99u + Order());
    const auto reference = Inverse(spectrum, N());
    spectrum[1] = spectrum[N() + 1] = kNaN;
    ASSERT_EQ(FftInverse(spectrum.data(), back.data(), raw.get(), nullptr), StatusOk);
    EXPECT_LT(RelativeError(back, reference), kTolerance);

    // A constant a: Re X0 = N a, everything else 0, and the inverse gives a back.
    const std::vector<float> constant(N(), 0.75f);
    ASSERT_EQ(FftForward(constant.data(), X.data(), plan.get(), nullptr), StatusOk);
    EXPECT_NEAR(X[0], 0.75 * double(N()), 1e-6 * double(N()));
    for (size_t i = 1; i < N() + 2; ++i)
        ASSERT_NEAR(X[i], 0.0f, 1e-6f * float(N())) << i;
    EXPECT_EQ(X[1], 0.0f);
    EXPECT_EQ(X[N() + 1], 0.0f);
    ASSERT_EQ(FftInverse(X.data(), back.data(), plan.get(), nullptr), StatusOk);
    for (size_t i = 0; i < N(); ++i)
        ASSERT_NEAR(back[i], 0.75f, 1e-6f) << i;
}

// In place, at odd interior positions, and with a work buffer of exactly the reported size at
// any alignment (the sanitizer build fails on any access past its end), the result is the same
// as with a temporary work buffer.
TEST_P(FftSizes, InPlaceUnalignedAndAnyWorkBufferAgree)
{
    const auto plan = Plan();
    const int32_t bytes = WorkBytes(plan.get());
    if (N() <= 8 || std::get<1>(GetParam()) == FftHintCompact)
        EXPECT_EQ(bytes, 0);
    else
        EXPECT_GT(bytes, 16);
    const auto x = RandomSignal(N(), 3u);
    std::vector<float> expected(N() + 2), expectedBack(N());
    ASSERT_EQ(FftForward(x.data(), expected.data(), plan.get(), nullptr), StatusOk);
    ASSERT_EQ(FftInverse(expected.data(), expectedBack.data(), plan.get(), nullptr), StatusOk);
    for (size_t skew : {0u, 5u, 11u})
    {
        SCOPED_TRACE(skew);
        const auto block = std::make_unique<uint8_t[]>(size_t(std::max(bytes, 0)) + skew);
        uint8_t* work = block.get() + skew;
        std::vector<float> source(skew, 0.0f), destination(N() + 2 + skew);
        source.insert(source.end(), x.begin(), x.end());
        ASSERT_EQ(FftForward(source.data() + skew, destination.data() + skew, plan.get(), work),
                  StatusOk);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), destination.begin() + skew));

        std::vector<float> inPlace(x);
        inPlace.resize(N() + 2, -7.0f);
        ASSERT_EQ(FftForward(inPlace.data(), inPlace.data(), plan.get(), work), StatusOk);
        EXPECT_EQ(inPlace, expected);
        ASSERT_EQ(FftInverse(inPlace.data(), inPlace.data(), plan.get(), work), StatusOk);
        inPlace.resize(N());
        EXPECT_EQ(inPlace, expectedBack);
    }
}

INSTANTIATE_TEST_SUITE_P(Orders, FftSizes,
                         ::testing::Combine(::testing::Range(1, 15),
                                            ::testing::Values(FftHintFast, FftHintCompact, 77)),
                         [](const auto& info)
                         {
                             return (::testing::Message() << "N" << (1 << std::get<0>(info.param))
                                                          << "_Hint" << std::get<1>(info.param))
                                 .GetString();
                         });

// N = 1: X0 = x0 followed by the two always-zero imaginary entries; no work buffer.
TEST(FftWorkedValues, OnePoint)
{
    const auto one = MakePlan(0);
    int32_t bytes = -1;
    ASSERT_EQ(FftWorkSize(one.get(), &bytes), StatusOk);
    EXPECT_EQ(bytes, 0);
    const float x[1] = {-2.5f}, spectrum[3] = {4.0f, kNaN, kNaN};
    float X[3] = {9.0f, 9.0f, 9.0f}, back[1] = {0.0f};
    ASSERT_EQ(FftForward(x, X, one.get(), nullptr), StatusOk);
    ASSERT_EQ(FftInverse(spectrum, back, one.get(), nullptr), StatusOk);
    EXPECT_EQ(std::vector<float>(X, X + 3), (std::vector<float>{-2.5f, 0.0f, 0.0f}));
    EXPECT_EQ(back[0], 4.0f);
}

// Against the unscaled direct sums: flag 1 divides the forward by N, 2 the inverse, 4 both by
// sqrt N, 8 neither.
TEST(FftScaling, FourFlags)
{
    for (int order : {2, 10})
    {
        const size_t n = size_t{1} << order;
        const double nd = double(n), root = 1.0 / std::sqrt(nd);
        const int flags[] = {FftDivideForwardByN, FftDivideInverseByN, FftDivideBySqrtN,
                             FftNoDivide};
        const double forward[] = {1.0 / nd, 1.0, root, 1.0}, inverse[] = {1.0, 1.0 / nd, root, 1.0};
        const auto x = RandomSignal(n, 11u);
        const auto reference = Forward(x);
        const std::vector<float> exactSpectrum(reference.begin(), reference.end());
        for (int f = 0; f < 4; ++f)
        {
            SCOPED_TRACE(::testing::Message() << "order " << order << " flag " << flags[f]);
            const auto plan = MakePlan(order, flags[f]);
            std::vector<float> X(n + 2), back(n);
            std::vector<double> scaled(reference), signal(x.begin(), x.end());
            for (double& v : scaled)
                v *= forward[f];
            for (double& v : signal)
                v *= nd * inverse[f];
            ASSERT_EQ(FftForward(x.data(), X.data(), plan.get(), nullptr), StatusOk);
            ASSERT_EQ(FftInverse(exactSpectrum.data(), back.data(), plan.get(), nullptr), StatusOk);
            EXPECT_LT(RelativeError(X, scaled), kTolerance);
            EXPECT_LT(RelativeError(back, signal), kTolerance);
        }
    }
}

// Order 30 is the largest and builds a compact plan (no work buffer, root tables of about
// sqrt N), so nothing in the size arithmetic overflows.
TEST(FftStatus, CreateChecksItsArguments)
{
    FftPlan* plan = nullptr;
    EXPECT_EQ(FftCreate(nullptr, 4, FftDivideInverseByN, FftHintFast), StatusNullPointer);
    for (int order : {-1, 31, std::numeric_limits<int32_t>::min(), 0x7FFFFFFF})
        EXPECT_EQ(FftCreate(&plan, order, FftDivideInverseByN, FftHintFast),
                  StatusFftOrderOutOfRange);
    for (int flag : {0, 3, 5, 16, -2})
        EXPECT_EQ(FftCreate(&plan, 4, flag, FftHintFast), StatusFftFlagInvalid);
    EXPECT_EQ(plan, nullptr);
    const auto largest = MakePlan(30);
    int32_t bytes = -1;
    EXPECT_EQ(FftWorkSize(largest.get(), &bytes), StatusOk);
    EXPECT_EQ(bytes, 0);
}

TEST(FftStatus, OperationsRejectNullAndForeignObjects)
{
    const auto plan = MakePlan(5);
    std::vector<float> foreign(64, 1.0f), x(32, 1.0f), X(34, 5.0f);
    auto* other = reinterpret_cast<FftPlan*>(foreign.data()); // big enough for a plan's header
    const FftPlan* p = plan.get();
    float *from = x.data(), *to = X.data();
    int32_t bytes = 123;
    const std::vector<int32_t> nulls = {FftForward(nullptr, to, p, nullptr),
                                        FftForward(from, nullptr, p, nullptr),
                                        FftForward(from, to, nullptr, nullptr),
                                        FftInverse(nullptr, from, p, nullptr),
                                        FftInverse(to, nullptr, p, nullptr),
                                        FftInverse(to, from, nullptr, nullptr),
                                        FftWorkSize(nullptr, &bytes),
                                        FftWorkSize(p, nullptr),
                                        FftFree(nullptr)};
    const std::vector<int32_t> foreigners = {FftForward(from, to, other, nullptr),
                                             FftInverse(to, from, other, nullptr),
                                             FftWorkSize(other, &bytes), FftFree(other)};
    EXPECT_EQ(nulls, std::vector<int32_t>(9, StatusNullPointer));
    EXPECT_EQ(foreigners, std::vector<int32_t>(4, StatusNotAnFftPlan));
    EXPECT_EQ(bytes, 123);
    EXPECT_EQ(X, std::vector<float>(34, 5.0f));
    EXPECT_EQ(x, std::vector<float>(32, 1.0f));
    EXPECT_EQ(foreign, std::vector<float>(64, 1.0f));
}

} // namespace
