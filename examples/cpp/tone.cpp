// Writes the tone its arguments ask for: a C++ host of the library.
//   tone OUTPUT FREQUENCY_HZ LEVEL SECONDS
#include <QuilloxWAVFrequency.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

// A whole number from an argument, or false.
template <typename T>
bool Parse(std::string_view text, T &value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

int main(int argc, char **argv) {
    std::int32_t frequencyHz, level;
    std::uint32_t seconds;
    if (argc != 5 || !Parse(argv[2], frequencyHz) || !Parse(argv[3], level) ||
        !Parse(argv[4], seconds) || seconds > WAVHZ_MAX_SECONDS) {
        std::fprintf(stderr, "usage: tone OUTPUT FREQUENCY_HZ LEVEL SECONDS (at most %d)\n",
                     WAVHZ_MAX_SECONDS);
        return 64;
    }
    // std::filesystem converts the name from the system's narrow form to the
    // UTF-16 the library takes (wchar_t on Windows, char16_t elsewhere).
    const std::filesystem::path output = argv[1];
#if defined(_WIN32)
    const std::wstring path = output.wstring();
#else
    const std::u16string path = output.u16string();
#endif
    // Returns WAVHZ_DONE, or ends the process with status 1 or 2.
    WAVHZCreate(path.c_str(), frequencyHz, level, seconds);
    std::printf("%s: %ju bytes\n", argv[1],
                static_cast<std::uintmax_t>(std::filesystem::file_size(output)));
    return 0;
}
