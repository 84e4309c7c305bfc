// The fast loop in plain C++, eight samples a block and without a fused
// multiply-add: for processors that have no loop of their own (32-bit ARM;
// x86 runs the SSE2 loop at least). Built like the reference loop, with
// contraction off.
#include "tone/fast_loop.h"
#include "tone/scalar_lanes.h"
#include "tone/synthesis.h"

namespace quillox {

void SynthesizeFastScalar(const SampleRun &run) { SynthesizeFast<ScalarLanes>(run); }

}  // namespace quillox
