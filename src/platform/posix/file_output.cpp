// Writing a whole file, on POSIX systems.
//
// The file is opened as "wb" would open it (created if absent, following a
// symbolic link to its target), but without truncating it, and locked
// against other writers of the same name. A regular file first gets room
// for the whole tone: reserved where the file system can reserve, otherwise
// (and where overwriting copies on write) counted against the free space
// by the file system's own layout. Only then does a byte change. So a full
// disk or a file-size limit leaves an existing file as it was; a file this
// call created is removed; a failure nobody could foresee empties the file.
// The old header's place is cleared before the length changes, the length
// is settled before the new header is written, and that header comes last:
// a writer stopped anywhere in between, killed or failing even to empty the
// file, leaves a file that does not start as a complete one. Nothing but
// the file actually opened is ever touched: a symbolic link given as the
// name is never removed.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/capability.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <linux/magic.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/platform.h"
#include "platform/posix/call_file.h"

namespace quillox {
namespace {

// Close-on-exec: a host that starts a program on another thread while a tone
// is written must not hand it our descriptor.
constexpr int kOpenFlags = O_WRONLY | O_CLOEXEC | O_NOCTTY;
constexpr mode_t kNewFileMode = 0666;  // less the umask, as fopen gives
constexpr int kMaxLinkHops = 40;       // as the kernel allows
constexpr int kMaxReopens = 40;        // names that keep leading elsewhere: give up

// errno as it was, after calls made only to clean up.
class KeepErrno {
public:
    KeepErrno() : error_(errno) {}
    ~KeepErrno() { errno = error_; }
    KeepErrno(const KeepErrno &) = delete;
    KeepErrno &operator=(const KeepErrno &) = delete;

private:
    int error_;
};

struct OpenedOutput {
    int fd = -1;
    bool regular = false;        // a regular file (not a device, FIFO or pipe)
    bool created = false;        // this call created the file...
    char createdName[PATH_MAX];  // ...under this name, its own, not a link's
};

// Opens, and records the descriptor as the call's (see call_file.h).
int OpenForCall(const char *name, int flags) {
    const int fd = open(name, flags, kNewFileMode);
    if (fd >= 0) SetCallFile(fd);
    return fd;
}

// Closes the call's descriptor. Its lock is let go first, explicitly: a
// copy of the descriptor in a process forked meanwhile would keep it.
int CloseForCall(int fd) {
    {
        const KeepErrno keep;
        flock(fd, LOCK_UN);  // (a descriptor that holds none: no harm)
        SetCallFile(-1);
    }
    return close(fd);
}

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

bool SameFile(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The name under which the descriptor `fd` was opened, as the kernel keeps
// it, into `out`: the file's own name even when a link led to it. False
// where it cannot be had (no /proc) or no longer names that file.
bool OwnName(int fd, char (&out)[PATH_MAX]) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, out, sizeof out - 1);
    if (length <= 0 || out[0] != '/') return false;
    out[length] = '\0';
    struct stat named {};
    struct stat opened {};
    return lstat(out, &named) == 0 && fstat(fd, &opened) == 0 && SameFile(named, opened);
}

enum class Reopened { kOpened, kGone, kFailed };

// Opens the file that `name` (not a dangling link) leads to now. It is
// pinned first, by a descriptor that only holds it, so that its inode
// number cannot be freed and given to another file: the reopen (which
// passes O_CREAT, see OpenOutput) then found that very file when the two
// are the same. When they are not, the name went away in between and the
// reopen made a file anew: this call counts it as its own, to remove on
// failure. kGone: the name leads nowhere now; the caller starts afresh.
Reopened OpenExisting(const char *name, OpenedOutput &output) {
#if defined(O_PATH)
    const int pin = open(name, O_PATH | O_CLOEXEC);
    if (pin < 0) return errno == ENOENT ? Reopened::kGone : Reopened::kFailed;
#else
    const int pin = -1;  // nothing holds a file unopened here: the reopen counts as finding it
#endif
    output.fd = OpenForCall(name, kOpenFlags | O_CREAT);
    const KeepErrno keep;
    struct stat opened {};
    if (output.fd >= 0 && fstat(output.fd, &opened) == 0) {
        output.regular = S_ISREG(opened.st_mode);
        struct stat pinned {};
        if (pin >= 0 && fstat(pin, &pinned) == 0 && !SameFile(pinned, opened)) {
            output.created = OwnName(output.fd, output.createdName);
        }
    }
    if (pin >= 0) close(pin);
    return output.fd >= 0 ? Reopened::kOpened : Reopened::kFailed;
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
        output.fd = OpenForCall(current, kOpenFlags | O_CREAT | O_EXCL);
        if (output.fd >= 0) {
            output.created = true;
            output.regular = true;  // what O_CREAT makes
            std::strcpy(output.createdName, current);
            return true;
        }
        if (errno != EEXIST) return false;
        struct stat seen {};
        const bool dangling = lstat(current, &seen) == 0 && S_ISLNK(seen.st_mode) &&
                              stat(current, &seen) != 0 && errno == ENOENT;
        if (!dangling) {
            const Reopened reopened = OpenExisting(current, output);
            if (reopened == Reopened::kGone) continue;  // gone meanwhile: afresh
            return reopened == Reopened::kOpened;
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
        if (!ResolveLinkTarget(current, target, current)) {
            errno = ENAMETOOLONG;
            return false;
        }
    }
    errno = ELOOP;
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
    if (stat(name, &named) != 0 || !SameFile(named, opened)) return false;
    if (output.created && opened.st_size != 0) output.created = false;
    return true;
}

// Removes the file this call created, if its name still names that very
// file: never a link put there since, never somebody else's file.
void RemoveIfCreated(const OpenedOutput &output, const struct stat &opened) {
    if (!output.created) return;
    const KeepErrno keep;
    struct stat now {};
    if (lstat(output.createdName, &now) == 0 && S_ISREG(now.st_mode) && SameFile(now, opened)) {
        unlink(output.createdName);
    }
}

// --- Room -------------------------------------------------------------------
//
// How many bytes of free space writing a file of `total` bytes takes, where
// the file system cannot reserve them beforehand, each from that file
// system's own layout.

std::uint64_t DivideUp(std::uint64_t a, std::uint64_t b) { return a / b + (a % b != 0); }

// A block-mapped file (ext2, ext3: every inode has 12 direct block numbers,
// then one single, one double and one triple indirect block, each indirect
// block holding `block` / 4 block numbers; Documentation/filesystems/ext2.rst):
// the data blocks and the indirect blocks that map them.
std::uint64_t BlockMappedBytes(std::uint64_t total, std::uint64_t block) {
    constexpr std::uint64_t kDirect = 12;
    const std::uint64_t perBlock = block / 4;
    const std::uint64_t data = DivideUp(total, block);
    std::uint64_t blocks = data;
    std::uint64_t left = data > kDirect ? data - kDirect : 0;
    // Each level of indirection maps `span` data blocks with one block on
    // top, and one block for every `perBlock` below it.
    std::uint64_t span = perBlock;
    for (int level = 1; level <= 3 && left > 0; ++level) {
        const std::uint64_t mapped = std::min(left, span);
        for (std::uint64_t below = perBlock; below < span; below *= perBlock)
            blocks += DivideUp(mapped, below);  // the levels under the top one
        blocks += 1;                            // the top one
        left -= mapped;
        span *= perBlock;
    }
    return blocks * block;
}

// The blocks of the writes that WriteHeaderLast (below) makes over a file of
// `size` bytes, each write's span counted on its own: btrfs takes room for
// the whole span of every buffered write as it is made (its data
// reservation), and gives back what later writes to the same dirty blocks
// took twice only at writeback. The header's block is written three or
// four times.
std::uint64_t BtrfsWriteBytes(std::uint64_t size, const FilePiece *pieces, std::size_t pieceCount,
                              std::uint64_t block) {
    const auto span = [block](std::uint64_t offset, std::uint64_t count) -> std::uint64_t {
        return count == 0 ? 0 : ((offset + count - 1) / block - offset / block + 1) * block;
    };
    std::uint64_t bytes =
        pieceCount > 0 ? span(0, std::min<std::uint64_t>(size, pieces[0].count)) : 0;
    std::uint64_t offset = 0;
    for (std::size_t k = 0; k < pieceCount; ++k) {
        bytes += span(offset, pieces[k].count);
        offset += pieces[k].count;
    }
    return bytes;
}

#if defined(__linux__)
// An XFS file overwritten where its blocks are shared (a reflinked copy):
// the copy-on-write fork reserves the new blocks as one delayed allocation,
// its range widened to whole copy-on-write extents (the file's hint, by
// default 32 blocks: xfs_get_cowextsz_hint), plus the worst case of the
// mapping btree blocks that may take (xfs_bmap_worst_indlen: a leaf or node
// holds (block - 72) / 16 records, 72 the long btree block header with
// checksums; a tree of data-fork height `kBmbtLevels` at most).
std::uint64_t XfsCopyOnWriteBytes(int fd, std::uint64_t total, std::uint64_t block) {
    constexpr std::uint64_t kDefaultCowExtentBlocks = 32;
    constexpr std::uint64_t kBtreeHeaderBytes = 72;
    constexpr std::uint64_t kRecordBytes = 16;
    constexpr std::uint64_t kBmbtLevels = 9;  // 2^48 extents, 1 KiB blocks: fewer on larger
    std::uint64_t extent = kDefaultCowExtentBlocks * block;
    fsxattr attributes{};
    if (ioctl(fd, FS_IOC_FSGETXATTR, &attributes) == 0 && attributes.fsx_cowextsize != 0)
        extent = attributes.fsx_cowextsize;
    const std::uint64_t blocks = DivideUp(total, extent) * extent / block;
    const std::uint64_t records = (block - kBtreeHeaderBytes) / kRecordBytes;
    std::uint64_t mapping = 0;
    std::uint64_t level = blocks;
    for (std::uint64_t height = 0; height < kBmbtLevels; ++height) {
        level = DivideUp(level, records);
        mapping += level;
        if (level == 1) {
            mapping += kBmbtLevels - height - 1;
            break;
        }
    }
    return (blocks + mapping) * block;
}

// Whether this process may use the blocks an ext2/3/4 file system keeps for
// root, as the kernel judges it (ext4_has_free_clusters): the reserve's
// user, root unless the file system was made otherwise, or
// CAP_SYS_RESOURCE.
bool MayUseReservedBlocks() {
    if (geteuid() == 0) return true;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    return (data[CAP_TO_INDEX(CAP_SYS_RESOURCE)].effective & CAP_TO_MASK(CAP_SYS_RESOURCE)) != 0;
}

// Whether a part of the file is shared with another (a reflinked copy on
// XFS, a snapshot): overwriting it then takes new room.
bool SharesExtents(int fd) {
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

// Whether the file system has `needed` more bytes free for this caller.
// Where it does not say (no size at all, as some FUSE file systems), it is
// taken to.
bool FreeRoomFor(int fd, std::uint64_t needed, bool reservedToo) {
    struct statvfs room {};
    if (fstatvfs(fd, &room) != 0 || room.f_blocks == 0) return true;
    const std::uint64_t free = reservedToo ? room.f_bfree : room.f_bavail;
    if (free * room.f_frsize >= needed) return true;
    errno = ENOSPC;
    return false;
}

// What writing a file safely needs to know of the file system it lies on.
struct FileSystem {
    std::uint32_t magic = 0;  // statfs's f_type; 0 where it cannot be had
    std::uint64_t block = 4096;
};

FileSystem FileSystemOf([[maybe_unused]] int fd) {
    FileSystem kind;
#if defined(__linux__)
    struct statfs system {};
    if (fstatfs(fd, &system) == 0) {
        // (f_type is a signed int on some 32-bit targets; the magic numbers are 32 bits.)
        kind.magic = static_cast<std::uint32_t>(system.f_type);
        if (system.f_bsize > 0) kind.block = static_cast<std::uint64_t>(system.f_bsize);
    }
#endif
    return kind;
}

#if defined(__linux__)
// Whether a file there can share blocks with another (reflinks,
// snapshots): tmpfs and the ext family never do, so they need no probe.
bool MayShareExtents(const FileSystem &system) {
    return system.magic != TMPFS_MAGIC && system.magic != EXT4_SUPER_MAGIC;
}
#endif

// Whether a failed write can first show at the close. Not on tmpfs, the ext
// family or XFS: their files have no flush at close, so a close there
// reports nothing that the writes did not.
bool MayFailAtClose([[maybe_unused]] const FileSystem &system) {
#if defined(__linux__)
    return system.magic != TMPFS_MAGIC && system.magic != EXT4_SUPER_MAGIC &&
           system.magic != XFS_SUPER_MAGIC;
#else
    return true;
#endif
}

// Room for `total` bytes in the regular file `fd` (as `opened` found it),
// before any byte of it changes, its length included. False, with errno,
// when the file-size limit or the file system refuses; the file then keeps
// its length and contents.
bool ReserveRoom(int fd, const struct stat &opened, [[maybe_unused]] const FileSystem &system,
                 const FilePiece *pieces, std::size_t pieceCount, std::uint64_t total) {
    rlimit limit{};
    if ((getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
         total > limit.rlim_cur) ||
        total > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        errno = EFBIG;
        return false;
    }
    // What the file holds now, in bytes of blocks: overwritten in place,
    // they are used again.
    const std::uint64_t held = std::uint64_t{static_cast<std::uint64_t>(opened.st_blocks)} * 512;
#if defined(__linux__)
    const std::uint32_t magic = system.magic;
    const std::uint64_t block = system.block;
    // Where overwriting copies on write (btrfs always, XFS where a block is
    // shared), the new blocks are taken before the old ones are let go, and
    // a reservation covers none of them: count them against what is free.
    if (opened.st_size > 0) {
        if (magic == BTRFS_SUPER_MAGIC) {
            const std::uint64_t needed = BtrfsWriteBytes(static_cast<std::uint64_t>(opened.st_size),
                                                         pieces, pieceCount, block);
            if (!FreeRoomFor(fd, needed, false)) return false;
        } else if (MayShareExtents(system) && SharesExtents(fd)) {
            const std::uint64_t needed = magic == XFS_SUPER_MAGIC
                                             ? XfsCopyOnWriteBytes(fd, total, block)
                                             : DivideUp(total, block) * block;
            if (!FreeRoomFor(fd, needed, false)) return false;
        }
    }
    // The length stays as it is: a file that grew here and were then left
    // (the writer killed) would keep its old header over a longer file.
    if (fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(total)) == 0) return true;
    if (errno == EOPNOTSUPP || errno == ENOSYS) {
        // A file system that cannot reserve (ext2, ext3, many FUSE ones):
        // the blocks the new length takes, less those the file has, must be
        // free. The ext family's own layout where it is one; elsewhere the
        // same count serves as an estimate of the mapping's cost.
        const bool ext = magic == EXT4_SUPER_MAGIC;
        const std::uint64_t needed = BlockMappedBytes(total, block);
        return needed <= held || FreeRoomFor(fd, needed - held, ext && MayUseReservedBlocks());
    }
    // Blocks a refused reservation took past the end are let go again.
    const KeepErrno keep;
    static_cast<void>(ftruncate(fd, opened.st_size));
    return false;
#else
    const std::uint64_t needed = BlockMappedBytes(total, 4096);
    return needed <= held || FreeRoomFor(fd, needed - held, false);
#endif
}

// --- Writing ----------------------------------------------------------------

// Writes `count` bytes at `offset`, or, with `offset` -1, where the
// descriptor stands (a pipe or a device). False, with errno, when a write
// fails (one that writes nothing at all says ENOSPC, as a full disk would).
bool WriteAll(int fd, const std::uint8_t *bytes, std::size_t count, off_t offset) {
    while (count > 0) {
        const ssize_t written =
            offset < 0 ? write(fd, bytes, count) : pwrite(fd, bytes, count, offset);
        if (written < 0 && errno == EINTR) continue;
        if (written == 0) errno = ENOSPC;
        if (written <= 0) return false;
        bytes += written;
        count -= static_cast<std::size_t>(written);
        if (offset >= 0) offset += written;
    }
    return true;
}

// Writes the pieces as the whole contents of the regular file `fd`, now
// `size` bytes long, in an order that never shows a complete file that is
// not: the old first piece's place cleared to zeros (the old header is gone
// before the length changes), a longer file cut to the new length (it loses
// its end before a new header could stand over it; a shorter one grows by
// the writes), every piece from the last to the first at its own offset,
// the first piece (the header) last.
bool WriteHeaderLast(int fd, off_t size, const FilePiece *pieces, std::size_t pieceCount,
                     std::uint64_t total) {
    static constexpr std::uint8_t kZeros[64] = {};
    if (pieceCount == 0) return ftruncate(fd, 0) == 0;
    const std::uint64_t clear =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(size), pieces[0].count);
    for (std::uint64_t cleared = 0; cleared < clear; cleared += sizeof kZeros) {
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(sizeof kZeros, clear - cleared));
        if (!WriteAll(fd, kZeros, count, static_cast<off_t>(cleared))) return false;
    }
    if (static_cast<std::uint64_t>(size) > total && ftruncate(fd, static_cast<off_t>(total)) != 0)
        return false;
    auto end = static_cast<off_t>(total);
    for (std::size_t k = pieceCount; k-- > 0;) {
        end -= static_cast<off_t>(pieces[k].count);
        if (!WriteAll(fd, pieces[k].bytes, pieces[k].count, end)) return false;
    }
    return true;
}

// The signals a write raises instead of failing: SIGXFSZ past the file-size
// limit, SIGPIPE into a pipe or socket nobody reads. Blocked for this thread
// while the file is written, so that such a write fails (EFBIG, EPIPE) and
// the request ends with status 2, not by a signal.
class WriteSignalsBlocked {
public:
    WriteSignalsBlocked() {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGXFSZ);
        sigaddset(&signals_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
        sigpending(&pendingBefore_);
    }
    // One raised by a write of ours that failed for it is taken, not
    // delivered on unblocking; one sent by anybody else is delivered.
    ~WriteSignalsBlocked() {
        const KeepErrno keep;
        TakeIfRaisedByUs(SIGXFSZ, EFBIG);
        TakeIfRaisedByUs(SIGPIPE, EPIPE);
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    void WriteFailed(int error) { error_ = error; }
    WriteSignalsBlocked(const WriteSignalsBlocked &) = delete;
    WriteSignalsBlocked &operator=(const WriteSignalsBlocked &) = delete;

private:
    void TakeIfRaisedByUs(int signal, int error) {
        if (error_ != error || sigismember(&pendingBefore_, signal) == 1) return;
        sigset_t pending;
        if (sigpending(&pending) != 0 || sigismember(&pending, signal) != 1) return;
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, signal);
        int taken = 0;
        sigwait(&one, &taken);
    }
    sigset_t signals_;
    sigset_t previous_;
    sigset_t pendingBefore_;
    int error_ = 0;
};

// The whole of WriteWholeFile: false, with errno saying why, on failure.
bool WriteFileOnce(const char *name, const FilePiece *pieces, std::size_t pieceCount) {
    OpenedOutput output;
    struct stat opened {};
    bool regular = false;
    for (int attempt = 0;; ++attempt) {
        if (!OpenOutput(name, output)) return false;
        // Devices, FIFOs and pipes are written as they are: never locked,
        // truncated, reserved or removed.
        regular = output.regular;
        if (!regular || LockOutput(name, output, opened)) break;
        CloseForCall(output.fd);  // the name leads elsewhere now: open afresh
        if (attempt == kMaxReopens) {
            errno = ELOOP;
            return false;
        }
        output = OpenedOutput{};
    }
    const int fd = output.fd;
    std::uint64_t total = 0;
    for (std::size_t k = 0; k < pieceCount; ++k) total += pieces[k].count;

    WriteSignalsBlocked signalsBlocked;
    const FileSystem system = regular ? FileSystemOf(fd) : FileSystem{};
    if (regular && !ReserveRoom(fd, opened, system, pieces, pieceCount, total)) {
        // Nothing of the file has changed yet.
        RemoveIfCreated(output, opened);
        const KeepErrno keep;
        CloseForCall(fd);
        return false;
    }
    bool written = true;
    if (regular) {
        written = WriteHeaderLast(fd, opened.st_size, pieces, pieceCount, total);
        // File systems that report a failed write only when the file is
        // closed (NFS) do so on the first close of any descriptor: close a
        // duplicate first, while this one can still empty the file.
        if (written && MayFailAtClose(system)) {
            const int duplicate = fcntl(fd, F_DUPFD_CLOEXEC, 0);
            written = duplicate < 0 || close(duplicate) == 0;
        }
    } else {
        for (std::size_t k = 0; written && k < pieceCount; ++k)
            written = WriteAll(fd, pieces[k].bytes, pieces[k].count, -1);
    }
    if (!written) {
        signalsBlocked.WriteFailed(errno);
        const KeepErrno keep;
        // Whatever the folder allows, the descriptor can empty the file; if
        // even that fails, its header is still cleared (above). All this
        // while the lock is held: the name is still this call's file.
        if (regular) static_cast<void>(ftruncate(fd, 0));
        RemoveIfCreated(output, opened);
        CloseForCall(fd);
        return false;
    }
    // The lock goes with the descriptor. (Should this last close fail, the
    // file was whole at the close of the duplicate above; with the lock
    // gone it is no longer this call's to remove.)
    return CloseForCall(fd) == 0;
}

}  // namespace

ErrorCode WriteWholeFile(const char *name, const FilePiece *pieces, std::size_t pieceCount) {
    errno = 0;
    if (WriteFileOnce(name, pieces, pieceCount)) return kSucceeded;
    return errno != 0 ? errno : EIO;  // (every failing step sets errno)
}

}  // namespace quillox
