// Pieces of the static C++ runtime replaced in the stub's image (not in the test programs, which
// keep the runtime's own): together they are more than a third of what the runtime would
// otherwise bring in. Linking fails with a duplicate symbol rather than mixing the two versions,
// should anything ever need the runtime's object that defines them.
#include "app/RunFailure.h"

#include <cstdlib>
#include <new>

// The runtime's default terminate handler prints the pending exception's demangled type to
// stderr, which a GUI process does not have; its demangler and printf are some 60 KB. The
// handler's one effect that remains is the abort.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
} // namespace __gnu_cxx

// The standard containers report a length beyond max_size(), a null string pointer or a
// position past the end through these functions, and operator new reports memory that ran out.
// The runtime's versions throw the standard exception types, whose message strings pull in a
// second, reference-counted string implementation (some 50 KB), and the unwinder and its thread
// library behind them. The stub is built without exceptions: each of these ends the run as failed
// instead (app/RunFailure.h).
namespace std {
[[noreturn]] void __throw_bad_alloc() {
    EndRunAsFailed();
}
[[noreturn]] void __throw_bad_array_new_length() {
    EndRunAsFailed();
}
[[noreturn]] void __throw_bad_cast() {
    EndRunAsFailed();
}
[[noreturn]] void __throw_bad_exception() {
    EndRunAsFailed();
}
[[noreturn]] void __throw_bad_typeid() {
    EndRunAsFailed();
}
[[noreturn]] void __throw_logic_error(const char*) {
    EndRunAsFailed();
}
[[noreturn]] void __throw_domain_error(const char*) {
    EndRunAsFailed();
}
[[noreturn]] void __throw_invalid_argument(const char*) {
    EndRunAsFailed();
}
[[noreturn]] void __throw_length_error(const char*) {
    EndRunAsFailed();
}
[[noreturn]] void __throw_out_of_range(const char*) {
    EndRunAsFailed();
}
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) {
    EndRunAsFailed();
}
[[noreturn]] void __throw_runtime_error(const char*) {
    EndRunAsFailed();
}
[[noreturn]] void __throw_range_error(const char*) {
    EndRunAsFailed();
}
[[noreturn]] void __throw_overflow_error(const char*) {
    EndRunAsFailed();
}
[[noreturn]] void __throw_underflow_error(const char*) {
    EndRunAsFailed();
}
} // namespace std

void* operator new(std::size_t size) {
    void* memory = std::malloc(size != 0 ? size : 1);
    if (memory == nullptr)
        EndRunAsFailed();
    return memory;
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}
