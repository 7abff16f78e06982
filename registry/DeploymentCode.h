// Recording a deployment code found in the stub's file name (see DeploymentCodeParse.h) in the
// product key. CUnPackFileApp::ApplyDeploymentCode, defined next to this, ties the two together.
#pragma once

#include "registry/DeploymentCodeParse.h"

// Always this key under HKEY_LOCAL_MACHINE, in the 32-bit view, whatever the server mode: the
// deployment values are read from here, never from the business sibling.
inline constexpr wchar_t kDeploymentKeyPath[] = L"Software\\Tovari Inc.\\Tovari Remote Server";

// Creates the key if needed and writes, in this order, "CloudRegion" (only with a region),
// "Confirm_d" = 1, "CQHSMode" = 1, "DCode" (code and region) and "CQHSLogin" = 0. When the key
// cannot be created nothing is written. 1 when the key was selected and every write succeeded.
[[nodiscard]] int WriteDeploymentValues(const DeploymentCode& deployment);

// The platform's Unicode letter-or-digit classification.
[[nodiscard]] bool IsLetterOrDigit(wchar_t c);
