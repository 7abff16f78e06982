// Hashing the package on a thread of its own, so that a block is hashed while the extraction writes
// it out and reads the next: verifying a package of gigabytes then costs little more than copying
// it.
#pragma once

#include "framework/UniqueHandle.h"
#include "package/PackageStream.h"

#include <windows.h>

class HashThread : public package::BlockHasher {
public:
    // Starts the thread, when asked to; without it every block is hashed on the caller's thread.
    explicit HashThread(bool ownThread) noexcept;
    ~HashThread() override;
    HashThread(const HashThread&) = delete;
    HashThread& operator=(const HashThread&) = delete;

    void Add(const std::uint8_t* data, std::size_t size) noexcept override;
    package::Sha256Digest Finish() noexcept override;

private:
    static DWORD WINAPI Run(LPVOID self) noexcept;
    void WaitUntilIdle() noexcept; // with the lock held

    // A slim lock and a condition variable: unlike events, Wine serves them without a round trip
    // to its server.
    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    bool busy_ = false; // a block is handed over and not yet hashed
    bool stopping_ = false;
    package::Sha256 sha_;
    UniqueHandle thread_;
};
