// A refusal or failure of the packing tool. Its text is one line that says what is wrong and,
// where it helps, what to do instead; the command line prints it and exits non-zero.
#pragma once

#include <stdexcept>

namespace packer {

class PackError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace packer
