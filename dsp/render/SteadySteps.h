#pragma once

#include <cstdint>

namespace DSP
{

// A playing head is a chain of double additions, head += step once per frame, each sum rounded.
// Within one binade (the doubles from 2^e up to 2^(e+1), all multiples of one ulp u) every such
// sum rounds the same way: head + step lands on head + d, where d is the step rounded to a
// multiple of u, unless the step lies exactly halfway between two multiples (then the tie goes
// to the even neighbour, which depends on the head). While the sums stay inside the binade the
// k-th head is therefore exactly head + k * d: the same bits as the chain, computed without
// waiting for the previous frame.
namespace SteadySteps
{

// Writes the heads of up to maxFrames frames (128 at most), heads[k] = the chain's value after k
// additions of `step` to `head`, for as long as the closed form is exact and every value after an
// addition stays below `stop`. Returns how many frames were written (possibly 0: the caller then
// takes the next step itself) and sets `next` to the value after the last of them. Costs a few
// operations per frame, no allocation.
uint32_t Forward(double head, double step, double stop, uint32_t maxFrames, double* heads,
                 double& next);
// The same for head -= step, every value after a subtraction staying above `stop`.
uint32_t Backward(double head, double step, double stop, uint32_t maxFrames, double* heads,
                  double& next);

} // namespace SteadySteps
} // namespace DSP
