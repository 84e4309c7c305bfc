// Turning the caller's UTF-16 file name into the narrow name the C library
// opens.
#pragma once

#include "tone/tone_settings.h"

namespace quillox {

// Converts the NUL-terminated UTF-16 `path` to UTF-8 in `name`, terminator
// included. UTF-8 is what file names use on POSIX systems, whatever the
// process locale. Returns false, leaving `name` unspecified, when the path is
// null, holds an unpaired surrogate (no exact narrow form), or does not fit
// in kOutputPathBytes with its terminator: a name cut short or with a
// character substituted would name a different file.
bool ConvertPathToNarrow(const char16_t *path, char (&name)[kOutputPathBytes]);

}  // namespace quillox
