// Writing a whole file, on POSIX systems.
//
// The file is opened as "wb" would open it (created if absent, following a
// symbolic link to its target), but without truncating it: a regular file
// first gets room for the whole tone, and only then is it overwritten from
// offset 0 and cut to its exact length. So a full disk or a file-size limit
// leaves an existing file as it was; a file this call created is removed; a
// failure nobody could foresee empties the file rather than leave one whose
// header claims more than it holds. Nothing but the file actually opened is
// ever touched: a symbolic link given as the name is never removed.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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
        output.fd = open(current, kOpenFlags);  // an existing file, or a link to one
        if (output.fd >= 0) return true;
        if (errno != ENOENT) return false;
        // A symbolic link to nothing (or the file went away meanwhile: then
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
    if (fallocate(fd, 0, 0, static_cast<off_t>(total)) == 0) return true;
    const int error = errno;
    // A file system that cannot reserve: write as "wb" would.
    if (error == EOPNOTSUPP || error == ENOSYS) return true;
    // Some file systems keep part of a refused reservation, size included.
    struct stat now {};
    if (fstat(fd, &now) == 0 && now.st_size != size) static_cast<void>(ftruncate(fd, size));
    return false;
#else
    static_cast<void>(fd);
    static_cast<void>(size);
    return true;
#endif
}

bool WriteAll(int fd, const std::uint8_t *bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t written = write(fd, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        count -= static_cast<std::size_t>(written);
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
    // One raised by a refused write is taken, not delivered on unblocking.
    ~FileSizeSignalBlocked() {
        int taken = 0;
        if (!wasPending_ && IsPending()) sigwait(&signal_, &taken);
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
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
};

}  // namespace

bool WriteWholeFile(const char *name, const FilePiece *pieces, std::size_t pieceCount) {
    OpenedOutput output;
    if (!OpenOutput(name, output)) return false;
    const int fd = output.fd;
    // Devices, FIFOs and pipes are written as they are: never truncated,
    // reserved or removed.
    struct stat opened {};
    const bool regular = fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode);
    std::uint64_t total = 0;
    for (std::size_t k = 0; k < pieceCount; ++k) total += pieces[k].count;

    const FileSizeSignalBlocked noFileSizeSignal;
    bool written = !regular || ReserveRoom(fd, opened.st_size, total);
    if (!written) {
        // Nothing of the file has changed yet.
        RemoveIfCreated(output, opened);
        close(fd);
        return false;
    }
    for (std::size_t k = 0; written && k < pieceCount; ++k) {
        written = WriteAll(fd, pieces[k].bytes, pieces[k].count);
    }
    // An existing file may have been longer than the new contents.
    if (written && regular) written = ftruncate(fd, static_cast<off_t>(total)) == 0;
    if (!written) {
        // Whatever the folder allows, the descriptor can empty the file: no
        // cut-off tone may stay behind looking like a whole one.
        if (regular) static_cast<void>(ftruncate(fd, 0));
        RemoveIfCreated(output, opened);
        close(fd);
        return false;
    }
    if (close(fd) != 0) {
        RemoveIfCreated(output, opened);
        return false;
    }
    return true;
}

}  // namespace quillox
