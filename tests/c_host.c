/* A host written in C: includes the public header as C11 and links the
   shared library. Writes a one second tone to argv[1] and checks what it
   got. */
#include <QuilloxWAVFrequency.h>
#include <stdio.h>
#include <stdlib.h>

/* A path literal of the platform's type, as the header's example writes it. */
static const WAVHZPathChar kExample[] = WAVHZ_PATH("tone.wav");
_Static_assert(sizeof kExample / sizeof kExample[0] == 9, "WAVHZ_PATH gives UTF-16 units");
_Static_assert(WAVHZ_MAX_SECONDS == 48695 && WAVHZ_MAX_NAME_BYTES == 199, "the limits");
_Static_assert(WAVHZ_FILE_BYTES(1) == 88244 && WAVHZ_FILE_BYTES(WAVHZ_MAX_SECONDS) < 4294967296u,
               "the file's length, without wrapping");

int main(int argc, char **argv) {
    if (argc != 2) return 3;
    /* The file name arrives as UTF-8 bytes; ASCII widens unit for unit. */
    WAVHZPathChar path[WAVHZ_MAX_NAME_BYTES + 1];
    size_t n = 0;
    for (; argv[1][n] != '\0' && n + 1 < sizeof path / sizeof path[0]; ++n) {
        path[n] = (unsigned char)argv[1][n];
    }
    path[n] = 0;
    if (kExample[0] != 't') return 3;

    if (WAVHZCreate(path, 440, 10, 1) != WAVHZ_DONE) return 4;
    FILE *file = fopen(argv[1], "rb");
    if (file == NULL || fseek(file, 0, SEEK_END) != 0) return 5;
    long size = ftell(file);
    fclose(file);
    printf("%s: %ld bytes\n", argv[1], size);
    return (uint64_t)size == WAVHZ_FILE_BYTES(1) ? EXIT_SUCCESS : 6;
}
