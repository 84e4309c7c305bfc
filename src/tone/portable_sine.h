// A double-precision sine that is accurate to 1 ulp on every platform, for
// the arguments the tone loop gives it.
//
// Some C libraries (mingw-w64's among them) reduce large arguments with too
// short an approximation of pi; far into a tone at a high frequency their
// sines, and so the samples, differ from those of an accurate sine. This one
// reduces exactly and gives the same samples everywhere.
#pragma once

namespace quillox {

// sin(theta) within 1 ulp, for any theta that is a single-precision value
// converted to double with |theta| < 2^51 (the tone loop's theta is below
// 2^49.2: an index below 48,695 * 44,100 < 2^31 times 6.28318 * 2^31 / 44100).
// Pure IEEE double and integer arithmetic there; the C library's sine only
// beyond, which the tone loop never asks for.
double PortableSine(double theta);

}  // namespace quillox
