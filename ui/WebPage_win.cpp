// Web pages on Windows: the shell's default action for the address.
#include "ui/WebPage.h"

#include <windows.h>
#include <shellapi.h>

bool OpenWebPage(const QString& url) {
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, nullptr, reinterpret_cast<const wchar_t*>(url.utf16()), nullptr,
                      nullptr, SW_SHOWNORMAL));
    return result > 32;  // smaller values are the shell's error codes
}
