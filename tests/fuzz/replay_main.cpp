// The fuzzer's checks without libFuzzer, for any compiler: runs every file
// named on the command line (or found in a folder named there) through
// LLVMFuzzerTestOneInput once. ctest replays the checked-in corpus with it;
// a crash file from a fuzzing run replays the same way.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char **argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    for (int k = 1; k < argc; ++k) {
        if (fs::is_directory(argv[k])) {
            for (const auto &entry : fs::directory_iterator(argv[k]))
                inputs.push_back(entry.path());
        } else {
            inputs.emplace_back(argv[k]);
        }
    }
    for (const fs::path &input : inputs) {
        std::ifstream in(input, std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                              std::istreambuf_iterator<char>()};
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    return inputs.empty() ? 1 : 0;
}
