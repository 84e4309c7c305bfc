// libFuzzer target over a whole tone request: the file name's UTF-16 units
// and the four arguments (durations kept to 0..2 seconds).
//
// Input layout: frequency (4 bytes, little-endian), level (4), seconds (1,
// taken modulo 3), a sample position (4), then the name as UTF-16LE units.
//
// Each input is checked three ways:
//  1. the name conversion, in process, against glibc's iconv;
//  2. the other sample loops, in process, against the reference loop at the
//     given position;
//  3. the whole call, in a child process (it may end the process), inside a
//     private folder: it returns WAVHZ_DONE with a file of the right size and
//     header, or ends with status 2 having created nothing.
#include <iconv.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "QuilloxWAVFrequency.h"
#include "platform/platform.h"
#include "tone/synthesis.h"
#include "tone/tone_settings.h"
#include "tone/wav_chunk.h"

namespace {

namespace fs = std::filesystem;
using namespace quillox;

void Check(bool condition, const char *what) {
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

std::uint32_t Read32(const std::uint8_t *data) {
    return data[0] | data[1] << 8 | data[2] << 16 | std::uint32_t{data[3]} << 24;
}

// The UTF-8 form of `name` by iconv, or nothing when it has none.
std::optional<std::string> IconvUtf8(const std::u16string &name) {
    iconv_t cd = iconv_open("UTF-8", "UTF-16LE");
    std::string in(reinterpret_cast<const char *>(name.data()), 2 * name.size());
    std::string out(4 * name.size() + 4, '\0');
    char *inPtr = in.data();
    char *outPtr = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    const bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    if (!ok || inLeft != 0) return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

// Under TMPDIR. libFuzzer ends without running exit handlers, so whoever runs
// it removes the folder (build.sh points TMPDIR at a folder of its own).
const fs::path &Folder() {
    static const fs::path folder = [] {
        std::string name = (fs::temp_directory_path() / "quillox-fuzz-XXXXXX").string();
        Check(mkdtemp(name.data()) != nullptr, "a private folder");
        return fs::path(name);
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 13) return 0;
    const auto frequencyHz = static_cast<std::int32_t>(Read32(data));
    const auto level = static_cast<std::int32_t>(Read32(data + 4));
    const std::uint32_t seconds = data[8] % 3;
    const std::uint32_t position = Read32(data + 9) % (kMaxSeconds * kSampleRate - 64);
    // The name stays inside the private folder: no '/' and no NUL.
    std::u16string name;
    for (std::size_t at = 13; at + 1 < size && name.size() < 300; at += 2) {
        const auto unit = static_cast<char16_t>(data[at] | data[at + 1] << 8);
        name += unit == u'/' || unit == 0 ? u'_' : unit;
    }

    // 1. The name conversion.
    char narrow[kOutputPathBytes];
    const bool converted = ConvertPathToNarrow(name.c_str(), narrow) == kSucceeded;
    const auto expected = IconvUtf8(name);
    const bool fits = expected && expected->size() < kOutputPathBytes;
    Check(converted == fits,
          "names are refused exactly when they have no UTF-8 form or are too long");
    if (converted) Check(*expected == narrow, "the UTF-8 name");

    // 2. The sample loops.
    constexpr std::uint32_t kCount = 61;
    std::uint8_t reference[2 * kCount];
    std::uint8_t other[2 * kCount];
    const float amplitude = AmplitudeFromLevel(level);
    SynthesizeReference({frequencyHz, amplitude, position, kCount, reference});
    for (const FastLoop &loop : FastLoops()) {
        if (!loop.available()) continue;
        loop.synthesize({frequencyHz, amplitude, position, kCount, other});
        Check(std::memcmp(reference, other, sizeof reference) == 0, "the fast loops' samples");
    }

    // 3. The whole call.
    const fs::path &folder = Folder();  // made here, not in the child
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(folder.c_str()) != 0) _exit(98);
        _exit(WAVHZCreate(name.c_str(), frequencyHz, level, seconds) == WAVHZ_DONE ? 0 : 97);
    }
    int status = 0;
    Check(waitpid(child, &status, 0) == child && WIFEXITED(status), "the child ends by itself");
    const int code = WEXITSTATUS(status);
    const std::vector<fs::path> entries{fs::directory_iterator(folder), fs::directory_iterator()};
    if (code == WAVHZ_EXIT_NO_MEMORY || code == WAVHZ_EXIT_CANNOT_WRITE) {
        Check(entries.empty(), "a refused request creates nothing");
        return 0;
    }
    Check(code == 0 && converted && entries.size() == 1, "success leaves one file");
    Check(entries[0].filename() == narrow, "the file has the converted name");
    std::ifstream in(entries[0], std::ios::binary);
    const std::vector<char> file{std::istreambuf_iterator<char>(in),
                                 std::istreambuf_iterator<char>()};
    Check(file.size() == kFileHeaderBytes + std::size_t{kBytesPerSecond} * seconds,
          "the file size");
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(file.data());
    Check(std::memcmp(bytes, "RIFF", 4) == 0 && Read32(bytes + 4) == file.size() - 8 &&
              std::memcmp(bytes + 8, "WAVEfmt ", 8) == 0 &&
              std::memcmp(bytes + 36, "data", 4) == 0 &&
              Read32(bytes + 40) == file.size() - kFileHeaderBytes,
          "the header");
    fs::remove(entries[0]);
    return 0;
}
