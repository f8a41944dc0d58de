#include "dsp/foundation/Window.h"

#include <cmath>

namespace DSP
{

void MakeWindow(float* out, int32_t n, WindowNorm norm, float exponent)
{
    if (out == nullptr || n <= 0)
        return;

    // pi as a float, widened: the angles are meant to carry float32 rounding.
    const double pi = static_cast<double>(3.14159265358979323846f);
    const double count = static_cast<double>(static_cast<float>(n));
    const bool sumSquares = norm == WindowNorm::UnitRms;
    // A NaN exponent compares unequal, so it goes through pow like any other.
    const bool raise = !(exponent == 1.0f);

    double sum = 0.0;
    for (int32_t i = 0; i < n; ++i)
    {
        const double centre = i + 0.5;
        const float angle = static_cast<float>((centre + centre) * pi / count);
        const float c = static_cast<float>(std::cos(static_cast<double>(angle)));
        float v = static_cast<float>((1.0 - c) * 0.5);
        if (raise)
            v = static_cast<float>(std::pow(static_cast<double>(v), static_cast<double>(exponent)));
        // Writing both mirror positions makes the later (upper-half) value win everywhere, which
        // keeps the window bit-exactly symmetric whatever the cosine's rounding does.
        out[i] = v;
        out[n - 1 - i] = v;
        sum += sumSquares ? static_cast<double>(v) * v : static_cast<double>(v);
    }

    if (norm == WindowNorm::None)
        return;
    const double mean = sum / n;
    const double scale = sumSquares ? 1.0 / std::sqrt(mean) : 1.0 / mean;
    const float factor = static_cast<float>(scale);
    for (int32_t j = 0; j < n; ++j)
        out[j] *= factor;
}

} // namespace DSP
