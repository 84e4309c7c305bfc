// wavhz on POSIX systems: the request runs in a forked child, the tone
// writer, which tells this process why a write failed before it ends.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "platform/platform.h"
#include "wavhz_platform.h"

namespace quillox::wavhz {

const char kStandardOutput[] = "/dev/stdout";

namespace {

constexpr int kStops[] = {SIGINT, SIGTERM, SIGHUP};

// What the stop handler reads: the tone writer's pid (a pid_t is an int on
// every system this builds for) and the signal that came.
volatile std::sig_atomic_t toneWriter = -1;
volatile std::sig_atomic_t stopSignal = 0;
int writeError = 0;  // why the tone could not be written, or 0

// SIGINT, SIGTERM and SIGHUP stop the tone writer too, and then this
// process (after the writer has ended: see RunInChild).
void PassOnStop(int signalNumber) {
    const int saved = errno;
    stopSignal = signalNumber;
    const pid_t writer = toneWriter;
    if (writer > 0) kill(writer, signalNumber);
    errno = saved;
}

// In the tone writer: the library is about to end the process; the reason
// goes to wavhz over this pipe.
int reasonPipe = -1;
void SendReason(int) {
    const int error = errno;
    if (error != 0) static_cast<void>(write(reasonPipe, &error, sizeof error));
}

// A pipe whose ends are neither standard input, output nor error, even
// where one of those is closed. False, with errno, when there is none.
bool MakePipe(int (&ends)[2]) {
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    for (int &end : ends) {
        if (end > STDERR_FILENO) continue;
        const int moved = fcntl(end, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        close(end);
        end = moved;
    }
    return ends[0] >= 0 && ends[1] >= 0;
}

// The copy runs with the stop signals held, and waits for its descriptors
// in ppoll, which lets them in: a stop that came before the wait, or during
// it, ends the wait and the copy; none can slip in between a check and a
// blocking call. After the wait a read does not block, and a write of at
// most PIPE_BUF bytes into a pipe does not either.
sigset_t whileWaiting;  // the mask ppoll waits with: the stops let in

// False, with errno EINTR, when a stop signal came.
bool WaitFor(int fd, short events) {
    pollfd watched{fd, events, 0};
    while (stopSignal == 0) {
        if (ppoll(&watched, 1, nullptr, &whileWaiting) >= 0) return true;
        if (errno != EINTR) return true;  // the call itself then says what is wrong
    }
    errno = EINTR;
    return false;
}

constexpr std::size_t kChunk = PIPE_BUF;

// Copies everything from `from` to standard output as it comes, written
// where standard output stands (a pipe, a device, a file opened to append),
// as any filter writes. A reader that went away ends this process by
// SIGPIPE, as it ends other filters. False, with errno, when a write fails.
bool CopyInOrder(int from) {
    char buffer[1 << 16];
    for (;;) {
        if (!WaitFor(from, POLLIN)) return false;
        const ssize_t got = read(from, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return got == 0;
        for (ssize_t done = 0; done < got;) {
            if (!WaitFor(STDOUT_FILENO, POLLOUT)) return false;
            const auto count = std::min<std::size_t>(kChunk, static_cast<std::size_t>(got - done));
            const ssize_t put = write(STDOUT_FILENO, buffer + done, count);
            if (put < 0 && errno == EINTR) continue;
            if (put == 0) errno = ENOSPC;
            if (put <= 0) return false;
            done += put;
        }
    }
}

// Standard output a regular file written at an offset (`>`, `1<>`): the
// tone goes where the file stands, `start`, but as the library writes a
// file: its room checked before a byte changes, the place of its header
// cleared first and the header written last, so that a failure or a stop
// anywhere never leaves what looks like a whole tone. False, with errno,
// when it cannot (what it added taken away again).
bool CopyHeaderLast(int from, off_t start, const struct stat &file, std::uint64_t total) {
    constexpr std::size_t kHeaderBytes = WAVHZ_FILE_BYTES(0);  // the RIFF, format and data headers
    const auto end = static_cast<std::uint64_t>(start) + total;
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        end > limit.rlim_cur) {
        errno = EFBIG;
        return false;
    }
    if (fallocate(STDOUT_FILENO, FALLOC_FL_KEEP_SIZE, start, static_cast<off_t>(total)) != 0) {
        struct statvfs room {};
        if (errno != EOPNOTSUPP && errno != ENOSYS) return false;
        if (fstatvfs(STDOUT_FILENO, &room) == 0 &&
            std::uint64_t{room.f_bavail} * room.f_frsize < total) {
            errno = ENOSPC;
            return false;
        }
    }
    // Bytes past `start` were there before: cleared, not cut off, on failure.
    const bool ours = file.st_size <= start;
    const auto giveBack = [&] {
        const int error = errno;
        if (ours) static_cast<void>(ftruncate(STDOUT_FILENO, start));
        errno = error;
        return false;
    };
    static constexpr char kZeros[kHeaderBytes] = {};
    const auto clear =
        static_cast<std::size_t>(std::min<off_t>(file.st_size - start, kHeaderBytes));
    if (!ours && pwrite(STDOUT_FILENO, kZeros, clear, start) != static_cast<ssize_t>(clear))
        return giveBack();
    char header[kHeaderBytes];
    char buffer[1 << 16];
    std::uint64_t received = 0;
    for (;;) {
        if (!WaitFor(from, POLLIN)) return giveBack();
        ssize_t got = read(from, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return giveBack();
        if (got == 0) break;
        const char *next = buffer;
        for (; got > 0 && received < kHeaderBytes; --got) header[received++] = *next++;
        for (ssize_t left = got; left > 0;) {
            const ssize_t put = pwrite(STDOUT_FILENO, next, static_cast<std::size_t>(left),
                                       start + static_cast<off_t>(received));
            if (put < 0 && errno == EINTR) continue;
            if (put == 0) errno = ENOSPC;
            if (put <= 0) return giveBack();
            next += put;
            left -= put;
            received += static_cast<std::uint64_t>(put);
        }
    }
    // A writer that failed or was stopped sends less: no header, and what
    // it sent is taken away (its own status says why).
    if (received != total) {
        giveBack();
        return true;
    }
    if (pwrite(STDOUT_FILENO, header, kHeaderBytes, start) != kHeaderBytes) return giveBack();
    lseek(STDOUT_FILENO, static_cast<off_t>(end), SEEK_SET);  // where a filter leaves it
    return true;
}

// Copies the tone from `from` to standard output, header last where
// standard output is a file that can be written at an offset.
bool CopyToStandardOutput(int from, std::uint64_t total) {
    struct stat file {};
    const off_t start = lseek(STDOUT_FILENO, 0, SEEK_CUR);
    const int flags = fcntl(STDOUT_FILENO, F_GETFL);
    if (fstat(STDOUT_FILENO, &file) == 0 && S_ISREG(file.st_mode) && start >= 0 && flags >= 0 &&
        (flags & O_APPEND) == 0) {
        return CopyHeaderLast(from, start, file, total);
    }
    return CopyInOrder(from);
}

[[noreturn]] void CannotStart() {
    std::fprintf(stderr, "wavhz: cannot start the tone writer: %s\n", std::strerror(errno));
    std::exit(kExitCannotStart);
}

}  // namespace

ChildEnd RunInChild(const ToneRequest &request) {
    std::fflush(nullptr);  // nothing buffered may be written twice
    // For OUTPUT -, the writer's standard output is a pipe to this process.
    const bool toStandardOutput = request.output == "-";
    if (toStandardOutput && fcntl(STDOUT_FILENO, F_GETFD) < 0) {
        writeError = errno;  // standard output closed (`>&-`)
        return {true, WAVHZ_EXIT_CANNOT_WRITE};
    }
    int tone[2] = {-1, -1};
    int reason[2] = {-1, -1};
    if ((toStandardOutput && !MakePipe(tone)) || !MakePipe(reason)) CannotStart();
    // A signal the caller ignores (nohup, a background job) stays ignored,
    // here and in the writer. The others are held across the fork, so that
    // none is lost between the two processes: the writer takes its own
    // with their actions as they were, this process once it knows the
    // writer's pid.
    struct sigaction stop {};
    stop.sa_handler = PassOnStop;
    sigemptyset(&stop.sa_mask);
    struct sigaction before[std::size(kStops)]{};
    sigset_t stops;
    sigset_t unblocked;
    sigemptyset(&stops);
    for (std::size_t k = 0; k < std::size(kStops); ++k) {
        sigaction(kStops[k], nullptr, &before[k]);
        if (before[k].sa_handler != SIG_IGN) sigaction(kStops[k], &stop, nullptr);
        sigaddset(&stops, kStops[k]);
    }
    sigprocmask(SIG_BLOCK, &stops, &unblocked);
    const pid_t child = fork();
    if (child < 0) CannotStart();
    if (child == 0) {
        for (std::size_t k = 0; k < std::size(kStops); ++k)
            sigaction(kStops[k], &before[k], nullptr);
        sigprocmask(SIG_SETMASK, &unblocked, nullptr);
        // Only the write ends: this process's reading of the tone must see
        // its end, and a writer whose reader went away must see that.
        close(reason[0]);
        reasonPipe = reason[1];
        beforeProcessEnds = SendReason;
        if (toStandardOutput &&
            (dup2(tone[1], STDOUT_FILENO) < 0 || close(tone[0]) != 0 || close(tone[1]) != 0)) {
            SendReason(0);
            _exit(WAVHZ_EXIT_CANNOT_WRITE);
        }
        const std::int32_t result =
            WAVHZCreate(request.path.c_str(), request.frequencyHz, request.level, request.seconds);
        _exit(result == WAVHZ_DONE ? 0 : kExitSoftware);
    }
    toneWriter = child;
    close(reason[1]);
    bool copied = true;
    if (toStandardOutput) {
        // The stops stay held while copying, let in by each wait (WaitFor).
        whileWaiting = unblocked;
        for (const int signal : kStops) sigdelset(&whileWaiting, signal);
        close(tone[1]);
        copied = CopyToStandardOutput(tone[0], WAVHZ_FILE_BYTES(request.seconds));
        if (!copied) writeError = errno;
        close(tone[0]);  // a writer still writing gets SIGPIPE
    }
    sigprocmask(SIG_SETMASK, &unblocked, nullptr);
    if (stopSignal != 0) kill(child, stopSignal);  // one the writer may not have had
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            std::fprintf(stderr, "wavhz: lost the tone writer: %s\n", std::strerror(errno));
            std::exit(kExitSoftware);
        }
    }
    toneWriter = -1;
    int error = 0;
    if (read(reason[0], &error, sizeof error) == sizeof error && writeError == 0)
        writeError = error;
    close(reason[0]);
    if (stopSignal != 0) {
        // Stopped from outside: end as that signal ends a process.
        std::signal(stopSignal, SIG_DFL);
        std::raise(stopSignal);
    }
    if (!copied) return {true, WAVHZ_EXIT_CANNOT_WRITE};
    if (WIFSIGNALED(status)) return {false, static_cast<unsigned long>(WTERMSIG(status))};
    return {true, static_cast<unsigned long>(WEXITSTATUS(status))};
}

// A child killed by a signal. A reader that went away (SIGPIPE) ends this
// process quietly the same way, as `yes | head` does; anything else is named.
int ReportStopped(unsigned long signalNumber) {
    const int number = static_cast<int>(signalNumber);
    if (number == SIGPIPE) {
        std::signal(SIGPIPE, SIG_DFL);
        std::raise(SIGPIPE);
    }
    std::fprintf(stderr, "wavhz: the tone writer was stopped by signal %d (%s)\n", number,
                 strsignal(number));
    return 128 + number;
}

std::string WhyCannotWrite() { return writeError != 0 ? std::strerror(writeError) : ""; }

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
