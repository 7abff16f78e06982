// Move-only owners for Win32 handles. Each kind is one alias over one template; reset() keeps the
// thread's last error so that closing a handle never hides the error a caller is about to log.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <utility>

template <typename Traits> class UniqueAny {
public:
    using pointer = typename Traits::Type;

    UniqueAny() noexcept = default;
    explicit UniqueAny(pointer value) noexcept : value_(value) {}
    UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    ~UniqueAny() { reset(); }

    pointer get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }

    pointer release() noexcept { return std::exchange(value_, Traits::Invalid()); }

    void reset(pointer value = Traits::Invalid()) noexcept {
        if (value_ != Traits::Invalid()) {
            const DWORD lastError = ::GetLastError();
            Traits::Close(value_);
            ::SetLastError(lastError);
        }
        value_ = value;
    }

    // For out-parameters of Win32 calls: frees what is held and hands out the slot.
    pointer* put() noexcept {
        reset();
        return &value_;
    }

private:
    pointer value_ = Traits::Invalid();
};

namespace handle_traits {
struct Kernel {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::CloseHandle(h); }
};
// CreateFileW and CreateToolhelp32Snapshot report failure as INVALID_HANDLE_VALUE, not null.
struct File {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::CloseHandle(h); }
};
struct Find {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::FindClose(h); }
};
struct RegistryKey {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::RegCloseKey(h); }
};
// A registry root for one operation: either one of the predefined roots, which belong to the
// system and are never closed, or a hive handle opened for the operation (RegOpenCurrentUser).
struct RegistryRoot {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static bool IsPredefined(Type h) {
        return h == HKEY_CLASSES_ROOT || h == HKEY_CURRENT_USER || h == HKEY_LOCAL_MACHINE ||
               h == HKEY_USERS;
    }
    static void Close(Type h) {
        if (!IsPredefined(h))
            ::RegCloseKey(h);
    }
};
// Memory the system allocated for the caller with LocalAlloc (a security descriptor, say).
struct LocalMemory {
    using Type = HLOCAL;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::LocalFree(h); }
};
// Memory ntdll allocated for the caller from the process heap (a path converted to its NT form).
struct ProcessHeapMemory {
    using Type = void*;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::HeapFree(::GetProcessHeap(), 0, h); }
};
// A SID built by AllocateAndInitializeSid.
struct Sid {
    using Type = PSID;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::FreeSid(h); }
};
} // namespace handle_traits

using UniqueHandle = UniqueAny<handle_traits::Kernel>; // thread, process, token, mutex, event
using UniqueFileHandle = UniqueAny<handle_traits::File>;
using UniqueSnapshot = UniqueAny<handle_traits::File>;
using UniqueFindHandle = UniqueAny<handle_traits::Find>;
using UniqueKey = UniqueAny<handle_traits::RegistryKey>;
using UniqueRootKey = UniqueAny<handle_traits::RegistryRoot>;
using UniqueLocalMemory = UniqueAny<handle_traits::LocalMemory>;
using UniqueSid = UniqueAny<handle_traits::Sid>;
using UniqueProcessHeapMemory = UniqueAny<handle_traits::ProcessHeapMemory>;
