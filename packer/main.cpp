#include "packer/Cli.h"

#include <iostream>

int main(int argc, char** argv) {
    return packer::RunStubpack(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                               std::cerr);
}
