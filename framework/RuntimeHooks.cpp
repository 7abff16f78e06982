// Two pieces of the static C++ runtime replaced in the stub's image (not in the test programs,
// which keep the runtime's own): together they are more than a third of what the runtime would
// otherwise bring in. Linking fails with a duplicate symbol rather than mixing the two versions,
// should anything ever need the runtime's object that defines them.
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
// position past the end through these functions. The runtime's versions build the standard
// exception types, whose message strings pull in a second, reference-counted string
// implementation (some 50 KB). The stub catches every exception with catch (...), so the type
// does not matter to it: an exception is thrown as before, a std::bad_alloc.
namespace std {
[[noreturn]] void __throw_bad_alloc() {
    throw bad_alloc();
}
[[noreturn]] void __throw_bad_array_new_length() {
    throw bad_alloc();
}
[[noreturn]] void __throw_bad_cast() {
    throw bad_alloc();
}
[[noreturn]] void __throw_bad_exception() {
    throw bad_alloc();
}
[[noreturn]] void __throw_bad_typeid() {
    throw bad_alloc();
}
[[noreturn]] void __throw_logic_error(const char*) {
    throw bad_alloc();
}
[[noreturn]] void __throw_domain_error(const char*) {
    throw bad_alloc();
}
[[noreturn]] void __throw_invalid_argument(const char*) {
    throw bad_alloc();
}
[[noreturn]] void __throw_length_error(const char*) {
    throw bad_alloc();
}
[[noreturn]] void __throw_out_of_range(const char*) {
    throw bad_alloc();
}
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) {
    throw bad_alloc();
}
[[noreturn]] void __throw_runtime_error(const char*) {
    throw bad_alloc();
}
[[noreturn]] void __throw_range_error(const char*) {
    throw bad_alloc();
}
[[noreturn]] void __throw_overflow_error(const char*) {
    throw bad_alloc();
}
[[noreturn]] void __throw_underflow_error(const char*) {
    throw bad_alloc();
}
} // namespace std
