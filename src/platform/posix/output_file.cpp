// The POSIX half of writing a whole file (see platform/output_file.h).
//
// The file is opened as "wb" would open it (created if absent, following a
// symbolic link to its target), but without truncating it, and locked with
// flock against other writers of the same name. A name that leads nowhere
// gets a file without a name in its folder (O_TMPFILE), which is written
// whole, put on disk, and only then given the name: a call that fails or is
// cut short there leaves no name behind, and no file made by another is
// ever taken for this call's. Nothing but the file actually opened is ever
// touched: a symbolic link given as the name is never removed.
//
// Every descriptor a call opens is recorded for the fork handler in the
// same step as the open (call_file.h), so a process forked meanwhile never
// keeps one.
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

const ErrorCode kErrorNameTaken = EEXIST;

namespace {

// Close-on-exec: a host that starts a program on another thread while a tone
// is written must not hand it our descriptor.
constexpr int kOpenFlags = O_WRONLY | O_CLOEXEC | O_NOCTTY;
constexpr mode_t kNewFileMode = 0666;  // less the umask, as fopen gives
constexpr int kMaxLinkHops = 40;       // as the kernel allows

// openat, and the descriptor recorded as the call's, as one step for a fork.
int OpenForCall(int folder, const char *name, int flags) {
    HoldForks();
    const int fd = openat(folder, name, flags, kNewFileMode);
    const int error = errno;
    if (fd >= 0) RecordCallFile(fd);
    ReleaseForks();
    errno = error;
    return fd;
}

// The descriptor forgotten and closed, as one step for a fork; close's
// reason if it fails.
ErrorCode CloseForCall(int &fd) {
    if (fd < 0) return kSucceeded;
    HoldForks();
    ForgetCallFile(fd);
    const ErrorCode error = close(fd) == 0 ? kSucceeded : errno;
    ReleaseForks();
    fd = -1;
    return error;
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

// The folder of `name` opened (`system.folder`), with `system.createdName`
// set to `name` and `system.leaf` to its last component. The folder is
// opened for reading, so that it can be synced; one this caller may write
// in but not read is opened only to find things in.
ErrorCode OpenFolder(const char *name, SystemFile &system) {
    std::strcpy(system.createdName, name);
    char *const slash = std::strrchr(system.createdName, '/');
    system.leaf = slash == nullptr ? system.createdName : slash + 1;
    const char *folder = ".";
    char saved = '\0';
    if (slash == system.createdName) {
        folder = "/";
    } else if (slash != nullptr) {
        saved = *slash;
        *slash = '\0';
        folder = system.createdName;
    }
    system.folder = OpenForCall(AT_FDCWD, folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    system.folderSyncs = system.folder >= 0;
    if (system.folder < 0 && errno == EACCES)
        system.folder = OpenForCall(AT_FDCWD, folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
    const ErrorCode error = system.folder >= 0 ? kSucceeded : errno;
    if (saved != '\0') *slash = saved;
    return error;
}

// A new file without a name in the folder `name` would be in: false where
// the file system or kernel makes none (the caller then creates the name
// exclusively), with `error` where the folder refuses.
bool OpenUnnamed(const char *name, OutputFile &file, ErrorCode &error) {
    SystemFile &system = file.system;
    error = OpenFolder(name, system);
    if (error != kSucceeded) return true;
    if (system.leaf[0] != '\0') {
        system.fd = OpenForCall(system.folder, ".", O_TMPFILE | kOpenFlags);
        if (system.fd >= 0) {
            file.unnamed = file.regular = file.created = true;
            return true;
        }
        error = errno;
    }
    // (EISDIR: a kernel that predates O_TMPFILE reads it as O_DIRECTORY.)
    const bool none = system.leaf[0] == '\0' || error == EOPNOTSUPP || error == EISDIR ||
                      error == EINVAL || error == ENOSYS;
    CloseForCall(system.folder);
    if (none) error = kSucceeded;
    return !none;
}

// Whether the folder that holds the file `own` (/proc/self/fd/N) names is
// sticky (as /tmp is), or cannot be told: there the kernel refuses fopen's
// O_CREAT open of a file another user planted (protected_regular,
// protected_fifos), and so must this.
bool InStickyFolder(const char *own) {
    char folder[PATH_MAX];
    const ssize_t length = readlink(own, folder, sizeof folder - 1);
    if (length <= 0 || folder[0] != '/') return true;  // no /proc, or not a file (a pipe)
    folder[length] = '\0';
    char *const slash = std::strrchr(folder, '/');
    slash[slash == folder ? 1 : 0] = '\0';  // "/x" is in "/"
    struct stat seen {};
    return stat(folder, &seen) != 0 || (seen.st_mode & S_ISVTX) != 0;
}

enum class Reopened { kOpened, kGone, kFailed };

// Opens the file that `name` (not a dangling link) leads to now. It is
// pinned first, by a descriptor that only holds it, and reopened for
// writing through the pin (/proc/self/fd), so that the reopen can only be
// that file, never make one. Only where the file is in a sticky folder, or
// that cannot be told (no /proc), is the reopen by name with O_CREAT, as
// fopen's; if it then finds another
// file than the pin (the name went away in between and a file came back,
// made by this open or by anybody), kGone, and the caller starts afresh,
// counting no file as its own that it did not certainly make.
//
// The reopen does not wait for a FIFO's reader while forks are held
// (O_NONBLOCK); it waits after, and the descriptor is recorded when it
// comes: the one open a fork can see unrecorded.
Reopened OpenExisting(const char *name, OutputFile &file, ErrorCode &error) {
    int pin = OpenForCall(AT_FDCWD, name, O_PATH | O_CLOEXEC);
    if (pin < 0) {
        error = errno;
        return error == ENOENT ? Reopened::kGone : Reopened::kFailed;
    }
    SystemFile &system = file.system;
    char own[32];
    std::snprintf(own, sizeof own, "/proc/self/fd/%d", pin);
    const bool byName = InStickyFolder(own);
    system.fd = -1;
    if (!byName) system.fd = OpenForCall(AT_FDCWD, own, kOpenFlags | O_NONBLOCK);
    if (byName) system.fd = OpenForCall(AT_FDCWD, name, kOpenFlags | O_CREAT | O_NONBLOCK);
    if (system.fd < 0 && errno == ENXIO) {
        const int fd =
            byName ? open(name, kOpenFlags | O_CREAT, kNewFileMode) : open(own, kOpenFlags);
        const int reason = errno;
        HoldForks();
        if (fd >= 0) RecordCallFile(fd);
        ReleaseForks();
        system.fd = fd;
        errno = reason;
    }
    error = errno;
    Reopened reopened = Reopened::kFailed;
    struct stat opened {};
    struct stat pinned {};
    if (system.fd >= 0 && fstat(system.fd, &opened) == 0 && fstat(pin, &pinned) == 0) {
        file.regular = S_ISREG(opened.st_mode);
        if (!file.regular) fcntl(system.fd, F_SETFL, 0);  // written as it blocks
        reopened = SameFile(pinned, opened) ? Reopened::kOpened : Reopened::kGone;
        if (reopened == Reopened::kGone) CloseForCall(system.fd);
    } else if (system.fd >= 0) {
        error = errno;
        CloseForCall(system.fd);
    }
    CloseForCall(pin);
    return reopened;
}

}  // namespace

// A name that leads nowhere is made without a name, or where the system
// cannot, created exclusively, so that `created` is known for certain; a
// dangling symbolic link is followed by hand to the name its target is
// created under. An existing file in a sticky shared folder is opened with
// O_CREAT, as fopen's open is, so that the kernel's rules for files planted
// there (protected_regular, _fifos) apply.
ErrorCode OpenOutput(OutputFile &file) {
    SystemFile &system = file.system;
    char current[PATH_MAX];
    std::strcpy(current, file.name);  // the name is at most kOutputPathBytes long
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat seen {};
        if (lstat(current, &seen) != 0) {
            if (errno != ENOENT) return errno;
            ErrorCode error = kSucceeded;
            if (file.unnamedAllowed && OpenUnnamed(current, file, error)) return error;
            if (const ErrorCode refused = OpenFolder(current, system)) return refused;
            system.fd = OpenForCall(system.folder, system.leaf, kOpenFlags | O_CREAT | O_EXCL);
            if (system.fd >= 0) {
                file.created = file.regular = true;  // what O_CREAT makes
                return kSucceeded;
            }
            error = errno;
            CloseForCall(system.folder);
            errno = error;
            if (errno != EEXIST) return errno;
            continue;  // made meanwhile: look again
        }
        const bool dangling = S_ISLNK(seen.st_mode) && stat(current, &seen) != 0 && errno == ENOENT;
        if (!dangling) {
            ErrorCode error = kSucceeded;
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
    system.locked = locked == 0;
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

// Only if its name still names that very file, found from the folder it
// was made in: never a link put there since, never somebody else's file.
void RemoveIfCreated(OutputFile &file) {
    const SystemFile &system = file.system;
    if (!file.created || file.unnamed) return;
    struct stat now {};
    if (fstatat(system.folder, system.leaf, &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(now.st_mode) && SameFile(now, system.opened)) {
        unlinkat(system.folder, system.leaf, 0);
    }
}

// fdatasync: the data and what finds it (the length, the blocks). A file
// system with nothing to sync says EINVAL. Last, a file system that reports
// a failed write only when the file is closed (NFS) does so on the first
// close of any descriptor: a duplicate is closed, while this one can still
// undo the file.
ErrorCode SyncOutput(OutputFile &file, bool last) {
    SystemFile &system = file.system;
    if (fdatasync(system.fd) != 0 && errno != EINVAL) return errno;
    if (!last || !MayFailAtClose(system)) return kSucceeded;
    HoldForks();
    const int duplicate = fcntl(system.fd, F_DUPFD_CLOEXEC, 0);
    const ErrorCode error = duplicate < 0 || close(duplicate) == 0 ? kSucceeded : errno;
    ReleaseForks();
    return error;
}

// The whole file linked in under its name, through /proc (or, without it,
// AT_EMPTY_PATH, which needs CAP_DAC_READ_SEARCH), and the folder synced so
// that the name stays. kErrorNameTaken: the name was made meanwhile, or
// the file cannot be linked here (then the next attempt creates the name
// first).
ErrorCode NameOutput(OutputFile &file) {
    SystemFile &system = file.system;
    char own[32];
    std::snprintf(own, sizeof own, "/proc/self/fd/%d", system.fd);
    int linked = linkat(AT_FDCWD, own, system.folder, system.leaf, AT_SYMLINK_FOLLOW);
    if (linked != 0 && errno == ENOENT && access("/proc/self/fd", F_OK) != 0) {
        linked = linkat(system.fd, "", system.folder, system.leaf, AT_EMPTY_PATH);
        if (linked != 0 && (errno == ENOENT || errno == EPERM)) {
            file.unnamedAllowed = false;
            return kErrorNameTaken;
        }
    }
    if (linked != 0) return errno == EEXIST ? kErrorNameTaken : errno;
    file.unnamed = false;
    if (fstat(system.fd, &system.opened) != 0) return errno;
    if (system.folderSyncs && fsync(system.folder) != 0 && errno != EINVAL) return errno;
    return kSucceeded;
}

ErrorCode CloseOutput(OutputFile &file, bool written) {
    SystemFile &system = file.system;
    // The lock is let go first, explicitly: a copy of the descriptor in a
    // process forked meanwhile would keep it.
    if (system.locked) flock(system.fd, LOCK_UN);
    const ErrorCode closed = CloseForCall(system.fd);
    CloseForCall(system.folder);
    return written ? closed : kSucceeded;
}

}  // namespace quillox
