// The settings store behind brin.ini and the scrambled password (no Qt: the
// settings dialog BrinConfig inherits it; brin-cli uses it as it is).
#pragma once

#include <cstdint>
#include <string>

struct SettingEntry {
    char name[32];
    char value[32];
    SettingEntry* next;  // next older; null at the oldest
    SettingEntry* prev;  // next newer; null at the newest
};

class SettingsStore {
public:
    // The keys of brin.ini; their names are spelled only here.
    static constexpr const char kSavePassword[] = "SavePassword";
    static constexpr const char kAutoConnect[] = "AutoConnect";
    static constexpr const char kKeepConn[] = "KeepConn";
    static constexpr const char kIp[] = "IP";
    static constexpr const char kPort[] = "Port";
    static constexpr const char kLogin[] = "Login";
    static constexpr const char kPass[] = "Pass";
    // Not among the keys supplied at start: absent means no low-balance warning.
    static constexpr const char kLowBalance[] = "LowBalance";

    // The construction sequence in the current directory: key from the volume
    // serial, LoadFile, defaults for missing keys, SaveFile, current settings.
    SettingsStore();
    explicit SettingsStore(uint32_t volumeSerial);  // the same with a given serial (tests)
    // An empty store keyed by `volumeSerial` that touches no file: the line reader
    // and the scrambling on their own (fuzzing, tests).
    struct Detached {};
    SettingsStore(Detached, uint32_t volumeSerial);
    virtual ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    int LoadFile();  // 0, or -1 when brin.ini cannot be opened
    int SaveFile();  // 0, or -1 when the new file could not be written completely
    // What LoadFile does with the bytes of brin.ini (CR LF or LF line ends), and the
    // bytes SaveFile writes (CR LF line ends on every platform).
    void LoadText(const std::string& bytes);
    std::string FileText() const;
    const char* GetValue(const char* name);
    const char* AddValue(const char* name, const char* value);
    const char* SetValue(const char* name, const char* value);
    const char* SetPassword(const char* name, const char* password);
    const char* GetPassword(const char* name);  // returns scratch
    SettingEntry* FindEntry(const char* name);
    SettingEntry* NewEntry();
    SettingEntry* OldestEntry();

    // The line reader. `out` must hold the whole text it is given (line or part).
    static char* ParseLine(char* line, char* out, int index);
    static char* GetField(const char* text, char* out, int index, char separator);
    static char* GetWord(const char* text, char* out, int index);
    static void BytesToHex(const uint8_t* bytes, char* out);  // 8 bytes -> 16 digits
    // Digit pairs to bytes; a pair that does not start with a hex digit gives 0.
    static void HexToBytes(const char* hex, uint8_t* out);

    // The stored Login and the unscrambled Pass; empty when missing.
    std::string StoredLogin();
    std::string StoredPassword();
    // What the Connect command stores, in its order: Pass (scrambled, or the scrambled
    // empty password when SavePassword is off), Login, IP and Port. brin.ini is not
    // written here.
    void StoreConnection(const std::string& login, const std::string& password,
                         const std::string& ip, const std::string& port);
    // SavePassword, AutoConnect and KeepConn from the current settings.
    void StoreSwitches();
    // The LowBalance text ("" when absent), and storing it: the entry is added at the
    // end when missing. An empty text for an existing entry is written as an empty
    // value, which the next start drops: the key is absent again. brin.ini is not
    // written here.
    std::string LowBalanceText();
    void StoreLowBalance(const std::string& text);

    // The Port text as a number, the way atoi reads it (blanks, a sign, digits up to
    // the first other character, 0 without any), saturated at the 32-bit limits
    // instead of overflowing on a long run of digits from a hand-edited file.
    static int32_t ReadPort(const std::string& text);
    int32_t PortValue() const { return ReadPort(portText); }

    // Current settings (Windows-1251 byte strings).
    std::string ipText;
    std::string portText;
    int32_t savePassword = 0;
    int32_t autoConnect = 0;
    int32_t keepConn = 0;
    int32_t connectedShown = 0;

    uint8_t key[8] = {};
    uint8_t scratch[32] = {};
    SettingEntry* head = nullptr;

    // Lines of the brin.ini read that the rewrite leaves out or cuts (no entry, a name
    // given before with another value, a name or value over 31 characters, a piece of a
    // long line). The empty values the store itself writes ("IP = ") are not counted.
    size_t DroppedLines() const { return droppedLines_; }
    // Before the first save that would drop such lines, the file as it was is kept as
    // brin.ini.bak; until that copy is written no save replaces brin.ini.
    enum class Backup { None, Kept, Failed };
    Backup BackupOutcome() const { return backup_; }
    static constexpr const char kBackupFileName[] = "brin.ini.bak";

private:
    void Construct(uint32_t volumeSerial);
    void SetKey(uint32_t volumeSerial);

    size_t droppedLines_ = 0;
    std::string droppedFile_;  // the bytes of brin.ini while its copy is still to be made
    Backup backup_ = Backup::None;
};
