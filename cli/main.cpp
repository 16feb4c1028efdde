// brin-cli: the headless client; all of its logic is CliApp.
#include <cstdio>
#include <iostream>

#include "cli/Arguments.h"
#include "cli/CliApp.h"
#include "core/ProcessHardening.h"

int main(int argc, char** argv) {
    MarkProcessNotDumpable();
    // Unbuffered: the password line is read byte by byte and no C library buffer keeps it.
    std::setvbuf(stdin, nullptr, _IONBF, 0);
    CliApp app(std::cin, std::cout, std::cerr);
    return app.Run(CommandLineArguments(argc, argv));
}
