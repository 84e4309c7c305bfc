/* Writes tones in a child process, so that a request that fails ends the
   child and not the program that asked.

   WAVHZCreate never returns a failure: it ends the process at once with
   status 1 (not enough memory) or 2 (the file cannot be written), without
   atexit handlers or flushing stdio. A host that must carry on runs the
   call in a child, as here, and reads the child's exit status.

   Build, with the library installed where pkg-config finds it:
       cc -o in_child in_child.c $(pkg-config --cflags --libs QuilloxWAVFrequency)
   Run:
       ./in_child        writes child.wav (1 s of 1 kHz), then tries a
                         folder that does not exist and carries on

   POSIX systems only (fork and waitpid). */
#define _POSIX_C_SOURCE 200809L
#include <QuilloxWAVFrequency.h>
#include <errno.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

/* WAVHZ_DONE when the tone was written; otherwise the child's exit status
   (WAVHZ_EXIT_NO_MEMORY or WAVHZ_EXIT_CANNOT_WRITE), or -1 when there was
   no child or it was killed. */
static int WriteToneInChild(const WAVHZPathChar *path, int32_t frequencyHz, int32_t level,
                            uint32_t seconds) {
    fflush(NULL); /* what stdio holds now is written once, not by both processes */
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        WAVHZCreate(path, frequencyHz, level, seconds); /* returns only on success */
        _exit(0);
    }
    int status;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (!WIFEXITED(status)) return -1;
    return WEXITSTATUS(status) == 0 ? WAVHZ_DONE : WEXITSTATUS(status);
}

int main(void) {
    const int written = WriteToneInChild(WAVHZ_PATH("child.wav"), 1000, 10, 1);
    printf("child.wav: %s\n", written == WAVHZ_DONE ? "written" : "not written");
    const int refused = WriteToneInChild(WAVHZ_PATH("no-such-folder/child.wav"), 1000, 10, 1);
    printf("no-such-folder/child.wav: %s (status %d); carrying on\n",
           refused == WAVHZ_EXIT_CANNOT_WRITE ? "cannot be written" : "unexpected", refused);
    return written == WAVHZ_DONE && refused == WAVHZ_EXIT_CANNOT_WRITE ? 0 : 1;
}
