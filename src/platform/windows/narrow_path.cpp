#include "platform/platform.h"

#include <windows.h>

namespace quillox {

bool ConvertPathToNarrow(const WAVHZPathChar *path, char (&name)[kOutputPathBytes]) {
    if (path == nullptr) return false;
    // The whole record: a character may take up to 4 bytes (UTF-8 as the
    // ANSI code page), so no bound drawn from the UTF-16 length is safe.
    const int size = static_cast<int>(kOutputPathBytes);
    if (GetACP() == CP_UTF8) {
        // A UTF-8 code page takes neither a default character nor best fit.
        return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, path, -1, name, size, nullptr,
                                   nullptr) > 0;
    }
    // No "best fit": it would turn a fullwidth solidus (U+FF0F) into '/' and
    // send the file into another folder. A character the code page lacks
    // becomes its default character: then the name is refused.
    BOOL usedDefault = FALSE;
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path, -1, name, size, nullptr,
                               &usedDefault) > 0 &&
           !usedDefault;
}

}  // namespace quillox
