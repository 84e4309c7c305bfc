/*
 * A small stand-in for the host's application framework: the part of it that
 * extension libraries use to register themselves when they are loaded.
 *
 * The framework keeps a chain of the extension libraries loaded into the
 * process (one registration object each) and a module state that holds the
 * heads of its runtime-class and class-factory lists. An extension library
 * initialises its extension-module record on load, allocates and constructs
 * its registration object, and terminates the record on unload, which also
 * unlinks and frees its registration.
 *
 * Besides those operations a host can look at what is registered. (Tests
 * use a build of their own with more: QuilloxAppFrameworkTesting.h.)
 */
#ifndef QUILLOX_APP_FRAMEWORK_H
#define QUILLOX_APP_FRAMEWORK_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && defined(QUILLOX_APP_FRAMEWORK_BUILDING)
#define APP_FRAMEWORK_API __declspec(dllexport)
#elif defined(_WIN32)
#define APP_FRAMEWORK_API __declspec(dllimport)
#elif defined(QUILLOX_APP_FRAMEWORK_BUILDING) && defined(__GNUC__)
#define APP_FRAMEWORK_API __attribute__((visibility("default")))
#else
#define APP_FRAMEWORK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One extension library's record. The library keeps it, zeroed, for as long
   as it is loaded; only the framework's functions change it. */
typedef struct AppExtensionModule {
    int32_t initialised;
    void *instance; /* the library's module handle */
} AppExtensionModule;

/* The module state: each list head with a slot beside it for the head the
   list started from. */
typedef struct AppModuleState {
    void *classListHead;
    void *classListInitialHead;
    void *factoryListHead;
    void *factoryListInitialHead;
} AppModuleState;

/* A link in the chain of loaded extension libraries. */
typedef struct AppDllRegistration {
    struct AppDllRegistration *next;
    AppExtensionModule *module;
    int32_t systemFlag;
} AppDllRegistration;

/* --- What an extension library calls --- */

/* Initialises `module` for the library at `instance`. Nonzero on success. */
APP_FRAMEWORK_API int32_t AppInitExtensionModule(AppExtensionModule *module, void *instance);
/* The framework's allocator: `bytes` of memory, or null. */
APP_FRAMEWORK_API void *AppAllocate(size_t bytes);
/* Constructs a registration object for `module` in `memory` (from
   AppAllocate, at least sizeof(AppDllRegistration) bytes) and links it into
   the chain of loaded libraries. */
APP_FRAMEWORK_API void AppConstructDllRegistration(void *memory, AppExtensionModule *module,
                                                   int32_t systemFlag);
/* Undoes AppInitExtensionModule: unlinks and frees the registrations of
   `module` (of every module, with `terminateAll`). A record that is not
   initialised is left alone. */
APP_FRAMEWORK_API void AppTermExtensionModule(AppExtensionModule *module, int32_t terminateAll);
/* The framework's current module state. */
APP_FRAMEWORK_API AppModuleState *AppCurrentModuleState(void);

/* --- What a host or a test looks at --- */

/* The first registration of the chain (the newest), or null. */
APP_FRAMEWORK_API const AppDllRegistration *AppFirstRegistration(void);
/* How many registrations the chain holds. */
APP_FRAMEWORK_API int32_t AppRegistrationCount(void);
/* How many extension-module records are initialised now. */
APP_FRAMEWORK_API int32_t AppInitialisedModuleCount(void);

#ifdef __cplusplus
}
#endif

#endif /* QUILLOX_APP_FRAMEWORK_H */
