// The room a file needs, on Linux: reserved where the file system can
// reserve it (fallocate), otherwise, and where overwriting copies on write,
// counted from the write plan by the file system's own layout against the
// free space this caller may use. Only then does a byte change, so a full
// disk or a file-size limit leaves an existing file as it was.
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/magic.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/output_file.h"

namespace quillox {
namespace {

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

// The blocks of the plan's writes, each write's span counted on its own:
// btrfs takes room for the whole span of every buffered write as it is made
// (its data reservation), and gives back what later writes to the same
// dirty blocks took twice only at writeback. The header's block is written
// three or four times.
std::uint64_t BtrfsWriteBytes(const WritePlan &plan, std::uint64_t block) {
    std::uint64_t bytes = 0;
    for (std::size_t k = 0; k < plan.count; ++k) {
        const PlannedWrite &write = plan.writes[k];
        if (write.count == 0) continue;
        bytes += ((write.offset + write.count - 1) / block - write.offset / block + 1) * block;
    }
    return bytes;
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

// Whether the file system has `needed` more bytes free for this caller
// (ENOSPC where not). Where it does not say (no size at all, as some FUSE
// file systems), it is taken to.
ErrorCode FreeRoomFor(int fd, std::uint64_t needed, bool reservedToo) {
    struct statvfs room {};
    if (fstatvfs(fd, &room) != 0 || room.f_blocks == 0) return kSucceeded;
    const std::uint64_t free = reservedToo ? room.f_bfree : room.f_bavail;
    return free * room.f_frsize >= needed ? kSucceeded : ENOSPC;
}

// `text` with the octal escapes of /proc/self/mountinfo (\040 for a space)
// undone, in place, and cut at the first of `ends`.
void Unescape(char *text, const char *ends) {
    char *to = text;
    char *from = text;
    for (; *from != '\0' && std::strchr(ends, *from) == nullptr; ++from) {
        if (from[0] == '\\' && from[1] >= '0' && from[1] <= '3' && from[2] >= '0' &&
            from[2] <= '7' && from[3] >= '0' && from[3] <= '7') {
            *to++ =
                static_cast<char>((from[1] - '0') << 6 | (from[2] - '0') << 3 | (from[3] - '0'));
            from += 3;
        } else {
            *to++ = *from;
        }
    }
    *to = '\0';
}

// The file system that holds the blocks of a file written through an
// overlay: its upper layer's, named by the overlay's mount options
// (upperdir=), the overlay being the mount with the longest mount point
// above the file (/proc/self/mountinfo). False where it cannot be told.
bool UpperLayer(int fd, struct statfs &upper) {
    char own[32];
    std::snprintf(own, sizeof own, "/proc/self/fd/%d", fd);
    char path[PATH_MAX];
    const ssize_t length = readlink(own, path, sizeof path - 1);
    if (length <= 0) return false;
    path[length] = '\0';
    FILE *const mounts = std::fopen("/proc/self/mountinfo", "re");
    if (mounts == nullptr) return false;
    char *line = nullptr;
    std::size_t capacity = 0;
    std::size_t longest = 0;
    char found[PATH_MAX] = "";
    while (getline(&line, &capacity, mounts) > 0) {
        // ID PARENT MAJOR:MINOR ROOT MOUNT-POINT OPTIONS... - TYPE SOURCE SUPER-OPTIONS
        char *field = line;
        for (int skip = 0; skip < 4 && field != nullptr; ++skip) {
            field = std::strchr(field, ' ');
            if (field != nullptr) ++field;
        }
        char *const separator = field != nullptr ? std::strstr(field, " - ") : nullptr;
        if (separator == nullptr) continue;
        Unescape(field, " ");
        const std::size_t point = std::strlen(field);
        const bool above =
            std::strncmp(path, field, point) == 0 && (path[point] == '/' || point == 1);
        if (!above || point < longest) continue;
        longest = point;
        found[0] = '\0';
        if (std::strncmp(separator + 3, "overlay ", 8) != 0) continue;
        char *const upperdir = std::strstr(separator, "upperdir=");
        if (upperdir == nullptr) continue;
        char *const value = upperdir + 9;
        Unescape(value, ",\n");
        if (std::strlen(value) < sizeof found) std::strcpy(found, value);
    }
    std::free(line);
    std::fclose(mounts);
    return found[0] != '\0' && statfs(found, &upper) == 0;
}

}  // namespace

// Not on tmpfs, the ext family or XFS: their files have no flush at close,
// so a close there reports nothing that the writes did not.
bool MayFailAtClose(const SystemFile &system) {
    return system.magic != TMPFS_MAGIC && system.magic != EXT4_SUPER_MAGIC &&
           system.magic != XFS_SUPER_MAGIC;
}

// The length stays as it is until the plan cuts it: a file that grew here
// and were then left (the writer killed) would keep its old header over a
// longer file.
ErrorCode ReserveRoom(OutputFile &file, const WritePlan &plan) {
    SystemFile &system = file.system;
    const int fd = system.fd;
    const std::uint64_t total = plan.total;
    rlimit limit{};
    if ((getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
         total > limit.rlim_cur) ||
        total > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        return EFBIG;
    }
    struct statfs kind {};
    // Through an overlay, what counts is the file system under it.
    if (fstatfs(fd, &kind) == 0 && kind.f_type == OVERLAYFS_SUPER_MAGIC) UpperLayer(fd, kind);
    if (kind.f_type != 0) {
        // (f_type is a signed int on some 32-bit targets; the magic numbers are 32 bits.)
        system.magic = static_cast<std::uint32_t>(kind.f_type);
        if (kind.f_bsize > 0) system.block = static_cast<std::uint64_t>(kind.f_bsize);
    }
    const std::uint32_t magic = system.magic;
    const std::uint64_t block = system.block;
    // What the file holds now, in bytes of blocks: overwritten in place,
    // they are used again.
    const std::uint64_t held = static_cast<std::uint64_t>(system.opened.st_blocks) * 512;
    // Where overwriting copies on write (btrfs), the new blocks are taken
    // before the old ones are let go, and a reservation covers none of them:
    // count them against what is free. (XFS unshares a reflinked file's
    // blocks as it reserves them, or refuses the reservation.)
    if (file.size > 0 && magic == BTRFS_SUPER_MAGIC) {
        if (const ErrorCode error = FreeRoomFor(fd, BtrfsWriteBytes(plan, block), false))
            return error;
    }
    if (fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(total)) == 0) return kSucceeded;
    const ErrorCode refused = errno;
    if (refused == EOPNOTSUPP || refused == ENOSYS) {
        // A file system that cannot reserve (ext2, ext3, many FUSE ones):
        // the blocks the new length takes, less those the file has, must be
        // free. The ext family's own layout where it is one; elsewhere the
        // same count serves as an estimate of the mapping's cost.
        const bool ext = magic == EXT4_SUPER_MAGIC;
        const std::uint64_t needed = BlockMappedBytes(total, block);
        return needed <= held ? kSucceeded
                              : FreeRoomFor(fd, needed - held, ext && MayUseReservedBlocks());
    }
    // Blocks a refused reservation took past the end are let go again.
    static_cast<void>(ftruncate(fd, system.opened.st_size));
    return refused;
}

}  // namespace quillox
