// Turning the caller's UTF-16 file name into the narrow name the C library
// opens.
#pragma once

#include "QuilloxWAVFrequency.h"
#include "tone/tone_settings.h"

namespace quillox {

// Converts the NUL-terminated UTF-16 `path` to the narrow name in `name`,
// terminator included: UTF-8 on POSIX systems, whatever the process locale
// (it is what file names use there); the ANSI code page on Windows. Returns
// false, leaving `name` unspecified, when the path is null, has no exact
// narrow form (an unpaired surrogate; on Windows a character the code page
// lacks), or does not fit in kOutputPathBytes with its terminator: a name
// cut short or with a character substituted would name a different file.
bool ConvertPathToNarrow(const WAVHZPathChar *path, char (&name)[kOutputPathBytes]);

}  // namespace quillox
