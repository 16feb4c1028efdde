// Fuzz target: the brin.ini line reader. Every entry is one clean word each side, and a file
// written back reads into the very same store.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "settings/SettingsStore.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool CleanWord(const char* text) {
    size_t length = std::strlen(text);
    return length > 0 && length <= 31 && std::strpbrk(text, " \t=\n") == nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SettingsStore first(SettingsStore::Detached{}, 0x12345678);
    first.LoadText(std::string(reinterpret_cast<const char*>(data), size));

    std::set<std::string> names;
    for (SettingEntry* e = first.head; e != nullptr; e = e->next) {
        Check(CleanWord(e->name) && CleanWord(e->value));
        Check(names.insert(e->name).second);
        Check(e->next == nullptr || e->next->prev == e);
    }

    const std::string text = first.FileText();
    SettingsStore second(SettingsStore::Detached{}, 0x12345678);
    second.LoadText(text);
    Check(second.FileText() == text);

    if (first.GetValue("Pass") != nullptr) Check(std::strlen(first.GetPassword("Pass")) <= 16);
    return 0;
}
