// The floor for writing a tone file: what any program must do to write a
// file of that size built in memory. Allocates the buffer as the library
// does (2 MiB aligned and huge pages asked for, from 2 MiB on), touches every
// byte once and writes it with one write. Shared by bench/write_floor.cpp
// (the command bench/compare_tools.py times) and the benchmark.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

// 0 when written, 1 when the buffer cannot be had, 2 when the file cannot
// be written.
inline int WriteFloor(const char *path, std::size_t bytes) {
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    const bool large = bytes >= kHugePage;
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    auto *const buffer = static_cast<unsigned char *>(large ? std::aligned_alloc(kHugePage, rounded)
                                                            : std::malloc(bytes));
    if (buffer == nullptr) return 1;
    if (large) madvise(buffer, rounded, MADV_HUGEPAGE);
    std::memset(buffer, 0x5A, bytes);
    int status = 2;
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd >= 0) {
        std::size_t done = 0;
        for (ssize_t n = 0; done < bytes && (n = write(fd, buffer + done, bytes - done)) > 0;)
            done += static_cast<std::size_t>(n);
        status = close(fd) == 0 && done == bytes ? 0 : 2;
    }
    std::free(buffer);
    return status;
}
