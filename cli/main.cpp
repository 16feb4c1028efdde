// brin-cli: the headless client; all of its logic is CliApp.
#include <iostream>
#include <string>
#include <vector>

#include "CliApp.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    CliApp app(std::cin, std::cout, std::cerr);
    return app.Run(args);
}
