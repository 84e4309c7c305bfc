// Every target writes the bytes of the native x86-64 build: each request of
// the shared table, made here through WAVHZCreate, against the file the
// native wavhz wrote for it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "QuilloxWAVFrequency.h"
#include "test_support.h"

namespace quillox::test {
namespace {

TEST(SameBytes, EveryRequestAsTheNativeBuildWritesIt) {
    const char *referenceFiles = std::getenv("QUILLOX_REFERENCE_FILES");
    const char *requests = std::getenv("QUILLOX_REQUESTS");
    ASSERT_NE(referenceFiles, nullptr);
    ASSERT_NE(requests, nullptr);
    std::error_code noFolder;
    if (std::filesystem::is_empty(referenceFiles, noFolder) || noFolder)
        GTEST_SKIP() << "no reference files in " << referenceFiles;
    TempDir dir;
    std::ifstream list(requests);
    ASSERT_TRUE(list) << requests;
    int compared = 0;
    for (std::string line; std::getline(list, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::int32_t frequencyHz = 0, level = 0;
        std::uint32_t seconds = 0;
        fields >> frequencyHz >> level >> seconds;
        const std::string name = std::to_string(frequencyHz) + "_" + std::to_string(level) + "_" +
                                 std::to_string(seconds) + ".wav";
        const auto expected = ReadBytes(std::string(referenceFiles) + "/" + name);
        ASSERT_FALSE(expected.empty()) << "no reference file " << name << " in " << referenceFiles;
        ASSERT_EQ(WAVHZCreate(ToPath(dir / name).c_str(), frequencyHz, level, seconds), 999);
        EXPECT_TRUE(ReadBytes(dir / name) == expected) << name;
        std::filesystem::remove(dir / name);
        ++compared;
    }
    EXPECT_GE(compared, 22);
}

}  // namespace
}  // namespace quillox::test
