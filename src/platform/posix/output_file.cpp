// The POSIX half of writing a whole file (see platform/output_file.h).
//
// The file is opened as "wb" would open it (created if absent, following a
// symbolic link to its target), but without truncating it, and locked with
// flock against other writers of the same name. Nothing but the file
// actually opened is ever touched: a symbolic link given as the name is
// never removed.
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/output_file.h"
#include "platform/posix/call_file.h"

namespace quillox {
namespace {

// Close-on-exec: a host that starts a program on another thread while a tone
// is written must not hand it our descriptor.
constexpr int kOpenFlags = O_WRONLY | O_CLOEXEC | O_NOCTTY;
constexpr mode_t kNewFileMode = 0666;  // less the umask, as fopen gives
constexpr int kMaxLinkHops = 40;       // as the kernel allows

// Opens, and records the descriptor as the call's (see call_file.h).
int OpenForCall(const char *name, int flags) {
    const int fd = open(name, flags, kNewFileMode);
    if (fd >= 0) SetCallFile(fd);
    return fd;
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
Reopened OpenExisting(const char *name, OutputFile &file, int &error) {
    const int pin = open(name, O_PATH | O_CLOEXEC);
    if (pin < 0) {
        error = errno;
        return error == ENOENT ? Reopened::kGone : Reopened::kFailed;
    }
    SystemFile &system = file.system;
    system.fd = OpenForCall(name, kOpenFlags | O_CREAT);
    error = errno;
    struct stat opened {};
    if (system.fd >= 0 && fstat(system.fd, &opened) == 0) {
        file.regular = S_ISREG(opened.st_mode);
        struct stat pinned {};
        if (fstat(pin, &pinned) == 0 && !SameFile(pinned, opened)) {
            file.created = OwnName(system.fd, system.createdName);
        }
    }
    close(pin);
    return system.fd >= 0 ? Reopened::kOpened : Reopened::kFailed;
}

}  // namespace

// Creation is exclusive, so that `created` is known for certain; a dangling
// symbolic link is followed by hand to the name its target is created under.
// Every open passes O_CREAT, as fopen's does, so that the kernel's rules for
// files planted in sticky shared folders (protected_regular, _fifos) apply.
ErrorCode OpenOutput(OutputFile &file) {
    SystemFile &system = file.system;
    char current[PATH_MAX];
    std::strcpy(current, file.name);  // the name is at most kOutputPathBytes long
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        system.fd = OpenForCall(current, kOpenFlags | O_CREAT | O_EXCL);
        if (system.fd >= 0) {
            file.created = true;
            file.regular = true;  // what O_CREAT makes
            std::strcpy(system.createdName, current);
            return kSucceeded;
        }
        if (errno != EEXIST) return errno;
        struct stat seen {};
        const bool dangling = lstat(current, &seen) == 0 && S_ISLNK(seen.st_mode) &&
                              stat(current, &seen) != 0 && errno == ENOENT;
        if (!dangling) {
            int error = 0;
            const Reopened reopened = OpenExisting(current, file, error);
            if (reopened == Reopened::kGone) continue;  // gone meanwhile: afresh
            return reopened == Reopened::kOpened ? kSucceeded : error;
        }
        // A symbolic link to nothing (or the link went away meanwhile: then
        // readlink says EINVAL or ENOENT, and the next round starts afresh).
        char target[PATH_MAX];
        const ssize_t length = readlink(current, target, sizeof target - 1);
        if (length < 0) {
            if (errno == EINVAL || errno == ENOENT) continue;
            return errno;
        }
        target[length] = '\0';
        if (!ResolveLinkTarget(current, target, current)) return ENAMETOOLONG;
    }
    return ELOOP;
}

// A writer that held the lock may have removed the file meanwhile. Where
// the file system has no locks to give (NFS without its lock service), the
// file is written unlocked, as it would be without them.
ErrorCode LockOutput(OutputFile &file, bool &stillNamed) {
    SystemFile &system = file.system;
    int locked;
    do locked = flock(system.fd, LOCK_EX);
    while (locked != 0 && errno == EINTR);
    if (fstat(system.fd, &system.opened) != 0) return errno;
    struct stat named {};
    stillNamed = stat(file.name, &named) == 0 && SameFile(named, system.opened);
    file.size = static_cast<std::uint64_t>(system.opened.st_size);
    if (file.created && file.size != 0) file.created = false;
    return kSucceeded;
}

// The signals a write raises instead of failing: SIGXFSZ past the file-size
// limit, SIGPIPE into a pipe or socket nobody reads. Held for this thread
// while the file is written, so that such a write fails (EFBIG, EPIPE) and
// the request fails with status 2, not by a signal.
void BeginWrites(OutputFile &file) {
    SystemFile &system = file.system;
    sigemptyset(&system.held);
    sigaddset(&system.held, SIGXFSZ);
    sigaddset(&system.held, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &system.held, &system.maskBefore);
    sigpending(&system.pendingBefore);
}

// One raised by a write of ours that failed for it is taken, not
// delivered on unblocking; one sent by anybody else is delivered.
void EndWrites(OutputFile &file, ErrorCode failure) {
    SystemFile &system = file.system;
    for (const auto &[signal, error] : {std::pair{SIGXFSZ, EFBIG}, std::pair{SIGPIPE, EPIPE}}) {
        if (failure != error || sigismember(&system.pendingBefore, signal) == 1) continue;
        sigset_t pending;
        if (sigpending(&pending) != 0 || sigismember(&pending, signal) != 1) continue;
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, signal);
        int taken = 0;
        sigwait(&one, &taken);
    }
    pthread_sigmask(SIG_SETMASK, &system.maskBefore, nullptr);
}

// A write that writes nothing at all says ENOSPC, as a full disk would.
ErrorCode WriteAt(OutputFile &file, const std::uint8_t *bytes, std::size_t count,
                  std::uint64_t offset, bool inOrder) {
    static constexpr std::uint8_t kZeros[64] = {};
    while (count > 0) {
        const std::uint8_t *const from = bytes != nullptr ? bytes : kZeros;
        const std::size_t chunk = bytes != nullptr ? count : std::min(count, sizeof kZeros);
        const ssize_t written =
            inOrder ? write(file.system.fd, from, chunk)
                    : pwrite(file.system.fd, from, chunk, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR) continue;
        if (written == 0) return ENOSPC;
        if (written < 0) return errno;
        if (bytes != nullptr) bytes += written;
        count -= static_cast<std::size_t>(written);
        offset += static_cast<std::uint64_t>(written);
    }
    return kSucceeded;
}

ErrorCode SetLength(OutputFile &file, std::uint64_t length) {
    return ftruncate(file.system.fd, static_cast<off_t>(length)) == 0 ? kSucceeded : errno;
}

// Whatever the folder allows, the descriptor can empty the file; if even
// that fails, its header is still cleared.
void EmptyOutput(OutputFile &file) { static_cast<void>(ftruncate(file.system.fd, 0)); }

// Only if its name still names that very file: never a link put there
// since, never somebody else's file.
void RemoveIfCreated(OutputFile &file) {
    if (!file.created) return;
    struct stat now {};
    if (lstat(file.system.createdName, &now) == 0 && S_ISREG(now.st_mode) &&
        SameFile(now, file.system.opened)) {
        unlink(file.system.createdName);
    }
}

ErrorCode CloseOutput(OutputFile &file, bool written) {
    SystemFile &system = file.system;
    // File systems that report a failed write only when the file is closed
    // (NFS) do so on the first close of any descriptor: close a duplicate
    // first, while this one can still empty the file.
    ErrorCode error = kSucceeded;
    if (written && file.regular && MayFailAtClose(system)) {
        const int duplicate = fcntl(system.fd, F_DUPFD_CLOEXEC, 0);
        if (duplicate >= 0 && close(duplicate) != 0) {
            error = errno;
            EmptyOutput(file);
            RemoveIfCreated(file);
        }
    }
    // The lock is let go first, explicitly: a copy of the descriptor in a
    // process forked meanwhile would keep it. (Should the last close fail,
    // the file was whole at the close of the duplicate; with the lock gone
    // it is no longer this call's to remove.)
    flock(system.fd, LOCK_UN);  // (a descriptor that holds none: no harm)
    SetCallFile(-1);
    if (close(system.fd) != 0 && error == kSucceeded && written) error = errno;
    system.fd = -1;
    return error;
}

}  // namespace quillox
