// wavhz: write a sine tone to a WAV file from the command line.
//
//   wavhz OUTPUT FREQUENCY_HZ LEVEL SECONDS
//
// The arguments are those of WAVHZCreate, in its order. The library ends the
// process when a request fails, so the request runs in a child process and
// this one turns the child's exit status into words.
#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cctype>
#include <cerrno>
#include <csignal>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "QuilloxWAVFrequency.h"

namespace {

constexpr int kExitUsage = 64;          // EX_USAGE
constexpr int kExitNoMemory = 1;        // the library's statuses
constexpr int kExitCannotWrite = 2;
constexpr std::uint32_t kMaxSeconds = 48695;  // longest tone the 32-bit sizes hold
constexpr std::size_t kMaxNameBytes = 199;

constexpr char kUsage[] = "usage: wavhz [--] OUTPUT FREQUENCY_HZ LEVEL SECONDS";

constexpr char kHelp[] =
    "Write a sine tone to OUTPUT as a WAV file: PCM, mono, 44,100 samples per\n"
    "second, 16 bits. An existing file is replaced.\n"
    "\n"
    "  OUTPUT        file to write, at most 199 bytes of UTF-8; - is standard\n"
    "                output (a pipe or device works too); put -- before a name\n"
    "                that starts with -\n"
    "  FREQUENCY_HZ  whole hertz, -2147483648..2147483647; negative frequencies\n"
    "                give the mirrored wave\n"
    "  LEVEL         amplitude = LEVEL / 10 in whole numbers: 10 is full scale,\n"
    "                0..9 silence, 20 twice full scale (samples wrap around),\n"
    "                negative levels invert the wave\n"
    "  SECONDS       whole seconds, 0..48695\n"
    "\n"
    "A failed request changes nothing but the file it was writing: an existing\n"
    "file is kept whole when the disk or a file-size limit has no room for the\n"
    "tone, a file it created is removed, and links are never removed.\n"
    "\n"
    "Exit status: 0 written; 1 not enough memory for the tone; 2 the file cannot\n"
    "be written; 64 bad arguments; 141 the reader of standard output went away\n"
    "(SIGPIPE, as for other filters).\n";

[[noreturn]] void UsageError(const std::string &message) {
    std::fprintf(stderr, "wavhz: %s\n%s\n", message.c_str(), kUsage);
    std::exit(kExitUsage);
}

// `name` in single quotes, fit for a terminal: control characters (C0, DEL
// and C1), quotes and backslashes escaped; with `validUtf8` false every byte
// past ASCII is escaped too.
std::string Quoted(std::string_view name, bool validUtf8 = true) {
    std::string out = "'";
    for (std::size_t k = 0; k < name.size(); ++k) {
        const auto c = static_cast<unsigned char>(name[k]);
        const bool c1 = c == 0xC2 && k + 1 < name.size() &&
                        static_cast<unsigned char>(name[k + 1]) >= 0x80 &&
                        static_cast<unsigned char>(name[k + 1]) <= 0x9F;
        if (c < 0x20 || c == 0x7F || c1 || (!validUtf8 && c >= 0x80)) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
            if (c1) {
                std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(name[++k]));
                out += escaped;
            }
        } else {
            if (c == '\'' || c == '\\') out += '\\';
            out += static_cast<char>(c);
        }
    }
    return out + "'";
}

// A whole decimal number: an optional sign, digits, nothing else.
template <typename Integer>
std::optional<Integer> ParseInteger(std::string_view text) {
    const bool plus = !text.empty() && text.front() == '+';
    if (plus) text.remove_prefix(1);
    if (text.empty() || (plus && text.front() == '-')) return std::nullopt;
    Integer value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

template <typename Integer>
Integer ParseArgument(const char *name, const char *text,
                      Integer largest = std::numeric_limits<Integer>::max()) {
    const auto value = ParseInteger<Integer>(text);
    if (!value || *value > largest) {
        UsageError(std::string(name) + " must be a whole number from " +
                   std::to_string(std::numeric_limits<Integer>::min()) + " to " +
                   std::to_string(largest) + ", not " + Quoted(text, false));
    }
    return *value;
}

// Strict UTF-8 to UTF-16: overlong forms, encoded surrogates, values past
// U+10FFFF and cut-off sequences are refused.
std::optional<std::u16string> Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2
                                   : lead >= 0xE0 && lead <= 0xEF             ? 3
                                   : lead >= 0xF0 && lead <= 0xF4             ? 4
                                                                              : 0;
        if (length == 0 || i + length > text.size()) return std::nullopt;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            c = (c << 6) | (next & 0x3F);
        }
        constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += length;
    }
    return out;
}

struct ChildEnd {
    bool exited;        // by itself, with `code`; or stopped, `code` saying how
    unsigned long code;
};

#if defined(_WIN32)

// On Windows the child is this program again, told to run the request itself.
constexpr char kRunRequest[] = "--run-request";

std::wstring Widen(const std::string &utf8) {
    std::wstring wide(utf8.size() + 1, L'\0');
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(),
                                           static_cast<int>(wide.size()));
    wide.resize(length > 0 ? length - 1 : 0);
    return wide;
}

// One argument quoted for the child's command line, so that it reads back
// unchanged (backslashes double only before a quote).
std::wstring Quote(const std::wstring &arg) {
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}

ChildEnd RunInChild(const std::vector<std::string> &args) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    // "--": an OUTPUT that starts with "-" stays an operand in the child.
    std::wstring commandLine = Quote(self) + L" " + Widen(kRunRequest) + L" --";
    for (const auto &arg : args) commandLine += L" " + Quote(Widen(arg));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::fprintf(stderr, "wavhz: cannot start the tone writer (error %lu)\n", GetLastError());
        std::exit(kExitNoMemory);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // Crashes end with an NTSTATUS such as 0xC0000005.
    return {code < 0xC0000000, code};
}

std::FILE *SummaryStream(const char *) { return stdout; }

// Windows has no name for standard output that a file can be opened under.
constexpr char kStandardOutput[] = "";

// A child that crashed ends with an NTSTATUS such as 0xC0000005.
int ReportStopped(unsigned long status) {
    std::fprintf(stderr, "wavhz: the tone writer was stopped (status %#lx)\n", status);
    return 128 + static_cast<int>(status & 0x7F);
}

#else

ChildEnd RunInChild(const std::u16string &path, std::int32_t frequencyHz, std::int32_t level,
                    std::uint32_t seconds) {
    std::fflush(nullptr);  // nothing buffered may be written twice
    const pid_t child = fork();
    if (child < 0) {
        std::fprintf(stderr, "wavhz: cannot start the tone writer: %s\n", std::strerror(errno));
        std::exit(kExitNoMemory);
    }
    if (child == 0) {
        const std::int32_t result = WAVHZCreate(path.c_str(), frequencyHz, level, seconds);
        _exit(result == 999 ? 0 : 70);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            std::fprintf(stderr, "wavhz: lost the tone writer: %s\n", std::strerror(errno));
            std::exit(70);
        }
    }
    if (WIFSIGNALED(status)) return {false, static_cast<unsigned long>(WTERMSIG(status))};
    return {true, static_cast<unsigned long>(WEXITSTATUS(status))};
}

// The name the library opens for OUTPUT "-".
constexpr char kStandardOutput[] = "/dev/stdout";
constexpr char kRunRequest[] = "";  // POSIX children are forked: no such argument

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

// The summary goes to stderr when the tone itself went to stdout.
std::FILE *SummaryStream(const char *output) {
    struct stat file{};
    struct stat out{};
    if (stat(output, &file) == 0 && fstat(STDOUT_FILENO, &out) == 0 && file.st_dev == out.st_dev &&
        file.st_ino == out.st_ino) {
        return stderr;
    }
    return stdout;
}

#endif

// What the command line asks for: the options are handled here (--help and
// --version print and exit); the operands are returned. `--` ends the
// options; a lone `-` and negative numbers are operands.
std::vector<std::string> Operands(const std::vector<std::string> &args) {
    std::vector<std::string> operands;
    bool options = true;
    for (const std::string &arg : args) {
        const bool looksLikeOption = arg.size() > 1 && arg[0] == '-' && !std::isdigit(
                                                                            static_cast<unsigned char>(arg[1]));
        if (!options || !looksLikeOption || arg == kRunRequest) {
            operands.push_back(arg);
        } else if (arg == "--") {
            options = false;
        } else if (arg == "--help" || arg == "-h") {
            std::printf("%s\n\n%s", kUsage, kHelp);
            std::exit(0);
        } else if (arg == "--version") {
            std::printf("wavhz %s\n", QUILLOX_WAV_FREQUENCY_VERSION_STRING);
            std::exit(0);
        } else {
            UsageError("unknown option " + Quoted(arg, false) +
                       " (put -- before an OUTPUT that starts with -)");
        }
    }
    return operands;
}

int Run(const std::vector<std::string> &args) {
    const std::vector<std::string> operands = Operands(args);
#if defined(_WIN32)
    const bool runHere = operands.size() == 5 && operands[0] == kRunRequest;
    const std::vector<std::string> request(operands.begin() + (runHere ? 1 : 0), operands.end());
#else
    const std::vector<std::string> &request = operands;
#endif
    if (request.size() != 4) UsageError("expected 4 arguments, got " + std::to_string(request.size()));

    const std::string &output = request[0];
    if (output == "-" && kStandardOutput[0] == '\0') UsageError("OUTPUT - (standard output) needs a POSIX system");
    const auto path = Utf8ToUtf16(output == "-" ? kStandardOutput : output);
    if (!path) UsageError("OUTPUT is not valid UTF-8: " + Quoted(output, false));
    const auto frequencyHz = ParseArgument<std::int32_t>("FREQUENCY_HZ", request[1].c_str());
    const auto level = ParseArgument<std::int32_t>("LEVEL", request[2].c_str());
    const auto seconds = ParseArgument<std::uint32_t>("SECONDS", request[3].c_str(), kMaxSeconds);

#if defined(_WIN32)
    if (runHere) {
        const std::wstring wide(path->begin(), path->end());
        return WAVHZCreate(wide.c_str(), frequencyHz, level, seconds) == 999 ? 0 : 70;
    }
    const ChildEnd end = RunInChild(request);
#else
    const ChildEnd end = RunInChild(*path, frequencyHz, level, seconds);
#endif
    if (!end.exited) return ReportStopped(end.code);
    const auto code = static_cast<int>(end.code);
    if (code == kExitCannotWrite) {
        const bool tooLong = output.size() > kMaxNameBytes;
        std::fprintf(stderr, "wavhz: cannot write %s%s\n", Quoted(output).c_str(),
                     tooLong ? " (names are limited to 199 bytes)" : "");
    } else if (code == kExitNoMemory) {
        std::fprintf(stderr, "wavhz: not enough memory for a tone of %" PRIu32 " seconds\n", seconds);
    } else if (code == 0) {
        const std::uint64_t bytes = 44 + std::uint64_t{seconds} * 88200;
        std::string shown = Quoted(output);  // unquoted unless something needed escaping
        if (shown == "'" + output + "'") shown = output;
        std::fprintf(SummaryStream(output == "-" ? kStandardOutput : output.c_str()),
                     "%s: %" PRIu64 " bytes, %" PRIu32 " s\n", shown.c_str(), bytes, seconds);
    }
    return code;
}

}  // namespace

#if defined(_WIN32)
// Arguments arrive as UTF-16; they are handled as UTF-8 like everywhere else.
int wmain(int argc, wchar_t **argv) {
    std::vector<std::string> args;
    for (int k = 1; k < argc; ++k) {
        const int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, argv[k], -1, nullptr, 0,
                                             nullptr, nullptr);
        if (size <= 0) UsageError("argument " + std::to_string(k) + " is not valid UTF-16");
        std::string arg(static_cast<std::size_t>(size), '\0');
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, argv[k], -1, arg.data(), size, nullptr,
                            nullptr);
        arg.pop_back();  // the terminator
        args.push_back(std::move(arg));
    }
    return Run(args);
}
#else
int main(int argc, char **argv) { return Run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
