#pragma once

#include <cmath>
#include <cstddef>
#include <numbers>
#include <random>
#include <vector>

// The DFT as plain sums in double; the phase k * n is reduced modulo N on integers.
namespace ReferenceDft
{

inline std::vector<float> RandomSignal(size_t n, unsigned seed, float amplitude = 1.0f)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> distribution(-amplitude, amplitude);
    std::vector<float> x(n);
    for (float& v : x)
        v = distribution(generator);
    return x;
}

// Bins 0..N/2 of sum x_n e^(-2 pi i k n / N), packed as (Re0, Im0, ..., ReN/2, ImN/2).
template <typename T> std::vector<double> Forward(const std::vector<T>& x)
{
    const size_t n = x.size();
    std::vector<double> X(n + 2, 0.0);
    for (size_t k = 0; k <= n / 2; ++k)
        for (size_t i = 0; i < n; ++i)
        {
            const double phase = -2.0 * std::numbers::pi * double(i * k % n) / double(n);
            X[2 * k] += double(x[i]) * std::cos(phase);
            X[2 * k + 1] += double(x[i]) * std::sin(phase);
        }
    return X;
}

// Root-mean-square difference relative to the root-mean-square of the reference.
template <typename A, typename B> double RelativeError(const A& result, const B& reference)
{
    double error = 0.0, norm = 0.0;
    for (size_t i = 0; i < reference.size(); ++i)
    {
        const double d = double(result[i]) - double(reference[i]);
        error += d * d;
        norm += double(reference[i]) * double(reference[i]);
    }
    return std::sqrt(error / norm);
}

} // namespace ReferenceDft
