/* Loads QuilloxWAVFrequency.dll at run time and looks WAVHZCreate up by its
   plain name, as Windows hosts that take plug-ins do.

   Build with MinGW-w64 (64- or 32-bit), the header only:
       x86_64-w64-mingw32-gcc -municode -o load_library.exe load_library.c -I include
   or with MSVC:
       cl /I include load_library.c
   Put it beside QuilloxWAVFrequency.dll and QuilloxAppFramework.dll, and run
   it (on Linux, under Wine: wine load_library.exe):
       load_library.exe     writes windows.wav: 1 s of 1 kHz at full scale */
#include <QuilloxWAVFrequency.h>
#include <stdio.h>
#include <windows.h>

/* The exported function's type: a plain C function (cdecl on 32-bit
   Windows), as the header declares it. */
typedef int32_t (*CreateFunction)(const WAVHZPathChar *, int32_t, int32_t, uint32_t);

int wmain(void) {
    /* The DLL, and the framework DLL it imports, from this program's own
       folder or Windows' own: never from the working directory, where
       anyone's DLL of that name could be found first. Loading runs the
       DLL's attach sequence; a refused framework makes the load fail.
       FreeLibrary runs the detach sequence. */
    HMODULE library =
        LoadLibraryExW(L"QuilloxWAVFrequency.dll", NULL,
                       LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library == NULL) {
        fprintf(stderr, "LoadLibraryExW failed: error %lu\n", GetLastError());
        return 1;
    }
    CreateFunction create = (CreateFunction)(void (*)(void))GetProcAddress(library, "WAVHZCreate");
    if (create == NULL) {
        fprintf(stderr, "GetProcAddress failed: error %lu\n", GetLastError());
        FreeLibrary(library);
        return 1;
    }
    /* A wide-character path: the library converts it to the ANSI code page
       and refuses a name that has no exact form there (status 2). */
    const int32_t result = create(L"windows.wav", 1000, 10, 1);
    FreeLibrary(library);
    if (result != WAVHZ_DONE) return 1;
    printf("windows.wav written\n");
    return 0;
}
