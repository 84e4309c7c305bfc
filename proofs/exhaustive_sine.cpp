// The proof that the reference sine is correctly rounded: it runs over every
// positive float below 2^51 (negative ones follow, the sine being odd in
// its code: it works on |theta| and sets the sign last).
//   exhaustive_sine fast     every float decided by one of the two phases,
//                            each trusted within its bound (tens of s)
//   exhaustive_sine strict   and where the first phase decides, the
//                            second decides the same (minutes)
//   exhaustive_sine mpfr     and every value is MPFR's sine rounded to
//                            nearest (about ten minutes on two cores)
//   exhaustive_sine sample   strict and MPFR's on every kSampleEvery-th
//                            float: trusts no phase's bound, so a bound
//                            claimed too tight or a term left out of a
//                            phase fails it (about a minute)
// Exits 1 at the first float that fails, naming it. `./build.sh test` runs
// the fast and sample modes, built with and without fused multiply-adds;
// `./build.sh proofs` runs strict and mpfr.
#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#if defined(QUILLOX_WITH_MPFR)
#include <mpfr.h>
#endif

#include "tone/correctly_rounded_sine.h"

namespace {

enum class Mode { kFast, kStrict, kMpfr, kSample };

// Every positive float below 2^51, by its bits.
constexpr std::uint32_t kFirst = 1;
constexpr std::uint32_t kEnd = 0x59000000;  // the bits of 2^51
// The sample mode's share: every 17th float by its bits, 88 million in all,
// through every binade (17 is odd: both parities of the last bit).
constexpr std::uint32_t kSampleEvery = 17;

struct Tally {
    std::uint64_t firstUndecided = 0;
    std::uint32_t failure = 0;  // the bits of the first float that failed, or 0
    const char *why = nullptr;
};

// The floats from `begin` to `end` (bits), with stride `stride`.
Tally Check(Mode mode, std::uint32_t begin, std::uint32_t end, std::uint32_t stride) {
    Tally tally;
#if defined(QUILLOX_WITH_MPFR)
    mpfr_t exact;
    mpfr_init2(exact, 53);
#endif
    for (std::uint32_t bits = begin; bits < end; bits += stride) {
        const double theta = std::bit_cast<float>(bits);
        const quillox::SineAttempt first = quillox::SineFirstPhase(theta);
        double value = first.value;
        if (!first.decided || mode != Mode::kFast) {
            const quillox::SineAttempt second = quillox::SineSecondPhase(theta);
            if (!second.decided) {
                tally.why = "the second phase leaves the rounding open";
            } else if (first.decided && first.value != second.value) {
                tally.why = "the two phases disagree";
            }
            value = second.value;
        }
        if (!first.decided) ++tally.firstUndecided;
        if (tally.why == nullptr && quillox::CorrectlyRoundedSine(theta) != value) {
            tally.why = "CorrectlyRoundedSine is not what its phases give";
        }
#if defined(QUILLOX_WITH_MPFR)
        if (tally.why == nullptr && (mode == Mode::kMpfr || mode == Mode::kSample)) {
            mpfr_set_d(exact, theta, MPFR_RNDN);
            mpfr_sin(exact, exact, MPFR_RNDN);  // correctly rounded to 53 bits
            if (mpfr_get_d(exact, MPFR_RNDN) != value) tally.why = "MPFR's sine differs";
        }
#endif
        if (tally.why != nullptr) {
            tally.failure = bits;
            break;
        }
    }
#if defined(QUILLOX_WITH_MPFR)
    mpfr_clear(exact);
#endif
    return tally;
}

}  // namespace

int main(int argc, char **argv) {
#if defined(__FMA__) && defined(__x86_64__)
    if (!__builtin_cpu_supports("fma")) {
        std::printf("skipped: built with fused multiply-adds, which this processor lacks\n");
        return 77;
    }
#endif
    Mode mode = Mode::kFast;
    if (argc == 2 && std::strcmp(argv[1], "strict") == 0) {
        mode = Mode::kStrict;
    } else if (argc == 2 &&
               (std::strcmp(argv[1], "mpfr") == 0 || std::strcmp(argv[1], "sample") == 0)) {
#if !defined(QUILLOX_WITH_MPFR)
        std::fprintf(stderr, "exhaustive_sine: built without MPFR\n");
        return 64;
#endif
        mode = std::strcmp(argv[1], "mpfr") == 0 ? Mode::kMpfr : Mode::kSample;
    } else if (argc != 1 && !(argc == 2 && std::strcmp(argv[1], "fast") == 0)) {
        std::fprintf(stderr, "usage: exhaustive_sine [fast|strict|mpfr|sample]\n");
        return 64;
    }
    const auto start = std::chrono::steady_clock::now();
    // Interleaved, so that every thread gets as many slow arguments.
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    std::vector<Tally> tallies(threads);
    std::vector<std::thread> workers;
    const std::uint32_t every = mode == Mode::kSample ? kSampleEvery : 1;
    for (unsigned k = 0; k < threads; ++k) {
        workers.emplace_back(
            [&, k] { tallies[k] = Check(mode, kFirst + k * every, kEnd, threads * every); });
    }
    for (std::thread &worker : workers) worker.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::uint64_t undecided = 0;
    int status = 0;
    for (const Tally &tally : tallies) {
        undecided += tally.firstUndecided;
        if (tally.why != nullptr) {
            const float theta = std::bit_cast<float>(tally.failure);
            std::printf("FAILS at theta = %a: %s\n", static_cast<double>(theta), tally.why);
            status = 1;
        }
    }
    const char *names[] = {"fast", "strict", "mpfr", "sample"};
    std::printf(
        "exhaustive_sine %s (%s fused multiply-adds): %u floats in (0, 2^51), %s; "
        "the first phase left %llu (1 in %.0f) to the second; %.1f s, %u threads\n",
        names[static_cast<int>(mode)],
#if defined(__FMA__) || defined(__ARM_FEATURE_FMA)
        "with",
#else
        "without",
#endif
        (kEnd - kFirst) / every, status == 0 ? "passed" : "FAILED",
        static_cast<unsigned long long>(undecided),
        undecided == 0 ? 0.0 : static_cast<double>(kEnd - kFirst) / every / undecided, seconds,
        threads);
    return status;
}
