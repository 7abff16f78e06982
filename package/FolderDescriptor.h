// A folder's owner and access list, read from its open handle (READ_CONTROL access), never by its
// path: what decides whose a folder is and who may create in it is the folder that is held.
#pragma once

#include "framework/UniqueHandle.h"

#include <windows.h>

struct FolderDescriptor {
    UniqueLocalMemory memory; // owns the two below
    PSID owner = nullptr;
    PACL dacl = nullptr; // null: the descriptor grants everyone everything
    SECURITY_DESCRIPTOR_CONTROL control = 0;
};

// False when the descriptor cannot be read.
[[nodiscard]] bool ReadFolderDescriptor(HANDLE folder, FolderDescriptor& read);
