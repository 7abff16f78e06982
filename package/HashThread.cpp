#include "package/HashThread.h"

namespace {

// A header or a small file is hashed at once: handing it over would cost more than hashing it.
constexpr std::size_t kHandOverMinimum = 16 * 1024;

} // namespace

HashThread::HashThread(bool ownThread) noexcept {
    if (ownThread)
        thread_.reset(::CreateThread(nullptr, 0, &HashThread::Run, this, 0, nullptr));
}

HashThread::~HashThread() {
    if (!thread_)
        return;
    ::AcquireSRWLockExclusive(&lock_);
    stopping_ = true;
    ::WakeAllConditionVariable(&changed_);
    ::ReleaseSRWLockExclusive(&lock_);
    ::WaitForSingleObject(thread_.get(), INFINITE);
}

void HashThread::WaitUntilIdle() noexcept {
    while (busy_)
        ::SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
}

void HashThread::Add(const std::uint8_t* data, std::size_t size) noexcept {
    ::AcquireSRWLockExclusive(&lock_);
    WaitUntilIdle();
    if (!thread_ || size < kHandOverMinimum) {
        sha_.Update(data, size);
    } else {
        data_ = data;
        size_ = size;
        busy_ = true;
        ::WakeAllConditionVariable(&changed_);
    }
    ::ReleaseSRWLockExclusive(&lock_);
}

package::Sha256Digest HashThread::Finish() noexcept {
    ::AcquireSRWLockExclusive(&lock_);
    WaitUntilIdle();
    const package::Sha256Digest digest = sha_.Final();
    ::ReleaseSRWLockExclusive(&lock_);
    return digest;
}

DWORD WINAPI HashThread::Run(LPVOID self) noexcept {
    HashThread& hasher = *static_cast<HashThread*>(self);
    ::AcquireSRWLockExclusive(&hasher.lock_);
    for (;;) {
        while (!hasher.busy_ && !hasher.stopping_)
            ::SleepConditionVariableSRW(&hasher.changed_, &hasher.lock_, INFINITE, 0);
        if (!hasher.busy_)
            break;
        // The block and the digest are this thread's until busy_ is cleared.
        ::ReleaseSRWLockExclusive(&hasher.lock_);
        hasher.sha_.Update(hasher.data_, hasher.size_);
        ::AcquireSRWLockExclusive(&hasher.lock_);
        hasher.busy_ = false;
        ::WakeAllConditionVariable(&hasher.changed_);
    }
    ::ReleaseSRWLockExclusive(&hasher.lock_);
    return 0;
}
