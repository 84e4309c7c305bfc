#include "platform/platform.h"

#include <cstddef>
#include <cstdint>

namespace quillox {
namespace {

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

ErrorCode ConvertPathToNarrow(const WAVHZPathChar *path, char (&name)[kOutputPathBytes]) {
    if (path == nullptr) return kErrorNullPath;
    std::size_t length = 0;
    // Append one byte, keeping room for the terminator.
    const auto put = [&](char32_t byte) {
        if (length + 1 >= kOutputPathBytes) return false;
        name[length++] = static_cast<char>(byte);
        return true;
    };
    for (const WAVHZPathChar *unit = path; *unit != 0; ++unit) {
        char32_t c = *unit;
        if (IsHighSurrogate(c) && IsLowSurrogate(unit[1])) {
            ++unit;
            c = 0x10000 + ((c - 0xD800) << 10) + (*unit - 0xDC00);
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            return kErrorNoNarrowForm;
        }
        bool fits;
        if (c < 0x80) {
            fits = put(c);
        } else if (c < 0x800) {
            fits = put(0xC0 | (c >> 6)) && put(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            fits = put(0xE0 | (c >> 12)) && put(0x80 | ((c >> 6) & 0x3F)) && put(0x80 | (c & 0x3F));
        } else {
            fits = put(0xF0 | (c >> 18)) && put(0x80 | ((c >> 12) & 0x3F)) &&
                   put(0x80 | ((c >> 6) & 0x3F)) && put(0x80 | (c & 0x3F));
        }
        if (!fits) return kErrorNameTooLong;
    }
    name[length] = '\0';
    return kSucceeded;
}

}  // namespace quillox
