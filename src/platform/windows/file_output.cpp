// Writing a whole file, on Windows.
//
// The file is opened as "wb" would open it (created if absent), but without
// truncating it: the open itself says whether this call created it, and
// only such a file is ever deleted, through this very handle. Writers of
// one name through this library take turns (a lock on a byte far past any
// data, so that readers are not shut out). The room for the whole file is
// checked and reserved before a byte changes, so a full disk or a quota
// leaves an existing file as it was; a failure nobody could foresee empties
// it. The old header's place is cleared before the length changes, the
// length is settled before the new header is written, and the header comes
// last: a writer stopped anywhere leaves a file that does not start as a
// complete one. Devices such as NUL or CON are written as they are, in
// order, and never emptied or deleted.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "platform/platform.h"

namespace quillox {
namespace {

// Where the writers' lock lies: one byte at the largest offset, past any
// file's data, so that it shuts out no reader or writer of the contents.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFE;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
constexpr int kMaxReopens = 40;             // names that keep leading elsewhere: give up
constexpr DWORD kDiskQuotaExceeded = 1295;  // ERROR_DISK_QUOTA_EXCEEDED, which MinGW lacks

// GetLastError as it was, after calls made only to clean up.
class KeepLastError {
public:
    KeepLastError() : error_(GetLastError()) {}
    ~KeepLastError() { SetLastError(error_); }
    KeepLastError(const KeepLastError &) = delete;
    KeepLastError &operator=(const KeepLastError &) = delete;

private:
    DWORD error_;
};

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

// Writes `count` bytes at `offset`, or, with `offset` -1, where the handle
// stands (a device or a pipe).
bool WriteAll(HANDLE handle, const std::uint8_t *bytes, std::size_t count, long long offset) {
    while (count > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(static_cast<unsigned long long>(offset) >> 32);
        DWORD written = 0;
        if (!WriteFile(handle, bytes, chunk, &written, offset < 0 ? nullptr : &at)) return false;
        if (written == 0) {
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        bytes += written;
        count -= written;
        if (offset >= 0) offset += written;
    }
    return true;
}

bool SetLength(HANDLE handle, long long length) {
    LARGE_INTEGER at{};
    at.QuadPart = length;
    return SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
}

// Room for `total` bytes in the file `handle` (now `size` bytes) on the
// volume of `name`, before any byte of it changes: the clusters the new
// length takes beyond those the file has must be free for this user (its
// quota counted), and are then reserved where the file system can (the
// allocation size, which leaves the length as it is).
bool ReserveRoom(const char *name, HANDLE handle, long long size, unsigned long long total) {
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
            const unsigned long long held = clustersOf(static_cast<unsigned long long>(size));
            const unsigned long long needed = clustersOf(total);
            if (needed > held && (needed - held) * cluster > available.QuadPart) {
                SetLastError(ERROR_DISK_FULL);
                return false;
            }
        }
    }
    FILE_ALLOCATION_INFO allocation{};
    allocation.AllocationSize.QuadPart = static_cast<long long>(total);
    if (!SetFileInformationByHandle(handle, FileAllocationInfo, &allocation, sizeof allocation)) {
        const DWORD error = GetLastError();
        // A file system that cannot allocate ahead relies on the count above.
        if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ||
            error == kDiskQuotaExceeded) {
            return false;
        }
    }
    return true;
}

// Writes the pieces as the whole contents of the disk file `handle`, now
// `size` bytes long: the old first piece's place cleared, the new length
// set, every piece from the last to the first at its own offset, the first
// piece (the header) last.
bool WriteHeaderLast(HANDLE handle, long long size, const FilePiece *pieces, std::size_t pieceCount,
                     unsigned long long total) {
    static constexpr std::uint8_t kZeros[64] = {};
    if (pieceCount == 0) return SetLength(handle, 0);
    const auto clear = static_cast<std::size_t>(
        std::min<unsigned long long>(static_cast<unsigned long long>(size), pieces[0].count));
    for (std::size_t cleared = 0; cleared < clear; cleared += sizeof kZeros) {
        const std::size_t count = std::min(sizeof kZeros, clear - cleared);
        if (!WriteAll(handle, kZeros, count, static_cast<long long>(cleared))) return false;
    }
    if (static_cast<unsigned long long>(size) != total &&
        !SetLength(handle, static_cast<long long>(total))) {
        return false;
    }
    auto end = static_cast<long long>(total);
    for (std::size_t k = pieceCount; k-- > 0;) {
        end -= static_cast<long long>(pieces[k].count);
        if (!WriteAll(handle, pieces[k].bytes, pieces[k].count, end)) return false;
    }
    return true;
}

// Deletes the file `handle` has open: that very file, whatever its name
// leads to by now.
void DeleteOpenedFile(HANDLE handle) {
    const KeepLastError keep;
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
}

// The whole of WriteWholeFile: false, with GetLastError saying why, on
// failure.
bool WriteFileOnce(const char *name, const FilePiece *pieces, std::size_t pieceCount) {
    // Not inherited: a host starting a program on another thread while a
    // tone is written must not hand it our handle.
    SECURITY_ATTRIBUTES notInherited{sizeof notInherited, nullptr, FALSE};
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool created = false;
    bool disk = false;
    OVERLAPPED lock{};
    lock.Offset = kLockOffsetLow;
    lock.OffsetHigh = kLockOffsetHigh;
    for (int attempt = 0;; ++attempt) {
        // DELETE, so that a file this call creates can be deleted through
        // the handle; an existing file that grants no DELETE is opened
        // without it (this call did not create it, so never deletes it).
        for (const DWORD access : {DWORD{GENERIC_WRITE | DELETE}, DWORD{GENERIC_WRITE}}) {
            handle = CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, &notInherited,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            created = handle != INVALID_HANDLE_VALUE && GetLastError() != ERROR_ALREADY_EXISTS;
            if (handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED) break;
        }
        if (handle == INVALID_HANDLE_VALUE) return false;
        disk = GetFileType(handle) == FILE_TYPE_DISK;
        if (!disk) break;
        // Another writer may have had the name until now, and removed it.
        LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lock);
        if (NameLeadsTo(name, handle)) break;
        CloseHandle(handle);
        if (attempt == kMaxReopens) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return false;
        }
    }
    unsigned long long total = 0;
    for (std::size_t k = 0; k < pieceCount; ++k) total += pieces[k].count;
    if (!disk) {
        bool written = true;
        for (std::size_t k = 0; written && k < pieceCount; ++k)
            written = WriteAll(handle, pieces[k].bytes, pieces[k].count, -1);
        const KeepLastError keep;
        CloseHandle(handle);
        return written;
    }
    LARGE_INTEGER size{};
    GetFileSizeEx(handle, &size);
    // A file made by this call that another writer has filled since is
    // that writer's now.
    if (created && size.QuadPart != 0) created = false;
    if (!ReserveRoom(name, handle, size.QuadPart, total)) {
        // Nothing of the file has changed.
        const KeepLastError keep;
        if (created) DeleteOpenedFile(handle);
        CloseHandle(handle);
        return false;
    }
    if (!WriteHeaderLast(handle, size.QuadPart, pieces, pieceCount, total)) {
        const KeepLastError keep;
        SetLength(handle, 0);
        if (created) DeleteOpenedFile(handle);
        CloseHandle(handle);
        return false;
    }
    // The lock goes with the handle.
    return CloseHandle(handle) != 0;
}

}  // namespace

ErrorCode WriteWholeFile(const char *name, const FilePiece *pieces, std::size_t pieceCount) {
    SetLastError(ERROR_SUCCESS);
    if (WriteFileOnce(name, pieces, pieceCount)) return kSucceeded;
    const DWORD error = GetLastError();  // (every failing step sets it)
    return error != ERROR_SUCCESS ? static_cast<ErrorCode>(error) : ERROR_WRITE_FAULT;
}

}  // namespace quillox
