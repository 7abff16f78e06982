// The digest, exit-code and options slots of the running stub, read from its mapped image: the
// bytes the loader mapped from the file that was signed when the process started, not what lies
// in the file now.
#pragma once

#include "package/DigestSlot.h"
#include "package/ExitCodeSlot.h"
#include "package/OptionsSlot.h"

namespace package {

DigestSlot ImageDigestSlot() noexcept;

ExitCodeChoice ImageExitCodeChoice() noexcept;

StubOptions ImageStubOptions() noexcept;

} // namespace package
