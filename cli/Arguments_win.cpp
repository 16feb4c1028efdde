// Windows hands main() the words in the ANSI code page, which cannot hold every
// login a user may type; the wide command line can, and is turned into UTF-8.
#include <windows.h>
#include <shellapi.h>

#include "cli/Arguments.h"

namespace {

std::string Utf8(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size - 1));  // the terminating zero
    return out;
}

}  // namespace

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words == nullptr) return std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(Utf8(words[i]));
    LocalFree(words);
    return args;
}
