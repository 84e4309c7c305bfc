// The wavhz command, run as a user runs it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <complex>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "test_support.h"

namespace quillox::test {
namespace {

// How a run of wavhz ended.
struct Ran {
    int status = -1;  // exit status
    std::string out;  // what it printed to stdout (a pipe)
    std::string err;  // and to stderr
};

// Runs wavhz with `args`, after `inChild` (limits, another standard
// output) in its process.
Ran RunWavhz(const TempDir &dir, std::vector<std::string> args,
             const std::function<void()> &inChild = {}, bool closeOutput = false) {
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
        if (inChild) inChild();
        std::vector<char *> argv;
        for (auto &arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(98);
    }
    close(pipeFds[1]);
    if (closeOutput) close(pipeFds[0]);
    Ran outcome;
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

// Whether process `pid` sleeps in a system call that waits (an open of a
// FIFO nobody reads).
bool Asleep(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t name = line.rfind(')');  // the state follows the name
    return name != std::string::npos && line.compare(name, 3, ") S") == 0;
}

// Whether the pipe that `writer` writes takes no more.
bool PipeIsFull(int writer) {
    pollfd end{writer, POLLOUT, 0};
    return poll(&end, 1, 0) == 0;
}

// The tests start wavhz in a forked child.
class Wavhz : public testing::Test {
protected:
    void SetUp() override {
        if (!CanForkAndStartThreads()) GTEST_SKIP() << kCannotFork;
    }
};

// The summary on stdout; a request that is probably a mistake is written
// all the same, with a warning; -q says neither.
TEST_F(Wavhz, WritesTheToneAndSaysWhat) {
    TempDir dir;
    const std::string path = dir / "tone.wav";
    const std::string summary = path + ": 264644 bytes, 3 s\n";
    const struct {
        std::vector<std::string> args;
        std::string out, err;
    } rows[] = {
        {{path, "440", "10", "3"}, summary, ""},
        {{"--", path, "440", "-10", "3"}, summary, ""},
        {{path, "440", "-9", "3"},
         summary,
         "wavhz: warning: level -9 gives silence (the amplitude is LEVEL / 10 in whole numbers)\n"},
        {{path, "-30000", "10", "3"},
         summary,
         "wavhz: warning: 30000 Hz is above half the sample rate (22050 Hz) and plays as about "
         "14100 Hz\n"},
        {{path, "22050", "10", "3"},
         summary,
         "wavhz: warning: 22050 Hz is half the sample rate: the tone starts silent (every sample "
         "on a zero crossing) and grows only slowly\n"},
        {{path, "22049", "19", "3"}, summary, ""},
        {{path, "440", "-25", "3"},
         summary,
         "wavhz: warning: level -25 is 2 times full scale: the samples wrap around, they do not "
         "clip\n"},
        {{path, "440", "10", "0"},
         path + ": 44 bytes, 0 s\n",
         "wavhz: warning: 0 seconds gives a file without samples\n"},
        {{"-q", path, "30000", "5", "3"}, "", ""},
        {{"--quiet", "--", path, "440", "10", "3"}, "", ""},
    };
    for (const auto &row : rows) {
        const Ran outcome = RunWavhz(dir, row.args);
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_EQ(outcome.out, row.out);
        EXPECT_EQ(outcome.err, row.err);
        EXPECT_EQ(ReadBytes(path).size(), 44 + 88200 * std::stoul(row.args.back()));
    }
}

// The discrete Fourier transform of `x` (a power of two long), radix 2.
std::vector<std::complex<double>> Transform(std::vector<std::complex<double>> x) {
    const std::size_t n = x.size();
    if (n == 1) return x;
    std::vector<std::complex<double>> even(n / 2), odd(n / 2);
    for (std::size_t k = 0; k < n / 2; ++k) {
        even[k] = x[2 * k];
        odd[k] = x[2 * k + 1];
    }
    even = Transform(even);
    odd = Transform(odd);
    for (std::size_t k = 0; k < n / 2; ++k) {
        const auto turned = std::polar(1.0, -2 * 3.141592653589793 * k / n) * odd[k];
        x[k] = even[k] + turned;
        x[k + n / 2] = even[k] - turned;
    }
    return x;
}

// A frequency above half the sample rate warns with what it plays as, and
// the spectrum of the first 32768 samples (Hann window) says the same: its
// strongest frequency within two bins of the warning's, holding a tenth of
// the spectrum or more; or, where the warning says noise, no frequency
// holding as much.
TEST_F(Wavhz, TheAliasWarningNamesWhatPlays) {
    TempDir dir;
    const std::string path = dir / "alias.wav";
    for (const char *hz : {"22051", "30000", "45100", "100000", "1000000", "12345678", "2147483647",
                           "-2147483648"}) {
        const Ran outcome = RunWavhz(dir, {path, hz, "10", "1"});
        ASSERT_EQ(outcome.status, 0) << outcome.err;
        const auto bytes = ReadBytes(path);
        constexpr std::size_t kCount = 32768;
        std::vector<std::complex<double>> x(kCount);
        double mean = 0;
        for (std::size_t k = 0; k < kCount; ++k) {
            x[k] = static_cast<std::int16_t>(bytes[44 + 2 * k] | bytes[45 + 2 * k] << 8);
            mean += x[k].real() / kCount;
        }
        for (std::size_t k = 0; k < kCount; ++k) {
            x[k] = (x[k] - mean) * (0.5 - 0.5 * std::cos(2 * 3.141592653589793 * k / kCount));
        }
        const auto spectrum = Transform(x);
        std::size_t strongest = 0;
        double total = 0;
        for (std::size_t k = 0; k <= kCount / 2; ++k) {
            total += std::abs(spectrum[k]);
            if (std::abs(spectrum[k]) > std::abs(spectrum[strongest])) strongest = k;
        }
        const double share = std::abs(spectrum[strongest]) / total;
        const double binHz = 44100.0 / kCount;
        const auto about = outcome.err.find("plays as about ");
        if (about == std::string::npos) {
            EXPECT_NE(outcome.err.find("plays as noise"), std::string::npos) << outcome.err;
            EXPECT_LT(share, 0.1) << hz << " Hz: " << strongest * binHz << " Hz holds " << share;
        } else {
            const double warned = std::stod(outcome.err.substr(about + 15));
            EXPECT_NEAR(strongest * binHz, warned, 2 * binHz) << hz << " Hz: " << outcome.err;
            EXPECT_GE(share, 0.1) << hz << " Hz: " << outcome.err;
        }
    }
}

TEST_F(Wavhz, WritesToAPipe) {
    TempDir dir;
    for (const std::string output : {"-", "/dev/stdout"}) {
        const Ran outcome = RunWavhz(dir, {output, "440", "10", "1"});
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        ASSERT_EQ(outcome.out.size(), 88244u);  // the tone alone: the summary went to stderr
        EXPECT_EQ(outcome.out.substr(0, 4), "RIFF");
        EXPECT_EQ(outcome.err, output + ": 88244 bytes, 1 s\n");
    }
    // A reader that goes away ends it quietly, as it ends other filters.
    const Ran closed = RunWavhz(dir, {"-", "440", "10", "1"}, {}, /*closeOutput=*/true);
    EXPECT_EQ(closed.status, 128 + SIGPIPE);
    EXPECT_EQ(closed.err, "");
    // Standard output a file: written where it stands, as by any filter
    // (`>>`, `{ echo; wavhz -; } >`).
    const std::string log = dir / "log";
    WriteText(log, "header\n");
    for (const int flags : {O_APPEND, 0}) {
        const Ran appended = RunWavhz(dir, {"-", "440", "10", "1"}, [&] {
            const int fd = open(log.c_str(), O_WRONLY | flags);
            if (fd < 0 || lseek(fd, 0, SEEK_END) < 0 || dup2(fd, STDOUT_FILENO) < 0) _exit(99);
        });
        EXPECT_EQ(appended.status, 0) << appended.err;
    }
    const auto bytes = ReadBytes(log);
    ASSERT_EQ(bytes.size(), 7u + 2 * 88244u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 11), "header\nRIFF");
    EXPECT_EQ(std::string(bytes.begin() + 7 + 88244, bytes.begin() + 11 + 88244), "RIFF");
}

// wavhz - into a file on a full disk opened at its start (`1<> old.wav`,
// `> new.wav`) gets the library's own care: refused before a byte changes,
// the old tone kept, the room it tried to reserve given back.
TEST_F(Wavhz, StandardOutputOnAFullDiskLosesNothing) {
    if (const std::string why = PrivateMounts(); !why.empty()) GTEST_SKIP() << why;
    const TempDir dir, images;
    const struct {
        const char *what, *kind, *size;
        bool old;  // an old tone there, the disk filled up beside it
    } disks[] = {
        {"an old tone on a nearly full btrfs", "btrfs", "128M", true},
        {"a new file longer than an ext4 disk", "ext4", "8M", false},
    };
    std::string skipped;
    for (const auto &disk : disks) {
        const std::string at = dir / disk.kind, path = at + "/tone.wav";
        const SmallDisk mounted(disk.kind, at, images.path(), disk.size);
        if (!mounted.why().empty()) {
            skipped += std::string("\n  ") + disk.what + ": " + mounted.why();
            continue;
        }
        if (disk.old) {
            ASSERT_EQ(TryCreate(path, 1000, 10, 100), kDone);
            ASSERT_TRUE(FillDisk(at, 2 << 20));
        }
        const auto free = [&] {
            sync();
            struct statvfs room {};
            statvfs(at.c_str(), &room);
            return std::uint64_t{room.f_bavail} * room.f_frsize;
        };
        const auto before = ReadBytes(path);
        const std::uint64_t freeBefore = free();
        const Ran ran = RunWavhz(dir, {"-", "440", "10", "100"}, [&] {
            const int fd = open(path.c_str(), O_RDWR | O_CREAT | (disk.old ? 0 : O_TRUNC), 0644);
            if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) _exit(99);
        });
        EXPECT_EQ(ran.status, 2) << disk.what;
        EXPECT_EQ(ran.err, "wavhz: cannot write '-': No space left on device\n") << disk.what;
        EXPECT_EQ(ReadBytes(path), before) << disk.what;
        EXPECT_EQ(free(), freeBefore) << disk.what;
    }
    if (!skipped.empty()) GTEST_SKIP() << "disks that could not be had:" << skipped;
}

// SIGINT, SIGTERM and SIGHUP stop wavhz at once, by that signal: blocked in
// the library's open of a FIFO nobody reads, or copying the tone to a
// standard output whose reader has stalled.
TEST_F(Wavhz, AStopSignalStopsItAtOnce) {
    TempDir dir;
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string stalledFifo = dir / "stalled";
    ASSERT_EQ(mkfifo(stalledFifo.c_str(), 0600), 0);
    const int reader = open(stalledFifo.c_str(), O_RDONLY | O_NONBLOCK);  // never read
    const int writer = open(stalledFifo.c_str(), O_WRONLY | O_NONBLOCK);  // to see it fill
    for (const int stop : {SIGINT, SIGTERM, SIGHUP, -SIGTERM}) {
        const pid_t wavhz = fork();
        if (wavhz == 0) {
            if (stop > 0) {
                execl(WAVHZ_COMMAND, WAVHZ_COMMAND, fifo.c_str(), "440", "10", "1", nullptr);
            } else if (dup2(open(stalledFifo.c_str(), O_WRONLY), STDOUT_FILENO) >= 0) {
                execl(WAVHZ_COMMAND, WAVHZ_COMMAND, "-", "440", "10", "10", nullptr);
            }
            _exit(98);
        }
        // Until wavhz waits in open() for a reader, or has filled the pipe.
        ASSERT_TRUE(WaitFor([&] { return stop > 0 ? Asleep(wavhz) : PipeIsFull(writer); }));
        kill(wavhz, std::abs(stop));
        int status = 0;
        ASSERT_EQ(waitpid(wavhz, &status, 0), wavhz);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == std::abs(stop)) << status;
    }
    close(writer);
    close(reader);
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
        const Ran outcome = RunWavhz(dir, args);
        EXPECT_EQ(outcome.status, 64) << message;
        EXPECT_NE(outcome.err.find(message), std::string::npos) << outcome.err;
        EXPECT_NE(outcome.err.find("\nusage: wavhz [-q] [--] OUTPUT FREQUENCY_HZ LEVEL SECONDS\n"
                                   "Try 'wavhz --help'.\n"),
                  std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

// Every failure in words, with the reason where it can be told, as cp
// gives it. Names are quoted, with control characters shown escaped.
TEST_F(Wavhz, LibraryFailuresInWords) {
    TempDir dir;
    WriteText(dir / "file", "");
    // Standard output a file that the limit leaves no room in: refused
    // before a byte is written, not cut short with the header first.
    const std::string limited = dir / "limited.wav";
    const auto stdoutToALimitedFile = [&] {
        const int fd = open(limited.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) _exit(99);
        LimitFileSize();
    };
    // Or one opened to append (`>>`): refused before a byte is written, not
    // ended by SIGXFSZ.
    const std::string appended = dir / "appended.wav";
    WriteText(appended, "kept");
    const auto appendToALimitedFile = [&] {
        const int fd = open(appended.c_str(), O_WRONLY | O_APPEND);
        if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) _exit(99);
        LimitFileSize();
    };
    std::filesystem::create_symlink("loop", dir / "loop");
    // A program that runs cannot be written to.
    const std::string busy = dir / "busy";
    std::filesystem::copy_file("/bin/sleep", busy);
    std::filesystem::permissions(busy, std::filesystem::perms::owner_all);
    const pid_t sleeper = fork();
    if (sleeper == 0) {
        execl(busy.c_str(), busy.c_str(), "30", nullptr);
        _exit(98);
    }
    ASSERT_TRUE(WaitFor([&] {
        std::error_code error;
        return std::filesystem::read_symlink("/proc/" + std::to_string(sleeper) + "/exe", error) ==
               busy;
    }));
    const auto summaryToAFullDevice = [] {
        const int fd = open("/dev/full", O_WRONLY);
        if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) _exit(99);
    };
    const struct {
        std::string output;
        std::function<void()> inChild;
        int status;
        std::string message;
    } rows[] = {
        {dir / "missing/t\x1b[2J\n.wav",
         {},
         2,
         "wavhz: cannot write '" +
             dir / "missing/t\\x1b[2J\\x0a.wav': No such file or directory\n"},
        {dir / "file/t.wav",
         {},
         2,
         "wavhz: cannot write '" + dir / "file/t.wav': Not a directory\n"},
        {dir.path().string(),
         {},
         2,
         "wavhz: cannot write '" + dir.path().string() + "': Is a directory\n"},
        {dir / "t.wav", LimitFileSize, 2,
         "wavhz: cannot write '" + dir / "t.wav': File too large\n"},
        {"-", summaryToAFullDevice, 2, "wavhz: cannot write '-': No space left on device\n"},
        {"-", [] { close(STDOUT_FILENO); }, 2, "wavhz: cannot write '-': Bad file descriptor\n"},
        {"-", stdoutToALimitedFile, 2, "wavhz: cannot write '-': File too large\n"},
        {"-", appendToALimitedFile, 2, "wavhz: cannot write '-': File too large\n"},
        {dir / "loop",
         {},
         2,
         "wavhz: cannot write '" + dir / "loop': Too many levels of symbolic links\n"},
        {busy, {}, 2, "wavhz: cannot write '" + busy + "': Text file busy\n"},
        {dir / "t.wav", summaryToAFullDevice, 74,
         "wavhz: the tone is written, but not this summary: No space left on device\n"},
    };
    for (const auto &row : rows) {
        const Ran outcome = RunWavhz(dir, {row.output, "440", "10", "1"}, row.inChild);
        EXPECT_EQ(outcome.status, row.status) << row.message;
        EXPECT_EQ(outcome.err, row.message);
    }
    kill(sleeper, SIGKILL);
    waitpid(sleeper, nullptr, 0);
    EXPECT_EQ(ReadBytes(limited).size(), 0u);
    EXPECT_EQ(ReadBytes(appended), (std::vector<std::uint8_t>{'k', 'e', 'p', 't'}));

    if (const char *why = WhyNoAddressSpaceLimit()) GTEST_SKIP() << why;
    const Ran outcome = RunWavhz(dir, {dir / "t.wav", "440", "10", "48695"}, [] {
        const rlimit limit = {rlim_t{512} << 20, rlim_t{512} << 20};
        setrlimit(RLIMIT_AS, &limit);
    });
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "wavhz: not enough memory for a tone of 48695 seconds\n");
}

// The exit statuses --help lists are those the man page, the README and
// the changelog list, in the same words.
TEST_F(Wavhz, HelpAndVersion) {
    TempDir dir;
    const Ran help = RunWavhz(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("LEVEL / 10"), std::string::npos);
    const Ran version = RunWavhz(dir, {"--version"});
    EXPECT_EQ(version.out, "wavhz " QUILLOX_WAV_FREQUENCY_VERSION_STRING "\n");

    const auto text = [](const char *name) {
        const auto bytes = ReadBytes(std::string(QUILLOX_SOURCE_DIR "/") + name);
        return std::string(bytes.begin(), bytes.end());
    };
    const std::string man = text("man/wavhz.1.in");
    const std::size_t section = man.find(".SH EXIT STATUS");
    const std::string manStatuses = man.substr(section, man.find("\n.SH", section) + 1 - section);
    const std::string documents[] = {text("README.md"), text("CHANGELOG.md")};
    std::size_t statuses = 0;
    for (std::size_t at = help.out.find("Exit status:\n") + 13; at < help.out.size(); ++statuses) {
        const std::size_t end = help.out.find('\n', at);
        const std::string line = help.out.substr(at, end - at);  // "  STATUS  meaning"
        const std::size_t gap = line.find(' ', 2);
        const std::string status = line.substr(2, gap - 2);
        std::string meaning = line.substr(line.find_first_not_of(' ', gap));
        for (const std::string &document : documents) {
            EXPECT_NE(document.find("| " + status + " | " + meaning + " |"), std::string::npos)
                << status << " " << meaning;
        }
        meaning[0] = static_cast<char>(std::toupper(meaning[0]));
        EXPECT_NE(manStatuses.find(".TP\n.B " + status + "\n" + meaning + ".\n"), std::string::npos)
            << meaning;
        at = end + 1;
    }
    EXPECT_EQ(statuses, 8u);
    std::size_t manEntries = 0;
    for (std::size_t at = 0; (at = manStatuses.find(".TP\n", at)) != std::string::npos; ++at)
        ++manEntries;
    EXPECT_EQ(manEntries, statuses) << "the man page lists a status --help does not";
}

}  // namespace
}  // namespace quillox::test
