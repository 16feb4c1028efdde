// brin-cli: the headless client; all of its logic is CliApp.
#include <iostream>

#include "Arguments.h"
#include "CliApp.h"

int main(int argc, char** argv) {
    CliApp app(std::cin, std::cout, std::cerr);
    return app.Run(CommandLineArguments(argc, argv));
}
