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

void HashThread::WaitUntilFewerThan(std::size_t blocks) noexcept {
    while (waiting_ >= blocks)
        ::SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
}

void HashThread::Add(const std::uint8_t* data, std::size_t size) noexcept {
    ::AcquireSRWLockExclusive(&lock_);
    if (!thread_ || size < kHandOverMinimum) {
        WaitUntilFewerThan(1); // the digest takes the blocks in order
        sha_.Update(data, size);
    } else {
        WaitUntilFewerThan(kQueue);
        queue_[(first_ + waiting_) % kQueue] = Block{data, size};
        ++waiting_;
        ::WakeAllConditionVariable(&changed_);
    }
    ::ReleaseSRWLockExclusive(&lock_);
}

void HashThread::Drain() noexcept {
    ::AcquireSRWLockExclusive(&lock_);
    WaitUntilFewerThan(1);
    ::ReleaseSRWLockExclusive(&lock_);
}

package::Sha256Digest HashThread::Finish() noexcept {
    ::AcquireSRWLockExclusive(&lock_);
    WaitUntilFewerThan(1);
    const package::Sha256Digest digest = sha_.Final();
    ::ReleaseSRWLockExclusive(&lock_);
    return digest;
}

DWORD WINAPI HashThread::Run(LPVOID self) noexcept {
    HashThread& hasher = *static_cast<HashThread*>(self);
    ::AcquireSRWLockExclusive(&hasher.lock_);
    for (;;) {
        while (hasher.waiting_ == 0 && !hasher.stopping_)
            ::SleepConditionVariableSRW(&hasher.changed_, &hasher.lock_, INFINITE, 0);
        if (hasher.waiting_ == 0)
            break;
        // The oldest block and the digest are this thread's until the block is counted off.
        const Block block = hasher.queue_[hasher.first_];
        ::ReleaseSRWLockExclusive(&hasher.lock_);
        hasher.sha_.Update(block.data, block.size);
        ::AcquireSRWLockExclusive(&hasher.lock_);
        hasher.first_ = (hasher.first_ + 1) % kQueue;
        --hasher.waiting_;
        ::WakeAllConditionVariable(&hasher.changed_);
    }
    ::ReleaseSRWLockExclusive(&hasher.lock_);
    return 0;
}
