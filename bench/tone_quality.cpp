// How clean the tone is, by how far into it a sample lies: the error of the
// samples against the best-fitting sine at the formula's own frequency
// (6.28318 for 2 pi: 1000 Hz plays at 999.99919 Hz), relative to that sine,
// in dB. The single-precision phase rounds theta to ever coarser steps as it
// grows, and the error grows with it; 16-bit samples alone give about -98 dB.
//
//   tone_quality [FREQUENCY_HZ [LEVEL]]   (100, 1000, 10000 and 20000 Hz, level 10)
//
// For each starting second, a window of 4410 samples (0.1 s) from the
// library's own samples; the fit is linear least squares on
// a sin(w i) + b cos(w i) + c. `./build.sh bench` prints it.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tone/sample_format.h"
#include "tone/synthesis.h"
#include "tone/tone_settings.h"

namespace {

// Solves the 3x3 system m x = v by Cramer's rule.
void Solve(const double (&m)[3][3], const double (&v)[3], double (&x)[3]) {
    const auto det = [](const double(&a)[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
               a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double d = det(m);
    for (int k = 0; k < 3; ++k) {
        double replaced[3][3];
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) replaced[r][c] = c == k ? v[r] : m[r][c];
        }
        x[k] = det(replaced) / d;
    }
}

// The error relative to the fitted sine over `count` samples from `first`
// on, in dB.
double ErrorDecibels(std::int32_t frequencyHz, float amplitude, std::uint32_t first,
                     std::uint32_t count) {
    std::vector<std::uint8_t> bytes(2 * std::size_t{count});
    quillox::SynthesizeReference({frequencyHz, amplitude, first, count, bytes.data()});
    // The formula's angle per sample: theta = i * 6.28318 / period.
    const float period = quillox::kSamplesPerSecond / static_cast<float>(frequencyHz);
    const double w = quillox::kPhaseFactor / static_cast<double>(period);
    std::vector<double> y(count), s(count), c(count);
    double m[3][3] = {}, v[3] = {};
    for (std::uint32_t k = 0; k < count; ++k) {
        y[k] = static_cast<std::int16_t>(bytes[2 * k] | bytes[2 * k + 1] << 8);
        // The angle reduced in long double, so that it stays exact enough far in.
        const long double angle =
            std::fmod(static_cast<long double>(first + k) * w, 2 * 3.141592653589793238462643L);
        s[k] = static_cast<double>(std::sin(angle));
        c[k] = static_cast<double>(std::cos(angle));
        const double basis[3] = {s[k], c[k], 1};
        for (int r = 0; r < 3; ++r) {
            v[r] += basis[r] * y[k];
            for (int col = 0; col < 3; ++col) m[r][col] += basis[r] * basis[col];
        }
    }
    double x[3];
    Solve(m, v, x);
    double signal = 0, error = 0;
    for (std::uint32_t k = 0; k < count; ++k) {
        const double fitted = x[0] * s[k] + x[1] * c[k];
        signal += fitted * fitted;
        const double residual = y[k] - (fitted + x[2]);
        error += residual * residual;
    }
    return 10 * std::log10(error / signal);
}

}  // namespace

int main(int argc, char **argv) {
    // One column a frequency: the one asked for, or four across the band.
    std::vector<std::int32_t> frequencies{100, 1000, 10000, 20000};
    if (argc > 1) frequencies = {std::atoi(argv[1])};
    const std::int32_t level = argc > 2 ? std::atoi(argv[2]) : 10;
    const float amplitude = quillox::AmplitudeFromLevel(level);
    std::printf("level %d: error relative to the signal, 0.1 s windows; each plays at\n", level);
    for (const std::int32_t frequencyHz : frequencies) {
        const float period = quillox::kSamplesPerSecond / static_cast<float>(frequencyHz);
        const double plays = quillox::kPhaseFactor / static_cast<double>(period) *
                             quillox::kSampleRate / (2 * 3.141592653589793);
        std::printf("  %d Hz: %.5f Hz\n", frequencyHz, plays);
    }
    std::printf("\n| from second |");
    for (const std::int32_t frequencyHz : frequencies) std::printf(" %d Hz |", frequencyHz);
    std::printf("\n|---:|");
    for (std::size_t k = 0; k < frequencies.size(); ++k) std::printf("---:|");
    std::printf("\n");
    for (const std::uint32_t second : {0u, 1u, 10u, 60u, 600u, 3600u}) {
        std::printf("| %u |", second);
        for (const std::int32_t frequencyHz : frequencies) {
            std::printf(" %.0f dB |",
                        ErrorDecibels(frequencyHz, amplitude, second * quillox::kSampleRate,
                                      quillox::kSampleRate / 10));
        }
        std::printf("\n");
    }
    return 0;
}
