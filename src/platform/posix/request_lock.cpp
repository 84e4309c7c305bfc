// The lock that makes overlapping calls take turns, and what a call must
// not hand on to a process forked meanwhile or lose to a cancelled thread.
#include <pthread.h>
#include <unistd.h>

#include <atomic>

#include "platform/platform.h"
#include "platform/posix/call_file.h"

namespace quillox {
namespace {

pthread_mutex_t requestLock = PTHREAD_MUTEX_INITIALIZER;
// The fork handler is registered once, by the first call. pthread_once, not a
// function-local static: a fork while another thread is inside a static's
// initialisation would leave the child a guard nobody releases, and the
// child's first call would wait on it for ever. glibc's pthread_once starts
// afresh in a child forked in the middle of it.
pthread_once_t forkHandlerOnce = PTHREAD_ONCE_INIT;
int cancelStateBefore = PTHREAD_CANCEL_ENABLE;  // of the thread holding requestLock

// The descriptor the call in flight has open, or -1: a forked child closes
// its copy at once, so that the lock on the file (a flock, which every copy
// of the descriptor shares) cannot outlive the call in the child.
std::atomic<int> callFile{-1};

// In the child only the forking thread goes on: the call in flight on
// another thread is not there, so its request lock is nobody's and its
// descriptor nobody's to use.
void AfterForkInChild() {
    const int fd = callFile.exchange(-1, std::memory_order_relaxed);
    if (fd >= 0) close(fd);
    pthread_mutex_init(&requestLock, nullptr);
}

void RegisterForkHandler() { pthread_atfork(nullptr, nullptr, AfterForkInChild); }

}  // namespace

void LockRequests() {
    // Registered on the first call, before any file is opened (the C library
    // drops the handler again when the library is unloaded).
    pthread_once(&forkHandlerOnce, RegisterForkHandler);
    // A call runs to its end: cancelled halfway, it would leave its
    // descriptor, its lock on the file and its buffers behind. A
    // cancellation that comes meanwhile acts as the call ends
    // (CancellationPoint), when it holds nothing.
    int before = PTHREAD_CANCEL_ENABLE;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &before);
    pthread_mutex_lock(&requestLock);
    cancelStateBefore = before;
}

void UnlockRequests() {
    const int before = cancelStateBefore;
    pthread_mutex_unlock(&requestLock);
    pthread_setcancelstate(before, nullptr);
}

void CancellationPoint() { pthread_testcancel(); }

void SetCallFile(int fd) { callFile.store(fd, std::memory_order_relaxed); }

}  // namespace quillox
