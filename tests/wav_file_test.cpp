// Whole files written by WAVHZCreate: layout, sizes, replacement, read-back.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#if defined(QUILLOX_READ_BACK_WITH_SNDFILE)
#include <sndfile.h>
#endif

#include <algorithm>
#include <cstdint>
#include <thread>
#include <tuple>
#include <vector>

#include "QuilloxWAVFrequency.h"
#include "test_support.h"
#include "tone/synthesis.h"
#include "tone/tone_settings.h"

namespace quillox::test {
namespace {

std::vector<std::uint8_t> Tone(const TempDir &dir, std::int32_t frequencyHz, std::int32_t level,
                               std::uint32_t seconds) {
    const std::string path = dir / "tone.wav";
    EXPECT_EQ(WAVHZCreate(ToPath(path).c_str(), frequencyHz, level, seconds), 999);
    return ReadBytes(path);
}

TEST(WavFile, OneSecondHeader) {
    TempDir dir;
    const std::vector<std::uint8_t> expected = {
        0x52, 0x49, 0x46, 0x46, 0xAC, 0x58, 0x01, 0x00, 0x57, 0x41, 0x56, 0x45, 0x66, 0x6D, 0x74,
        0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x88, 0x58,
        0x01, 0x00, 0x02, 0x00, 0x10, 0x00, 0x64, 0x61, 0x74, 0x61, 0x88, 0x58, 0x01, 0x00};
    // The header depends on the duration alone.
    for (const auto &[frequencyHz, level] :
         {std::pair{1000, 10}, {-7, 0}, {INT32_MAX, INT32_MIN}}) {
        const auto file = Tone(dir, frequencyHz, level, 1);
        ASSERT_EQ(file.size(), 88244u);
        EXPECT_EQ(std::vector<std::uint8_t>(file.begin(), file.begin() + 44), expected);
    }
}

TEST(WavFile, SizesFollowTheDuration) {
    TempDir dir;
    for (const std::uint32_t seconds : {0u, 1u, 3u}) {
        const auto file = Tone(dir, 440, 10, seconds);
        const std::uint32_t dataBytes = seconds * 88200;
        ASSERT_EQ(file.size(), 44u + dataBytes);
        EXPECT_EQ(LE32(file, 4), file.size() - 8);  // RIFF length
        EXPECT_EQ(LE32(file, 40), dataBytes);
    }
}

TEST(WavFile, EachCallReplacesTheFileAndDependsOnItsOwnArguments) {
    TempDir dir;
    const auto alone = Tone(dir, 440, 10, 1);
    WriteText(dir / "tone.wav", std::string(500000, 'x'));  // longer than any tone below
    Tone(dir, 1000, 20, 2);
    EXPECT_EQ(Tone(dir, 440, 10, 1), alone);
#if !defined(_WIN32)
    // Replaced in place, as "wb" does: the same file, so a hard link sees
    // each new tone (a new file renamed over the name would leave the link
    // the old one).
    const std::string link = dir / "link.wav";
    std::filesystem::create_hard_link(dir / "tone.wav", link);
    for (const auto &[frequencyHz, level, seconds] : {std::tuple{1000, 20, 2u}, {440, 10, 1u}}) {
        const auto tone = Tone(dir, frequencyHz, level, seconds);
        EXPECT_EQ(ReadBytes(link), tone) << frequencyHz << " Hz";
    }
#endif
}

// Hosts are asked to call from one thread at a time; calls that overlap
// anyway take turns, and each writes its own tone under its own name.
TEST(WavFile, OverlappingCallsEachWriteTheirOwnTone) {
    if (!CanForkAndStartThreads()) GTEST_SKIP() << kCannotFork;
    TempDir dir;
    constexpr int kThreads = 4, kCalls = 10;
    const auto frequencyOf = [](int thread, int call) {
        return 100 + 37 * (kCalls * thread + call);
    };
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([&, thread] {
            for (int call = 0; call < kCalls; ++call) {
                const std::string name =
                    dir / (std::to_string(thread) + "-" + std::to_string(call) + ".wav");
                WAVHZCreate(ToPath(name).c_str(), frequencyOf(thread, call), 10 + thread * 10, 1);
            }
        });
    }
    for (auto &thread : threads) thread.join();
    std::vector<std::uint8_t> expected(88200);
    for (int thread = 0; thread < kThreads; ++thread) {
        for (int call = 0; call < kCalls; ++call) {
            const auto file =
                ReadBytes(dir / (std::to_string(thread) + "-" + std::to_string(call) + ".wav"));
            SynthesizeReference(
                {frequencyOf(thread, call), 1.0f + thread, 0, 44100, expected.data()});
            ASSERT_EQ(file.size(), 88244u) << thread << "-" << call;
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), file.begin() + 44))
                << thread << "-" << call;
        }
    }
}

TEST(WavFile, ExtremeArgumentsGiveTheReferenceSamples) {
    TempDir dir;
    const std::int32_t frequencies[] = {INT32_MIN, -1, 0, 1, 22050, 44100, INT32_MAX};
    const std::int32_t levels[] = {INT32_MIN, -655370, -10,    -1,     0,
                                   9,         10,      655369, 655370, INT32_MAX};
    constexpr std::uint32_t kSamples = 44100;
    std::vector<std::uint8_t> reference(2 * kSamples);
    for (const std::int32_t frequencyHz : frequencies) {
        for (const std::int32_t level : levels) {
            const auto file = Tone(dir, frequencyHz, level, 1);
            ASSERT_EQ(file.size(), 44 + reference.size());
            SynthesizeReference(
                {frequencyHz, AmplitudeFromLevel(level), 0, kSamples, reference.data()});
            EXPECT_TRUE(std::equal(reference.begin(), reference.end(), file.begin() + 44))
                << frequencyHz << " Hz, level " << level;
        }
    }
}

#if !defined(_WIN32)
// A call in progress hands nothing to other processes: a program started on
// another thread does not inherit its descriptor (close-on-exec), and a
// process forked meanwhile gets the library free, not locked by a thread it
// does not have. Seen while the call is blocked on a FIFO read slowly.
TEST(WavFile, ACallInProgressHandsNothingToOtherProcesses) {
    if (!CanForkAndStartThreads()) GTEST_SKIP() << kCannotFork;
    TempDir dir;
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::thread writer([&] { WAVHZCreate(ToPath(fifo).c_str(), 440, 10, 1); });
    int flags = -1;  // those of the call's descriptor, once it is open
    WaitFor([&] {
        for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            const int fd = std::stoi(entry.path().filename().string());
            if (fd != reader && std::filesystem::read_symlink(entry.path(), error) == fifo)
                flags = fcntl(fd, F_GETFD);
        }
        return flags >= 0;
    });
    const pid_t child = fork();
    if (child == 0) {
        alarm(10);  // a call that waits for ever ends the child
        _exit(WAVHZCreate(ToPath(dir / "child.wav").c_str(), 440, 10, 0) == 999 ? 0 : 1);
    }
    int childStatus = -1;
    waitpid(child, &childStatus, 0);
    // Read the whole tone, so that the call can end.
    std::size_t total = 0;
    WaitFor([&] {
        char buffer[65536];
        for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) > 0;)
            total += static_cast<std::size_t>(n);
        return total >= 88244;
    });
    writer.join();
    close(reader);
    EXPECT_EQ(total, 88244u);
    ASSERT_GE(flags, 0) << "the call's descriptor was never seen";
    EXPECT_NE(flags & FD_CLOEXEC, 0);
    EXPECT_TRUE(WIFEXITED(childStatus) && WEXITSTATUS(childStatus) == 0) << childStatus;
}

#endif

#if defined(QUILLOX_READ_BACK_WITH_SNDFILE)
TEST(WavFile, ReadsBackThroughLibsndfile) {
    TempDir dir;
    const std::string path = dir / "tone.wav";
    ASSERT_EQ(WAVHZCreate(ToPath(path).c_str(), 1000, 10, 2), 999);

    SF_INFO info{};
    SNDFILE *file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    ASSERT_EQ(info.frames, 88200);
    std::vector<short> read(88200);
    EXPECT_EQ(sf_readf_short(file, read.data(), info.frames), info.frames);
    sf_close(file);

    std::vector<std::uint8_t> bytes(2 * read.size());
    SynthesizeReference({1000, 1.0f, 0, 88200, bytes.data()});
    for (std::size_t i = 0; i < read.size(); ++i) {
        ASSERT_EQ(read[i], static_cast<short>(bytes[2 * i] | bytes[2 * i + 1] << 8))
            << "sample " << i;
    }
    EXPECT_EQ(std::vector<short>(read.begin(), read.begin() + 3),
              (std::vector<short>{-1, 4652, 9210}));
}
#endif

}  // namespace
}  // namespace quillox::test
