#include "QuilloxAppFramework.h"

#include <stdlib.h>
#include <string.h>

static AppModuleState moduleState;
static AppDllRegistration *chain;
static int32_t initialisedModules;

/* The test build's journal and failures on demand; the installed build has
   neither, and its failure switches stay 0. */
static int32_t failInitialisation;
static int32_t failAllocation;
#if defined(QUILLOX_APP_FRAMEWORK_TESTING)
#include "QuilloxAppFrameworkTesting.h"

static char journal[64];

static void Record(char call) {
    const size_t length = strlen(journal);
    if (length + 1 < sizeof journal) {
        journal[length] = call;
        journal[length + 1] = '\0';
    }
}

const char *AppJournal(void) { return journal; }
void AppClearJournal(void) { journal[0] = '\0'; }

void AppSetFailures(int32_t failInit, int32_t failAlloc) {
    failInitialisation = failInit;
    failAllocation = failAlloc;
}
#else
static void Record(char call) { (void)call; }
#endif

int32_t AppInitExtensionModule(AppExtensionModule *module, void *instance) {
    Record('I');
    if (failInitialisation) return 0;
    if (!module->initialised) {
        module->initialised = 1;
        module->instance = instance;
        ++initialisedModules;
    }
    return 1;
}

void *AppAllocate(size_t bytes) {
    Record('A');
    return failAllocation ? NULL : malloc(bytes);
}

void AppConstructDllRegistration(void *memory, AppExtensionModule *module, int32_t systemFlag) {
    Record('C');
    AppDllRegistration *registration = (AppDllRegistration *)memory;
    registration->module = module;
    registration->systemFlag = systemFlag;
    registration->next = chain;
    chain = registration;
}

void AppTermExtensionModule(AppExtensionModule *module, int32_t terminateAll) {
    Record('T');
    if (!module->initialised) return;
    for (AppDllRegistration **link = &chain; *link != NULL;) {
        AppDllRegistration *registration = *link;
        if (terminateAll || registration->module == module) {
            *link = registration->next;
            free(registration);
        } else {
            link = &registration->next;
        }
    }
    module->initialised = 0;
    module->instance = NULL;
    --initialisedModules;
}

AppModuleState *AppCurrentModuleState(void) {
    Record('S');
    return &moduleState;
}

const AppDllRegistration *AppFirstRegistration(void) { return chain; }

int32_t AppRegistrationCount(void) {
    int32_t count = 0;
    for (const AppDllRegistration *r = chain; r != NULL; r = r->next) ++count;
    return count;
}
int32_t AppInitialisedModuleCount(void) { return initialisedModules; }
