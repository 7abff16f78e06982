#include "package/FolderDescriptor.h"

#include "util/SystemCalls.h"

bool ReadFolderDescriptor(HANDLE folder, FolderDescriptor& read) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (g_os.GetSecurityInfo(folder, SE_FILE_OBJECT,
                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &read.owner,
                             nullptr, &read.dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    read.memory.reset(descriptor);
    DWORD revision = 0;
    return ::GetSecurityDescriptorControl(descriptor, &read.control, &revision) != FALSE;
}
