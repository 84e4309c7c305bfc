// wavhz on POSIX systems: the request runs in a forked child.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "wavhz_platform.h"

namespace quillox::wavhz {

const char kStandardOutput[] = "/dev/stdout";

ChildEnd RunInChild(const ToneRequest &request) {
    std::fflush(nullptr);  // nothing buffered may be written twice
    const pid_t child = fork();
    if (child < 0) {
        std::fprintf(stderr, "wavhz: cannot start the tone writer: %s\n", std::strerror(errno));
        std::exit(kExitCannotStart);
    }
    if (child == 0) {
        const std::int32_t result =
            WAVHZCreate(request.path.c_str(), request.frequencyHz, request.level, request.seconds);
        _exit(result == WAVHZ_DONE ? 0 : kExitSoftware);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            std::fprintf(stderr, "wavhz: lost the tone writer: %s\n", std::strerror(errno));
            std::exit(kExitSoftware);
        }
    }
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
