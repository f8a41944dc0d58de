#pragma once

#include <cmath>
#include <complex>
#include <cstddef>
#include <numbers>
#include <random>
#include <vector>

// Independent references for the transform tests: the DFT written as plain sums in double. The
// phase k * n is reduced modulo N on integers, so the reference stays exact for large N.
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

// e^(-2 pi i j / n) for j < n.
inline std::vector<std::complex<double>> Roots(size_t n)
{
    std::vector<std::complex<double>> w(n);
    for (size_t j = 0; j < n; ++j)
        w[j] = std::polar(1.0, -2.0 * std::numbers::pi * double(j) / double(n));
    return w;
}

// Bins 0..N/2 of sum x_n e^(-2 pi i k n / N), packed as CCS (Re0, Im0, ..., ReN/2, ImN/2).
template <typename T> std::vector<double> Forward(const std::vector<T>& x)
{
    const size_t n = x.size();
    const auto w = Roots(n);
    std::vector<double> X(n + 2, 0.0);
    for (size_t k = 0; k <= n / 2; ++k)
        for (size_t i = 0; i < n; ++i)
        {
            X[2 * k] += double(x[i]) * w[i * k % n].real();
            X[2 * k + 1] += double(x[i]) * w[i * k % n].imag();
        }
    return X;
}

// Unscaled inverse of a CCS spectrum: the sum over all N bins of X_k e^(+2 pi i k n / N), the
// upper half being conjugates, with Im X0 and Im X(N/2) taken as 0.
inline std::vector<double> Inverse(const std::vector<float>& X, size_t n)
{
    const auto w = Roots(n);
    std::vector<double> x(n, 0.0);
    for (size_t i = 0; i < n; ++i)
    {
        x[i] = X[0] + ((i % 2) ? -1.0 : 1.0) * X[n];
        for (size_t k = 1; k < n / 2; ++k)
            x[i] += 2.0 * (X[2 * k] * w[i * k % n].real() + X[2 * k + 1] * w[i * k % n].imag());
    }
    return x;
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
