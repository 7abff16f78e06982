#include "app/InstanceMutex.h"

CInstanceMutex::CInstanceMutex(const wchar_t* name)
    : unnamed_(name == nullptr || *name == L'\0'), name_(unnamed_ ? L"" : name) {
    Create();
}

void CInstanceMutex::Create() noexcept {
    mutex_.reset();
    mutex_.reset(::CreateMutexW(nullptr, FALSE, unnamed_ ? nullptr : name_.c_str()));
    lastError_ = ::GetLastError();
}
