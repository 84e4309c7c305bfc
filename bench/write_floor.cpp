// The floor for writing a tone file: what any program must do to write a
// file of that size built in memory. Allocates the buffer as the library
// does (2 MiB aligned, huge pages asked for), touches every byte once and
// writes it with one write.
//
//   write_floor OUTPUT BYTES
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: write_floor OUTPUT BYTES\n");
        return 64;
    }
    const std::size_t bytes = std::strtoull(argv[2], nullptr, 10);
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    auto *buffer = static_cast<unsigned char *>(std::aligned_alloc(kHugePage, rounded));
    if (buffer == nullptr) return 1;
    madvise(buffer, rounded, MADV_HUGEPAGE);
    std::memset(buffer, 0x5A, bytes);
    const int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) return 2;
    for (std::size_t done = 0; done < bytes;) {
        const ssize_t n = write(fd, buffer + done, bytes - done);
        if (n <= 0) return 2;
        done += static_cast<std::size_t>(n);
    }
    return close(fd) == 0 ? 0 : 2;
}
