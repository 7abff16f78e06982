// Identifiers of the string resources. Kept free of anything but #defines: the resource compiler
// reads this file too.
#pragma once

#define IDS_INSTALL_IN_PROGRESS 129
#define IDS_PRODUCT_NAME 130
#define IDS_NO_DISK_SPACE 131
#define IDS_OS_TOO_OLD 141
