// Requests the library refuses or cannot complete: WAVHZTryCreate returns
// status 1 or 2 with the reason, WAVHZCreate ends the process with it, and
// nothing is left behind that looks like a good file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <thread>
#include <utility>

#if !defined(_WIN32)
#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include "QuilloxWAVFrequency.h"
#include "test_support.h"

namespace quillox::test {
namespace {

using testing::ExitedWithCode;
namespace fs = std::filesystem;

// A reason in this system's numbers: errno's, or on Windows GetLastError's
// (0 there: any reason, where Wine and Windows may differ).
#if defined(_WIN32)
#define REASON(posix, windows) (windows)
#else
#define REASON(posix, windows) (posix)
#endif

// Each request fails through WAVHZTryCreate, in this process, which carries
// on; WAVHZCreate ends a process (a forked child's) with the same status.
class Refusals : public testing::Test {
protected:
    void SetUp() override {
        if (!CanForkAndStartThreads()) GTEST_SKIP() << kCannotFork;
    }
    bool IsEmpty() const { return fs::is_empty(dir.path()); }
    TempDir dir;
};

TEST_F(Refusals, UnwritableNamesFailWithTheirReasonAndCreateNothing) {
    const std::string base = (dir / "");
    const std::string at200(200 - base.size(), 'n');
    WriteText(dir / "file.wav", "");
    const struct {
        PathString name;
        int error;
    } rows[] = {
        {ToPath(dir / "missing/tone.wav"), REASON(ENOENT, ERROR_PATH_NOT_FOUND)},
        {ToPath(dir / "file.wav/tone.wav"), REASON(ENOTDIR, 0)},  // through a file
        {ToPath(base), REASON(EISDIR, 0)},                        // the folder itself
        {ToPath(dir / "a") + static_cast<WAVHZPathChar>(0xD800) + ToPath(".wav"),
         REASON(EILSEQ, ERROR_NO_UNICODE_TRANSLATION)},
        {ToPath(base + at200),
         REASON(ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE)},  // no room for NUL
        {PathString(), REASON(ENOENT, 0)},
    };
    for (const auto &row : rows) {
        const Outcome got = TryCreate(row.name.c_str(), 440, 10, 1);
        EXPECT_EQ(got.status, WAVHZ_EXIT_CANNOT_WRITE) << got;
        if (row.error != 0) {
            EXPECT_EQ(got.error, row.error) << got;
        }
        EXPECT_NE(got.error, 0);
    }
    EXPECT_EQ(TryCreate(nullptr, 440, 10, 1),
              (Outcome{WAVHZ_EXIT_CANNOT_WRITE, REASON(EINVAL, ERROR_INVALID_PARAMETER)}));
    EXPECT_EXIT(WAVHZCreate(rows[0].name.c_str(), 440, 10, 1), ExitedWithCode(2), "");
    EXPECT_EXIT(WAVHZCreate(nullptr, 440, 10, 1), ExitedWithCode(2), "");
    EXPECT_EQ(ReadBytes(dir / "file.wav").size(), 0u);
    fs::remove(dir / "file.wav");
    EXPECT_TRUE(IsEmpty());

    const std::string at199 = base + at200.substr(1);
    EXPECT_EQ(TryCreate(at199, 440, 10, 0), kDone);
    EXPECT_EQ(fs::file_size(at199), 44u);
}

TEST_F(Refusals, TonesTooLongForTheSizeFieldsFailWithStatus1) {
    const std::string path = dir / "kept.wav";
    WriteText(path, "kept");
    const int tooLong = REASON(EOVERFLOW, ERROR_ARITHMETIC_OVERFLOW);
    std::vector<std::pair<std::uint32_t, int>> rows = {{48696u, tooLong}, {UINT32_MAX, tooLong}};
    // Where size_t has 32 bits, from 48,672 s on the buffer's size would wrap
    // when rounded up to whole huge pages.
    if (sizeof(std::size_t) == 4)
        rows.emplace_back(48672u, REASON(ENOMEM, ERROR_NOT_ENOUGH_MEMORY));
    for (const auto &[seconds, error] : rows) {
        EXPECT_EQ(TryCreate(path, 440, 10, seconds), (Outcome{WAVHZ_EXIT_NO_MEMORY, error}))
            << seconds << " s";
    }
    EXPECT_EXIT(WAVHZCreate(ToPath(path).c_str(), 440, 10, UINT32_MAX), ExitedWithCode(1), "");
    EXPECT_EQ(ReadBytes(path), (std::vector<std::uint8_t>{'k', 'e', 'p', 't'}));
}

#if !defined(_WIN32)
// Limits, devices and users as POSIX systems have them.

// Runs `before` and then `call` (a request through TryCreate) in a child
// process, for what must not change this one (limits, users, standard
// output), and expects `expected`; the child's standard error says what
// came instead.
void ExpectInChild(const std::function<void()> &before, const std::function<Outcome()> &call,
                   const Outcome &expected, const std::string &what) {
    const auto run = [&] {
        if (before) before();
        const Outcome got = call();
        if (got == expected) _exit(0);
        std::cerr << "got " << got << std::endl;
        _exit(1);
    };
    EXPECT_EXIT(run(), ExitedWithCode(0), "") << what << ": expected " << expected;
}

TEST_F(Refusals, AReadOnlyFolderFailsWithStatus2) {
    const std::string folder = dir / "read-only";
    fs::create_directory(folder);
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_exec);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_exec);
    ExpectInChild(
        BecomeNobody, [&] { return TryCreate(folder + "/tone.wav", 440, 10, 1); },
        {WAVHZ_EXIT_CANNOT_WRITE, EACCES}, "a read-only folder");
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(Refusals, AFailedAllocationFailsWithStatus1AndCreatesNothing) {
    if (const char *why = WhyNoAddressSpaceLimit()) GTEST_SKIP() << why;
    const auto littleMemory = [] {
        const rlimit limit = {rlim_t{256} << 20, rlim_t{256} << 20};
        setrlimit(RLIMIT_AS, &limit);
    };
    ExpectInChild(
        littleMemory, [&] { return TryCreate(dir / "tone.wav", 440, 10, 3600); },
        {WAVHZ_EXIT_NO_MEMORY, ENOMEM}, "318 MB of samples in 256 MB");
    EXPECT_TRUE(IsEmpty());
}

// The descriptors this process has open.
std::size_t OpenDescriptors() {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

// A host that goes on after thousands of failures of every kind, and
// successes between them, holds no more descriptors or memory than before,
// and its signal mask and cancellation state are as they were.
TEST_F(Refusals, ManyFailedCallsLeaveNothingBehind) {
    const std::string kept = dir / "kept.wav", created = dir / "created.wav";
    WriteText(kept, "kept");
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    const struct {
        std::string name;
        std::uint32_t seconds;
        Outcome expected;
    } rows[] = {
        {dir / "missing/tone.wav", 1, {WAVHZ_EXIT_CANNOT_WRITE, ENOENT}},
        {dir / "tone.wav", UINT32_MAX, {WAVHZ_EXIT_NO_MEMORY, EOVERFLOW}},
        {"/dev/full", 1, {WAVHZ_EXIT_CANNOT_WRITE, ENOSPC}},  // fails while writing
        {kept, 1, {WAVHZ_EXIT_CANNOT_WRITE, EFBIG}},          // over the file-size limit
        {created, 1, {WAVHZ_EXIT_CANNOT_WRITE, EFBIG}},       // made, then removed
        {dir / "small.wav", 0, kDone},
    };
    const auto round = [&] {
        const rlimit small = {kSmallFileSize, before.rlim_max};
        setrlimit(RLIMIT_FSIZE, &small);
        for (const auto &row : rows)
            EXPECT_EQ(TryCreate(row.name, 440, 10, row.seconds), row.expected) << row.name;
        setrlimit(RLIMIT_FSIZE, &before);
    };
    round();  // whatever the first call sets up once
    sigset_t maskBefore, maskAfter;
    pthread_sigmask(SIG_SETMASK, nullptr, &maskBefore);
    int cancelBefore = 0, cancelAfter = 0;
    pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &cancelBefore);
    const std::size_t descriptors = OpenDescriptors();
    const std::size_t memory = mallinfo2().uordblks;
    for (int k = 0; k < 500 && !HasFailure(); ++k) round();
    EXPECT_EQ(OpenDescriptors(), descriptors);
    EXPECT_LE(mallinfo2().uordblks, memory + 4096);
    pthread_sigmask(SIG_SETMASK, nullptr, &maskAfter);
    pthread_setcancelstate(cancelBefore, &cancelAfter);
    EXPECT_EQ(cancelAfter, PTHREAD_CANCEL_ENABLE);
    for (const int signal : {SIGXFSZ, SIGPIPE})
        EXPECT_EQ(sigismember(&maskAfter, signal), sigismember(&maskBefore, signal));
    EXPECT_EQ(ReadBytes(kept), (std::vector<std::uint8_t>{'k', 'e', 'p', 't'}));
    EXPECT_FALSE(fs::exists(created));
}

// What a folder holds, links not followed: each entry's kind and contents
// (a file's length and hash, a link's target), so that "nothing changed" can be compared whole.
std::map<std::string, std::string> Snapshot(const fs::path &root) {
    std::map<std::string, std::string> entries;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().lexically_relative(root).string();
        if (entry.path().filename() == kFiller) {
            entries[name] = "filler";
        } else if (entry.is_symlink()) {
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
// 2 with the reason, and the folder exactly as it was. No link is removed, no existing file
// loses a byte, no file created by the call stays, no signal ends it: on a
// disk that reserves room (tmpfs), on one that cannot (ext2: the free space
// is checked instead), and on one where overwriting takes new room (btrfs).
TEST_F(Refusals, FailedWritesHarmNothing) {
    // Small disks, mounted in a mount namespace of this test process alone.
    const std::string full = dir / "full", ext2 = dir / "ext2", btrfs = dir / "btrfs",
                      failing = dir / "fails-at-close";
    const TempDir images;
    const std::string privateMounts = PrivateMounts();
    const SmallDisk fullDisk("tmpfs", full, images.path(), "1m", "", privateMounts);
    const SmallDisk ext2Disk("ext2", ext2, images.path(), "1M", "", privateMounts);
    const SmallDisk btrfsDisk("btrfs", btrfs, images.path(), "128M", "", privateMounts);
    const SmallDisk failingDisk("fails-at-close", failing, images.path(), "", "", privateMounts);
    std::map<std::string, std::string> noDisk = {{full, fullDisk.why()},
                                                 {ext2, ext2Disk.why()},
                                                 {btrfs, btrfsDisk.why()},
                                                 {failing, failingDisk.why()}};
    const std::string kept(100000, 'k');
    WriteText(dir / "kept.wav", kept);
    if (noDisk[ext2].empty()) {
        WriteText(ext2 + "/existing.wav", kept);
        fs::create_hard_link(ext2 + "/existing.wav", ext2 + "/hard-link.wav");
    }
    if (noDisk[btrfs].empty()) {
        // Longer than the tone: the blocks for it are all there already.
        WriteText(btrfs + "/longer.wav", std::string(2000000, 'k'));
        ASSERT_TRUE(FillDisk(btrfs, 500000));
    }
    if (noDisk[full].empty()) {
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
    const auto stdoutToFullDisk = [&] {
        const int fd = open((full + "/stdout.wav").c_str(), O_WRONLY | O_TRUNC);
        if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) _exit(99);
    };
    // A pipe whose reader has gone: SIGPIPE must not end the request.
    const auto stdoutToAClosedPipe = [] {
        int ends[2];
        if (pipe(ends) != 0 || close(ends[0]) != 0 || dup2(ends[1], STDOUT_FILENO) < 0) _exit(99);
    };
    const struct {
        const char *what;
        std::string name;
        std::string disk;              // the disk it needs, if any
        std::function<void()> before;  // in the child, before the request
        int error;
    } rows[] = {
        {"a new file on a full disk", full + "/new.wav", full, nullptr, ENOSPC},
        {"an existing file on a full disk", full + "/existing.wav", full, nullptr, ENOSPC},
        {"a link to an existing file on a full disk", full + "/link.wav", full, nullptr, ENOSPC},
        {"a dangling link on a full disk", full + "/dangling.wav", full, nullptr, ENOSPC},
        {"standard output redirected to a full disk", dir / "stdout", full, stdoutToFullDisk,
         ENOSPC},
        {"standard output a pipe nobody reads", dir / "stdout", "", stdoutToAClosedPipe, EPIPE},
        {"a file its folder will not let go, on a full disk", full + "/locked/kept.wav", full,
         BecomeNobody, ENOSPC},
        {"an existing file on a full ext2 disk", ext2 + "/existing.wav", ext2, nullptr, ENOSPC},
        {"a hard link on a full ext2 disk", ext2 + "/hard-link.wav", ext2, nullptr, ENOSPC},
        {"a longer file on a full btrfs disk", btrfs + "/longer.wav", btrfs, nullptr, ENOSPC},
        {"a new file that the close reports as failed", failing + "/new.wav", failing, nullptr,
         EIO},
        {"a new file over the file-size limit", dir / "new.wav", "", LimitFileSize, EFBIG},
        {"an existing file over the file-size limit", dir / "kept.wav", "", LimitFileSize, EFBIG},
    };
    const auto before = Snapshot(dir.path());
    std::string skipped;
    for (const auto &row : rows) {
        if (!row.disk.empty() && !noDisk[row.disk].empty()) {
            skipped += std::string("\n  ") + row.what + ": " + noDisk[row.disk];
            continue;
        }
        ExpectInChild(
            row.before, [&] { return TryCreate(row.name, 440, 10, 20); },  // 1.7 MB
            {WAVHZ_EXIT_CANNOT_WRITE, row.error}, row.what);
        EXPECT_EQ(Snapshot(dir.path()), before) << row.what;
    }
    if (!skipped.empty()) GTEST_SKIP() << "rows without their disk:" << skipped;
}

// Makes the free space at `at` that this caller may use (`reservedToo`:
// the blocks kept for root as well) `target` bytes, or a block or two less,
// by growing or shrinking `filler`. Returns what it then is.
std::uint64_t SetFreeSpace(const std::string &at, int filler, std::uint64_t target,
                           bool reservedToo) {
    std::uint64_t free = 0;
    for (int step = 0; step < 32; ++step) {
        syncfs(filler);
        struct statvfs room {};
        if (statvfs(at.c_str(), &room) != 0) return 0;
        free = std::uint64_t{reservedToo ? room.f_bfree : room.f_bavail} * room.f_frsize;
        const std::uint64_t slack = 2 * std::uint64_t{room.f_frsize};
        if (free <= target && free + slack >= target) break;
        struct stat now {};
        fstat(filler, &now);
        if (free > target) {
            const auto more = static_cast<off_t>(free - target);
            if (fallocate(filler, 0, now.st_size, more) != 0) {
                const std::vector<char> zeros(static_cast<std::size_t>(more));
                if (pwrite(filler, zeros.data(), zeros.size(), now.st_size) < 0) break;
            }
        } else {
            const auto less = static_cast<off_t>(target - free);
            if (ftruncate(filler, std::max<off_t>(0, now.st_size - less)) != 0) break;
        }
    }
    return free;
}

// The edge of a full disk: at every amount of free space from a few blocks
// below the new tone's length to well above it, the call writes the whole
// tone or fails with status 2 (ENOSPC), the old file untouched; never is the old file
// emptied for want of room that could have been counted. With room to
// spare, it writes. On ext2, root may use the blocks kept for it.
TEST_F(Refusals, TheEdgeOfAFullDiskEmptiesNothing) {
    if (const std::string why = PrivateMounts(); !why.empty()) GTEST_SKIP() << why;
    const struct {
        const char *what, *kind, *size, *options;
        std::uint32_t oldSeconds;  // the tone the file holds before
        bool reflinked;            // the file a reflinked copy of another
        bool reservedToo;          // the free space counted with root's reserve
    } disks[] = {
        {"ext2, 1 KiB blocks", "ext2", "8M", "-b 1024 -m 0", 0, false, false},
        {"ext2, 4 KiB blocks", "ext2", "8M", "-b 4096 -m 0", 0, false, false},
        {"ext2, root's reserve", "ext2", "8M", "-b 1024 -m 20", 0, false, true},
        {"ext3", "ext3", "8M", "-b 1024 -m 0", 0, false, false},
        {"ext4", "ext4", "8M", "-m 0", 0, false, false},
        {"XFS", "xfs", "300M", "", 0, false, false},
        {"XFS, a reflinked copy", "xfs", "300M", "-m reflink=1", 10, true, false},
        {"btrfs", "btrfs", "128M", "", 1, false, false},
        {"overlayfs over btrfs", "overlay-btrfs", "128M", "", 1, false, false},
        {"tmpfs", "tmpfs", "8m", "", 0, false, false},
    };
    const TempDir images;
    const std::string fresh = dir / "fresh.wav";
    ASSERT_EQ(WAVHZCreate(ToPath(fresh).c_str(), 440, 10, 10), 999);
    const auto tone = ReadBytes(fresh);
    std::string skipped;
    for (const auto &disk : disks) {
        const std::string at = dir / "disk";
        const SmallDisk mounted(disk.kind, at, images.path(), disk.size, disk.options);
        if (!mounted.why().empty()) {
            skipped += std::string("\n  ") + disk.what + ": " + mounted.why();
            continue;
        }
        const std::string path = at + "/tone.wav", original = at + "/original.wav";
        ASSERT_EQ(WAVHZCreate(ToPath(original).c_str(), 1000, 10, disk.oldSeconds), 999);
        const auto old = ReadBytes(original);
        const std::string restore =
            std::string(disk.reflinked ? "cp --reflink=always " : "cp ") + original + " " + path;
        const int filler = open((at + "/" + kFiller).c_str(), O_RDWR | O_CREAT, 0600);
        ASSERT_GE(filler, 0);
        struct statvfs room {};
        ASSERT_EQ(statvfs(at.c_str(), &room), 0);
        const std::uint64_t block = room.f_frsize;
        const std::uint64_t length = (tone.size() + block - 1) / block * block;
        bool wroteAtTheTop = false;
        for (std::int64_t blocks = -8; blocks <= 48; blocks += blocks < 16 ? 1 : 4) {
            if (ReadBytes(path) != old) {
                fs::remove(path);
                ASSERT_EQ(std::system(restore.c_str()), 0) << disk.what;
            }
            const std::uint64_t free = SetFreeSpace(
                at, filler, length + static_cast<std::uint64_t>(blocks * std::int64_t(block)),
                disk.reservedToo);
            const Outcome got = TryCreate(path, 440, 10, 10);
            const auto now = ReadBytes(path);
            EXPECT_TRUE((got == kDone && now == tone) ||
                        (got == Outcome{WAVHZ_EXIT_CANNOT_WRITE, ENOSPC} && now == old))
                << disk.what << ", " << free << " bytes free for a tone of " << tone.size() << ": "
                << got << ", " << now.size() << " bytes left";
            wroteAtTheTop = got == kDone;
        }
        EXPECT_TRUE(wroteAtTheTop) << disk.what << ": refused with 48 blocks to spare";
        close(filler);
    }
    if (!skipped.empty()) GTEST_SKIP() << "disks that could not be had:" << skipped;
}

// A power cut, as the file systems' shutdown ioctl makes one (what reached
// the disk stays, nothing else does; with the journal written out first, or
// not), at moments during a call and right after it returned, over an old tone and over
// none, on ext4 and XFS: after the reboot (a remount) the name holds the
// old tone whole, the new tone whole, a file that does not start with
// "RIFF", or nothing where there was nothing: never a header over other
// bytes. A call that had returned 999 leaves the new tone whole.
TEST_F(Refusals, APowerCutLeavesNoFileThatLooksWholeButIsNot) {
    if (!CanForkAndStartThreads()) GTEST_SKIP() << kCannotFork;
    if (const std::string why = PrivateMounts(); !why.empty()) GTEST_SKIP() << why;
    constexpr unsigned long kShutdown = _IOR('X', 125, std::uint32_t);  // FS_IOC_SHUTDOWN
    constexpr std::uint32_t kLogFlush = 1, kNoLogFlush = 2;
    const std::string fresh = dir / "fresh.wav", older = dir / "older.wav";
    ASSERT_EQ(TryCreate(fresh, 440, 10, 10), kDone);
    ASSERT_EQ(TryCreate(older, 1000, 10, 20), kDone);  // longer: the length is cut
    const auto tone = ReadBytes(fresh), old = ReadBytes(older);
    const TempDir images;
    std::string skipped;
    std::map<std::string, int> held;  // what the name held after the cuts, how often
    for (const auto &[kind, size] : {std::pair{"ext4", "64M"}, {"xfs", "300M"}}) {
        const std::string at = dir / kind, path = at + "/tone.wav";
        const SmallDisk disk(kind, at, images.path(), size);
        // The cut: false where the ioctl is not passed on (qemu-user).
        const auto cut = [&at](std::uint32_t how) {
            const int root = open(at.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            const bool done = root >= 0 && ioctl(root, kShutdown, &how) == 0;
            close(root);
            return done;
        };
        if (disk.why().empty() && (!cut(kLogFlush) || !disk.Remount())) {
            skipped += std::string("\n  ") + kind + ": no shutdown ioctl here";
            continue;
        }
        if (!disk.why().empty()) {
            skipped += std::string("\n  ") + kind + ": " + disk.why();
            continue;
        }
        // The moments of the cut, in microseconds after the call began; -1:
        // once it has returned.
        for (const int cutAfter : {-1, 0, 200, 500, 1000, 2000, 4000, 8000}) {
            for (const auto &[overOld, flags] :
                 {std::pair{true, kLogFlush}, {true, kNoLogFlush}, {false, kLogFlush}}) {
                const std::string what = std::string(kind) + (overOld ? ", over" : ", without") +
                                         " an old tone, cut " +
                                         (cutAfter < 0 ? "after it returned"
                                                       : "at " + std::to_string(cutAfter) + " µs") +
                                         (flags == kLogFlush ? ", the journal written" : "");
                fs::remove(path);
                if (overOld) WriteText(path, std::string(old.begin(), old.end()));
                sync();
                Outcome got{};
                std::thread call([&] { got = TryCreate(path, 440, 10, 10); });
                if (cutAfter >= 0) usleep(static_cast<useconds_t>(cutAfter));
                if (cutAfter < 0) call.join();
                const bool wasCut = cut(flags);
                if (call.joinable()) call.join();
                ASSERT_TRUE(wasCut) << what;
                ASSERT_TRUE(disk.Remount()) << what;
                const auto left = ReadBytes(path);
                const bool riff = left.size() >= 4 && std::memcmp(left.data(), "RIFF", 4) == 0;
                const std::string state = left == tone             ? "new whole"
                                          : overOld && left == old ? "old whole"
                                          : !fs::exists(path)      ? "absent"
                                          : !riff                  ? "no RIFF"
                                                                   : "RIFF but not whole";
                ++held[std::string(kind) + ", " + state];
                EXPECT_NE(state, "RIFF but not whole") << what << ": " << got;
                EXPECT_TRUE(!overOld || state != "absent") << what;
                EXPECT_TRUE(cutAfter >= 0 || state == "new whole") << what << ": " << state;
            }
        }
    }
    for (const auto &[state, times] : held) std::cout << state << ": " << times << "\n";
    if (!skipped.empty()) GTEST_SKIP() << "disks that could not be had:" << skipped;
}

// A child process that runs `body` under ptrace, so that a test can stop
// it at a given system call: to kill it there, or to let another process
// act first. (Where ptrace is refused, as under qemu-user, ok() is false.)
class Tracee {
public:
    explicit Tracee(const std::function<void()> &body) {
        pid_ = fork();
        if (pid_ == 0) {
            if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(98);
            raise(SIGSTOP);
            body();
            _exit(0);
        }
        int status = 0;
        ok_ = pid_ > 0 && waitpid(pid_, &status, 0) == pid_ && WIFSTOPPED(status) &&
              ptrace(PTRACE_SETOPTIONS, pid_, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL) ==
                  0;
    }
    ~Tracee() {
        if (pid_ > 0) Finish();
    }
    Tracee(const Tracee &) = delete;
    Tracee &operator=(const Tracee &) = delete;

    bool ok() const { return ok_; }

    // Runs the child on until the `count`th return from system call
    // `number` (-1: any), counted from now. False if it ended before.
    bool StopAfter(long number, int count) {
        long entered = -1;
        int signal = 0;
        while (count > 0) {
            int status = 0;
            if (ptrace(PTRACE_SYSCALL, pid_, nullptr, signal) != 0 ||
                waitpid(pid_, &status, 0) != pid_ || !WIFSTOPPED(status)) {
                return false;
            }
            signal = 0;
            if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
                signal = WSTOPSIG(status);  // the child's own signal, passed on
                continue;
            }
            __ptrace_syscall_info info{};
            ptrace(PTRACE_GET_SYSCALL_INFO, pid_, sizeof info, &info);
            if (info.op == PTRACE_SYSCALL_INFO_ENTRY) entered = static_cast<long>(info.entry.nr);
            if (info.op == PTRACE_SYSCALL_INFO_EXIT && (number < 0 || entered == number)) --count;
        }
        return true;
    }
    void Kill() { kill(pid_, SIGKILL); }
    // Lets the child run free to its end; its exit status, or -1.
    int Finish() {
        ptrace(PTRACE_DETACH, pid_, nullptr, nullptr);
        int status = 0;
        const bool ended = waitpid(pid_, &status, 0) == pid_;
        pid_ = -1;
        return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    bool ok_ = false;
};

// Whether `bytes` look like a whole tone file: "RIFF" first and every byte
// its header claims.
bool LooksComplete(const std::vector<std::uint8_t> &bytes) {
    if (bytes.size() < 8 || std::memcmp(bytes.data(), "RIFF", 4) != 0) return false;
    return bytes.size() >= std::uint64_t{LE32(bytes, 4)} + 8;
}

// A writer stopped anywhere short of its end by SIGKILL (Ctrl-C, the OOM
// killer) leaves a file no reader takes for a whole tone: killed after any one of its system calls,
// over no file, a shorter, a longer and an equally long old tone, the file
// is the old one untouched, the new one whole, or starts other than "RIFF".
TEST_F(Refusals, AFileCutShortNeverLooksComplete) {
    const std::string path = dir / "tone.wav", fresh = dir / "fresh.wav";
    ASSERT_EQ(WAVHZCreate(ToPath(fresh).c_str(), 440, 10, 2), 999);
    const auto tone = ReadBytes(fresh);
    for (const std::uint32_t oldSeconds : {0u, 1u, 3u, 2u}) {  // 0: no old file
        std::vector<std::uint8_t> old;
        if (oldSeconds > 0) {
            ASSERT_EQ(WAVHZCreate(ToPath(fresh).c_str(), 1000, 10, oldSeconds), 999);
            old = ReadBytes(fresh);
        }
        for (int calls = 1;; ++calls) {
            fs::remove(path);
            if (oldSeconds > 0) fs::copy_file(fresh, path);
            Tracee writer([&] { WAVHZCreate(ToPath(path).c_str(), 440, 10, 2); });
            if (!writer.ok()) GTEST_SKIP() << "ptrace is refused here";
            const bool stopped = writer.StopAfter(-1, calls);
            writer.Kill();
            writer.Finish();
            const auto left = ReadBytes(path);
            const bool riff = left.size() >= 4 && std::memcmp(left.data(), "RIFF", 4) == 0;
            EXPECT_TRUE(left == tone || (!old.empty() && left == old) || !riff)
                << "killed after " << calls << " system calls, over " << oldSeconds << " s";
            if (!stopped) break;  // it ran to its end
        }
    }
}

// A btrfs quota group that the overwrite of a longer file meets halfway:
// the copies it makes are charged to it, and neither reservation nor free
// space says so beforehand. The call fails, and the file it leaves does not
// look whole.
TEST_F(Refusals, AQuotaOnlyTheWriteMeetsLeavesNoFileThatLooksComplete) {
    if (const std::string why = PrivateMounts(); !why.empty()) GTEST_SKIP() << why;
    const TempDir images;
    const std::string disk = dir / "quota";
    const SmallDisk mounted("btrfs", disk, images.path(), "128M");
    if (!mounted.why().empty()) GTEST_SKIP() << mounted.why();
    const std::string longer = disk + "/longer.wav";
    WriteText(longer, std::string(20000000, 'k'));
    const std::string limit = "btrfs quota enable " + disk + " && btrfs quota rescan -w " + disk +
                              " >/dev/null && btrfs qgroup limit 24M " + disk + " && sync";
    const bool limited = std::system(limit.c_str()) == 0;
    if (limited) {
        EXPECT_EQ(TryCreate(longer, 440, 10, 200).status, WAVHZ_EXIT_CANNOT_WRITE);
        EXPECT_FALSE(LooksComplete(ReadBytes(longer)));
    }
    if (!limited) GTEST_SKIP() << "no btrfs quota group here";
}

// A writer that fails in a way it foresees (a file-size limit), stopped
// after a given open while another process changes what the name holds:
// it removes only a file it certainly made, and none of these is. Made new
// without a name, its file is never seen; a name that went away meanwhile
// leaves nothing; another's file, or a link to one, put there stays.
TEST_F(Refusals, AFailedWriterRemovesNoFileItDidNotMake) {
    const std::string path = dir / "tone.wav", other = dir / "other.wav";
    const TempDir elsewhere;
    const std::string target = elsewhere / "target.wav";
    const auto anotherTone = [&] { EXPECT_EQ(TryCreate(path, 1000, 10, 1), kDone); };
    const struct {
        const char *what;
        bool old;                      // an old file there first
        int opens;                     // the writer stopped after this many
        std::function<void()> change;  // what another does meanwhile
        std::string left;              // what the name holds at the end
    } rows[] = {
        {"another's tone written while the new file is made", false, 2, anotherTone, "tone"},
        {"the name removed after the pin", true, 1, [&] { fs::remove(path); }, ""},
        {"the name removed after the reopen", true, 2, [&] { fs::remove(path); }, ""},
        {"another's empty file put there", true, 1, [&] { fs::remove(path), WriteText(path, ""); },
         "empty"},
        {"another's file moved there", true, 1,
         [&] { WriteText(other, "other"), fs::rename(other, path); }, "other"},
        {"a link to another's empty file put there", true, 1,
         [&] { fs::remove(path), WriteText(target, ""), fs::create_symlink(target, path); },
         "empty"},
    };
    for (const auto &row : rows) {
        fs::remove(path);
        if (row.old) WriteText(path, "old");
        Tracee writer([&] {
            LimitFileSize();
            WAVHZCreate(ToPath(path).c_str(), 440, 10, 20);
        });
        if (!writer.ok()) GTEST_SKIP() << "ptrace is refused here";
        ASSERT_TRUE(writer.StopAfter(SYS_openat, row.opens)) << row.what;
        row.change();
        EXPECT_EQ(writer.Finish(), 2) << row.what;
        const auto bytes = ReadBytes(path);
        const std::string left = !fs::exists(path)      ? ""
                                 : bytes.empty()        ? "empty"
                                 : LooksComplete(bytes) ? "tone"
                                                        : std::string(bytes.begin(), bytes.end());
        EXPECT_EQ(left, row.left) << row.what;
        EXPECT_TRUE(!fs::is_symlink(path) || fs::exists(target)) << row.what;
    }
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

    EXPECT_EQ(TryCreate(node, 440, 10, 1), (Outcome{WAVHZ_EXIT_CANNOT_WRITE, ENOSPC}));
    struct stat status {};
    ASSERT_EQ(stat(node.c_str(), &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode));
}

#endif

}  // namespace
}  // namespace quillox::test
