// Writing a whole file, the same on every system (see output_file.h).
//
// The file is opened as "wb" would open it, but not truncated, and locked
// against other writers of the name; the name is checked to lead to it
// still. A regular file first gets room for the whole tone, so that a full
// disk or a file-size limit leaves an existing file as it was and removes a
// file this call created. Only then does a byte change: the old header's
// place cleared, a longer file cut to the new length, the pieces from the
// last to the first, the header last, so that a writer stopped anywhere
// leaves a file that does not start as a complete one, and with syncs
// between, so does a power cut. A new file is made whole before it has a
// name where the system can. A failure after that, which nobody could
// foresee, empties the file. Devices, FIFOs and
// pipes are written as they are, in order, never locked, cut or removed.
#include <algorithm>

#include "platform/output_file.h"
#include "platform/platform.h"

namespace quillox {
namespace {

constexpr int kMaxReopens = 40;  // names that keep leading elsewhere: give up

WritePlan PlanWrites(std::uint64_t size, const FilePiece *pieces, std::size_t pieceCount) {
    WritePlan plan;
    for (std::size_t k = 0; k < pieceCount; ++k) plan.total += pieces[k].count;
    const auto add = [&plan](const std::uint8_t *bytes, std::size_t count, std::uint64_t offset) {
        plan.writes[plan.count++] = {bytes, count, offset};
    };
    if (pieceCount > 0 && size > 0)
        add(nullptr, static_cast<std::size_t>(std::min<std::uint64_t>(size, pieces[0].count)), 0);
    plan.cut = size > plan.total;
    plan.cutAfter = plan.count;
    std::uint64_t end = plan.total;
    for (std::size_t k = pieceCount; k-- > 0;) {
        end -= pieces[k].count;
        add(pieces[k].bytes, pieces[k].count, end);
    }
    return plan;
}

// The plan carried out, synced where its order must hold on disk and at
// the end, so that a tone is on disk when the call returns; the first
// failure's reason.
ErrorCode Carry(OutputFile &file, const WritePlan &plan) {
    for (std::size_t k = 0; k <= plan.count; ++k) {
        if (k == plan.cutAfter) {
            // The cleared header on disk before the length or a sample changes.
            if (plan.ordered && k > 0)
                if (const ErrorCode error = SyncOutput(file, false)) return error;
            if (plan.cut)
                if (const ErrorCode error = SetLength(file, plan.total)) return error;
        }
        if (k == plan.count) break;
        // Every sample on disk before the header.
        if (plan.ordered && k + 1 == plan.count && k > plan.cutAfter)
            if (const ErrorCode error = SyncOutput(file, false)) return error;
        const PlannedWrite &write = plan.writes[k];
        if (const ErrorCode error = WriteAt(file, write.bytes, write.count, write.offset))
            return error;
    }
    return SyncOutput(file, true);
}

// Where a write fails after the room was had, which nobody could foresee:
// the file emptied and, if this call made it, removed (while the lock is
// held, the name is still this call's file).
ErrorCode Undo(OutputFile &file, ErrorCode error) {
    EmptyOutput(file);
    RemoveIfCreated(file);
    CloseOutput(file, false);
    return error;
}

}  // namespace

ErrorCode WriteWholeFile(const char *name, const FilePiece *pieces, std::size_t pieceCount) {
    if (pieceCount + 1 > WritePlan::kMaxWrites) return kErrorNoMemory;
    OutputFile file;
    for (int attempt = 0;; ++attempt) {
        if (attempt > kMaxReopens) return kErrorNameKeepsMoving;
        const bool unnamedAllowed = file.unnamedAllowed;
        file = OutputFile{};
        file.name = name;
        file.unnamedAllowed = unnamedAllowed;
        if (const ErrorCode error = OpenOutput(file)) return error;
        if (!file.regular) break;
        if (file.unnamed) {
            // Nobody sees it until it is named: no lock, no order on disk.
            WritePlan plan = PlanWrites(0, pieces, pieceCount);
            plan.ordered = false;
            BeginWrites(file);
            ErrorCode error = ReserveRoom(file, plan);
            if (error == kSucceeded) error = Carry(file, plan);
            EndWrites(file, error);
            if (error == kSucceeded) error = NameOutput(file);
            if (error == kErrorNameTaken) {
                CloseOutput(file, false);
                continue;
            }
            if (error != kSucceeded) return Undo(file, error);
            return CloseOutput(file, true);
        }
        bool stillNamed = false;
        const ErrorCode locked = LockOutput(file, stillNamed);
        if (locked != kSucceeded) {
            CloseOutput(file, false);
            return locked;
        }
        if (stillNamed) break;
        CloseOutput(file, false);  // the name leads elsewhere now: open afresh
    }

    BeginWrites(file);
    ErrorCode error = kSucceeded;
    if (!file.regular) {
        for (std::size_t k = 0; error == kSucceeded && k < pieceCount; ++k)
            error = WriteAt(file, pieces[k].bytes, pieces[k].count, 0, /*inOrder=*/true);
        EndWrites(file, error);
        const ErrorCode closed = CloseOutput(file, error == kSucceeded);
        return error != kSucceeded ? error : closed;
    }
    const WritePlan plan = PlanWrites(file.size, pieces, pieceCount);
    error = ReserveRoom(file, plan);
    if (error != kSucceeded) {
        // Nothing of the file has changed yet.
        EndWrites(file, error);
        RemoveIfCreated(file);
        CloseOutput(file, false);
        return error;
    }
    error = Carry(file, plan);
    EndWrites(file, error);
    if (error != kSucceeded) return Undo(file, error);
    return CloseOutput(file, true);
}

}  // namespace quillox
