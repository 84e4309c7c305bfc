// The Windows half of writing a whole file (see platform/output_file.h).
//
// The file is opened as "wb" would open it (created if absent), but without
// truncating it: created exclusively first (CREATE_NEW), so that whether
// this call made it is certain, and only such a file is ever deleted,
// through this very handle. Every open shares reading, writing and
// deleting, and only a file this call made is opened with DELETE access,
// so that writers of one name through this library take turns (a lock on
// a byte far past any data) and readers of an existing file are not shut
// out. Devices such as NUL or CON are
// written as they are, in order, and never emptied or deleted.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "platform/output_file.h"

namespace quillox {

const ErrorCode kErrorNameTaken = ERROR_FILE_EXISTS;

namespace {

// Where the writers' lock lies: one byte at the largest offset, past any
// file's data, so that it shuts out no reader or writer of the contents.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFE;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
constexpr DWORD kDiskQuotaExceeded = 1295;  // ERROR_DISK_QUOTA_EXCEEDED, which MinGW lacks

ErrorCode LastError() { return static_cast<ErrorCode>(GetLastError()); }

bool SameFile(const BY_HANDLE_FILE_INFORMATION &a, const BY_HANDLE_FILE_INFORMATION &b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

// Whether `name` still leads to the file `handle` has open.
bool NameLeadsTo(const char *name, HANDLE handle) {
    const HANDLE named =
        CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    const bool same = GetFileInformationByHandle(named, &a) &&
                      GetFileInformationByHandle(handle, &b) && SameFile(a, b);
    CloseHandle(named);
    return same;
}

}  // namespace

ErrorCode OpenOutput(OutputFile &file) {
    // Not inherited: a host starting a program on another thread while a
    // tone is written must not hand it our handle.
    SECURITY_ATTRIBUTES notInherited{sizeof notInherited, nullptr, FALSE};
    HANDLE &handle = file.system.handle;
    constexpr DWORD kShared = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    constexpr int kMaxOpens = 40;  // a name made and removed over and over: give up
    for (int open = 0; handle == INVALID_HANDLE_VALUE; ++open) {
        if (open == kMaxOpens) return kErrorNameKeepsMoving;
        // DELETE, so that a file this call creates can be deleted through
        // the handle.
        handle = CreateFileA(file.name, GENERIC_WRITE | DELETE, kShared, &notInherited, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        file.created = handle != INVALID_HANDLE_VALUE;
        if (file.created) break;
        const DWORD notMade = GetLastError();  // there already, or a device, or refused
        handle = CreateFileA(file.name, GENERIC_WRITE, kShared, &notInherited, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) break;
        const bool removedMeanwhile =
            GetLastError() == ERROR_FILE_NOT_FOUND &&
            (notMade == ERROR_FILE_EXISTS || notMade == ERROR_ALREADY_EXISTS);
        if (!removedMeanwhile)
            return GetLastError() == ERROR_FILE_NOT_FOUND ? static_cast<ErrorCode>(notMade)
                                                          : LastError();
    }
    file.regular = GetFileType(handle) == FILE_TYPE_DISK;
    return kSucceeded;
}

// Another writer may have had the name until now, and removed it.
ErrorCode LockOutput(OutputFile &file, bool &stillNamed) {
    SystemFile &system = file.system;
    system.lock.Offset = kLockOffsetLow;
    system.lock.OffsetHigh = kLockOffsetHigh;
    LockFileEx(system.handle, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &system.lock);
    stillNamed = NameLeadsTo(file.name, system.handle);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(system.handle, &size)) return LastError();
    file.size = static_cast<std::uint64_t>(size.QuadPart);
    if (file.created && file.size != 0) file.created = false;
    return kSucceeded;
}

// Nothing on Windows raises a signal instead of failing a write.
void BeginWrites(OutputFile &) {}
void EndWrites(OutputFile &, ErrorCode) {}

// Room for the plan's `total` bytes in the file (now `size` bytes) on the
// volume of its name, before any byte of it changes: the clusters the new
// length takes beyond those the file has must be free for this user (its
// quota counted), and are then reserved where the file system can (the
// allocation size, which leaves the length as it is). Under Wine the
// allocation reserves nothing on the Unix file system below, which may copy
// a file as it is overwritten (btrfs, a reflinked copy on XFS): there the
// whole new length is counted, and the header's cluster twice more (it is
// written three times).
ErrorCode ReserveRoom(OutputFile &file, const WritePlan &plan) {
    const char *const name = file.name;
    const HANDLE handle = file.system.handle;
    const unsigned long long size = file.size;
    const unsigned long long total = plan.total;
    char folder[MAX_PATH];
    const DWORD length = GetFullPathNameA(name, MAX_PATH, folder, nullptr);
    char *const slash = length > 0 && length < MAX_PATH ? std::strrchr(folder, '\\') : nullptr;
    ULARGE_INTEGER available{};
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
    if (slash != nullptr) {
        slash[1] = '\0';
        if (GetDiskFreeSpaceExA(folder, &available, nullptr, nullptr)) {
            unsigned long long cluster = 4096;
            if (GetDiskFreeSpaceA(folder, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                                  &clusters) &&
                sectorsPerCluster * bytesPerSector != 0) {
                cluster = 1ull * sectorsPerCluster * bytesPerSector;
            }
            const auto clustersOf = [cluster](unsigned long long bytes) {
                return (bytes + cluster - 1) / cluster;
            };
            const bool underWine =
                GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
            const unsigned long long held = underWine ? 0 : clustersOf(size);
            const unsigned long long needed = clustersOf(total) + (underWine ? 2 : 0);
            if (needed > held && (needed - held) * cluster > available.QuadPart)
                return ERROR_DISK_FULL;
        }
    }
    FILE_ALLOCATION_INFO allocation{};
    allocation.AllocationSize.QuadPart = static_cast<long long>(total);
    if (!SetFileInformationByHandle(handle, FileAllocationInfo, &allocation, sizeof allocation)) {
        const DWORD error = GetLastError();
        // A file system that cannot allocate ahead relies on the count above.
        if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ||
            error == kDiskQuotaExceeded) {
            return static_cast<ErrorCode>(error);
        }
    }
    return kSucceeded;
}

ErrorCode WriteAt(OutputFile &file, const std::uint8_t *bytes, std::size_t count,
                  std::uint64_t offset, bool inOrder) {
    static constexpr std::uint8_t kZeros[64] = {};
    while (count > 0) {
        const std::size_t most = bytes != nullptr ? std::size_t{1} << 30 : sizeof kZeros;
        const DWORD chunk = static_cast<DWORD>(std::min(count, most));
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD written = 0;
        if (!WriteFile(file.system.handle, bytes != nullptr ? bytes : kZeros, chunk, &written,
                       inOrder ? nullptr : &at)) {
            return LastError();
        }
        if (written == 0) return ERROR_DISK_FULL;
        if (bytes != nullptr) bytes += written;
        count -= written;
        offset += written;
    }
    return kSucceeded;
}

ErrorCode SetLength(OutputFile &file, std::uint64_t length) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<long long>(length);
    return SetFilePointerEx(file.system.handle, at, nullptr, FILE_BEGIN) &&
                   SetEndOfFile(file.system.handle)
               ? kSucceeded
               : LastError();
}

void EmptyOutput(OutputFile &file) { static_cast<void>(SetLength(file, 0)); }

// That very file, through the handle, whatever its name leads to by now.
void RemoveIfCreated(OutputFile &file) {
    if (!file.created) return;
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    SetFileInformationByHandle(file.system.handle, FileDispositionInfo, &disposition,
                               sizeof disposition);
}

ErrorCode SyncOutput(OutputFile &file, bool) {
    return FlushFileBuffers(file.system.handle) ? kSucceeded : LastError();
}

// Windows makes no file without a name: OpenOutput never leaves one so.
ErrorCode NameOutput(OutputFile &) { return kErrorNameTaken; }

// The lock goes with the handle.
ErrorCode CloseOutput(OutputFile &file, bool written) {
    const bool closed = CloseHandle(file.system.handle) != 0;
    file.system.handle = INVALID_HANDLE_VALUE;
    return closed || !written ? kSucceeded : LastError();
}

}  // namespace quillox
