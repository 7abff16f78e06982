#include "app/InstanceMutex.h"

#include "util/ProcessUser.h"

#include <aclapi.h>
#include <sddl.h>

namespace {

// Owned by the Administrators group, full access for SYSTEM and the administrators only: every
// elevated stub, whichever account it runs as, opens it; nothing else may change or take it.
constexpr wchar_t kMutexSddl[] = L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";

// Copies the owner of a kernel object into `sid`; false when it has none or cannot be read.
bool ReadOwner(HANDLE object, BYTE (&sid)[SECURITY_MAX_SID_SIZE]) noexcept {
    PSID owner = nullptr;
    UniqueLocalMemory descriptor;
    return ::GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                             nullptr, nullptr, descriptor.put()) == ERROR_SUCCESS &&
           owner != nullptr && ::CopySid(sizeof sid, sid, owner);
}

} // namespace

CInstanceMutex::CInstanceMutex(const wchar_t* name)
    : unnamed_(name == nullptr || *name == L'\0'), name_(unnamed_ ? L"" : name) {
    Create();
}

void CInstanceMutex::Create() noexcept {
    mutex_.reset();
    ownerIsAdministrative_ = false;
    const wchar_t* name = unnamed_ ? nullptr : name_.c_str();

    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    UniqueLocalMemory descriptor;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kMutexSddl, SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr))
        descriptor.reset(security.lpSecurityDescriptor);
    mutex_.reset(::CreateMutexW(descriptor ? &security : nullptr, FALSE, name));
    if (!mutex_ && ::GetLastError() == ERROR_INVALID_OWNER) // a token without administrator rights
        mutex_.reset(::CreateMutexW(nullptr, FALSE, name));
    lastError_ = ::GetLastError();
    if (Existed())
        ReadPreviousOwner();
}

void CInstanceMutex::ReadPreviousOwner() noexcept {
    // A mutex that could not be opened at all is read for its owner alone; one whose owner cannot
    // even be read was made to keep administrators out, which no stub does.
    UniqueHandle readable;
    if (!mutex_)
        readable.reset(::OpenMutexW(READ_CONTROL, FALSE, name_.c_str()));
    const HANDLE existing = mutex_ ? mutex_.get() : readable.get();
    if (existing != nullptr && ReadOwner(existing, previousOwner_))
        ownerIsAdministrative_ = ::IsWellKnownSid(previousOwner_, WinBuiltinAdministratorsSid) ||
                                 ::IsWellKnownSid(previousOwner_, WinLocalSystemSid);
    ::SetLastError(lastError_);
}

std::wstring CInstanceMutex::PreviousOwner() const {
    return ::IsValidSid(const_cast<BYTE*>(previousOwner_))
               ? SidText(const_cast<BYTE*>(previousOwner_))
               : std::wstring();
}
