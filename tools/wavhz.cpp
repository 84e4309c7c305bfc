// wavhz: write a sine tone to a WAV file from the command line.
//
//   wavhz [--] OUTPUT FREQUENCY_HZ LEVEL SECONDS
//
// The arguments are those of WAVHZTryCreate, in its order: wavhz calls it as
// any host of the library does, and turns what it returns into words. What
// differs between POSIX systems and Windows (standard output, the reason's
// words, the command line) is in wavhz_posix.cpp and wavhz_windows.cpp.
#include <cctype>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "QuilloxWAVFrequency.h"
#include "wavhz_platform.h"

namespace quillox::wavhz {
namespace {

constexpr int kExitUsage = 64;  // EX_USAGE

constexpr char kUsage[] = "usage: wavhz [-q] [--] OUTPUT FREQUENCY_HZ LEVEL SECONDS";

// Whether OUTPUT - can be written here (not on Windows).
bool HasStandardOutput() { return kStandardOutput[0] != '\0'; }

// The exit statuses, a line each (SIGPIPE's only where - can be written).
std::string ExitStatusLines() {
    std::string lines;
    for (const ExitStatus &line : kExitStatuses) {
        if (!HasStandardOutput() && std::strcmp(line.status, "141") == 0) continue;
        lines += "  " + std::string(line.status) + std::string(8 - std::strlen(line.status), ' ') +
                 line.meaning + "\n";
    }
    return lines;
}

std::string Help() {
    return std::string(
               "Write a sine tone to OUTPUT as a WAV file: PCM, mono, 44,100 samples per\n"
               "second, 16 bits. An existing file is replaced.\n"
               "\n"
               "  OUTPUT        file to write: a path of at most ") +
           std::to_string(WAVHZ_MAX_NAME_BYTES) +
           " bytes in all, folders\n"
           "                included (UTF-8; on Windows, the ANSI code page);\n" +
           (HasStandardOutput()
                ? "                - is standard output (a pipe or device works too);\n"
                : "                - (standard output) cannot be written on Windows;\n") +
           "                put -- before a name that starts with -\n"
           "  FREQUENCY_HZ  whole hertz, -2147483648..2147483647; negative frequencies\n"
           "                give the mirrored wave\n"
           "  LEVEL         amplitude = LEVEL / 10 in whole numbers: -9..9 silence,\n"
           "                10..19 full scale, 20..29 twice full scale (samples wrap),\n"
           "                negative levels invert the wave\n"
           "  SECONDS       whole seconds, 0.." +
           std::to_string(WAVHZ_MAX_SECONDS) +
           "\n"
           "\n"
           "  -q, --quiet   no summary line and no warnings (errors are still told)\n"
           "\n"
           "A failed request changes nothing but the file it was writing: an existing\n"
           "file is kept whole when the disk or a file-size limit has no room for the\n"
           "tone, a file it created is removed, and links are never removed.\n"
           "\n"
           "Exit status:\n" +
           ExitStatusLines();
}

// `name` in single quotes, fit for a terminal: control characters (C0, DEL
// and C1), quotes and (but on Windows, where they separate folders)
// backslashes escaped; with `validUtf8` false every byte past ASCII is
// escaped too.
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
                std::snprintf(escaped, sizeof escaped, "\\x%02x",
                              static_cast<unsigned char>(name[++k]));
                out += escaped;
            }
        } else {
            if (c == '\'' || (c == '\\' && kBackslashEscaped)) out += '\\';
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
        const std::size_t length = lead < 0x80                    ? 1
                                   : lead >= 0xC2 && lead <= 0xDF ? 2
                                   : lead >= 0xE0 && lead <= 0xEF ? 3
                                   : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                                  : 0;
        if (length == 0 || i + length > text.size()) return std::nullopt;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            c = (c << 6) | (next & 0x3F);
        }
        constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return std::nullopt;
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

}  // namespace

void UsageError(const std::string &message) {
    std::fprintf(stderr, "wavhz: %s\n%s\nTry 'wavhz --help'.\n", message.c_str(), kUsage);
    std::exit(kExitUsage);
}

namespace {

// What the command line asks for: the options are handled here (--help and
// --version print and exit, -q sets `quiet`); the operands are returned.
// `--` ends the options; a lone `-` and negative numbers are operands.
std::vector<std::string> Operands(const std::vector<std::string> &args, bool &quiet) {
    std::vector<std::string> operands;
    bool options = true;
    for (const std::string &arg : args) {
        const bool looksLikeOption =
            arg.size() > 1 && arg[0] == '-' && !std::isdigit(static_cast<unsigned char>(arg[1]));
        if (!options || !looksLikeOption) {
            operands.push_back(arg);
        } else if (arg == "--") {
            options = false;
        } else if (arg == "--help" || arg == "-h") {
            std::printf("%s\n\n%s", kUsage, Help().c_str());
            std::exit(0);
        } else if (arg == "-q" || arg == "--quiet") {
            quiet = true;
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

// The request the command line gives: its options, then the operands
// OUTPUT, FREQUENCY_HZ, LEVEL and SECONDS, checked. Anything amiss is a
// usage error.
ToneRequest ParseRequest(const std::vector<std::string> &args) {
    ToneRequest request;
    const std::vector<std::string> operands = Operands(args, request.quiet);
    if (operands.size() != 4)
        UsageError("expected 4 arguments, got " + std::to_string(operands.size()));
    request.operands = operands;
    request.output = operands[0];
    if (request.output == "-" && !HasStandardOutput()) {
        UsageError("OUTPUT - (standard output) cannot be written on Windows: name a file");
    }
    const auto path = Utf8ToUtf16(request.output == "-" ? kStandardOutput : request.output);
    if (!path) UsageError("OUTPUT is not valid UTF-8: " + Quoted(request.output, false));
    request.path.assign(path->begin(), path->end());
    request.frequencyHz = ParseArgument<std::int32_t>("FREQUENCY_HZ", operands[1].c_str());
    request.level = ParseArgument<std::int32_t>("LEVEL", operands[2].c_str());
    request.seconds =
        ParseArgument<std::uint32_t>("SECONDS", operands[3].c_str(), WAVHZ_MAX_SECONDS);
    return request;
}

// The frequency a request above half the sample rate plays as. The
// formula's phase step is 6.28318 / P radians a sample, P the period in
// samples as a float (44100 / frequency, rounded to single precision: far
// from the frequency's own for huge ones); the step folds into 0..pi, which
// is 0..22050 Hz. Where a second of phase steps passes 2^23 radians, the
// single-precision phase rounds to a radian or more from the first second
// on and plays as noise, not as a tone: no frequency then.
std::optional<double> AliasHz(std::uint64_t hz) {
    constexpr double kPi = 3.141592653589793;
    const float period = 44100.0f / static_cast<float>(hz);
    const double step = 6.28318 / static_cast<double>(period);
    if (step * 44100 >= 0x1p23) return std::nullopt;
    const double turns = std::fmod(step / (2 * kPi), 1.0);
    return (turns > 0.5 ? 1 - turns : turns) * 44100;
}

// Requests that are probably a mistake: said on stderr, the status
// unchanged. One row a mistake: when it applies, and what it does.
void WarnOfMistakes(const ToneRequest &request) {
    const std::int32_t level = request.level;
    const std::uint64_t hz = request.frequencyHz < 0
                                 ? 0 - static_cast<std::uint64_t>(request.frequencyHz)
                                 : static_cast<std::uint64_t>(request.frequencyHz);
    const std::optional<double> alias = hz > 22050 ? AliasHz(hz) : std::nullopt;
    const struct {
        bool applies;
        std::string warning;
    } mistakes[] = {
        {level > -10 && level < 10,
         "level " + std::to_string(level) +
             " gives silence (the amplitude is LEVEL / 10 in whole numbers)"},
        {level >= 20 || level <= -20,
         "level " + std::to_string(level) + " is " + std::to_string(std::abs(level / 10)) +
             " times full scale: the samples wrap around, they do not clip"},
        {request.seconds == 0, "0 seconds gives a file without samples"},
        {hz == 22050,
         "22050 Hz is half the sample rate: the tone starts silent (every sample on a zero "
         "crossing) and grows only slowly"},
        {hz > 22050 && alias,
         std::to_string(hz) + " Hz is above half the sample rate (22050 Hz) and plays as about " +
             std::to_string(static_cast<long long>(alias.value_or(0) + 0.5)) + " Hz"},
        {hz > 22050 && !alias,
         std::to_string(hz) +
             " Hz is above half the sample rate (22050 Hz) and, its phase rounding by a "
             "radian or more, plays as noise, not as a tone"},
    };
    for (const auto &mistake : mistakes) {
        if (mistake.applies) std::fprintf(stderr, "wavhz: warning: %s\n", mistake.warning.c_str());
    }
}

}  // namespace

int Run(const std::vector<std::string> &args) {
    const ToneRequest request = ParseRequest(args);
    if (!request.quiet) WarnOfMistakes(request);
    std::string reason;
    const std::int32_t result = WriteTone(request, reason);
    const int code = result == WAVHZ_DONE ? 0
                     : result == WAVHZ_EXIT_NO_MEMORY || result == WAVHZ_EXIT_CANNOT_WRITE
                         ? static_cast<int>(result)
                         : kExitSoftware;
    const std::string &output = request.output;
    const std::uint64_t bytes = WAVHZ_FILE_BYTES(request.seconds);
    if (code == WAVHZ_EXIT_CANNOT_WRITE) {
        std::string why =
            output.size() > WAVHZ_MAX_NAME_BYTES
                ? " (names are limited to " + std::to_string(WAVHZ_MAX_NAME_BYTES) + " bytes)"
                : reason;
        if (!why.empty() && why[0] != ' ') why = ": " + why;
        std::fprintf(stderr, "wavhz: cannot write %s%s\n", Quoted(output).c_str(), why.c_str());
    } else if (code == WAVHZ_EXIT_NO_MEMORY) {
        std::fprintf(stderr, "wavhz: not enough memory for a tone of %" PRIu32 " seconds\n",
                     request.seconds);
    } else if (code == 0 && !request.quiet) {
        std::string shown = Quoted(output);  // unquoted unless something needed escaping
        if (shown == "'" + output + "'") shown = output;
        std::FILE *const summary = SummaryStream(output == "-" ? kStandardOutput : output.c_str());
        if (std::fprintf(summary, "%s: %" PRIu64 " bytes, %" PRIu32 " s\n", shown.c_str(), bytes,
                         request.seconds) < 0 ||
            std::fflush(summary) != 0) {
            std::fprintf(stderr, "wavhz: the tone is written, but not this summary: %s\n",
                         std::strerror(errno));
            return kExitSummaryLost;
        }
    }
    return code;
}

}  // namespace quillox::wavhz
