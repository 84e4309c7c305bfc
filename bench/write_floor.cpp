// The floor for writing a tone file (bench/write_floor.h), as a command.
//
//   write_floor OUTPUT BYTES
#include "write_floor.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: write_floor OUTPUT BYTES\n");
        return 64;
    }
    return WriteFloor(argv[1], std::strtoull(argv[2], nullptr, 10));
}
