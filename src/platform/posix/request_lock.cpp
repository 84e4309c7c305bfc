#include <pthread.h>

#include "platform/platform.h"

namespace quillox {
namespace {

pthread_mutex_t requestLock = PTHREAD_MUTEX_INITIALIZER;

// In a child forked while another thread held the lock: that thread is not
// there, so the lock is nobody's.
void FreeInChild() {
    static const pthread_mutex_t kFree = PTHREAD_MUTEX_INITIALIZER;
    requestLock = kFree;
}

}  // namespace

void LockRequests() {
    // Registered on the first call (the C library drops it again when the
    // library is unloaded).
    static const bool childHandler = pthread_atfork(nullptr, nullptr, FreeInChild) == 0;
    static_cast<void>(childHandler);
    pthread_mutex_lock(&requestLock);
}

void UnlockRequests() { pthread_mutex_unlock(&requestLock); }

}  // namespace quillox
