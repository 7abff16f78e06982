// The one failure the stub's operations do not handle themselves: memory that runs out, or a
// fault the standard library reports (a position past a string's end). The stub is built without
// exceptions; such a failure ends the run where it happens, from whichever thread, as failed.
// Nothing more of the sequence runs: nothing is started, what was extracted stays for the next
// run to remove, and the product key keeps what was recorded before.
#pragma once

// Writes one log line when it still can, then ends the process with 1603 when the stub passes
// outcomes on (0 otherwise, as every run of a stub packed that way ends).
[[noreturn]] void EndRunAsFailed() noexcept;
