/* Writes a tone by calling the library it was linked with.

   Build, with the library installed where pkg-config finds it:
       cc -o link link.c $(pkg-config --cflags --libs QuilloxWAVFrequency)
   Run:
       ./link            writes a440.wav: 2 s of 440 Hz at full scale

   The same file builds on Windows against the unpacked archive Q
   (QuilloxWAVFrequency-VERSION-win64, or -win32), WAVHZ_PATH making the
   path literal of each platform's type:
       cl /I Q\include link.c Q\lib\QuilloxWAVFrequency.lib           (MSVC)
       gcc -IQ\include link.c -LQ\lib -lQuilloxWAVFrequency -o link.exe (MinGW-w64)
       x86_64-w64-mingw32-gcc $(PKG_CONFIG_LIBDIR=Q/lib/pkgconfig \
           pkg-config --cflags --libs QuilloxWAVFrequency) ...      (from Linux)
   with Q\bin\*.dll copied beside link.exe. */
#include <QuilloxWAVFrequency.h>
#include <stdio.h>

int main(void) {
    /* 440 Hz, level 10 (amplitude 1, full scale), 2 seconds. */
    if (WAVHZCreate(WAVHZ_PATH("a440.wav"), 440, 10, 2) != WAVHZ_DONE) return 1;
    /* Only reached on success: a request that fails ends the process with
       status 1 (no memory) or 2 (cannot write the file). */
    printf("a440.wav: %llu bytes\n", (unsigned long long)WAVHZ_FILE_BYTES(2));
    return 0;
}
