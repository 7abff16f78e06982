// Hashing the package on a thread of its own, so that blocks are hashed while the extraction
// writes them out and reads the next: verifying a package of gigabytes then costs little more
// than copying it.
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
    void Drain() noexcept override;
    // A few blocks may wait: a hiccup of the disk or of the thread does not stall the copy.
    [[nodiscard]] std::size_t Lag() const noexcept override { return thread_ ? kQueue : 0; }

private:
    static constexpr std::size_t kQueue = 3;
    struct Block {
        const std::uint8_t* data;
        std::size_t size;
    };

    static DWORD WINAPI Run(LPVOID self) noexcept;
    void WaitUntilFewerThan(std::size_t blocks) noexcept; // with the lock held

    // A slim lock and a condition variable: unlike events, Wine serves them without a round trip
    // to its server.
    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
    Block queue_[kQueue] = {};
    std::size_t first_ = 0;   // the oldest block, the one being hashed
    std::size_t waiting_ = 0; // blocks handed over and not yet hashed, that one included
    bool stopping_ = false;
    package::Sha256 sha_;
    UniqueHandle thread_;
};
