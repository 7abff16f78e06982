#include "package/FolderSecurity.h"

namespace package {

std::wstring ExtractionFolderSddl(bool administrator, const std::wstring& userSid) {
    const std::wstring owner = administrator ? L"BA" : userSid;
    // P: protected, nothing inherited from above; OICI: inherited by files and folders inside;
    // FA: full access.
    return L"O:" + owner + L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;" + owner + L")";
}

} // namespace package
