// The settings store: brin.ini read, completed with its defaults and written back, and the
// scrambled password.
#include "settings/SettingsStore.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/AtomicFile.h"
#include "core/Cipher.h"
#include "core/ProcessHardening.h"
#include "settings/VolumeSerial.h"

namespace {

const char kFileName[] = "brin.ini";
constexpr int kNewFileMode = 0600;    // owner only: the file holds the scrambled password
constexpr size_t kPieceLength = 254;  // a longer line is read as several pieces

// Names and values are kept to their first 31 characters.
void CopyCut(char field[32], const char* text) {
    size_t n = 0;
    for (; n < 31 && text[n] != '\0'; ++n) field[n] = text[n];
    std::memset(field + n, 0, 32 - n);
}

// A switch is on when its value reads as a non-zero decimal number: leading
// blanks, an optional sign, digits. Any non-zero digit makes it non-zero, so a
// long run of digits never wraps round to 0.
int32_t SwitchOn(const char* text) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    if (*p == '+' || *p == '-') ++p;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (*p != '0') return 1;
    }
    return 0;
}

// Field number `index` of `text`, fields parted by runs of separators.
template <typename IsSeparator>
char* CopyNthField(const char* text, char* out, int index, IsSeparator isSeparator) {
    if (index < 0) return nullptr;
    const char* p = text;
    for (int j = 0; j <= index; ++j) {
        while (*p != '\0' && isSeparator(*p)) ++p;
        if (*p == '\0') return nullptr;
        if (j < index) {
            while (*p != '\0' && !isSeparator(*p)) ++p;
        }
    }
    char* o = out;
    while (*p != '\0' && !isSeparator(*p)) *o++ = *p++;
    *o = '\0';
    if (o != out && o[-1] == '\n') o[-1] = '\0';
    return out;
}

// A line that yields no entry and loses nothing when it is dropped: blank, or a name
// with an empty value, as the store writes an empty IP or Login ("IP = ").
bool WrittenEmpty(const char* line) {
    const char* p = line;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '\0' || *p == '\n') return true;
    const char* equals = std::strchr(p, '=');
    if (equals == nullptr || equals == p) return false;
    for (const char* q = p; q < equals; ++q) {
        if (*q == ' ' || *q == '\t') {
            while (q < equals && (*q == ' ' || *q == '\t')) ++q;
            if (q < equals) return false;  // two words before '='
            break;
        }
    }
    for (const char* q = equals; *q != '\0'; ++q)
        if (*q != '=' && *q != ' ' && *q != '\t' && *q != '\n') return false;
    return true;
}

struct Default {
    const char* name;
    const char* value;
};

}  // namespace

SettingsStore::SettingsStore() {
    Construct(VolumeSerialNumber());
}

SettingsStore::SettingsStore(uint32_t volumeSerial) {
    Construct(volumeSerial);
}

SettingsStore::SettingsStore(Detached, uint32_t volumeSerial) {
    SetKey(volumeSerial);
}

SettingsStore::~SettingsStore() {
    // scratch held the unscrambled password the last GetPassword gave.
    WipeBytes(scratch, sizeof scratch);
    while (head != nullptr) {
        SettingEntry* older = head->next;
        delete head;
        head = older;
    }
}

void SettingsStore::SetKey(uint32_t volumeSerial) {
    for (int i = 0; i < 4; ++i) {
        key[i] = static_cast<uint8_t>(volumeSerial >> (8 * i));
        key[i + 4] = key[i];
    }
}

void SettingsStore::Construct(uint32_t volumeSerial) {
    SetKey(volumeSerial);
    if (LoadFile() != 0) {
        static const Default firstStart[] = {
            {kSavePassword, "1"}, {kAutoConnect, "0"}, {kKeepConn, "0"}, {kIp, ""},
            {kPort, "5001"},      {kLogin, ""},        {kPass, ""}};
        for (const Default& d : firstStart) AddValue(d.name, d.value);
        SetPassword(kPass, "");
    } else {
        static const Default missing[] = {{kSavePassword, "1"}, {kIp, ""},   {kPort, "5001"},
                                          {kLogin, ""},         {kPass, ""}, {kAutoConnect, "0"},
                                          {kKeepConn, "0"}};
        for (const Default& d : missing) {
            if (GetValue(d.name) != nullptr) continue;
            AddValue(d.name, d.value);
            if (std::strcmp(d.name, kPass) == 0) SetPassword(kPass, "");
        }
    }
    SaveFile();
    savePassword = SwitchOn(GetValue(kSavePassword));
    autoConnect = SwitchOn(GetValue(kAutoConnect));
    keepConn = SwitchOn(GetValue(kKeepConn));
    ipText = GetValue(kIp);
    portText = GetValue(kPort);
}

std::string SettingsStore::StoredLogin() {
    const char* login = GetValue(kLogin);
    return login != nullptr ? login : "";
}

std::string SettingsStore::StoredPassword() {
    const char* password = GetPassword(kPass);
    return password != nullptr ? password : "";
}

void SettingsStore::StoreConnection(const std::string& login, const std::string& password,
                                    const std::string& ip, const std::string& port) {
    SetPassword(kPass, savePassword == 1 ? password.c_str() : "");
    SetValue(kLogin, login.c_str());
    SetValue(kIp, ip.c_str());
    SetValue(kPort, port.c_str());
}

void SettingsStore::StoreSwitches() {
    SetValue(kSavePassword, savePassword == 1 ? "1" : "0");
    SetValue(kAutoConnect, autoConnect == 1 ? "1" : "0");
    SetValue(kKeepConn, keepConn == 1 ? "1" : "0");
}

std::string SettingsStore::LowBalanceText() {
    const char* text = GetValue(kLowBalance);
    return text != nullptr ? text : "";
}

void SettingsStore::StoreLowBalance(const std::string& text) {
    if (SetValue(kLowBalance, text.c_str()) == nullptr && !text.empty())
        AddValue(kLowBalance, text.c_str());
}

int32_t SettingsStore::ReadPort(const std::string& text) {
    const char* p = text.c_str();
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        value = std::min<int64_t>(value * 10 + (*p - '0'), INT64_C(2147483648));
    if (negative) value = -value;
    return static_cast<int32_t>(std::min<int64_t>(value, INT32_MAX));
}

int SettingsStore::LoadFile() {
    std::FILE* file = std::fopen(kFileName, "rb");
    if (file == nullptr) return -1;
    std::string bytes;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    std::fclose(file);
    LoadText(bytes);
    if (droppedLines_ > 0) droppedFile_ = bytes;
    WipeString(bytes);  // it holds the scrambled password
    return 0;
}

void SettingsStore::LoadText(const std::string& bytes) {
    // Read as a text-mode file is: CR LF comes in as LF, a lone CR stays.
    std::string text;
    text.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        text += bytes[i];
    }

    char line[kPieceLength + 2];
    char name[sizeof line];
    char value[sizeof line];
    // The names held so far, so that a long file is read in one pass rather than each line
    // walking the whole list.
    std::unordered_map<std::string, const SettingEntry*> held;
    for (const SettingEntry* e = head; e != nullptr; e = e->next) held.emplace(e->name, e);
    size_t pos = 0;
    bool lineDropped = false;  // some piece of the line now read is lost or cut
    while (pos < text.size()) {
        size_t n = 0;
        while (n < kPieceLength && pos + n < text.size()) {
            if (text[pos + n++] == '\n') break;
        }
        std::memcpy(line, text.data() + pos, n);
        line[n] = '\0';
        const bool lineEnds = text[pos + n - 1] == '\n' || pos + n == text.size();
        // A line read in pieces comes back as other lines: it is not kept as it was.
        const bool piece = !lineEnds || lineDropped || (pos > 0 && text[pos - 1] != '\n');
        const bool zeroByte = std::strlen(line) < n;
        pos += n;
        if (ParseLine(line, name, 0) == nullptr || ParseLine(line, value, 1) == nullptr) {
            lineDropped = lineDropped || piece || zeroByte || !WrittenEmpty(line);
        } else {
            const bool cut = std::strlen(name) > 31 || std::strlen(value) > 31;
            // Look the name up as it will be stored, so that two long names alike in
            // their first 31 characters never become two entries of one name.
            name[31] = '\0';
            value[31] = '\0';
            const auto found = held.find(name);
            if (found != held.end()) {
                lineDropped = lineDropped || std::strcmp(found->second->value, value) != 0;
            } else {
                SettingEntry* entry = NewEntry();
                CopyCut(entry->name, name);
                CopyCut(entry->value, value);
                held.emplace(entry->name, entry);
            }
            lineDropped = lineDropped || piece || zeroByte || cut;
        }
        if (lineEnds) {
            if (lineDropped) ++droppedLines_;
            lineDropped = false;
        }
    }
}

std::string SettingsStore::FileText() const {
    const SettingEntry* oldest = head;
    while (oldest != nullptr && oldest->next != nullptr) oldest = oldest->next;
    std::string text;
    for (const SettingEntry* e = oldest; e != nullptr; e = e->prev) {
        text += e->name;
        text += " = ";
        text += e->value;
        text += "\r\n";
    }
    return text;
}

int SettingsStore::SaveFile() {
    if (!droppedFile_.empty()) {
        if (ReplaceFileAtomically(kBackupFileName, droppedFile_, kNewFileMode) != 0) {
            backup_ = Backup::Failed;
            return -1;
        }
        backup_ = Backup::Kept;
        WipeString(droppedFile_);
        droppedFile_.clear();
    }
    return ReplaceFileAtomically(kFileName, FileText(), kNewFileMode);
}

const char* SettingsStore::GetValue(const char* name) {
    SettingEntry* entry = FindEntry(name);
    return entry != nullptr ? entry->value : nullptr;
}

const char* SettingsStore::AddValue(const char* name, const char* value) {
    SettingEntry* entry = NewEntry();
    CopyCut(entry->name, name);
    CopyCut(entry->value, value);
    return entry->value;
}

const char* SettingsStore::SetValue(const char* name, const char* value) {
    SettingEntry* entry = FindEntry(name);
    if (entry == nullptr) return nullptr;
    CopyCut(entry->value, value);
    return entry->value;
}

const char* SettingsStore::SetPassword(const char* name, const char* password) {
    SettingEntry* entry = FindEntry(name);
    if (entry == nullptr) return nullptr;
    std::memset(scratch, 0, sizeof scratch);
    for (size_t i = 0; i < sizeof scratch && password[i] != '\0'; ++i) {
        scratch[i] = static_cast<uint8_t>(password[i]);
    }
    DesEcbBlocks(scratch, 1, key, 1);
    char hex[17];
    BytesToHex(scratch, hex);
    CopyCut(entry->value, hex);
    return password;
}

const char* SettingsStore::GetPassword(const char* name) {
    SettingEntry* entry = FindEntry(name);
    if (entry == nullptr) return nullptr;
    std::memset(scratch, 0, sizeof scratch);
    HexToBytes(entry->value, scratch);
    DesEcbBlocks(scratch, 1, key, 0);
    return reinterpret_cast<const char*>(scratch);
}

SettingEntry* SettingsStore::FindEntry(const char* name) {
    for (SettingEntry* e = head; e != nullptr; e = e->next) {
        if (std::strncmp(e->name, name, sizeof e->name) == 0) return e;
    }
    return nullptr;
}

SettingEntry* SettingsStore::NewEntry() {
    SettingEntry* entry = new SettingEntry{};
    entry->next = head;
    if (head != nullptr) head->prev = entry;
    head = entry;
    return entry;
}

SettingEntry* SettingsStore::OldestEntry() {
    SettingEntry* e = head;
    while (e != nullptr && e->next != nullptr) e = e->next;
    return e;
}

char* SettingsStore::ParseLine(char* line, char* out, int index) {
    size_t length = std::strlen(line);
    if (length > 0 && line[length - 1] == '\n') line[--length] = '\0';
    if (line[0] == '=') return nullptr;
    std::vector<char> part(length + 1);
    if (GetField(line, part.data(), index, '=') == nullptr) return nullptr;
    if (GetWord(part.data(), out, 0) == nullptr) return nullptr;
    std::vector<char> second(length + 1);
    if (GetWord(part.data(), second.data(), 1) != nullptr) return nullptr;
    return out;
}

char* SettingsStore::GetField(const char* text, char* out, int index, char separator) {
    return CopyNthField(text, out, index, [separator](char c) { return c == separator; });
}

char* SettingsStore::GetWord(const char* text, char* out, int index) {
    return CopyNthField(text, out, index, [](char c) { return c == ' ' || c == '\t'; });
}

void SettingsStore::BytesToHex(const uint8_t* bytes, char* out) {
    static const char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < 8; ++i) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 0x0f];
    }
    out[16] = '\0';
}

void SettingsStore::HexToBytes(const char* hex, uint8_t* out) {
    // The length is a 16-bit count, so at most 32768 bytes are ever written.
    size_t length = static_cast<uint16_t>(std::strlen(hex));
    // Pair k reads as sscanf(hex + 2k, "%2x") does: white space skipped, then at most
    // two characters (a sign, digits); no number at all gives 0. Only those two
    // characters count, so they are scanned on their own, and the skipping goes on from
    // the pair before, so that a long run of blanks is passed over once.
    const char* next = hex;  // the first character at or after 2k that is not white space
    for (size_t k = 0; 2 * k < length; ++k) {
        if (next < hex + 2 * k) next = hex + 2 * k;
        while (*next != '\0' && std::isspace(static_cast<unsigned char>(*next))) ++next;
        const char two[3] = {next[0], next[0] != '\0' ? next[1] : '\0', '\0'};
        unsigned value = 0;
        if (std::sscanf(two, "%2x", &value) != 1) value = 0;
        out[k] = static_cast<uint8_t>(value);
    }
}
