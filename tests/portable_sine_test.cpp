// The library's own sine against the C library's, on the arguments the tone
// loop gives it.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "tone/portable_sine.h"

namespace quillox {
namespace {

TEST(PortableSine, WithinOneUlpOfTheLibrarySine) {
#if defined(_WIN32)
    GTEST_SKIP() << "mingw-w64's sine is not within 1 ulp for large arguments";
#endif
    // Float arguments across the tone loop's whole range, and the floats
    // nearest to multiples of pi/2, where the reduction loses the most.
    std::vector<float> arguments;
    std::mt19937_64 random(42);
    for (int k = 0; k < 2'000'000; ++k) {
        const double unit = 1.0 + static_cast<double>(random() >> 11) * 0x1p-53;
        arguments.push_back(
            static_cast<float>(std::ldexp(unit, static_cast<int>(random() % 76) - 26)));
    }
    for (double multiple = 1; multiple < 0x1p49; multiple = multiple * 1.37 + 1) {
        const float nearest = static_cast<float>(multiple * 1.5707963267948966);
        arguments.insert(arguments.end(), {nearest, std::nextafter(nearest, 0.0f), -nearest});
    }
    for (const float theta : arguments) {
        const double expected = std::sin(static_cast<double>(theta));
        const double ulp = std::ldexp(1.0, std::ilogb(expected) - 52);
        ASSERT_LE(std::fabs(PortableSine(theta) - expected), ulp) << "sin(" << theta << ")";
    }
}

}  // namespace
}  // namespace quillox
