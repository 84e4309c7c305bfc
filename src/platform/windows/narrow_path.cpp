#include "platform/platform.h"

#include <windows.h>

namespace quillox {

namespace {

// Why WideCharToMultiByte failed: a name too long for the record, or one
// that has no exact form in the code page.
ErrorCode ConversionFailure() {
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? kErrorNameTooLong : kErrorNoNarrowForm;
}

}  // namespace

ErrorCode ConvertPathToNarrow(const WAVHZPathChar *path, char (&name)[kOutputPathBytes]) {
    if (path == nullptr) return kErrorNullPath;
    // The whole record: a character may take up to 4 bytes (UTF-8 as the
    // ANSI code page), so no bound drawn from the UTF-16 length is safe.
    const int size = static_cast<int>(kOutputPathBytes);
    if (GetACP() == CP_UTF8) {
        // A UTF-8 code page takes neither a default character nor best fit.
        return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, path, -1, name, size, nullptr,
                                   nullptr) > 0
                   ? kSucceeded
                   : ConversionFailure();
    }
    // No "best fit": it would turn a fullwidth solidus (U+FF0F) into '/' and
    // send the file into another folder. A character the code page lacks
    // becomes its default character: then the name is refused.
    BOOL usedDefault = FALSE;
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path, -1, name, size, nullptr,
                            &usedDefault) <= 0) {
        return ConversionFailure();
    }
    return usedDefault ? kErrorNoNarrowForm : kSucceeded;
}

}  // namespace quillox
