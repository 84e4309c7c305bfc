#include <windows.h>

#include "platform/platform.h"

namespace quillox {

const ErrorCode kErrorNoMemory = ERROR_NOT_ENOUGH_MEMORY;
const ErrorCode kErrorToneTooLong = ERROR_ARITHMETIC_OVERFLOW;
const ErrorCode kErrorNullPath = ERROR_INVALID_PARAMETER;
const ErrorCode kErrorNoNarrowForm = ERROR_NO_UNICODE_TRANSLATION;
const ErrorCode kErrorNameTooLong = ERROR_FILENAME_EXCED_RANGE;
const ErrorCode kErrorNameKeepsMoving = ERROR_SHARING_VIOLATION;

void SetCallerError(ErrorCode error) { SetLastError(static_cast<DWORD>(error)); }

}  // namespace quillox
