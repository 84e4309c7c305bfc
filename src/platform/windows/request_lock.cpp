#include <windows.h>

#include "platform/platform.h"

namespace quillox {
namespace {

SRWLOCK requestLock = SRWLOCK_INIT;

}  // namespace

void LockRequests() { AcquireSRWLockExclusive(&requestLock); }

void UnlockRequests() { ReleaseSRWLockExclusive(&requestLock); }

void CancellationPoint() {}  // Windows threads are not cancelled

}  // namespace quillox
