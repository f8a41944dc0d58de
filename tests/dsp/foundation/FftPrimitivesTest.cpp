#include "dsp/foundation/Primitives.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

namespace
{

using namespace DSP::Primitives;

// Owns a plan for the duration of a test.
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

std::vector<float> RandomSignal(size_t n, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> distribution(-1.0f, 1.0f);
    std::vector<float> x(n);
    for (float& v : x)
        v = distribution(generator);
    return x;
}

// cos and sin of 2*pi*i/n for i < n, in double.
struct UnitCircle
{
    std::vector<double> c, s;
    explicit UnitCircle(size_t n) : c(n), s(n)
    {
        for (size_t i = 0; i < n; ++i)
        {
            const double angle =
                2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n);
            c[i] = std::cos(angle);
            s[i] = std::sin(angle);
        }
    }
};

// Straightforward DFT in double: bins 0..N/2 of sum x_n e^(-2*pi*i*k*n/N), as CCS.
std::vector<double> ReferenceForward(const std::vector<float>& x)
{
    const size_t n = x.size();
    const UnitCircle circle(n);
    std::vector<double> X(n + 2, 0.0);
    for (size_t k = 0; k <= n / 2; ++k)
    {
        double re = 0.0, im = 0.0;
        for (size_t i = 0, phase = 0; i < n; ++i, phase = (phase + k) % n)
        {
            re += x[i] * circle.c[phase];
            im -= x[i] * circle.s[phase];
        }
        X[2 * k] = re;
        X[2 * k + 1] = im;
    }
    return X;
}

// Unnormalised inverse in double: sum over all N bins of X_k e^(+2*pi*i*k*n/N), the upper half
// being conjugates; Im X0 and Im X(N/2) taken as 0.
std::vector<double> ReferenceInverse(const std::vector<float>& X, size_t n)
{
    const UnitCircle circle(n);
    std::vector<double> x(n, 0.0);
    for (size_t i = 0; i < n; ++i)
    {
        double sum = X[0] + ((i % 2) ? -1.0 : 1.0) * X[n];
        for (size_t k = 1, phase = i % n; k < n / 2; ++k, phase = (phase + i) % n)
            sum += 2.0 * (X[2 * k] * circle.c[phase] - X[2 * k + 1] * circle.s[phase]);
        x[i] = sum;
    }
    return x;
}

// Root-mean-square difference relative to the root-mean-square of the reference.
template <typename A, typename B>
double RelativeError(const A& result, const B& reference, size_t count)
{
    double error = 0.0, norm = 0.0;
    for (size_t i = 0; i < count; ++i)
    {
        const double d = static_cast<double>(result[i]) - static_cast<double>(reference[i]);
        error += d * d;
        norm += static_cast<double>(reference[i]) * static_cast<double>(reference[i]);
    }
    return std::sqrt(error / norm);
}

// A float FFT is good to about 1e-7 of the signal's norm, growing slowly with log N; ten times
// that still catches any wrong twiddle, sign or index.
constexpr double kTolerance = 1e-6;

struct FftCase
{
    int order;
    int hint;
};

class FftSizes : public ::testing::TestWithParam<FftCase>
{
protected:
    size_t N() const { return size_t{1} << GetParam().order; }
    PlanHandle Plan(int scaling = FftDivideInverseByN) const
    {
        return MakePlan(GetParam().order, scaling, GetParam().hint);
    }
    std::vector<uint8_t> Work(const FftPlan* plan) const
    {
        int32_t bytes = -1;
        EXPECT_EQ(FftWorkSize(plan, &bytes), StatusOk);
        EXPECT_GE(bytes, 0);
        return std::vector<uint8_t>(static_cast<size_t>(std::max(bytes, 1)));
    }
};

TEST_P(FftSizes, ForwardMatchesDirectDft)
{
    const auto plan = Plan();
    const auto x = RandomSignal(N(), 17u + static_cast<unsigned>(GetParam().order));
    auto work = Work(plan.get());
    std::vector<float> X(N() + 2, 12345.0f);
    ASSERT_EQ(FftForward(x.data(), X.data(), plan.get(), work.data()), StatusOk);

    const auto reference = ReferenceForward(x);
    EXPECT_LT(RelativeError(X, reference, N() + 2), kTolerance);
    EXPECT_EQ(X[1], 0.0f);
    EXPECT_EQ(X[N() + 1], 0.0f);
}

TEST_P(FftSizes, InverseMatchesDirectSumAndIgnoresImaginaryEnds)
{
    const auto plan = Plan(FftNoDivide);
    auto X = RandomSignal(N() + 2, 99u + static_cast<unsigned>(GetParam().order));
    const auto reference = ReferenceInverse(X, N());
    // Entries 1 and N+1 are never read: NaN there must not reach the signal.
    X[1] = std::numeric_limits<float>::quiet_NaN();
    X[N() + 1] = std::numeric_limits<float>::quiet_NaN();
    auto work = Work(plan.get());
    std::vector<float> x(N(), 12345.0f);
    ASSERT_EQ(FftInverse(X.data(), x.data(), plan.get(), work.data()), StatusOk);
    EXPECT_LT(RelativeError(x, reference, N()), kTolerance);
}

TEST_P(FftSizes, ForwardThenInverseRestoresSignal)
{
    const auto plan = Plan();
    const auto x = RandomSignal(N(), 5u);
    auto work = Work(plan.get());
    std::vector<float> X(N() + 2), back(N());
    ASSERT_EQ(FftForward(x.data(), X.data(), plan.get(), work.data()), StatusOk);
    ASSERT_EQ(FftInverse(X.data(), back.data(), plan.get(), work.data()), StatusOk);
    for (size_t i = 0; i < N(); ++i)
        ASSERT_NEAR(back[i], x[i], 2e-6f * static_cast<float>(GetParam().order + 1)) << i;
}

TEST_P(FftSizes, ConstantSignal)
{
    const auto plan = Plan();
    const float a = 0.75f;
    const std::vector<float> x(N(), a);
    std::vector<float> X(N() + 2, 1.0f);
    ASSERT_EQ(FftForward(x.data(), X.data(), plan.get(), nullptr), StatusOk);
    EXPECT_NEAR(X[0], static_cast<double>(N()) * a, 1e-6 * static_cast<double>(N()));
    EXPECT_EQ(X[1], 0.0f);
    EXPECT_EQ(X[N() + 1], 0.0f);
    for (size_t i = 2; i < N() + 2; ++i)
        ASSERT_NEAR(X[i], 0.0f, 1e-6f * static_cast<float>(N())) << i;

    std::vector<float> back(N(), 0.0f);
    ASSERT_EQ(FftInverse(X.data(), back.data(), plan.get(), nullptr), StatusOk);
    for (size_t i = 0; i < N(); ++i)
        ASSERT_NEAR(back[i], a, 1e-6f) << i;
}

TEST_P(FftSizes, InPlaceUnalignedAndWithoutWorkGiveTheSameResult)
{
    const auto plan = Plan();
    const auto x = RandomSignal(N(), 3u);
    auto work = Work(plan.get());
    std::vector<float> expected(N() + 2);
    ASSERT_EQ(FftForward(x.data(), expected.data(), plan.get(), work.data()), StatusOk);
    std::vector<float> expectedBack(N());
    ASSERT_EQ(FftInverse(expected.data(), expectedBack.data(), plan.get(), work.data()), StatusOk);

    // Same array for source and destination.
    std::vector<float> inPlace(x);
    inPlace.resize(N() + 2, -7.0f);
    ASSERT_EQ(FftForward(inPlace.data(), inPlace.data(), plan.get(), work.data()), StatusOk);
    EXPECT_EQ(inPlace, expected);
    ASSERT_EQ(FftInverse(inPlace.data(), inPlace.data(), plan.get(), work.data()), StatusOk);
    inPlace.resize(N());
    EXPECT_EQ(inPlace, expectedBack);

    // Interior, non-16-byte-aligned positions for source, destination and work.
    std::vector<float> source(N() + 3), destination(N() + 5);
    std::memcpy(source.data() + 1, x.data(), N() * sizeof(float));
    std::vector<uint8_t> oddWork(work.size() + 5);
    ASSERT_EQ(FftForward(source.data() + 1, destination.data() + 3, plan.get(), oddWork.data() + 5),
              StatusOk);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), destination.begin() + 3));

    // A temporary work buffer.
    std::vector<float> noWork(N() + 2);
    ASSERT_EQ(FftForward(x.data(), noWork.data(), plan.get(), nullptr), StatusOk);
    EXPECT_EQ(noWork, expected);
}

// The work buffer is used only within the size reported, whatever its alignment: the sanitizer
// build turns any access past the end of these exact-size arrays into a failure.
TEST_P(FftSizes, WorkBufferOfReportedSizeSuffices)
{
    const auto plan = Plan();
    int32_t bytes = -1;
    ASSERT_EQ(FftWorkSize(plan.get(), &bytes), StatusOk);
    if (N() <= 8 || GetParam().hint == FftHintCompact)
    {
        EXPECT_EQ(bytes, 0);
        return;
    }
    ASSERT_GT(bytes, 16);
    const auto x = RandomSignal(N(), 8u);
    std::vector<float> expected(N() + 2), X(N() + 2);
    ASSERT_EQ(FftForward(x.data(), expected.data(), plan.get(), nullptr), StatusOk);
    for (size_t misalignment = 0; misalignment < 16; misalignment += 5)
    {
        const auto block = std::make_unique<uint8_t[]>(static_cast<size_t>(bytes) + misalignment);
        uint8_t* work = block.get() + misalignment;
        ASSERT_EQ(FftForward(x.data(), X.data(), plan.get(), work), StatusOk);
        EXPECT_EQ(X, expected);
        std::vector<float> back(N());
        ASSERT_EQ(FftInverse(X.data(), back.data(), plan.get(), work), StatusOk);
    }
}

std::vector<FftCase> AllSizes()
{
    std::vector<FftCase> cases;
    for (int hint : {static_cast<int>(FftHintFast), static_cast<int>(FftHintCompact)})
        for (int order = 1; order <= 14; ++order)
            cases.push_back({order, hint});
    // Unknown hints select the fast method.
    cases.push_back({6, 0});
    cases.push_back({9, 77});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Orders, FftSizes, ::testing::ValuesIn(AllSizes()),
                         [](const ::testing::TestParamInfo<FftCase>& info)
                         {
                             std::string name = "N";
                             name += std::to_string(1 << info.param.order);
                             name += "_Hint";
                             name += std::to_string(info.param.hint);
                             return name;
                         });

TEST(FftWorkedValues, FourPoints)
{
    const auto plan = MakePlan(2);
    const float x[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    float X[6];
    ASSERT_EQ(FftForward(x, X, plan.get(), nullptr), StatusOk);
    // X0 = 10, X1 = (1 - 3) - i(2 - 4) = -2 + 2i, X2 = 1 - 2 + 3 - 4 = -2.
    const float expected[6] = {10.0f, 0.0f, -2.0f, 2.0f, -2.0f, 0.0f};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(X[i], expected[i]) << i;
    float back[4];
    ASSERT_EQ(FftInverse(X, back, plan.get(), nullptr), StatusOk);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(back[i], x[i]) << i;
}

// N = 1: the spectrum is X0 = x0 followed by the two always-zero imaginary entries.
TEST(FftWorkedValues, OnePoint)
{
    const auto plan = MakePlan(0);
    int32_t bytes = -1;
    ASSERT_EQ(FftWorkSize(plan.get(), &bytes), StatusOk);
    EXPECT_EQ(bytes, 0);
    const float x[1] = {-2.5f};
    float X[3] = {9.0f, 9.0f, 9.0f};
    ASSERT_EQ(FftForward(x, X, plan.get(), nullptr), StatusOk);
    EXPECT_EQ(X[0], -2.5f);
    EXPECT_EQ(X[1], 0.0f);
    EXPECT_EQ(X[2], 0.0f);
    const float spectrum[3] = {4.0f, std::numeric_limits<float>::quiet_NaN(),
                               std::numeric_limits<float>::quiet_NaN()};
    float back[1] = {0.0f};
    ASSERT_EQ(FftInverse(spectrum, back, plan.get(), nullptr), StatusOk);
    EXPECT_EQ(back[0], 4.0f);
}

// Forward result and the inverse of the exact spectrum, for each flag, against the unscaled
// direct sums: flag 1 divides the forward by N, 2 the inverse, 4 both by sqrt N, 8 neither.
TEST(FftScaling, FourFlags)
{
    struct Flag
    {
        int scaling;
        double forward;
        double inverse;
    };
    for (int order : {2, 3, 5, 10})
    {
        const size_t n = size_t{1} << order;
        const double nd = static_cast<double>(n);
        const Flag flags[] = {{FftDivideForwardByN, 1.0 / nd, 1.0},
                              {FftDivideInverseByN, 1.0, 1.0 / nd},
                              {FftDivideBySqrtN, 1.0 / std::sqrt(nd), 1.0 / std::sqrt(nd)},
                              {FftNoDivide, 1.0, 1.0}};
        const auto x = RandomSignal(n, 11u);
        const auto reference = ReferenceForward(x);
        std::vector<float> exactSpectrum(reference.begin(), reference.end());
        for (const Flag& flag : flags)
        {
            SCOPED_TRACE(::testing::Message() << "order " << order << " flag " << flag.scaling);
            const auto plan = MakePlan(order, flag.scaling);
            std::vector<float> X(n + 2), back(n);
            ASSERT_EQ(FftForward(x.data(), X.data(), plan.get(), nullptr), StatusOk);
            std::vector<double> scaled(n + 2);
            for (size_t i = 0; i < n + 2; ++i)
                scaled[i] = reference[i] * flag.forward;
            EXPECT_LT(RelativeError(X, scaled, n + 2), kTolerance);

            ASSERT_EQ(FftInverse(exactSpectrum.data(), back.data(), plan.get(), nullptr), StatusOk);
            std::vector<double> signal(n);
            for (size_t i = 0; i < n; ++i)
                signal[i] = x[i] * nd * flag.inverse;
            EXPECT_LT(RelativeError(back, signal, n), kTolerance);
        }
    }
}

TEST(FftStatus, CreateRejectsBadArguments)
{
    FftPlan* plan = nullptr;
    EXPECT_EQ(FftCreate(nullptr, 4, FftDivideInverseByN, FftHintFast), StatusNullPointer);
    for (int order :
         {-1, 31, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()})
    {
        EXPECT_EQ(FftCreate(&plan, order, FftDivideInverseByN, FftHintFast),
                  StatusFftOrderOutOfRange);
        EXPECT_EQ(plan, nullptr);
    }
    for (int flag : {0, 3, 5, 16, -2})
    {
        EXPECT_EQ(FftCreate(&plan, 4, flag, FftHintFast), StatusFftFlagInvalid);
        EXPECT_EQ(plan, nullptr);
    }
}

TEST(FftStatus, OperationsRejectNullAndForeignObjects)
{
    const auto plan = MakePlan(5);
    // Something that is not a plan, big enough to hold one's header.
    std::vector<float> foreign(64, 1.0f);
    auto* notAPlan = reinterpret_cast<FftPlan*>(foreign.data());
    std::vector<float> x(32, 1.0f), X(34, 5.0f);
    int32_t bytes = 123;

    EXPECT_EQ(FftWorkSize(nullptr, &bytes), StatusNullPointer);
    EXPECT_EQ(FftWorkSize(plan.get(), nullptr), StatusNullPointer);
    EXPECT_EQ(FftWorkSize(notAPlan, &bytes), StatusNotAnFftPlan);
    EXPECT_EQ(bytes, 123);

    EXPECT_EQ(FftForward(nullptr, X.data(), plan.get(), nullptr), StatusNullPointer);
    EXPECT_EQ(FftForward(x.data(), nullptr, plan.get(), nullptr), StatusNullPointer);
    EXPECT_EQ(FftForward(x.data(), X.data(), nullptr, nullptr), StatusNullPointer);
    EXPECT_EQ(FftForward(x.data(), X.data(), notAPlan, nullptr), StatusNotAnFftPlan);
    EXPECT_EQ(FftInverse(nullptr, x.data(), plan.get(), nullptr), StatusNullPointer);
    EXPECT_EQ(FftInverse(X.data(), nullptr, plan.get(), nullptr), StatusNullPointer);
    EXPECT_EQ(FftInverse(X.data(), x.data(), nullptr, nullptr), StatusNullPointer);
    EXPECT_EQ(FftInverse(X.data(), x.data(), notAPlan, nullptr), StatusNotAnFftPlan);
    EXPECT_EQ(X, std::vector<float>(34, 5.0f));
    EXPECT_EQ(x, std::vector<float>(32, 1.0f));

    EXPECT_EQ(FftFree(nullptr), StatusNullPointer);
    EXPECT_EQ(FftFree(notAPlan), StatusNotAnFftPlan);
    EXPECT_EQ(foreign, std::vector<float>(64, 1.0f));
}

// The largest orders build small compact plans (no work buffer, root tables of about sqrt N),
// so creating them costs little and nothing in the size arithmetic overflows.
TEST(FftStatus, LargestOrdersCreateCompactPlans)
{
    for (int order : {28, 29, 30})
    {
        FftPlan* plan = nullptr;
        ASSERT_EQ(FftCreate(&plan, order, FftDivideInverseByN, FftHintFast), StatusOk) << order;
        int32_t bytes = -1;
        EXPECT_EQ(FftWorkSize(plan, &bytes), StatusOk);
        EXPECT_EQ(bytes, 0);
        EXPECT_EQ(FftFree(plan), StatusOk);
    }
}

} // namespace
