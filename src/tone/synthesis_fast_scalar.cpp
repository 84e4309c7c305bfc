// The fast loop in plain C++, one sample at a time and without a fused
// multiply-add: for processors without a vector unit for doubles (32-bit
// ARM, 32-bit x86) and x86-64 without AVX2. Built like the reference loop,
// with contraction off.
#include "tone/fast_loop.h"
#include "tone/scalar_lanes.h"
#include "tone/synthesis.h"

namespace quillox {

void SynthesizeFastScalar(const SampleRun &run) { SynthesizeFast<ScalarLanes>(run); }

}  // namespace quillox
