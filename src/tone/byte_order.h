// Little-endian stores, as the file format wants them: the chunk headers
// and the samples of every loop built with the plain flags.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace quillox {

// Store the low 16 bits, or all 32 bits, of `value` least significant byte
// first. Higher bits are dropped, not clipped. On a little-endian processor
// one 16-bit store: compilers may otherwise merge the bytes of neighbouring
// samples through shifts in the integer registers, which slows the loops.
inline void WriteLE16(std::uint8_t *destination, std::uint32_t value) {
    if constexpr (std::endian::native == std::endian::little) {
        const auto low = static_cast<std::uint16_t>(value);
        std::memcpy(destination, &low, sizeof low);
    } else {
        destination[0] = static_cast<std::uint8_t>(value);
        destination[1] = static_cast<std::uint8_t>(value >> 8);
    }
}

inline void WriteLE32(std::uint8_t *destination, std::uint32_t value) {
    WriteLE16(destination, value);
    WriteLE16(destination + 2, value >> 16);
}

}  // namespace quillox
