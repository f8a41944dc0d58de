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
constexpr double kTolerance = 1e-6;

using PlanHandle = std::unique_ptr<FftPlan, decltype(&FftFree)>;

PlanHandle MakePlan(int order, int scaling = FftDivideInverseByN, int hint = FftHintFast)
{
    FftPlan* plan = nullptr;
    EXPECT_EQ(FftCreate(&plan, order, scaling, hint), StatusOk);
    return PlanHandle(plan, &FftFree);
}

int32_t WorkBytes(const FftPlan* plan)
{
    int32_t bytes = -1;
    EXPECT_EQ(FftWorkSize(plan, &bytes), StatusOk);
    return bytes;
}

// Every order up to 2^14 with both algorithm hints; unknown hints select the fast method.
class FftSizes : public ::testing::TestWithParam<std::tuple<int, int>>
{
};

TEST_P(FftSizes, MatchesTheDirectSumsInPlaceAndWithAnExactWorkBuffer)
{
    const auto [order, hint] = GetParam();
    const size_t n = size_t{1} << order;
    const auto plan = MakePlan(order, FftDivideInverseByN, hint);
    const int32_t bytes = WorkBytes(plan.get());
    if (n <= 8 || hint == FftHintCompact)
        EXPECT_EQ(bytes, 0);
    else
        EXPECT_GT(bytes, 16);
    // Exactly the reported size at an odd address (the sanitizer build catches overruns).
    const auto block = std::make_unique<uint8_t[]>(size_t(bytes) + 5);
    uint8_t* work = block.get() + 5;
    const auto x = RandomSignal(n, 17u + order);
    std::vector<float> X(n + 2, 12345.0f), back(n);
    ASSERT_EQ(FftForward(x.data(), X.data(), plan.get(), work), StatusOk);
    EXPECT_LT(RelativeError(X, Forward(x)), kTolerance);
    EXPECT_EQ(X[1], 0.0f);
    EXPECT_EQ(X[n + 1], 0.0f);
    ASSERT_EQ(FftInverse(X.data(), back.data(), plan.get(), work), StatusOk);
    for (size_t i = 0; i < n; ++i)
        ASSERT_NEAR(back[i], x[i], 2e-6f * float(order + 1)) << i;

    std::vector<float> inPlace(x);
    inPlace.resize(n + 2, -7.0f);
    ASSERT_EQ(FftForward(inPlace.data(), inPlace.data(), plan.get(), nullptr), StatusOk);
    EXPECT_EQ(inPlace, X);
    inPlace[1] = inPlace[n + 1] = kNaN; // never read
    ASSERT_EQ(FftInverse(inPlace.data(), inPlace.data(), plan.get(), nullptr), StatusOk);
    inPlace.resize(n);
    EXPECT_EQ(inPlace, back);
}

INSTANTIATE_TEST_SUITE_P(Orders, FftSizes,
                         ::testing::Combine(::testing::Range(1, 15),
                                            ::testing::Values(FftHintFast, FftHintCompact, 77)));

// Flag 1 divides the forward by N, 2 the inverse, 4 both by sqrt N, 8 neither.
TEST(FftScaling, FourFlags)
{
    const size_t n = 1024;
    const double root = 1.0 / std::sqrt(double(n));
    const int flags[] = {FftDivideForwardByN, FftDivideInverseByN, FftDivideBySqrtN, FftNoDivide};
    const double forward[] = {1.0 / n, 1.0, root, 1.0}, inverse[] = {1.0, 1.0 / n, root, 1.0};
    const auto x = RandomSignal(n, 11u);
    const auto reference = Forward(x);
    const std::vector<float> exactSpectrum(reference.begin(), reference.end());
    for (int f = 0; f < 4; ++f)
    {
        SCOPED_TRACE(flags[f]);
        const auto plan = MakePlan(10, flags[f]);
        std::vector<float> X(n + 2), back(n);
        std::vector<double> scaled(reference), signal(x.begin(), x.end());
        for (double& v : scaled)
            v *= forward[f];
        for (double& v : signal)
            v *= double(n) * inverse[f];
        ASSERT_EQ(FftForward(x.data(), X.data(), plan.get(), nullptr), StatusOk);
        ASSERT_EQ(FftInverse(exactSpectrum.data(), back.data(), plan.get(), nullptr), StatusOk);
        EXPECT_LT(RelativeError(X, scaled), kTolerance);
        EXPECT_LT(RelativeError(back, signal), kTolerance);
    }
}

// Order 30 builds a compact plan, so nothing in the size arithmetic overflows.
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
    EXPECT_EQ(WorkBytes(MakePlan(30).get()), 0);
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
