// Helpers shared by the tests: a private temporary folder and file access.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#if !defined(_WIN32)
#include <sys/resource.h>
#include <unistd.h>
#endif
#if defined(__linux__)
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#endif
#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

#include "QuilloxWAVFrequency.h"

namespace quillox::test {

// The emulator the tests run under, if any, as the build says: "qemu", or
// "qemu-without-fork" for qemu-i386 of Debian 12 (the 32-bit x86 Linux
// build's), which crashes or hangs in a forked child and in a new thread.
inline std::string Emulator() {
    const char *emulator = std::getenv("QUILLOX_EMULATOR");
    return emulator != nullptr ? emulator : "";
}

// Whether this process may fork and start threads; tests that need either
// skip where it may not.
inline bool CanForkAndStartThreads() { return Emulator() != "qemu-without-fork"; }
inline constexpr char kCannotFork[] = "this emulator cannot fork or start threads";

// Why an address-space limit cannot make an allocation fail here, or null.
inline const char *WhyNoAddressSpaceLimit() {
#if defined(__SANITIZE_ADDRESS__)
    return "an address-space limit and the address sanitizer do not mix";
#else
    return Emulator().empty() ? nullptr
                              : "qemu-user does not apply address-space limits to its program";
#endif
}

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
public:
    TempDir() {
        std::random_device random;
        do {
            path_ =
                std::filesystem::temp_directory_path() / ("quillox-" + std::to_string(random()));
        } while (!std::filesystem::create_directory(path_));
    }
    // Never throws: a test that failed with a disk still mounted inside
    // must end as a failure, not take the whole program down with it.
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    std::string operator/(const std::string &name) const { return (path_ / name).string(); }
    const std::filesystem::path &path() const { return path_; }

private:
    std::filesystem::path path_;
};

// An ASCII name as the UTF-16 string the library takes.
using PathString = std::basic_string<WAVHZPathChar>;
inline PathString ToPath(const std::string &ascii) { return {ascii.begin(), ascii.end()}; }

// The whole file, or nothing if it cannot be read.
inline std::vector<std::uint8_t> ReadBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<std::uint8_t> bytes(in ? static_cast<std::size_t>(in.tellg()) : 0);
    in.seekg(0);
    in.read(reinterpret_cast<char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in) bytes.clear();
    return bytes;
}

inline void WriteText(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The little-endian 32-bit field at `at`, as the header holds its sizes.
inline std::uint32_t LE32(const std::vector<std::uint8_t> &bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           std::uint32_t{bytes[at + 3]} << 24;
}

// How a request through WAVHZTryCreate ended: its status and, when it
// failed, its reason (errno; on Windows GetLastError).
struct Outcome {
    std::int32_t status;
    int error;  // 0 on success
    bool operator==(const Outcome &) const = default;
};
inline constexpr Outcome kDone{WAVHZ_DONE, 0};

inline std::ostream &operator<<(std::ostream &out, const Outcome &outcome) {
    out << "status " << outcome.status;
    if (outcome.error != 0)
        out << " (" << outcome.error << ": " << std::strerror(outcome.error) << ")";
    return out;
}

// Where a failed call leaves its reason: errno, or GetLastError on Windows.
#if defined(_WIN32)
inline int LastSystemError() { return static_cast<int>(GetLastError()); }
#else
inline int LastSystemError() { return errno; }
#endif

inline Outcome TryCreate(const WAVHZPathChar *path, std::int32_t frequencyHz, std::int32_t level,
                         std::uint32_t seconds) {
    const std::int32_t status = WAVHZTryCreate(path, frequencyHz, level, seconds);
    return {status, status == WAVHZ_DONE ? 0 : LastSystemError()};
}
inline Outcome TryCreate(const std::string &name, std::int32_t frequencyHz, std::int32_t level,
                         std::uint32_t seconds) {
    return TryCreate(ToPath(name).c_str(), frequencyHz, level, seconds);
}

#if !defined(_WIN32)
// For a child process to take (never this one): a file-size limit of 50 KiB,
// below any tone of a second or more, SIGXFSZ left at its default action;
// and an ordinary user, since root writes anywhere.
inline constexpr rlim_t kSmallFileSize = 51200;
inline void LimitFileSize() {
    const rlimit limit = {kSmallFileSize, kSmallFileSize};
    setrlimit(RLIMIT_FSIZE, &limit);
}
inline void BecomeNobody() {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
}

// Waits until `happened()` (asked every millisecond, for 10 s at most):
// false if it never did.
inline bool WaitFor(const std::function<bool()> &happened) {
    for (int tries = 0; tries < 10000; ++tries) {
        if (happened()) return true;
        usleep(1000);
    }
    return happened();
}
#endif

#if defined(__linux__)
// Small disks of real file systems, for the tests of what a full disk does.

// Makes this process's mounts its own, so that the disks a test mounts are
// seen by it and its children alone and go with it. "" or why not.
inline std::string PrivateMounts() {
    if (geteuid() != 0) return "mounting a small file system needs root";
    if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("no private mounts here: ") + std::strerror(errno);
    return "";
}

// A small file system of `kind` mounted at `at` (after PrivateMounts) for
// the life of this object, and unmounted after it, however the test ends:
// a tmpfs of `size`, which reserves exactly; or an image of `size` made now
// in `images` with mkfs.`kind` and `options`, and loop-mounted: ext2 (no
// reservation at all), XFS (which shares blocks between reflinked copies)
// or btrfs (which copies on write; 114 MB at least); "overlay-" and one of
// those, an overlayfs whose layers are on such a disk; or "fails-at-close",
// a FUSE file system over a folder in `images` whose closes report the
// files written as failed (as NFS can). why() is "" when it is mounted,
// else why not (`whyNot`, given, mounts nothing).
class SmallDisk {
public:
    SmallDisk(const std::string &kind, const std::string &at, const std::string &images,
              const std::string &size = "1M", const std::string &options = "",
              const std::string &whyNot = "")
        : at_(at), why_(whyNot) {
        if (!why_.empty()) return;
        std::filesystem::create_directories(at);
        if (kind == "tmpfs") {
            if (mount("tmpfs", at.c_str(), "tmpfs", 0, ("size=" + size + ",mode=0777").c_str()) !=
                0)
                why_ = std::string("no tmpfs: ") + std::strerror(errno);
            return;
        }
#if defined(QUILLOX_SOURCE_DIR)
        if (kind == "fails-at-close") {
            const std::string folder = images + "/" + kind;
            std::filesystem::create_directories(folder);
            const std::string command = "/usr/bin/python3 " QUILLOX_SOURCE_DIR
                                        "/tests/fails_at_close.py " +
                                        folder + " " + at + " 2>/dev/null";
            if (std::system(command.c_str()) != 0)
                why_ = "no FUSE here (/dev/fuse, libfuse2 or python3-fusepy missing)";
            return;
        }
#endif
        if (kind.rfind("overlay-", 0) == 0) {
            // An overlay whose layers are folders on a disk of the kind that
            // follows, mounted beside `at`.
            below_ = at + ".layers";
            const SmallDisk layers(kind.substr(8), below_, images, size, options);
            if (!(why_ = layers.why()).empty()) return;
            layers.Keep();
            const std::string options = "lowerdir=" + below_ + "/lower,upperdir=" + below_ +
                                        "/upper,workdir=" + below_ + "/work";
            for (const char *folder : {"/lower", "/upper", "/work"})
                std::filesystem::create_directories(below_ + folder);
            if (mount("overlay", at.c_str(), "overlay", 0, options.c_str()) != 0)
                why_ = std::string("no overlayfs: ") + std::strerror(errno);
            else
                chmod(at.c_str(), 0777);
            return;
        }
        image_ = images + "/" + kind + ".img";
        const std::string &image = image_;
        const char *force = kind == "btrfs" ? "" : kind == "xfs" ? "-f " : "-F ";
        const std::string command = "rm -f " + image + " && truncate -s " + size + " " + image +
                                    " && mkfs." + kind + " -q " + force + options + " " + image +
                                    " >/dev/null 2>&1 && mount -o loop " + image + " " + at +
                                    " 2>/dev/null && chmod 0777 " + at;
        if (std::system(command.c_str()) != 0) {
            why_ = "no loop-mounted " + kind + " (mkfs." + kind +
                   ", the loop devices or the mount refused)";
        }
    }
    ~SmallDisk() {
        if (why_.empty() && !kept_) umount2(at_.c_str(), MNT_DETACH);
        if (!below_.empty()) umount2(below_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    const std::string &why() const { return why_; }

    // A loop-mounted image unmounted and mounted again, as after a reboot
    // (a journal is replayed). False if it could not be.
    bool Remount() const {
        return umount2(at_.c_str(), 0) == 0 &&
               std::system(("mount -o loop " + image_ + " " + at_).c_str()) == 0;
    }

private:
    void Keep() const { kept_ = true; }  // left mounted: another unmounts it

    std::string at_;
    std::string why_;
    std::string image_;
    std::string below_;  // an overlay's layers' own disk
    mutable bool kept_ = false;
};

// The file that fills a disk up (FillDisk): the test's own, and large.
inline constexpr char kFiller[] = "filler";

// Fills the disk at `at` until at most `leave` bytes stay free (in a few
// steps: what btrfs says is free is an estimate). False if it cannot.
inline bool FillDisk(const std::string &at, std::uint64_t leave) {
    const int fd = open((at + "/" + kFiller).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    off_t filled = 0;
    bool measured = true;
    for (int step = 0; step < 64; ++step) {
        syncfs(fd);
        struct statvfs room {};
        if (statvfs(at.c_str(), &room) != 0) {
            measured = false;
            break;
        }
        const std::uint64_t free = std::uint64_t{room.f_bavail} * room.f_frsize;
        if (free <= leave) break;
        const auto more = static_cast<off_t>(std::max<std::uint64_t>((free - leave) / 2, 65536));
        if (fallocate(fd, 0, filled, more) == 0) filled += more;
    }
    close(fd);
    return measured;
}
#endif

}  // namespace quillox::test
