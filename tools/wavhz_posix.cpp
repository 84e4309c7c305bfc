// wavhz on POSIX systems: the request runs in a forked child.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "wavhz_platform.h"

namespace quillox::wavhz {

const char kStandardOutput[] = "/dev/stdout";

namespace {

pid_t toneWriter = -1;
volatile std::sig_atomic_t stopSignal = 0;
int standardOutputError = 0;  // why the tone could not be copied to standard output

// SIGINT, SIGTERM and SIGHUP stop the tone writer too, and then this
// process (after the writer has ended: see RunInChild).
void PassOnStop(int signalNumber) {
    stopSignal = signalNumber;
    if (toneWriter > 0) kill(toneWriter, signalNumber);
}

// Copies everything from `from` to standard output as it comes: the tone
// for OUTPUT -, written where standard output stands (at its offset, with
// its O_APPEND), as any filter writes. A reader that went away ends this
// process by SIGPIPE, as it ends other filters. False when a write fails.
bool CopyToStandardOutput(int from) {
    char buffer[1 << 16];
    for (;;) {
        ssize_t got = read(from, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return got == 0;
        for (const char *next = buffer; got > 0;) {
            const ssize_t put = write(STDOUT_FILENO, next, static_cast<std::size_t>(got));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
            next += put;
            got -= put;
        }
    }
}

}  // namespace

ChildEnd RunInChild(const ToneRequest &request) {
    std::fflush(nullptr);  // nothing buffered may be written twice
    // For OUTPUT -, the writer's standard output is a pipe to this process.
    const bool toStandardOutput = request.output == "-";
    int tone[2] = {-1, -1};
    if (toStandardOutput && pipe(tone) != 0) {
        std::fprintf(stderr, "wavhz: cannot start the tone writer: %s\n", std::strerror(errno));
        std::exit(kExitCannotStart);
    }
    // A signal the caller ignores (nohup, a background job) stays ignored,
    // here and in the writer.
    constexpr int kStops[] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction stop {};
    stop.sa_handler = PassOnStop;
    sigemptyset(&stop.sa_mask);
    struct sigaction before[std::size(kStops)]{};
    for (std::size_t k = 0; k < std::size(kStops); ++k) {
        sigaction(kStops[k], nullptr, &before[k]);
        if (before[k].sa_handler != SIG_IGN) sigaction(kStops[k], &stop, nullptr);
    }
    const pid_t child = fork();
    if (child < 0) {
        std::fprintf(stderr, "wavhz: cannot start the tone writer: %s\n", std::strerror(errno));
        std::exit(kExitCannotStart);
    }
    if (child == 0) {
        for (std::size_t k = 0; k < std::size(kStops); ++k)
            sigaction(kStops[k], &before[k], nullptr);
        if (toStandardOutput &&
            (dup2(tone[1], STDOUT_FILENO) < 0 || close(tone[0]) != 0 || close(tone[1]) != 0)) {
            _exit(WAVHZ_EXIT_CANNOT_WRITE);
        }
        const std::int32_t result =
            WAVHZCreate(request.path.c_str(), request.frequencyHz, request.level, request.seconds);
        _exit(result == WAVHZ_DONE ? 0 : kExitSoftware);
    }
    toneWriter = child;
    if (stopSignal != 0) kill(child, stopSignal);  // one that came before the writer was known
    bool copied = true;
    if (toStandardOutput) {
        close(tone[1]);
        copied = CopyToStandardOutput(tone[0]);
        if (!copied) standardOutputError = errno;
        close(tone[0]);  // a writer still writing gets SIGPIPE
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            std::fprintf(stderr, "wavhz: lost the tone writer: %s\n", std::strerror(errno));
            std::exit(kExitSoftware);
        }
    }
    toneWriter = -1;
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

std::string WhyCannotWrite(const std::string &output, std::uint64_t bytes) {
    if (output == "-") return standardOutputError != 0 ? std::strerror(standardOutputError) : "";
    const std::size_t slash = output.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : output.substr(0, slash);
    struct stat seen {};
    if (stat(folder.c_str(), &seen) != 0) return std::strerror(errno);
    if (!S_ISDIR(seen.st_mode)) return std::strerror(ENOTDIR);
    const bool exists = stat(output.c_str(), &seen) == 0;
    if (exists && S_ISDIR(seen.st_mode)) return std::strerror(EISDIR);
    if (access(exists ? output.c_str() : folder.c_str(), W_OK) != 0) return std::strerror(errno);
    if (exists && !S_ISREG(seen.st_mode)) return "";
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        bytes > limit.rlim_cur) {
        return std::strerror(EFBIG);
    }
    struct statvfs room {};
    if (statvfs(folder.c_str(), &room) == 0 && room.f_blocks != 0 &&
        std::uint64_t{room.f_bavail} * room.f_frsize < bytes) {
        return std::strerror(ENOSPC);
    }
    return "";
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
