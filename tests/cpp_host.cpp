// A host written in C++20: the public header's names as a host uses them,
// with a path literal of the platform's type. Writes cpp_host.wav into the
// current folder.
#include <QuilloxWAVFrequency.h>

#include <cstdio>
#include <filesystem>

static_assert(WAVHZ_DONE == 999 && WAVHZ_EXIT_NO_MEMORY == 1 && WAVHZ_EXIT_CANNOT_WRITE == 2);

int main() {
    if (WAVHZCreate(WAVHZ_PATH("cpp_host.wav"), 1000, 10, 1) != WAVHZ_DONE) return 4;
    const auto size = std::filesystem::file_size("cpp_host.wav");
    std::printf("cpp_host.wav: %ju bytes, version %s\n", static_cast<std::uintmax_t>(size),
                QUILLOX_WAV_FREQUENCY_VERSION_STRING);
    return size == 44 + 88200 ? 0 : 6;
}
