// Requests the library refuses or cannot complete: the process ends with
// status 1 or 2, and nothing is left behind that looks like a good file.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <utility>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <csignal>
#endif

#include "QuilloxWAVFrequency.h"
#include "test_support.h"

namespace quillox::test {
namespace {

using testing::ExitedWithCode;
namespace fs = std::filesystem;

// Each refusal ends a process: a forked child's.
class Refusals : public testing::Test {
protected:
    void SetUp() override {
        if (!CanForkAndStartThreads()) GTEST_SKIP() << kCannotFork;
    }
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
    // Where size_t has 32 bits, 48,690 s would wrap the buffer's size when
    // rounded up to whole huge pages.
    std::vector<std::uint32_t> tooLong = {48696u, UINT32_MAX};
    if (sizeof(std::size_t) == 4) tooLong.push_back(48690u);
    for (const std::uint32_t seconds : tooLong) {
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
    if (const char *why = WhyNoAddressSpaceLimit()) GTEST_SKIP() << why;
    const auto requestWithLittleMemory = [&] {
        const rlimit limit = {rlim_t{256} << 20, rlim_t{256} << 20};
        setrlimit(RLIMIT_AS, &limit);
        WAVHZCreate(ToPath(dir / "tone.wav").c_str(), 440, 10, 3600);  // 318 MB of samples
    };
    EXPECT_EXIT(requestWithLittleMemory(), ExitedWithCode(1), "");
    EXPECT_TRUE(IsEmpty());
}

// What a folder holds, links not followed: each entry's kind and contents
// (a file's length and hash, a link's target), so that "nothing changed" can be compared whole.
std::map<std::string, std::string> Snapshot(const fs::path &root) {
    std::map<std::string, std::string> entries;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().lexically_relative(root).string();
        if (entry.is_symlink()) {
            entries[name] = "link to " + fs::read_symlink(entry.path()).string();
        } else if (entry.is_regular_file()) {
            const auto bytes = ReadBytes(entry.path().string());
            const std::string text(bytes.begin(), bytes.end());
            entries[name] = std::to_string(bytes.size()) + " bytes, hash " +
                            std::to_string(std::hash<std::string>{}(text));
        } else {
            entries[name] = "folder";
        }
    }
    return entries;
}

// Writes that cannot finish, from a full disk or a file-size limit: status
// 2, and the folder exactly as it was. No link is removed, no existing file
// loses a byte, no file created by the call stays, no signal ends it.
TEST_F(Refusals, FailedWritesHarmNothing) {
    // A 1 MiB disk, mounted in a mount namespace of this test process alone.
    const std::string full = dir / "full";
    fs::create_directory(full);
    std::string noFullDisk;
    if (geteuid() != 0) {
        noFullDisk = "mounting a small file system needs root";
    } else if (unshare(CLONE_NEWNS) != 0 ||
               mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
               mount("tmpfs", full.c_str(), "tmpfs", 0, "size=1m,mode=0777") != 0) {
        noFullDisk =
            std::string("no private mount of a small file system here: ") + std::strerror(errno);
    }
    const std::string kept(100000, 'k');
    WriteText(dir / "kept.wav", kept);
    if (noFullDisk.empty()) {
        WriteText(full + "/existing.wav", kept);
        fs::create_symlink("existing.wav", full + "/link.wav");
        fs::create_symlink("nothing-yet.wav", full + "/dangling.wav");
        WriteText(full + "/stdout.wav", "");  // what `> stdout.wav` leaves
        fs::create_directory(full + "/locked");
        WriteText(full + "/locked/kept.wav", kept);
        fs::permissions(full + "/locked/kept.wav", fs::perms::all & ~fs::perms::owner_exec &
                                                       ~fs::perms::group_exec &
                                                       ~fs::perms::others_exec);
        fs::permissions(full + "/locked", fs::perms::owner_all | fs::perms::group_read |
                                              fs::perms::group_exec | fs::perms::others_read |
                                              fs::perms::others_exec);
    }
    // Like /dev/stdout: a link through /proc to the descriptor.
    fs::create_symlink("/proc/self/fd/1", dir / "stdout");
    const auto limitFileSize = [] {
        const rlimit limit = {51200, 51200};  // SIGXFSZ keeps its default action
        setrlimit(RLIMIT_FSIZE, &limit);
    };
    const auto stdoutToFullDisk = [&] {
        const int fd = open((full + "/stdout.wav").c_str(), O_WRONLY | O_TRUNC);
        if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) _exit(99);
    };
    const auto asSomeoneElse = [] {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
    };
    const struct {
        const char *what;
        std::string name;
        bool onFullDisk;
        std::function<void()> before;  // in the child, before the request
    } rows[] = {
        {"a new file on a full disk", full + "/new.wav", true, nullptr},
        {"an existing file on a full disk", full + "/existing.wav", true, nullptr},
        {"a link to an existing file on a full disk", full + "/link.wav", true, nullptr},
        {"a dangling link on a full disk", full + "/dangling.wav", true, nullptr},
        {"standard output redirected to a full disk", dir / "stdout", true, stdoutToFullDisk},
        {"a file its folder will not let go, on a full disk", full + "/locked/kept.wav", true,
         asSomeoneElse},
        {"a new file over the file-size limit", dir / "new.wav", false, limitFileSize},
        {"an existing file over the file-size limit", dir / "kept.wav", false, limitFileSize},
    };
    const auto before = Snapshot(dir.path());
    for (const auto &row : rows) {
        if (row.onFullDisk && !noFullDisk.empty()) continue;
        const auto request = [&] {
            if (row.before) row.before();
            WAVHZCreate(ToPath(row.name).c_str(), 440, 10, 20);  // 1.7 MB
        };
        EXPECT_EXIT(request(), ExitedWithCode(2), "") << row.what;
        EXPECT_EQ(Snapshot(dir.path()), before) << row.what;
    }
    if (noFullDisk.empty()) umount2(full.c_str(), MNT_DETACH);
    if (!noFullDisk.empty()) GTEST_SKIP() << "the full-disk rows: " << noFullDisk;
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
    struct stat status {};
    ASSERT_EQ(stat(node.c_str(), &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode));
}

#endif

}  // namespace
}  // namespace quillox::test
