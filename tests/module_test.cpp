// Loading and unloading the tone library as a host does, watching its
// registration through the framework.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "QuilloxAppFrameworkTesting.h"
#include "test_support.h"

namespace quillox::test {
namespace {

using CreateFunction = std::int32_t(const WAVHZPathChar *, std::int32_t, std::int32_t,
                                    std::uint32_t);

class Module : public testing::Test {
protected:
    void SetUp() override {
        AppSetFailures(0, 0);
        AppClearJournal();
    }
    void TearDown() override { AppSetFailures(0, 0); }

    // RTLD_LOCAL and no other reference: dlclose really unloads it.
    static void *Load() { return dlopen(QUILLOX_LIBRARY, RTLD_NOW | RTLD_LOCAL); }
    static bool IsLoaded() {
        void *handle = dlopen(QUILLOX_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
        if (handle != nullptr) dlclose(handle);
        return handle != nullptr;
    }
    static std::vector<std::uint8_t> Tone(void *handle, const std::string &path) {
        auto *create = reinterpret_cast<CreateFunction *>(dlsym(handle, "WAVHZCreate"));
        EXPECT_NE(create, nullptr);
        EXPECT_EQ(create(ToPath(path).c_str(), 1000, 10, 1), 999);
        return ReadBytes(path);
    }
};

TEST_F(Module, RegistersOnLoadAndDeregistersOnUnload) {
    int classes = 0;
    int factories = 0;
    AppModuleState *state = AppCurrentModuleState();
    state->classListHead = &classes;
    state->factoryListHead = &factories;
    AppClearJournal();

    void *handle = Load();
    ASSERT_NE(handle, nullptr) << dlerror();
    // The hook first (module state), then initialise, allocate, construct.
    EXPECT_STREQ(AppJournal(), "SIAC");
    EXPECT_EQ(state->classListInitialHead, &classes);
    EXPECT_EQ(state->classListHead, nullptr);
    EXPECT_EQ(state->factoryListInitialHead, &factories);
    EXPECT_EQ(state->factoryListHead, nullptr);
    ASSERT_EQ(AppRegistrationCount(), 1);
    const AppDllRegistration *registration = AppFirstRegistration();
    EXPECT_EQ(registration->systemFlag, 0);
    Dl_info info{};
    ASSERT_NE(dladdr(dlsym(handle, "WAVHZCreate"), &info), 0);
    EXPECT_EQ(registration->module->instance, info.dli_fbase);  // the library's own handle
    EXPECT_EQ(AppInitialisedModuleCount(), 1);

    AppClearJournal();
    ASSERT_EQ(dlclose(handle), 0);
    EXPECT_FALSE(IsLoaded());
    EXPECT_STREQ(AppJournal(), "T");
    EXPECT_EQ(AppRegistrationCount(), 0);
    EXPECT_EQ(AppInitialisedModuleCount(), 0);
}

TEST_F(Module, AFailedAllocationLeavesTheLibraryUnregisteredButLoaded) {
    AppSetFailures(0, 1);
    void *handle = Load();
    ASSERT_NE(handle, nullptr) << dlerror();
    EXPECT_STREQ(AppJournal(), "SIA");
    EXPECT_EQ(AppRegistrationCount(), 0);
    EXPECT_EQ(AppInitialisedModuleCount(), 1);
    ASSERT_EQ(dlclose(handle), 0);
    EXPECT_STREQ(AppJournal(), "SIAT");
    EXPECT_EQ(AppInitialisedModuleCount(), 0);
}

TEST_F(Module, AFailedInitialisationIsNotTerminatedAndTonesStillWork) {
    TempDir dir;
    AppSetFailures(1, 0);
    void *handle = Load();
    ASSERT_NE(handle, nullptr) << dlerror();
    EXPECT_STREQ(AppJournal(), "SI");
    EXPECT_EQ(AppRegistrationCount(), 0);
    EXPECT_EQ(Tone(handle, dir / "t.wav").size(), 88244u);
    ASSERT_EQ(dlclose(handle), 0);
    EXPECT_STREQ(AppJournal(), "SI");  // nothing to terminate
    EXPECT_EQ(AppInitialisedModuleCount(), 0);
}

TEST_F(Module, ManyCyclesLeaveNothingBehind) {
    // Run under valgrind as well (ctest's module_cycles_valgrind).
    TempDir dir;
    void *handle = Load();
    ASSERT_NE(handle, nullptr) << dlerror();
    const auto first = Tone(handle, dir / "first.wav");
    ASSERT_EQ(dlclose(handle), 0);
    for (int cycle = 0; cycle < 200; ++cycle) {
        handle = Load();
        ASSERT_NE(handle, nullptr) << dlerror();
        ASSERT_EQ(AppRegistrationCount(), 1);
        ASSERT_EQ(dlclose(handle), 0);
        ASSERT_EQ(AppRegistrationCount(), 0);
    }
    handle = Load();
    EXPECT_EQ(Tone(handle, dir / "again.wav"), first);  // the same bytes after reloads
    dlclose(handle);
    EXPECT_EQ(AppInitialisedModuleCount(), 0);
}

}  // namespace
}  // namespace quillox::test
