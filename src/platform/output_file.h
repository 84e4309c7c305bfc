// Writing a whole file: the sequence once (write_whole_file.cpp), over what
// each system gives it (output_file.cpp of posix/ and windows/; the room on
// Linux in posix/room.cpp). Each step returns kSucceeded or the system's
// reason; none ends anything it was not given.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"
#if defined(_WIN32)
#include "platform/windows/system_file.h"
#else
#include "platform/posix/system_file.h"
#endif

namespace quillox {

// The file a call writes, as opened.
struct OutputFile {
    const char *name = nullptr;  // as the caller gave it
    bool regular = false;        // a regular file, not a device, FIFO or pipe
    bool created = false;        // this call made it: removed again on failure
    bool unnamed = false;        // made without a name, named once whole (NameOutput)
    bool unnamedAllowed = true;  // whether OpenOutput may make it so
    std::uint64_t size = 0;      // its length once locked
    SystemFile system;           // the system's own record of it
};

// The writes that make the file, in the order they are made: a piece at an
// offset, or zeros where `bytes` is null. The first clears the old header's
// place; then, where the file is longer than the new one, its length is
// cut to `total`; then every piece from the last to the first, the header
// last. The room a file system needs is counted from this plan
// (ReserveRoom), so that the count follows the writes. A file others can
// see while it is written (`ordered`) is synced where the order must hold
// on disk too, a power cut included: after the header's place is cleared,
// and before the header is written.
struct PlannedWrite {
    const std::uint8_t *bytes;
    std::size_t count;
    std::uint64_t offset;
};
struct WritePlan {
    static constexpr std::size_t kMaxWrites = 8;
    PlannedWrite writes[kMaxWrites];
    std::size_t count = 0;
    std::size_t cutAfter = 0;  // the length is cut after this many writes...
    bool cut = false;          // ...where the old file is longer
    bool ordered = true;       // synced between the steps above
    std::uint64_t total = 0;   // the new length
};

// Opens `file.name` for writing as "wb" would, following links, but
// without truncating it. Where the name leads nowhere, the new file is made
// without a name where the system can (`unnamed`: written whole, then
// named), else created exclusively, so that `created` is certain.
ErrorCode OpenOutput(OutputFile &file);
// Takes the writers' lock on the regular file opened and settles `size`;
// `stillNamed` false when the name no longer leads to it (another writer
// removed it meanwhile: the caller opens afresh). A created file found no
// longer empty is another writer's now: `created` is cleared.
ErrorCode LockOutput(OutputFile &file, bool &stillNamed);
// Around every write: what must hold while the file is written (on POSIX
// systems, SIGXFSZ and SIGPIPE held, so that a write fails instead).
void BeginWrites(OutputFile &file);
void EndWrites(OutputFile &file, ErrorCode failure);
// Room for the whole plan before any byte changes: reserved where the file
// system can, otherwise counted against the free space.
ErrorCode ReserveRoom(OutputFile &file, const WritePlan &plan);
// Writes `count` bytes (zeros where `bytes` is null) at `offset` of the
// regular file; or, with `inOrder`, where the file stands (a pipe, a
// device).
ErrorCode WriteAt(OutputFile &file, const std::uint8_t *bytes, std::size_t count,
                  std::uint64_t offset, bool inOrder = false);
ErrorCode SetLength(OutputFile &file, std::uint64_t length);
// What is written so far on disk. `last`: also any failure the file system
// would report only when the file is closed (NFS), while the call can still
// undo the file.
ErrorCode SyncOutput(OutputFile &file, bool last);
// The unnamed file, whole and synced, given its name, which then stays on
// disk. kErrorNameTaken where another made the name meanwhile (or it cannot
// be named here): the file is dropped and the call begins again, writing
// the file now named as an existing one.
extern const ErrorCode kErrorNameTaken;
ErrorCode NameOutput(OutputFile &file);
// After a failure nobody could foresee: the file emptied (whatever its
// folder allows), and a file this call created removed by a path that
// cannot lead elsewhere.
void EmptyOutput(OutputFile &file);
void RemoveIfCreated(OutputFile &file);
// Closes the file, its lock with it; `written`: the close's own failure is
// the call's.
ErrorCode CloseOutput(OutputFile &file, bool written);

}  // namespace quillox
