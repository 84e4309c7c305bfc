// What the fast loop asks of an instruction set: a `Lanes` type, checked by
// the compiler when a loop is instantiated with it.
//
// A Lanes type computes on `kVectors` vectors of `kLanes` doubles: one block
// of kLanes * kVectors samples, a power of two. `SampleOffset(j, lane)` says
// which sample of the block lane `lane` of vector j holds, so that StoreBlock
// can write the block in order with few shuffles. ScalarLanes
// (tone/scalar_lanes.h) is the plainest one; each synthesis_<set>.cpp file
// has its own.
#pragma once

#include <bit>
#include <concepts>
#include <cstdint>
#include <utility>

namespace quillox {

// The arithmetic the sine kernels use: every operation rounds once, as IEEE
// double does; MulAdd(a, b, c) = RN(a b + c) and NegMulAdd(a, b, c) =
// RN(c - a b) exist where kFusedMultiplyAdd says so.
// (clang-format 14 misreads the operators in concept definitions.)
// clang-format off
template <typename L>
concept LaneArithmetic = requires(typename L::Doubles a) {
    { L::kFusedMultiplyAdd } -> std::convertible_to<bool>;
    { L::Splat(1.0) } -> std::same_as<typename L::Doubles>;
    { L::Add(a, a) } -> std::same_as<typename L::Doubles>;
    { L::Sub(a, a) } -> std::same_as<typename L::Doubles>;
    { L::Mul(a, a) } -> std::same_as<typename L::Doubles>;
} && (!L::kFusedMultiplyAdd || requires(typename L::Doubles a) {
    { L::MulAdd(a, a, a) } -> std::same_as<typename L::Doubles>;
    { L::NegMulAdd(a, a, a) } -> std::same_as<typename L::Doubles>;
});

template <typename L>
concept Lanes = LaneArithmetic<L> && std::has_single_bit(L::kLanes * L::kVectors) &&
    requires(typename L::Doubles a, typename L::Mask mask, const double *values,
             std::uint64_t bits, const typename L::Mask (&masks)[L::kVectors],
             const typename L::Doubles (&block)[L::kVectors], float scale, std::uint8_t *out) {
    { L::SampleOffset(0u, 0u) } -> std::same_as<unsigned>;
    { L::Load(values) } -> std::same_as<typename L::Doubles>;
    // The double's bits plus `bits`, as a 64-bit integer; the bits ANDed
    // with `bits`; the lanes where that AND is zero.
    { L::AddToBits(a, bits) } -> std::same_as<typename L::Doubles>;
    { L::KeepBits(a, bits) } -> std::same_as<typename L::Doubles>;
    { L::WhereBitsZero(a, bits) } -> std::same_as<typename L::Mask>;
    // x negated where the lowest mantissa bit of `shifted` is set.
    { L::NegateWhereOdd(a, a) } -> std::same_as<typename L::Doubles>;
    { L::Select(mask, a, a) } -> std::same_as<typename L::Doubles>;
    { L::AnySet(masks) } -> std::same_as<bool>;
    { L::LaneBits(mask) } -> std::same_as<unsigned>;  // bit `lane` set where the lane is
    // The block's samples from w (see tone/fast_loop.h), in sample order.
    L::template StoreBlock<false>(block, scale, out);
    L::template StoreBlock<true>(block, scale, out);
};
// clang-format on

namespace {  // NOLINT: internal linkage, as everything the loops include

// Calls f(std::integral_constant<unsigned, j>) for j = 0 .. N-1, unrolled, so
// that arrays of vectors indexed by j stay in registers.
template <unsigned N, typename F>
[[gnu::always_inline]] inline void ForEachVector(F &&f) {
    [&]<unsigned... J>(std::integer_sequence<unsigned, J...>) {
        (f(std::integral_constant<unsigned, J>{}), ...);
    }
    (std::make_integer_sequence<unsigned, N>{});
}

}  // namespace
}  // namespace quillox
