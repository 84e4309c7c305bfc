// The wavhz command, run as a user runs it.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <string>
#include <vector>

#include "test_support.h"

namespace quillox::test {
namespace {

struct Outcome {
    int status = -1;  // exit status
    std::string out;  // what it printed to stdout (a pipe)
    std::string err;  // and to stderr
};

// Runs wavhz with `args`; with `memoryLimit` set, under that address-space
// limit.
Outcome RunWavhz(const TempDir &dir, std::vector<std::string> args, rlim_t memoryLimit = 0,
                 bool closeOutput = false) {
    args.insert(args.begin(), WAVHZ_COMMAND);
    const std::string errPath = dir / "stderr.txt";
    int pipeFds[2];
    EXPECT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        FILE *err = std::freopen(errPath.c_str(), "w", stderr);
        if (err == nullptr) _exit(99);
        if (memoryLimit != 0) {
            const rlimit limit = {memoryLimit, memoryLimit};
            setrlimit(RLIMIT_AS, &limit);
        }
        std::vector<char *> argv;
        for (auto &arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(98);
    }
    close(pipeFds[1]);
    if (closeOutput) close(pipeFds[0]);
    Outcome outcome;
    char buffer[65536];
    for (ssize_t n; !closeOutput && (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
        outcome.out.append(buffer, n);
    }
    if (!closeOutput) close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    const auto err = ReadBytes(errPath);
    outcome.err.assign(err.begin(), err.end());
    return outcome;
}

// wavhz runs each request in a forked child, and the tests start it so.
class Wavhz : public testing::Test {
protected:
    void SetUp() override {
        if (!CanForkAndStartThreads()) GTEST_SKIP() << kCannotFork;
    }
};

TEST_F(Wavhz, WritesTheToneAndSaysWhat) {
    TempDir dir;
    const std::string path = dir / "tone.wav";
    for (const auto &args : {std::vector<std::string>{path, "440", "10", "3"},
                             std::vector<std::string>{"--", path, "440", "-10", "3"}}) {
        const Outcome outcome = RunWavhz(dir, args);
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_EQ(outcome.out, path + ": 264644 bytes, 3 s\n");
        EXPECT_EQ(ReadBytes(path).size(), 264644u);
    }
}

TEST_F(Wavhz, WritesToAPipe) {
    TempDir dir;
    for (const std::string output : {"-", "/dev/stdout"}) {
        const Outcome outcome = RunWavhz(dir, {output, "440", "10", "1"});
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        ASSERT_EQ(outcome.out.size(), 88244u);  // the tone alone: the summary went to stderr
        EXPECT_EQ(outcome.out.substr(0, 4), "RIFF");
        EXPECT_EQ(outcome.err, output + ": 88244 bytes, 1 s\n");
    }
    // A reader that goes away ends it quietly, as it ends other filters.
    const Outcome closed = RunWavhz(dir, {"-", "440", "10", "1"}, 0, /*closeOutput=*/true);
    EXPECT_EQ(closed.status, 128 + SIGPIPE);
    EXPECT_EQ(closed.err, "");
}

TEST_F(Wavhz, UsageErrorsNameTheBadArgument) {
    TempDir dir;
    const std::string path = dir / "t.wav";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{path, "440", "10"}, "expected 4 arguments, got 3"},
        {{path, "440", "10", "1", "x"}, "expected 4 arguments, got 5"},
        {{path, "44o", "10", "1"}, "FREQUENCY_HZ"},
        {{path, "440Hz", "10", "1"}, "FREQUENCY_HZ"},
        {{path, "2147483648", "10", "1"}, "FREQUENCY_HZ"},
        {{path, " 440", "10", "1"}, "FREQUENCY_HZ"},
        {{path, "440", "+-10", "1"}, "LEVEL"},
        {{path, "440", "", "1"}, "LEVEL"},
        {{path, "440", "10", "-1"}, "SECONDS"},
        {{path, "440", "10", "48696"}, "SECONDS must be a whole number from 0 to 48695"},
        {{path, "440", "10", "1.5"}, "SECONDS"},
        {{dir / "bad\xff.wav", "440", "10", "1"}, "OUTPUT is not valid UTF-8"},
        {{dir / "bad\xed\xa0\x80.wav", "440", "10", "1"}, "OUTPUT is not valid UTF-8"},
        {{"-x", path, "440", "10", "1"},
         "unknown option '-x' (put -- before an OUTPUT that starts with -)"},
        {{"--", path, "--", "10", "1"}, "FREQUENCY_HZ must be"},  // after --, operands only
    };
    for (const auto &[args, message] : cases) {
        const Outcome outcome = RunWavhz(dir, args);
        EXPECT_EQ(outcome.status, 64) << message;
        EXPECT_NE(outcome.err.find(message), std::string::npos) << outcome.err;
        EXPECT_NE(outcome.err.find("usage: wavhz [--] OUTPUT FREQUENCY_HZ LEVEL SECONDS"),
                  std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(Wavhz, LibraryFailuresInWords) {
    TempDir dir;
    // Names are quoted, with control characters shown escaped, never sent raw.
    const std::string missing = dir / "missing/t\x1b[2J\n.wav";
    Outcome outcome = RunWavhz(dir, {missing, "440", "10", "1"});
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.err, "wavhz: cannot write '" + dir / "missing/t\\x1b[2J\\x0a.wav'\n");

    if (const char *why = WhyNoAddressSpaceLimit()) GTEST_SKIP() << why;
    outcome = RunWavhz(dir, {dir / "t.wav", "440", "10", "48695"}, rlim_t{512} << 20);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "wavhz: not enough memory for a tone of 48695 seconds\n");
}

TEST_F(Wavhz, HelpAndVersion) {
    TempDir dir;
    const Outcome help = RunWavhz(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("LEVEL / 10"), std::string::npos);
    const Outcome version = RunWavhz(dir, {"--version"});
    EXPECT_EQ(version.out, "wavhz " QUILLOX_WAV_FREQUENCY_VERSION_STRING "\n");
}

}  // namespace
}  // namespace quillox::test
