/*
 * The test build of the framework stand-in (QuilloxAppFrameworkTesting, a
 * library of the same name as the stand-in, built beside the tests only):
 * the stand-in's functions and, for tests, a journal of the calls made and
 * failures on demand. Never installed.
 */
#ifndef QUILLOX_APP_FRAMEWORK_TESTING_H
#define QUILLOX_APP_FRAMEWORK_TESTING_H

#include "QuilloxAppFramework.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The calls made since the last AppClearJournal, one letter each:
   S current module state, I initialise, A allocate, C construct,
   T terminate. */
APP_FRAMEWORK_API const char *AppJournal(void);
APP_FRAMEWORK_API void AppClearJournal(void);
/* Makes every later initialisation, or allocation, fail while set. */
APP_FRAMEWORK_API void AppSetFailures(int32_t failInitialisation, int32_t failAllocation);

#ifdef __cplusplus
}
#endif

#endif /* QUILLOX_APP_FRAMEWORK_TESTING_H */
