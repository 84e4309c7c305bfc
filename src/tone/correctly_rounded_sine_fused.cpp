// The reference sine built once more with fused multiply-adds (-mfma, on
// x86-64): the same values, its exact products cheaper.
// CorrectlyRoundedSine calls it where the processor has them.
#define QUILLOX_FUSED_SINE_COPY
#include "tone/correctly_rounded_sine.cpp"  // NOLINT(bugprone-suspicious-include)
