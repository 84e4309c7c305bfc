// The fast loop with 64-bit ARM's vector unit (Advanced SIMD): 8 samples a
// block, as four vectors of 2 doubles.
#include <arm_neon.h>

#include <cstdint>

#include "tone/fast_loop.h"
#include "tone/synthesis.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "samples are stored in the processor's order");

namespace quillox {
namespace {

struct NeonLanes {
    using Doubles = float64x2_t;
    using Mask = uint64x2_t;  // all ones in a lane that is set
    static constexpr unsigned kLanes = 2;
    static constexpr unsigned kVectors = 4;
    static constexpr bool kFusedMultiplyAdd = true;

    static constexpr unsigned SampleOffset(unsigned vector, unsigned lane) {
        return kLanes * vector + lane;
    }
    static float64x2_t Splat(double value) { return vdupq_n_f64(value); }
    static float64x2_t Load(const double *values) { return vld1q_f64(values); }
    static float64x2_t Add(float64x2_t a, float64x2_t b) { return vaddq_f64(a, b); }
    static float64x2_t Sub(float64x2_t a, float64x2_t b) { return vsubq_f64(a, b); }
    static float64x2_t Mul(float64x2_t a, float64x2_t b) { return vmulq_f64(a, b); }
    // a * b + c, and c - a * b, rounded once.
    static float64x2_t MulAdd(float64x2_t a, float64x2_t b, float64x2_t c) {
        return vfmaq_f64(c, a, b);
    }
    static float64x2_t NegMulAdd(float64x2_t a, float64x2_t b, float64x2_t c) {
        return vfmsq_f64(c, a, b);
    }
    static float64x2_t AddToBits(float64x2_t value, std::uint64_t addend) {
        return vreinterpretq_f64_u64(vaddq_u64(vreinterpretq_u64_f64(value), vdupq_n_u64(addend)));
    }
    static float64x2_t KeepBits(float64x2_t value, std::uint64_t mask) {
        return vreinterpretq_f64_u64(vandq_u64(vreinterpretq_u64_f64(value), vdupq_n_u64(mask)));
    }
    static uint64x2_t WhereBitsZero(float64x2_t value, std::uint64_t mask) {
        return vceqzq_u64(vandq_u64(vreinterpretq_u64_f64(value), vdupq_n_u64(mask)));
    }
    static float64x2_t NegateWhereOdd(float64x2_t x, float64x2_t shifted) {
        const uint64x2_t sign = vshlq_n_u64(vreinterpretq_u64_f64(shifted), 63);
        return vreinterpretq_f64_u64(veorq_u64(vreinterpretq_u64_f64(x), sign));
    }
    static float64x2_t Select(uint64x2_t set, float64x2_t ifSet, float64x2_t otherwise) {
        return vbslq_f64(set, ifSet, otherwise);
    }
    static bool AnySet(const uint64x2_t (&set)[kVectors]) {
        const uint64x2_t any = vorrq_u64(vorrq_u64(set[0], set[1]), vorrq_u64(set[2], set[3]));
        return vmaxvq_u32(vreinterpretq_u32_u64(any)) != 0;
    }
    static unsigned LaneBits(uint64x2_t set) {
        return static_cast<unsigned>(vgetq_lane_u64(set, 0) & 1) |
               static_cast<unsigned>(vgetq_lane_u64(set, 1) & 2);
    }

    // 4 samples' 16 bits from the floats x: y = RN(u * -32767.5), converted
    // truncating and saturating as the reference converts.
    static uint16x4_t SampleBits(float32x4_t x, float scale) {
        const float32x4_t u = vfmaq_f32(vdupq_n_f32(kMappingOffset), x, vdupq_n_f32(scale));
        const float32x4_t y = vmulq_f32(u, vdupq_n_f32(-kMappingNegatedScale));
        const int32x4_t v = vsubq_s32(vdupq_n_s32(kMappingBias), vcvtq_s32_f32(y));  // wraps
        return vmovn_u32(vreinterpretq_u32_s32(v));
    }
    template <bool /*kSaturate: the conversion saturates as the reference's*/>
    static void StoreBlock(const float64x2_t (&w)[kVectors], float scale, std::uint8_t *out) {
        const float32x4_t first = vcombine_f32(vcvt_f32_f64(w[0]), vcvt_f32_f64(w[1]));
        const float32x4_t second = vcombine_f32(vcvt_f32_f64(w[2]), vcvt_f32_f64(w[3]));
        vst1q_u8(out, vreinterpretq_u8_u16(
                          vcombine_u16(SampleBits(first, scale), SampleBits(second, scale))));
    }
};

}  // namespace

void SynthesizeNeon(const SampleRun &run) { SynthesizeFast<NeonLanes>(run); }

}  // namespace quillox
