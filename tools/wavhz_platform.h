// The seam between wavhz's portable part (wavhz.cpp) and what differs
// between POSIX systems (wavhz_posix.cpp) and Windows (wavhz_windows.cpp).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "QuilloxWAVFrequency.h"

namespace quillox::wavhz {

// A request that did not end as the library says it can: EX_SOFTWARE.
inline constexpr int kExitSoftware = 70;
// How a child that could not be started or waited for is reported.
inline constexpr int kExitCannotStart = WAVHZ_EXIT_NO_MEMORY;
// The tone was written, but the summary line could not be: EX_IOERR.
inline constexpr int kExitSummaryLost = 74;

// Every exit status wavhz gives, in the words --help prints; the man page
// and the README list the same (a test compares them).
struct ExitStatus {
    const char *status;
    const char *meaning;
};
inline constexpr ExitStatus kExitStatuses[] = {
    {"0", "the file was written"},
    {"1", "not enough memory for the tone, or no tone writer (a child process)"},
    {"2", "the file cannot be written (the reason follows where it can be told)"},
    {"64", "bad arguments or an unknown option"},
    {"70", "the library returned without writing, which it never does"},
    {"74", "the tone was written, but not the summary line"},
    {"141", "the reader of standard output went away (SIGPIPE, as filters do)"},
    {"128+N", "the tone writer was stopped by signal N (on Windows, by a crash)"},
};

// A request, checked.
struct ToneRequest {
    std::vector<std::string> operands;  // as given, OUTPUT first
    std::string output;                 // OUTPUT as given, in UTF-8
    std::basic_string<WAVHZPathChar> path;
    std::int32_t frequencyHz = 0;
    std::int32_t level = 0;
    std::uint32_t seconds = 0;
    bool quiet = false;  // -q: no summary, no warnings
};

// How the child that ran a request ended.
struct ChildEnd {
    bool exited;  // by itself, with exit status `code`; or stopped, `code` saying how
    unsigned long code;
};

// --- Portable (wavhz.cpp) ---

// The command: `args` without the program name. Returns the exit status.
int Run(const std::vector<std::string> &args);
// The request in `args`, run in this process (a Windows child's work).
int RunRequestHere(const std::vector<std::string> &args);
// Prints `message` and the usage line, and exits with status 64.
[[noreturn]] void UsageError(const std::string &message);

// --- Per platform ---

// The name the library opens for OUTPUT "-"; empty where there is none.
extern const char kStandardOutput[];
// Runs `request` through WAVHZCreate in a child process and waits for it.
ChildEnd RunInChild(const ToneRequest &request);
// Reports a child that did not exit by itself; returns this process's status
// (or ends it, as a SIGPIPE does).
int ReportStopped(unsigned long code);
// Why the last request's file could not be written, in the system's words,
// as the tone writer found it when it failed; empty where it said nothing.
std::string WhyCannotWrite();
// Where the one-line summary goes: stderr when `output` is standard output.
std::FILE *SummaryStream(const char *output);

}  // namespace quillox::wavhz
