/* Loads the library at run time and looks WAVHZCreate up by name, as a host
   that takes plug-ins does: nothing of the library is needed to link it.

   Build (the header only, for the function's type):
       cc -o dlopen dlopen.c $(pkg-config --cflags QuilloxWAVFrequency) -ldl
   Run:
       ./dlopen [LIBRARY]   writes plugin.wav: 1 s of 1 kHz at full scale;
                            LIBRARY defaults to the installed
                            libQuilloxWAVFrequency.so.1 */
#include <QuilloxWAVFrequency.h>
#include <dlfcn.h>
#include <stdio.h>

/* The exported function's type, spelled from the header's declaration. */
typedef int32_t (*CreateFunction)(const WAVHZPathChar *, int32_t, int32_t, uint32_t);

int main(int argc, char **argv) {
    const char *library = argc > 1 ? argv[1] : "libQuilloxWAVFrequency.so.1";
    /* Loading runs the library's attach sequence; dlclose its detach. */
    void *handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (handle == NULL) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        return 1;
    }
    CreateFunction create;
    /* POSIX's way to turn the object pointer dlsym returns into a function
       pointer. */
    *(void **)&create = dlsym(handle, "WAVHZCreate");
    if (create == NULL) {
        fprintf(stderr, "dlsym: %s\n", dlerror());
        dlclose(handle);
        return 1;
    }
    const int32_t result = create(WAVHZ_PATH("plugin.wav"), 1000, 10, 1);
    dlclose(handle);
    if (result != WAVHZ_DONE) return 1;
    printf("plugin.wav written\n");
    return 0;
}
