// A Windows host: loads the DLL by name, looks WAVHZCreate up, writes files,
// and frees the DLL again.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "QuilloxAppFrameworkTesting.h"
#include "test_support.h"

namespace quillox::test {
namespace {

using testing::ExitedWithCode;
using CreateFunction = std::int32_t(const wchar_t *, std::int32_t, std::int32_t, std::uint32_t);

class WindowsHost : public testing::Test {
protected:
    void SetUp() override {
        AppClearJournal();
        library = LoadLibraryW(L"QuilloxWAVFrequency.dll");
        ASSERT_NE(library, nullptr) << "error " << GetLastError();
        create = reinterpret_cast<CreateFunction *>(
            reinterpret_cast<void *>(GetProcAddress(library, "WAVHZCreate")));
        ASSERT_NE(create, nullptr);
    }
    void TearDown() override {
        if (library != nullptr) FreeLibrary(library);
    }
    HMODULE library = nullptr;
    CreateFunction *create = nullptr;
};

TEST_F(WindowsHost, LoadingRegistersAndFreeingDeregisters) {
    EXPECT_STREQ(AppJournal(), "SIAC");
    ASSERT_EQ(AppRegistrationCount(), 1);
    EXPECT_EQ(AppFirstRegistration()->module->instance, static_cast<void *>(library));
    AppClearJournal();
    ASSERT_TRUE(FreeLibrary(library));
    library = nullptr;
    EXPECT_STREQ(AppJournal(), "T");
    EXPECT_EQ(AppRegistrationCount(), 0);
}

TEST_F(WindowsHost, AFailedInitialisationFailsTheLoad) {
    ASSERT_TRUE(FreeLibrary(library));
    AppSetFailures(1, 0);
    library = LoadLibraryW(L"QuilloxWAVFrequency.dll");
    AppSetFailures(0, 0);
    EXPECT_EQ(library, nullptr);
    EXPECT_EQ(AppRegistrationCount(), 0);
    EXPECT_EQ(AppInitialisedModuleCount(), 0);
}

TEST_F(WindowsHost, VersionRecordSaysTheProjectVersionInUsEnglish) {
    constexpr DWORD kHigh =
        QUILLOX_WAV_FREQUENCY_VERSION_MAJOR << 16 | QUILLOX_WAV_FREQUENCY_VERSION_MINOR;
    constexpr DWORD kLow =
        QUILLOX_WAV_FREQUENCY_VERSION_PATCH << 16 | QUILLOX_WAV_FREQUENCY_VERSION_TWEAK;
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(library, path, MAX_PATH), 0u);
    std::vector<char> record(GetFileVersionInfoSizeW(path, nullptr));
    ASSERT_FALSE(record.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, static_cast<DWORD>(record.size()), record.data()));
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueW(record.data(), L"\\", reinterpret_cast<void **>(&fixed), &size));
    EXPECT_EQ(fixed->dwFileVersionMS, kHigh);
    EXPECT_EQ(fixed->dwFileVersionLS, kLow);
    EXPECT_EQ(fixed->dwProductVersionMS, kHigh);
    EXPECT_EQ(fixed->dwProductVersionLS, kLow);
    WORD *translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(record.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void **>(&translation), &size));
    EXPECT_EQ(translation[0], 0x0409);  // US English
}

TEST_F(WindowsHost, NamesOutsideTheAnsiCodePageAreRefused) {
    TempDir dir;
    const PathString base = ToPath(dir / "");
    // In every Western code page: written under its own name.
    ASSERT_EQ(create((base + L"caf\u00e9.wav").c_str(), 440, 10, 0), 999);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / L"caf\u00e9.wav"));
    std::filesystem::remove(dir.path() / L"caf\u00e9.wav");
    // A CJK character, and a fullwidth solidus that "best fit" would turn
    // into '/', sending the file into the folder "a".
    std::filesystem::create_directory(dir.path() / "a");
    for (const PathString &name : {base + L"\u4e2d.wav", base + L"a\uff0fb.wav"}) {
        EXPECT_EXIT(create(name.c_str(), 440, 10, 1), ExitedWithCode(2), "");
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path() / "a"));
    std::filesystem::remove(dir.path() / "a");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// Writers of one name in two processes (wavhz.exe, a host like any other)
// take turns: while a third holds the writers' lock (as the library takes
// it: one byte far past any data), both wait for it rather than failing,
// and a reader opening the file meanwhile is not shut out. Then both write
// their tone whole.
TEST_F(WindowsHost, WritersInTwoProcessesTakeTurnsAndReadersAreNotShutOut) {
    TempDir dir;
    const std::string name = dir / "shared.wav";
    ASSERT_EQ(create(ToPath(name).c_str(), 1000, 10, 1), 999);
    const HANDLE holder = CreateFileA(name.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    OVERLAPPED lock{};
    lock.Offset = 0xFFFFFFFE;
    lock.OffsetHigh = 0x7FFFFFFF;
    ASSERT_TRUE(LockFileEx(holder, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lock));
    PROCESS_INFORMATION writers[2]{};
    for (PROCESS_INFORMATION &writer : writers) {
        std::string command = "wavhz.exe -q \"" + name + "\" 440 10 1";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &writer));
    }
    for (const PROCESS_INFORMATION &writer : writers)
        EXPECT_EQ(WaitForSingleObject(writer.hProcess, 500), WAIT_TIMEOUT) << "did not wait";
    FILE *const reader = std::fopen(name.c_str(), "rb");
    EXPECT_NE(reader, nullptr) << "a reader was shut out";
    if (reader != nullptr) std::fclose(reader);
    UnlockFileEx(holder, 0, 1, 0, &lock);
    CloseHandle(holder);
    for (const PROCESS_INFORMATION &writer : writers) {
        WaitForSingleObject(writer.hProcess, INFINITE);
        DWORD status = 99;
        GetExitCodeProcess(writer.hProcess, &status);
        EXPECT_EQ(status, 0u);
        CloseHandle(writer.hProcess);
        CloseHandle(writer.hThread);
    }
    EXPECT_EQ(ReadBytes(name).size(), 88244u);
}

}  // namespace
}  // namespace quillox::test
