// The reference sine: sin(theta) correctly rounded, for every argument the
// tone formula can produce.
//
// Correctly rounded means the double nearest to the true sine (ties to
// even): the one value every correctly rounded implementation gives, which
// anyone can check with MPFR. So the samples are the formula's own, not one
// accurate sine's choice among neighbours.
#pragma once

namespace quillox {

// sin(theta) rounded to nearest, for theta a float converted to double with
// |theta| < 2^51 (a tone's theta stays below 2^49.3, the fast loop's below
// 2^50.3). Proven by trying every such theta: proofs/exhaustive_sine.cpp,
// with MPFR in its full mode. Odd exactly: sin(-theta) = -sin(theta).
// Any other argument gets the C library's sine.
double CorrectlyRoundedSine(double theta);
// The same, built with fused multiply-adds: for x86-64 processors that have
// them, where CorrectlyRoundedSine calls it.
double CorrectlyRoundedSineFused(double theta);

// What its reduction rests on: over every float theta in [pi / 4, 2^51),
// |theta - k pi / 2| is at least kSmallestQuarterTurnRemainder (2^-28.89),
// the smallest at kNearestToQuarterTurn. proofs/reduction_search.cpp finds
// both by trying every such float and fails where these say otherwise.
inline constexpr double kSmallestQuarterTurnRemainder = 2.01e-9;
inline constexpr double kNearestToQuarterTurn = 0x1.47d0fep+34;

// The two phases the sine runs, for the proof. The first (error below
// 2^-63) decides all but about 1 in 1,500 arguments; the second (below
// 2^-98) every one that remains. `decided` is false where the phase's
// bound leaves the rounding open.
struct SineAttempt {
    double value;
    bool decided;
};
SineAttempt SineFirstPhase(double theta);
SineAttempt SineSecondPhase(double theta);

}  // namespace quillox
