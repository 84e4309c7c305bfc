// The fast loop with 64-bit ARM's vector unit (Advanced SIMD): 4 samples an
// iteration, as two vectors of 2 doubles.
#include <arm_neon.h>

#include <cstdint>

#include "tone/fast_loop.h"
#include "tone/synthesis.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "samples are stored in the processor's order");

namespace quillox {
namespace {

struct NeonLanes {
    struct Doubles {
        float64x2_t low;   // lanes 0..1
        float64x2_t high;  // lanes 2..3
    };
    static constexpr unsigned kLanes = 4;
    static constexpr bool kFusedMultiplyAdd = true;

    static Doubles Splat(double value) { return {vdupq_n_f64(value), vdupq_n_f64(value)}; }
    static Doubles LaneNumbers() {
        const double numbers[4] = {0, 1, 2, 3};
        return {vld1q_f64(numbers), vld1q_f64(numbers + 2)};
    }
    static Doubles Add(Doubles a, Doubles b) {
        return {vaddq_f64(a.low, b.low), vaddq_f64(a.high, b.high)};
    }
    static Doubles Sub(Doubles a, Doubles b) {
        return {vsubq_f64(a.low, b.low), vsubq_f64(a.high, b.high)};
    }
    static Doubles Mul(Doubles a, Doubles b) {
        return {vmulq_f64(a.low, b.low), vmulq_f64(a.high, b.high)};
    }
    static Doubles Div(Doubles a, Doubles b) {
        return {vdivq_f64(a.low, b.low), vdivq_f64(a.high, b.high)};
    }
    // a * b + c, and c - a * b, rounded once.
    static Doubles MulAdd(Doubles a, Doubles b, Doubles c) {
        return {vfmaq_f64(c.low, a.low, b.low), vfmaq_f64(c.high, a.high, b.high)};
    }
    static Doubles NegMulAdd(Doubles a, Doubles b, Doubles c) {
        return {vfmsq_f64(c.low, a.low, b.low), vfmsq_f64(c.high, a.high, b.high)};
    }
    static Doubles RoundToFloat(Doubles value) {
        return {vcvt_f64_f32(vcvt_f32_f64(value.low)), vcvt_f64_f32(vcvt_f32_f64(value.high))};
    }
    static float64x2_t NegateWhereOdd(float64x2_t x, float64x2_t shifted) {
        const uint64x2_t sign = vshlq_n_u64(vreinterpretq_u64_f64(shifted), 63);
        return vreinterpretq_f64_u64(veorq_u64(vreinterpretq_u64_f64(x), sign));
    }
    static Doubles NegateWhereOdd(Doubles x, Doubles shifted) {
        return {NegateWhereOdd(x.low, shifted.low), NegateWhereOdd(x.high, shifted.high)};
    }
    static unsigned UncertainLanes(float64x2_t w) {
        const uint64x2_t moved = vaddq_u64(vreinterpretq_u64_f64(w), vdupq_n_u64(kWindowAdd));
        const uint64x2_t inside = vceqzq_u64(vandq_u64(moved, vdupq_n_u64(kWindowMask)));
        return static_cast<unsigned>(vgetq_lane_u64(inside, 0) & 1) |
               static_cast<unsigned>(vgetq_lane_u64(inside, 1) & 2);
    }
    static unsigned UncertainLanes(Doubles w) {
        return UncertainLanes(w.low) | UncertainLanes(w.high) << 2;
    }
    static void StoreSamples(Doubles w, std::uint8_t *out) {
        const float32x4_t x = vcombine_f32(vcvt_f32_f64(w.low), vcvt_f32_f64(w.high));
        const float32x4_t y = vmulq_f32(
            vmulq_f32(vaddq_f32(x, vdupq_n_f32(kMappingOffset)), vdupq_n_f32(kMappingHalf)),
            vdupq_n_f32(kMappingScale));
        // Truncating toward zero and saturating, as the reference converts.
        const int32x4_t t = vcvtq_s32_f32(y);
        const int32x4_t v = vsubq_s32(vdupq_n_s32(kMappingBias), t);  // wraps like uint32
        // The low 16 bits of each lane, little-endian (this build's order).
        vst1_u8(out, vreinterpret_u8_u16(vmovn_u32(vreinterpretq_u32_s32(v))));
    }
};

}  // namespace

void SynthesizeNeon(const SampleRun &run) { SynthesizeFast<NeonLanes>(run); }

}  // namespace quillox
