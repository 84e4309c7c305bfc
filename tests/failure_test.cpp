// Requests the library refuses or cannot complete: the process ends with
// status 1 or 2, and nothing is left behind that looks like a good file.
#include <gtest/gtest.h>

#include <optional>
#include <utility>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <csignal>
#endif

#include "QuilloxWAVFrequency.h"
#include "test_support.h"
#include "tone/narrow_path.h"

namespace quillox::test {
namespace {

using testing::ExitedWithCode;
namespace fs = std::filesystem;

#if !defined(_WIN32)
TEST(NarrowPath, Utf16BecomesExactUtf8) {
    const std::string a197(197, 'a'), a198(198, 'a'), a199(199, 'a');
    const std::pair<std::u16string, std::optional<std::string>> cases[] = {
        {u"tone.wav", "tone.wav"},
        {u"caf\u00e9/\u20ac.wav", "caf\xc3\xa9/\xe2\x82\xac.wav"},
        {u"\U0001F3B5.wav", "\xf0\x9f\x8e\xb5.wav"},  // a surrogate pair
        {u"a\xD800.wav", std::nullopt},                 // unpaired high surrogate
        {u"a\xDC00.wav", std::nullopt},                 // unpaired low surrogate
        {u"a\xDC00\xD800", std::nullopt},               // a pair in the wrong order
        {u"a\xD800", std::nullopt},                     // high surrogate at the end
        {ToPath(a199), a199},                              // 199 bytes and the terminator fit
        {ToPath(a199 + "a"), std::nullopt},                // 200 do not
        // Characters of 2, 3 and 4 bytes that just fit, and that straddle the limit.
        {ToPath(a197) + u"\u00e9", a197 + "\xc3\xa9"},
        {ToPath(a198) + u"\u00e9", std::nullopt},
        {ToPath(a197.substr(1)) + u"\u20ac", a197.substr(1) + "\xe2\x82\xac"},
        {ToPath(a197) + u"\u20ac", std::nullopt},
        {ToPath(a197.substr(2)) + u"\U0001F3B5", a197.substr(2) + "\xf0\x9f\x8e\xb5"},
        {ToPath(a197) + u"\U0001F3B5", std::nullopt},
    };
    for (const auto &[path, narrow] : cases) {
        char name[kOutputPathBytes];
        const bool converted = ConvertPathToNarrow(path.c_str(), name);
        EXPECT_EQ(converted ? std::optional<std::string>(name) : std::nullopt, narrow);
    }
    char name[kOutputPathBytes];
    EXPECT_FALSE(ConvertPathToNarrow(nullptr, name));
}
#endif

class Refusals : public testing::Test {
protected:
    bool IsEmpty() const { return fs::is_empty(dir.path()); }
    TempDir dir;
};

TEST_F(Refusals, UnwritableNamesEndWithStatus2AndCreateNothing) {
    const std::string base = (dir / "");
    const std::string at200(200 - base.size(), 'n');
    WriteText(dir / "file.wav", "");
    const PathString names[] = {
        ToPath(dir / "missing/tone.wav"),
        ToPath(dir / "file.wav/tone.wav"),  // through a file
        ToPath(base),                       // the folder itself
        ToPath(dir / "a") + static_cast<WAVHZPathChar>(0xD800) + ToPath(".wav"),
        ToPath(base + at200),  // 200 bytes: no room for the terminator
        PathString(),
    };
    for (const auto &name : names) {
        EXPECT_EXIT(WAVHZCreate(name.c_str(), 440, 10, 1), ExitedWithCode(2), "");
    }
    EXPECT_EXIT(WAVHZCreate(nullptr, 440, 10, 1), ExitedWithCode(2), "");
    EXPECT_EQ(ReadBytes(dir / "file.wav").size(), 0u);
    fs::remove(dir / "file.wav");
    EXPECT_TRUE(IsEmpty());

    const std::string at199 = base + at200.substr(1);
    EXPECT_EQ(WAVHZCreate(ToPath(at199).c_str(), 440, 10, 0), 999);
    EXPECT_EQ(fs::file_size(at199), 44u);
}

TEST_F(Refusals, TonesTooLongForTheSizeFieldsEndWithStatus1) {
    const std::string path = dir / "kept.wav";
    WriteText(path, "kept");
    for (const std::uint32_t seconds : {48696u, UINT32_MAX}) {
        EXPECT_EXIT(WAVHZCreate(ToPath(path).c_str(), 440, 10, seconds), ExitedWithCode(1), "");
    }
    EXPECT_EQ(ReadBytes(path), (std::vector<std::uint8_t>{'k', 'e', 'p', 't'}));
}

#if !defined(_WIN32)
// Limits, devices and users as POSIX systems have them.

TEST_F(Refusals, AReadOnlyFolderEndsWithStatus2) {
    const std::string folder = dir / "read-only";
    fs::create_directory(folder);
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_exec);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_exec);
    const auto writeAsSomeoneElse = [&] {
        // Root writes anywhere: take the request to an ordinary user first.
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
        WAVHZCreate(ToPath(folder + "/tone.wav").c_str(), 440, 10, 1);
    };
    EXPECT_EXIT(writeAsSomeoneElse(), ExitedWithCode(2), "");
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(Refusals, AFailedAllocationEndsWithStatus1AndCreatesNothing) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit and the address sanitizer do not mix";
#endif
    const auto requestWithLittleMemory = [&] {
        const rlimit limit = {rlim_t{256} << 20, rlim_t{256} << 20};
        setrlimit(RLIMIT_AS, &limit);
        WAVHZCreate(ToPath(dir / "tone.wav").c_str(), 440, 10, 3600);  // 318 MB of samples
    };
    EXPECT_EXIT(requestWithLittleMemory(), ExitedWithCode(1), "");
    EXPECT_TRUE(IsEmpty());
}

TEST_F(Refusals, AWriteCutShortRemovesThePartialFile) {
    const std::string path = dir / "tone.wav";
    const auto writeWithSmallFileLimit = [&] {
        std::signal(SIGXFSZ, SIG_IGN);  // so that the write fails instead
        const rlimit limit = {50000, 50000};
        setrlimit(RLIMIT_FSIZE, &limit);
        WAVHZCreate(ToPath(path).c_str(), 440, 10, 1);
    };
    EXPECT_EXIT(writeWithSmallFileLimit(), ExitedWithCode(2), "");
    EXPECT_TRUE(IsEmpty());
}

TEST_F(Refusals, AFailedWriteToADeviceKeepsTheDevice) {
    // A private "full" device (1,7): every write fails with ENOSPC.
    const std::string node = dir / "full";
    if (geteuid() != 0 || mknod(node.c_str(), S_IFCHR | 0600, makedev(1, 7)) != 0) {
        GTEST_SKIP() << "making a device node needs root";
    }
    const int fd = open(node.c_str(), O_WRONLY);
    const bool failsToWrite = fd >= 0 && write(fd, "x", 1) < 0 && errno == ENOSPC;
    if (fd >= 0) close(fd);
    if (!failsToWrite) GTEST_SKIP() << "device nodes do not work in " << dir.path();

    EXPECT_EXIT(WAVHZCreate(ToPath(node).c_str(), 440, 10, 1), ExitedWithCode(2), "");
    struct stat status{};
    ASSERT_EQ(stat(node.c_str(), &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode));
}

#endif

}  // namespace
}  // namespace quillox::test
