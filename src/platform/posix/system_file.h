// What the POSIX half of writing a whole file keeps of the file a call
// writes (see platform/output_file.h).
#pragma once

#include <climits>
#include <csignal>
#include <cstdint>

#include <sys/stat.h>

namespace quillox {

struct SystemFile {
    int fd = -1;
    int folder = -1;             // the folder a new file is made in (its name's)
    bool folderSyncs = false;    // opened for reading, so that it can be synced
    bool locked = false;         // the writers' lock taken
    char createdName[PATH_MAX];  // the name a new file is made under...
    char *leaf = nullptr;        // ...and its last component, in the folder
    struct stat opened {};       // the file as locked
    std::uint32_t magic = 0;     // its file system's statfs f_type; 0 where unknown
    std::uint64_t block = 4096;  // and block size
    sigset_t held;               // the signals held while it is written...
    sigset_t maskBefore;         // ...the thread's mask before...
    sigset_t pendingBefore;      // ...and what was pending already
};

// room.cpp: whether a failed write can first show at the close, on the file
// system ReserveRoom found the file on.
bool MayFailAtClose(const SystemFile &system);

}  // namespace quillox
