// The lock that makes overlapping calls take turns, and what a call must
// not hand on to a process forked meanwhile or lose to a cancelled thread.
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

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

// The descriptors the call in flight has open (-1: none), which a forked
// child closes at once; changed, and read by a fork, only with forkLock held.
pthread_mutex_t forkLock = PTHREAD_MUTEX_INITIALIZER;
constexpr int kMaxCallFiles = 4;  // the folder, a pin, the file, a duplicate
int callFiles[kMaxCallFiles] = {-1, -1, -1, -1};

// A fork waits while a descriptor is being opened or closed and recorded.
void BeforeFork() { pthread_mutex_lock(&forkLock); }
void AfterForkInParent() { pthread_mutex_unlock(&forkLock); }

// In the child only the forking thread goes on: the call in flight on
// another thread is not there, so its request lock is nobody's and its
// descriptors nobody's to use.
void AfterForkInChild() {
    for (int &fd : callFiles) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    pthread_mutex_unlock(&forkLock);  // this thread's, since BeforeFork
    pthread_mutex_init(&requestLock, nullptr);
}

void RegisterForkHandler() { pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild); }

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

void CancellationPoint() {
#if defined(__SANITIZE_ADDRESS__)
    // A cancel unwinds the callers' frames without the address sanitizer
    // learning that their variables are gone: it is told first, as before
    // a function that does not return.
    __asan_handle_no_return();
#endif
    pthread_testcancel();
}

void HoldForks() { pthread_mutex_lock(&forkLock); }
void ReleaseForks() { pthread_mutex_unlock(&forkLock); }

void RecordCallFile(int fd) {
    int *const free = std::find(callFiles, callFiles + kMaxCallFiles, -1);
    if (free != callFiles + kMaxCallFiles) *free = fd;
}
void ForgetCallFile(int fd) {
    int *const recorded = std::find(callFiles, callFiles + kMaxCallFiles, fd);
    if (recorded != callFiles + kMaxCallFiles) *recorded = -1;
}

}  // namespace quillox
