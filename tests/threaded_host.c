/* A multi-threaded host in C that forks and cancels while another thread is
   inside a call. Run as `threaded_host CASE FOLDER`; every case must end
   within its alarm, so a call that would wait for ever fails the test:
     fork-and-call  children forked mid-call make calls of their own;
     fork-and-idle  children forked mid-call that make none do not stop the
                    parent's calls to the same name;
     fork-holds-nothing  2000 children forked while a thread loops over one
                    name hold no descriptor of the call's (the file, the
                    folder it is made in, a pin);
     cancel         threads that do nothing but call, cancelled mid-call,
                    end as the call ends, leaving no descriptor or lock
                    behind, and later calls work;
     first-call     1000 times, a process forked while another thread makes
                    the library's first call of its life calls it too: no
                    set-up the first call makes (a lock, a choice of loop)
                    may be left half-done in the child. */
#define _GNU_SOURCE
#include <QuilloxWAVFrequency.h>
#include <dirent.h>
#include <pthread.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static WAVHZPathChar path[WAVHZ_MAX_NAME_BYTES + 1];
static atomic_long calls; /* calls the writer thread has finished */

static void *WriteForEver(void *unused) {
    (void)unused;
    for (;;) {
        WAVHZCreate(path, 440, 10, 1); /* the call's end, its only cancellation point */
        atomic_fetch_add(&calls, 1);
    }
    return NULL;
}

static void *FirstCall(void *unused) {
    (void)unused;
    WAVHZTryCreate(path, 440, 10, 0);
    return NULL;
}

static void Sleep(long microseconds) {
    struct timespec wait = {microseconds / 1000000, microseconds % 1000000 * 1000};
    nanosleep(&wait, NULL);
}

/* The calls the writer finishes in `microseconds`. */
static long CallsIn(long microseconds) {
    long before = atomic_load(&calls);
    Sleep(microseconds);
    return atomic_load(&calls) - before;
}

static int OpenDescriptors(void) {
    DIR *folder = opendir("/proc/self/fd");
    int count = 0;
    if (folder == NULL) return -1;
    while (readdir(folder) != NULL) ++count;
    closedir(folder);
    return count;
}

/* Whether this process has a descriptor open on something in `folder`. */
static int HoldsAnythingIn(const char *folder) {
    DIR *descriptors = opendir("/proc/self/fd");
    int holds = 0;
    if (descriptors == NULL) return 0;
    for (struct dirent *entry; !holds && (entry = readdir(descriptors)) != NULL;) {
        char target[4096];
        ssize_t length = readlinkat(dirfd(descriptors), entry->d_name, target, sizeof target - 1);
        if (length <= 0) continue;
        target[length] = '\0';
        holds = strncmp(target, folder, strlen(folder)) == 0;
    }
    closedir(descriptors);
    return holds;
}

static int Fail(const char *what) {
    fprintf(stderr, "threaded_host: %s\n", what);
    return 1;
}

int main(int argc, char **argv) {
    if (argc != 3) return Fail("usage: threaded_host CASE FOLDER");
    const char *emulator = getenv("QUILLOX_EMULATOR");
    if (emulator != NULL && strcmp(emulator, "qemu-without-fork") == 0) {
        puts("skipped: this emulator cannot fork or start threads");
        return 77;
    }
    char name[WAVHZ_MAX_NAME_BYTES + 1];
    if (snprintf(name, sizeof name, "%s/shared.wav", argv[2]) >= (int)sizeof name)
        return Fail("folder name too long");
    for (size_t n = 0; n <= strlen(name); ++n) path[n] = (unsigned char)name[n];
    alarm(20);
    pthread_t writer;

    if (strcmp(argv[1], "cancel") == 0) {
        int before = OpenDescriptors();
        for (int round = 0; round < 50; ++round) {
            if (pthread_create(&writer, NULL, WriteForEver, NULL) != 0) return Fail("no thread");
            Sleep(200 + round * 37 % 900);
            pthread_cancel(writer);
            pthread_join(writer, NULL);
        }
        if (WAVHZCreate(path, 1000, 10, 1) != WAVHZ_DONE) return Fail("no 999");
        if (OpenDescriptors() != before) return Fail("descriptors left open");
        return 0;
    }

    if (strcmp(argv[1], "first-call") == 0) {
        /* This process never calls: each child is the first caller. */
        for (int round = 0; round < 1000; ++round) {
            pid_t child = fork();
            if (child == 0) {
                if (pthread_create(&writer, NULL, FirstCall, NULL) != 0) _exit(4);
                Sleep(round % 97); /* into the thread's first call, somewhere */
                pid_t grandchild = fork();
                if (grandchild == 0) {
                    alarm(5); /* a call that waits for ever ends here */
                    _exit(WAVHZTryCreate(path, 1000, 10, 0) == WAVHZ_DONE ? 0 : 3);
                }
                int status = 0;
                waitpid(grandchild, &status, 0);
                pthread_join(writer, NULL);
                _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 5);
            }
            int status = 0;
            waitpid(child, &status, 0);
            if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
                fprintf(stderr, "threaded_host: round %d: ", round);
                return Fail("a call in a child forked during the first call did not end");
            }
        }
        return 0;
    }

    if (strcmp(argv[1], "fork-holds-nothing") == 0) {
        if (pthread_create(&writer, NULL, WriteForEver, NULL) != 0) return Fail("no thread");
        int holding = 0;
        for (int round = 0; round < 2000; ++round) {
            pid_t child = fork();
            if (child == 0) _exit(HoldsAnythingIn(argv[2]) ? 6 : 0);
            int status = 0;
            waitpid(child, &status, 0);
            holding += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        if (holding == 0) return 0;
        fprintf(stderr, "threaded_host: %d children of 2000 held a descriptor of the call's\n",
                holding);
        return 1;
    }

    int call = strcmp(argv[1], "fork-and-call") == 0;
    if (!call && strcmp(argv[1], "fork-and-idle") != 0) return Fail("no such case");
    if (pthread_create(&writer, NULL, WriteForEver, NULL) != 0) return Fail("no thread");
    pid_t children[20];
    for (int k = 0; k < 20; ++k) {
        Sleep(300 + k * 53 % 700);
        children[k] = fork();
        if (children[k] == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL); /* a child that hangs goes with the test */
            if (call) _exit(WAVHZCreate(path, 1000, 10, 1) == WAVHZ_DONE ? 0 : 3);
            pause(); /* idle, holding whatever the fork gave it, until killed */
            _exit(0);
        }
    }
    int failed = 0;
    if (!call && CallsIn(500000) == 0) failed = Fail("idle children stop the parent's calls");
    for (int k = 0; k < 20; ++k) {
        int status = 0;
        if (!call) kill(children[k], SIGKILL);
        waitpid(children[k], &status, 0);
        if (call && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
            failed = Fail("a child's own call did not end");
    }
    return failed;
}
