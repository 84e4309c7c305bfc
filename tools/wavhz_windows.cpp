// wavhz on Windows: the request runs in a child that is this program again,
// started with CreateProcessW and told to run the request itself.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "wavhz_platform.h"

namespace quillox::wavhz {
namespace {

DWORD writeError = 0;  // why the tone could not be written, or 0

// The tone writer's exit code carries the system's error code beside the
// status: status | error << 8. (Error codes stay below 2^16, far from the
// NTSTATUS codes a crash ends with.)
constexpr int kErrorShift = 8;

// In the tone writer: the library is about to end the process; the reason
// goes to wavhz in the exit code.
void EndWithReason(int status) {
    const DWORD error = GetLastError() & 0xFFFF;
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status) | error << kErrorShift);
}

// The first argument of a child started to run a request itself.
constexpr wchar_t kRunRequest[] = L"--run-request";

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

}  // namespace

// Windows has no name for standard output that a file can be opened under.
const char kStandardOutput[] = "";

ChildEnd RunInChild(const ToneRequest &request) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    // "--": an OUTPUT that starts with "-" stays an operand in the child.
    std::wstring commandLine = Quote(self) + L" " + kRunRequest + L" --";
    for (const auto &operand : request.operands) commandLine += L" " + Quote(Widen(operand));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::fprintf(stderr, "wavhz: cannot start the tone writer (error %lu)\n", GetLastError());
        std::exit(kExitCannotStart);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // Crashes end with an NTSTATUS such as 0xC0000005.
    if (code >= 0xC0000000) return {false, code};
    writeError = code >> kErrorShift;
    return {true, code & ((1u << kErrorShift) - 1)};
}

// A child that crashed ends with an NTSTATUS such as 0xC0000005.
int ReportStopped(unsigned long status) {
    std::fprintf(stderr, "wavhz: the tone writer was stopped (status %#lx)\n", status);
    return 128 + static_cast<int>(status & 0x7F);
}

std::string WhyCannotWrite() {
    if (writeError == 0) return "";
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, writeError, 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                          text[length - 1] == ' ' || text[length - 1] == '.'))
        --length;
    if (length == 0) return "error " + std::to_string(writeError);
    return std::string(text, length);
}

std::FILE *SummaryStream(const char *) { return stdout; }

}  // namespace quillox::wavhz

// Arguments arrive as UTF-16; they are handled as UTF-8 like everywhere else.
int wmain(int argc, wchar_t **argv) {
    using namespace quillox::wavhz;
    const bool runHere = argc > 1 && std::wstring(argv[1]) == kRunRequest;
    std::vector<std::string> args;
    for (int k = runHere ? 2 : 1; k < argc; ++k) {
        const int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, argv[k], -1, nullptr, 0,
                                             nullptr, nullptr);
        if (size <= 0) UsageError("argument " + std::to_string(k) + " is not valid UTF-16");
        std::string arg(static_cast<std::size_t>(size), '\0');
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, argv[k], -1, arg.data(), size, nullptr,
                            nullptr);
        arg.pop_back();  // the terminator
        args.push_back(std::move(arg));
    }
    if (runHere) quillox::beforeProcessEnds = EndWithReason;
    return runHere ? RunRequestHere(args) : Run(args);
}
