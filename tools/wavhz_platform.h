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
    {"1", "not enough memory for the tone"},
    {"2", "the file cannot be written (the reason follows where it can be told)"},
    {"64", "bad arguments or an unknown option"},
    {"70", "the library returned a status it never returns"},
    {"74", "the tone was written, but not the summary line"},
    {"141", "the reader of standard output went away (SIGPIPE, as filters do)"},
    {"128+N", "stopped by signal N"},
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

// --- Portable (wavhz.cpp) ---

// The command: `args` without the program name. Returns the exit status.
int Run(const std::vector<std::string> &args);
// Prints `message` and the usage line, and exits with status 64.
[[noreturn]] void UsageError(const std::string &message);

// --- Per platform ---

// The name the library opens for OUTPUT "-"; empty where there is none.
extern const char kStandardOutput[];
// Whether a backslash in a quoted name is escaped: not where it separates
// folders (Windows), so that a name reads as its users write it.
extern const bool kBackslashEscaped;
// Writes the tone `request` asks for through WAVHZTryCreate, in this
// process, and returns its status; when the file cannot be written, `why`
// says why in the system's words.
std::int32_t WriteTone(const ToneRequest &request, std::string &why);
// Where the one-line summary goes: stderr when `output` is standard output.
std::FILE *SummaryStream(const char *output);

}  // namespace quillox::wavhz
