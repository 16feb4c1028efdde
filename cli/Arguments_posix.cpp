// POSIX hands the words over as they were typed: UTF-8 on any current system.
#include "cli/Arguments.h"

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}
