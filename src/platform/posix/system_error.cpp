#include <cerrno>

#include "platform/platform.h"

namespace quillox {

const ErrorCode kErrorNoMemory = ENOMEM;
const ErrorCode kErrorToneTooLong = EOVERFLOW;
const ErrorCode kErrorNullPath = EINVAL;
const ErrorCode kErrorNoNarrowForm = EILSEQ;
const ErrorCode kErrorNameTooLong = ENAMETOOLONG;
const ErrorCode kErrorNameKeepsMoving = ELOOP;

void SetCallerError(ErrorCode error) { errno = error; }

}  // namespace quillox
