// Writing a whole file, on POSIX systems.
//
// The file is opened as "wb" would open it (created if absent, following a
// symbolic link to its target), but without truncating it, and locked
// against other writers of the same name. A regular file first gets room
// for the whole tone: reserved where the file system can reserve, otherwise
// (and where overwriting copies on write) checked against the free space.
// Only then does a byte change. So a full disk or a file-size limit leaves
// an existing file as it was; a file this call created is removed; a
// failure nobody could foresee empties the file. And since the first piece
// (the header) is cleared first and written last, a writer stopped anywhere
// in between, killed or failing even to empty the file, leaves a file that
// does not start as a complete one. Nothing but the file actually opened is
// ever touched: a symbolic link given as the name is never removed.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <linux/magic.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <limits>

#include "platform/platform.h"

namespace quillox {
namespace {

// Close-on-exec: a host that starts a program on another thread while a tone
// is written must not hand it our descriptor.
constexpr int kOpenFlags = O_WRONLY | O_CLOEXEC | O_NOCTTY;
constexpr mode_t kNewFileMode = 0666;  // less the umask, as fopen gives
constexpr int kMaxLinkHops = 40;       // as the kernel allows
constexpr int kMaxReopens = 40;        // names that keep leading elsewhere: give up

struct OpenedOutput {
    int fd = -1;
    bool created = false;        // this call created the file...
    char createdName[PATH_MAX];  // ...under this name, its own, not a link's
};

// `name` with its last component replaced by `target`, the text of a
// symbolic link found there, into `out`. False when it does not fit.
bool ResolveLinkTarget(const char *name, const char *target, char (&out)[PATH_MAX]) {
    const char *const slash = target[0] == '/' ? nullptr : std::strrchr(name, '/');
    const std::size_t folderBytes =
        slash == nullptr ? 0 : static_cast<std::size_t>(slash - name) + 1;
    const std::size_t targetBytes = std::strlen(target);
    if (folderBytes + targetBytes >= sizeof out) return false;
    std::memmove(out, name, folderBytes);  // `name` may be `out` itself
    std::memcpy(out + folderBytes, target, targetBytes + 1);
    return true;
}

// Opens `name` for writing without truncating it, creating it if absent.
// Creation is exclusive, so that `created` is known for certain; a dangling
// symbolic link is followed by hand to the name its target is created under.
// Every open passes O_CREAT, as fopen's does, so that the kernel's rules for
// files planted in sticky shared folders (protected_regular, _fifos) apply.
bool OpenOutput(const char *name, OpenedOutput &output) {
    char current[PATH_MAX];
    std::strcpy(current, name);  // the name is at most kOutputPathBytes long
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        output.fd = open(current, kOpenFlags | O_CREAT | O_EXCL, kNewFileMode);
        if (output.fd >= 0) {
            output.created = true;
            std::strcpy(output.createdName, current);
            return true;
        }
        if (errno != EEXIST) return false;
        struct stat seen {};
        const bool dangling = lstat(current, &seen) == 0 && S_ISLNK(seen.st_mode) &&
                              stat(current, &seen) != 0 && errno == ENOENT;
        if (!dangling) {
            // An existing file, or a link to one. (Should it go away just
            // now, this open makes it again, and it counts as existing.)
            output.fd = open(current, kOpenFlags | O_CREAT, kNewFileMode);
            return output.fd >= 0;
        }
        // A symbolic link to nothing (or the link went away meanwhile: then
        // readlink says EINVAL or ENOENT, and the next round starts afresh).
        char target[PATH_MAX];
        const ssize_t length = readlink(current, target, sizeof target - 1);
        if (length < 0) {
            if (errno == EINVAL || errno == ENOENT) continue;
            return false;
        }
        target[length] = '\0';
        if (!ResolveLinkTarget(current, target, current)) return false;
    }
    return false;
}

// Takes the file's lock, which other writers through this library take
// too, and then makes sure `name` still leads to the file opened: a writer
// that held the lock may have removed it meanwhile. False when it does not
// (the caller opens afresh). A file this call created that is no longer
// empty has been written by another writer since: it counts as existing.
// Where the file system has no locks to give (NFS without its lock
// service), the file is written unlocked, as it would be without them.
bool LockOutput(const char *name, OpenedOutput &output, struct stat &opened) {
    int locked;
    do locked = flock(output.fd, LOCK_EX);
    while (locked != 0 && errno == EINTR);
    if (fstat(output.fd, &opened) != 0) return false;
    struct stat named {};
    if (stat(name, &named) != 0 || named.st_dev != opened.st_dev || named.st_ino != opened.st_ino) {
        return false;
    }
    if (output.created && opened.st_size != 0) output.created = false;
    return true;
}

// Removes the file this call created, if its name still names that very
// file: never a link put there since, never somebody else's file.
void RemoveIfCreated(const OpenedOutput &output, const struct stat &opened) {
    if (!output.created) return;
    struct stat now {};
    if (lstat(output.createdName, &now) == 0 && S_ISREG(now.st_mode) &&
        now.st_dev == opened.st_dev && now.st_ino == opened.st_ino) {
        unlink(output.createdName);
    }
}

// Whether the file system has `total` bytes left for this user. Where it
// does not say (no size at all, as some FUSE file systems), it is taken to.
bool FreeRoomFor(int fd, std::uint64_t total) {
    struct statvfs room {};
    if (fstatvfs(fd, &room) != 0 || room.f_blocks == 0) return true;
    return std::uint64_t{room.f_bavail} * room.f_frsize >= total;
}

#if defined(__linux__)
// Whether overwriting the file takes new room: the file system copies on
// write (btrfs), or a part of the file is shared with another (a reflink
// copy on XFS, a snapshot). A reservation does not cover that room.
bool OverwriteCopies(int fd) {
    struct statfs system {};
    // (f_type is a signed int on some 32-bit targets; the magic numbers are 32 bits.)
    if (fstatfs(fd, &system) == 0 && static_cast<std::uint32_t>(system.f_type) == BTRFS_SUPER_MAGIC)
        return true;
    constexpr unsigned kExtentsAtATime = 32;
    alignas(fiemap) unsigned char buffer[sizeof(fiemap) + kExtentsAtATime * sizeof(fiemap_extent)];
    auto *const map = reinterpret_cast<fiemap *>(buffer);
    std::uint64_t start = 0;
    for (;;) {
        std::memset(buffer, 0, sizeof buffer);
        map->fm_start = start;
        map->fm_length = FIEMAP_MAX_OFFSET - start;
        map->fm_extent_count = kExtentsAtATime;
        // No extent map (tmpfs, most FUSE): nothing known to be shared.
        if (ioctl(fd, FS_IOC_FIEMAP, map) != 0 || map->fm_mapped_extents == 0) return false;
        for (unsigned k = 0; k < map->fm_mapped_extents; ++k) {
            const fiemap_extent &extent = map->fm_extents[k];
            if (extent.fe_flags & FIEMAP_EXTENT_SHARED) return true;
            if (extent.fe_flags & FIEMAP_EXTENT_LAST) return false;
        }
        const fiemap_extent &last = map->fm_extents[map->fm_mapped_extents - 1];
        start = last.fe_logical + last.fe_length;
    }
}
#endif

// Room for `total` bytes in the regular file `fd`, whose size is now
// `size`, before any byte of it changes. False when the file-size limit or
// the file system refuses; the file then keeps its size and contents.
bool ReserveRoom(int fd, off_t size, std::uint64_t total) {
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        total > limit.rlim_cur) {
        return false;
    }
    if (total > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return false;
#if defined(__linux__)
    // Where overwriting takes new room, the whole new length must fit in
    // what is free: a reservation keeps the blocks the file has, and the
    // overwrite then finds the disk full halfway.
    if (size > 0 && OverwriteCopies(fd) && !FreeRoomFor(fd, total)) return false;
    if (fallocate(fd, 0, 0, static_cast<off_t>(total)) == 0) return true;
    const int error = errno;
    // A file system that cannot reserve (ext2, ext3, many FUSE ones): the
    // whole new length must fit in what is free.
    if (error == EOPNOTSUPP || error == ENOSYS) return FreeRoomFor(fd, total);
    // Some file systems keep part of a refused reservation, size included.
    struct stat now {};
    if (fstat(fd, &now) == 0 && now.st_size != size) static_cast<void>(ftruncate(fd, size));
    return false;
#else
    static_cast<void>(size);
    return FreeRoomFor(fd, total);
#endif
}

// Writes `count` bytes at `offset`, or, with `offset` -1, where the
// descriptor stands (a pipe or a device).
bool WriteAll(int fd, const std::uint8_t *bytes, std::size_t count, off_t offset) {
    while (count > 0) {
        const ssize_t written =
            offset < 0 ? write(fd, bytes, count) : pwrite(fd, bytes, count, offset);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        count -= static_cast<std::size_t>(written);
        if (offset >= 0) offset += written;
    }
    return true;
}

// Writes the pieces into the regular file `fd`: the first piece's bytes
// cleared to zeros first, then every piece from the last to the first, at
// its own offset. Until the very last write the file does not start with
// the first piece, so one cut short anywhere never looks complete.
bool WriteHeaderLast(int fd, const FilePiece *pieces, std::size_t pieceCount) {
    static constexpr std::uint8_t kZeros[64] = {};
    if (pieceCount == 0) return true;
    for (std::size_t cleared = 0; cleared < pieces[0].count; cleared += sizeof kZeros) {
        const std::size_t count = std::min(sizeof kZeros, pieces[0].count - cleared);
        if (!WriteAll(fd, kZeros, count, static_cast<off_t>(cleared))) return false;
    }
    off_t end = 0;
    for (std::size_t k = 0; k < pieceCount; ++k) end += static_cast<off_t>(pieces[k].count);
    for (std::size_t k = pieceCount; k-- > 0;) {
        end -= static_cast<off_t>(pieces[k].count);
        if (!WriteAll(fd, pieces[k].bytes, pieces[k].count, end)) return false;
    }
    return true;
}

// SIGXFSZ for this thread: while blocked, a write past the file-size limit
// fails with EFBIG instead of ending the process.
class FileSizeSignalBlocked {
public:
    FileSizeSignalBlocked() {
        sigemptyset(&signal_);
        sigaddset(&signal_, SIGXFSZ);
        pthread_sigmask(SIG_BLOCK, &signal_, &previous_);
        wasPending_ = IsPending();
    }
    // One raised by a write of ours that was refused with EFBIG is taken,
    // not delivered on unblocking; one sent by anybody else is delivered.
    ~FileSizeSignalBlocked() {
        int taken = 0;
        if (raisedByUs_ && !wasPending_ && IsPending()) sigwait(&signal_, &taken);
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    void RaisedByUs() { raisedByUs_ = true; }
    FileSizeSignalBlocked(const FileSizeSignalBlocked &) = delete;
    FileSizeSignalBlocked &operator=(const FileSizeSignalBlocked &) = delete;

private:
    static bool IsPending() {
        sigset_t pending;
        return sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 1;
    }
    sigset_t signal_;
    sigset_t previous_;
    bool wasPending_ = false;
    bool raisedByUs_ = false;
};

}  // namespace

bool WriteWholeFile(const char *name, const FilePiece *pieces, std::size_t pieceCount) {
    OpenedOutput output;
    struct stat opened {};
    bool regular = false;
    for (int attempt = 0;; ++attempt) {
        if (!OpenOutput(name, output)) return false;
        // Devices, FIFOs and pipes are written as they are: never locked,
        // truncated, reserved or removed.
        regular = fstat(output.fd, &opened) == 0 && S_ISREG(opened.st_mode);
        if (!regular || LockOutput(name, output, opened)) break;
        close(output.fd);  // the name leads elsewhere now: open afresh
        if (attempt == kMaxReopens) return false;
        output = OpenedOutput{};
    }
    const int fd = output.fd;
    std::uint64_t total = 0;
    for (std::size_t k = 0; k < pieceCount; ++k) total += pieces[k].count;

    FileSizeSignalBlocked noFileSizeSignal;
    if (regular && !ReserveRoom(fd, opened.st_size, total)) {
        // Nothing of the file has changed yet.
        RemoveIfCreated(output, opened);
        close(fd);
        return false;
    }
    bool written = true;
    if (regular) {
        written = WriteHeaderLast(fd, pieces, pieceCount);
        // An existing file may have been longer than the new contents.
        struct stat now {};
        if (written && (fstat(fd, &now) != 0 || static_cast<std::uint64_t>(now.st_size) != total))
            written = ftruncate(fd, static_cast<off_t>(total)) == 0;
        // File systems that report a failed write only when the file is
        // closed (NFS) do so on the first close of any descriptor: close a
        // duplicate first, while this one can still empty the file.
        const int duplicate = written ? dup(fd) : -1;
        if (duplicate >= 0) written = close(duplicate) == 0;
    } else {
        for (std::size_t k = 0; written && k < pieceCount; ++k)
            written = WriteAll(fd, pieces[k].bytes, pieces[k].count, -1);
    }
    if (!written) {
        if (errno == EFBIG) noFileSizeSignal.RaisedByUs();
        // Whatever the folder allows, the descriptor can empty the file; if
        // even that fails, its header is still cleared (above). All this
        // while the lock is held: the name is still this call's file.
        if (regular) static_cast<void>(ftruncate(fd, 0));
        RemoveIfCreated(output, opened);
        close(fd);
        return false;
    }
    // The lock goes with the descriptor. (Should this last close fail, the
    // file was whole at the close of the duplicate above; with the lock
    // gone it is no longer this call's to remove.)
    return close(fd) == 0;
}

}  // namespace quillox
