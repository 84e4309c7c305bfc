/* Writes a tone, then asks for one that cannot be written, and carries on:
   WAVHZTryCreate returns the failure, with the reason where C functions
   leave it (errno; on Windows GetLastError()).

   Build, with the library installed where pkg-config finds it:
       cc -o carry_on carry_on.c $(pkg-config --cflags --libs QuilloxWAVFrequency)
   or on Windows against the unpacked archive Q, as link.c says.
   Run:
       ./carry_on        writes carried.wav (1 s of 1 kHz), then tries a
                         folder that does not exist, says why it could not,
                         and ends with status 0 */
#include <QuilloxWAVFrequency.h>
#include <stdio.h>
#include <string.h>
#if defined(_WIN32)
#include <windows.h>
#else
#include <errno.h>
#endif

/* Why the last WAVHZTryCreate failed, in the system's words. */
static const char *Reason(void) {
#if defined(_WIN32)
    static char text[256];
    const DWORD error = GetLastError();
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0,
                       text, sizeof text, NULL) == 0) {
        snprintf(text, sizeof text, "error %lu", (unsigned long)error);
    }
    text[strcspn(text, "\r\n")] = '\0';
    return text;
#else
    return strerror(errno);
#endif
}

/* Writes one tone; says what became of it. */
static int Write(const WAVHZPathChar *path, const char *name) {
    const int32_t status = WAVHZTryCreate(path, 1000, 10, 1);
    if (status == WAVHZ_DONE) {
        printf("%s: written\n", name);
    } else {
        /* 1: not enough memory; 2: the file cannot be written. */
        printf("%s: not written (status %d: %s); carrying on\n", name, (int)status, Reason());
    }
    return status;
}

int main(void) {
    const int written = Write(WAVHZ_PATH("carried.wav"), "carried.wav");
    const int refused =
        Write(WAVHZ_PATH("no-such-folder/carried.wav"), "no-such-folder/carried.wav");
    return written == WAVHZ_DONE && refused == WAVHZ_EXIT_CANNOT_WRITE ? 0 : 1;
}
