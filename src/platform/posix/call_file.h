// The descriptors a call has open, as a fork sees them (the handlers are
// in request_lock.cpp). Each is opened and recorded, or forgotten and
// closed, while forks are held, so that a fork never falls between the
// two; a process forked during a call closes the recorded ones at once, so
// that it neither keeps the call's file (nor the lock on it, which every
// copy of a descriptor shares) nor its file system busy.
#pragma once

namespace quillox {

void HoldForks();  // a fork in another thread waits until ReleaseForks
void ReleaseForks();
void RecordCallFile(int fd);  // with forks held
void ForgetCallFile(int fd);

}  // namespace quillox
