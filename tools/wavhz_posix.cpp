// wavhz on POSIX systems: the request runs in this process, through
// WAVHZTryCreate, as in any host of the library.
//
// OUTPUT - (standard output) goes one of two ways. A regular file opened
// at its start and not for appending (`> tone.wav`, `1<> tone.wav`) is
// written as the library writes any file, under /dev/stdout: its room
// checked before a byte changes, the header last. Anything else (a pipe, a
// device, `>>`, a file written at an offset) takes the tone in order, as
// from any filter: the library writes it into a pipe of ours, on a thread
// of ours, and this thread copies it on.
#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "wavhz_platform.h"

namespace quillox::wavhz {

const char kStandardOutput[] = "/dev/stdout";
const bool kBackslashEscaped = true;

namespace {

// The pipe's write end as a name the library can open, and what became
// of the request on the writing thread.
struct InOrder {
    const ToneRequest *request;
    std::basic_string<WAVHZPathChar> pipe;
    int writeEnd;
    std::int32_t status = 0;
    int error = 0;
};

void *WriteIntoPipe(void *argument) {
    auto &job = *static_cast<InOrder *>(argument);
    job.status = WAVHZTryCreate(job.pipe.c_str(), job.request->frequencyHz, job.request->level,
                                job.request->seconds);
    job.error = errno;
    close(job.writeEnd);  // the copy sees the end of the tone
    return nullptr;
}

// Writes `count` bytes where standard output stands. False, with errno.
bool WriteOut(const char *bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t put = write(STDOUT_FILENO, bytes, count);
        if (put < 0 && errno == EINTR) continue;
        if (put == 0) errno = ENOSPC;
        if (put <= 0) return false;
        bytes += put;
        count -= static_cast<std::size_t>(put);
    }
    return true;
}

// The tone, in order, to wherever standard output stands. A reader that
// went away ends this process by SIGPIPE, as it ends other filters; a write
// past the file-size limit fails (EFBIG) rather than ending it by SIGXFSZ.
std::int32_t CopyInOrder(const ToneRequest &request, std::string &why) {
    const auto fail = [&why](int error) {
        why = std::strerror(error);
        return WAVHZ_EXIT_CANNOT_WRITE;
    };
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return fail(errno);
    const std::string name = "/dev/fd/" + std::to_string(ends[1]);
    InOrder job{&request, {name.begin(), name.end()}, ends[1]};
    // SIGXFSZ held for the copying thread (the writer's is the library's to
    // hold): the thread is made with this mask, so it is set before.
    sigset_t fileSize, before;
    sigemptyset(&fileSize);
    sigaddset(&fileSize, SIGXFSZ);
    pthread_sigmask(SIG_BLOCK, &fileSize, &before);
    pthread_t writer;
    if (const int error = pthread_create(&writer, nullptr, WriteIntoPipe, &job); error != 0) {
        close(ends[0]);
        close(ends[1]);
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        return fail(error);
    }
    int copyError = 0;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = read(ends[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        if (!WriteOut(buffer, static_cast<std::size_t>(got))) {
            copyError = errno;
            break;
        }
    }
    close(ends[0]);  // a writer still writing fails with EPIPE
    pthread_join(writer, nullptr);
    // A SIGXFSZ our own write raised is taken, not delivered.
    sigset_t pending;
    if (copyError == EFBIG && sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 1) {
        int taken = 0;
        sigwait(&fileSize, &taken);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (copyError != 0) return fail(copyError);
    if (job.status != WAVHZ_DONE && job.status != WAVHZ_EXIT_NO_MEMORY) {
        why = std::strerror(job.error);
    }
    return job.status;
}

}  // namespace

std::int32_t WriteTone(const ToneRequest &request, std::string &why) {
    if (request.output == "-") {
        struct stat out {};
        if (fstat(STDOUT_FILENO, &out) != 0) {  // standard output closed (`>&-`)
            why = std::strerror(errno);
            return WAVHZ_EXIT_CANNOT_WRITE;
        }
        const int flags = fcntl(STDOUT_FILENO, F_GETFL);
        const bool appending = flags >= 0 && (flags & O_APPEND) != 0;
        const off_t at = appending ? out.st_size : lseek(STDOUT_FILENO, 0, SEEK_CUR);
        const bool fromTheStart = S_ISREG(out.st_mode) && !appending && at == 0;
        if (!fromTheStart) {
            // A file the limit leaves no room in keeps what it has.
            rlimit limit{};
            if (S_ISREG(out.st_mode) && at >= 0 && getrlimit(RLIMIT_FSIZE, &limit) == 0 &&
                limit.rlim_cur != RLIM_INFINITY &&
                static_cast<std::uint64_t>(at) + WAVHZ_FILE_BYTES(request.seconds) >
                    limit.rlim_cur) {
                why = std::strerror(EFBIG);
                return WAVHZ_EXIT_CANNOT_WRITE;
            }
            return CopyInOrder(request, why);
        }
    }
    const std::int32_t status =
        WAVHZTryCreate(request.path.c_str(), request.frequencyHz, request.level, request.seconds);
    if (status == WAVHZ_EXIT_CANNOT_WRITE) why = std::strerror(errno);
    // Written under its own name: standard output is left at its end, as a
    // filter leaves it, for whatever writes there next.
    if (status == WAVHZ_DONE && request.output == "-")
        lseek(STDOUT_FILENO, static_cast<off_t>(WAVHZ_FILE_BYTES(request.seconds)), SEEK_SET);
    return status;
}

std::FILE *SummaryStream(const char *output) {
    struct stat file {};
    struct stat out {};
    if (stat(output, &file) == 0 && fstat(STDOUT_FILENO, &out) == 0 && file.st_dev == out.st_dev &&
        file.st_ino == out.st_ino) {
        return stderr;
    }
    return stdout;
}

}  // namespace quillox::wavhz

int main(int argc, char **argv) {
    return quillox::wavhz::Run(std::vector<std::string>(argv + 1, argv + argc));
}
