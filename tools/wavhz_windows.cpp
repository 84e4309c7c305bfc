// wavhz on Windows: the request runs in this process, through
// WAVHZTryCreate, as in any host of the library.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "wavhz_platform.h"

namespace quillox::wavhz {
namespace {

// `error`, a GetLastError code, in Windows' words.
std::string InWords(DWORD error) {
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                          text[length - 1] == ' ' || text[length - 1] == '.'))
        --length;
    if (length == 0) return "error " + std::to_string(error);
    return std::string(text, length);
}

}  // namespace

// Windows has no name for standard output that a file can be opened under.
const char kStandardOutput[] = "";
const bool kBackslashEscaped = false;

std::int32_t WriteTone(const ToneRequest &request, std::string &why) {
    const std::int32_t status =
        WAVHZTryCreate(request.path.c_str(), request.frequencyHz, request.level, request.seconds);
    if (status == WAVHZ_EXIT_CANNOT_WRITE) why = InWords(GetLastError());
    return status;
}

std::FILE *SummaryStream(const char *) { return stdout; }

}  // namespace quillox::wavhz

// Arguments arrive as UTF-16; they are handled as UTF-8 like everywhere else.
int wmain(int argc, wchar_t **argv) {
    using namespace quillox::wavhz;
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
