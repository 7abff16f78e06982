// The running stub's settings record, read from its mapped image: the bytes the loader mapped from
// the file that was signed when the process started, not what lies in the file now.
#pragma once

#include "package/StubSettings.h"

namespace package {

StubSettings ImageSettings() noexcept;

} // namespace package
