// The command line as brin-cli reads it: UTF-8 words, the program's name left out.
#pragma once

#include <string>
#include <vector>

std::vector<std::string> CommandLineArguments(int argc, char** argv);
