// What the window tests share: a temporary working directory, recorded message boxes, the lamp's
// colour, a session driver.
#pragma once

#include <QColor>
#include <QString>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

#include "BoxRecorder.h"
#include "Brin2Dlg.h"
#include "Clock.h"
#include "MessageBox.h"
#include "AnsweringPeer.h"
#include "TempDir.h"

class QMenu;

constexpr uint32_t kTestSerial = 0x1234ABCD;

// The notification area as the tests want it.
void SetTrayAvailable(bool available);

// brin.ini written through the store, as the program itself would leave it.
struct IniValues {
    std::string ip = "127.0.0.1";
    int port = 5001;
    std::string login = "alice";
    std::string password = "secret";
    bool savePassword = true;
    bool autoConnect = false;
    bool keepConn = false;
};
void WriteIni(const IniValues& values);
std::string StoredValue(const char* name);  // a key of brin.ini as the store reads it
std::string StoredPassword();               // Pass, unscrambled

QColor LampColour(Brin2Dlg& dlg);  // the pixel at the lamp's centre in a rendering of the window
QStringList Captions(const QMenu* menu);  // its items' texts, top to bottom

// A main window with a fake clock against a loopback peer, ticks driven by hand.
class Session {
public:
    explicit Session(IniValues values = IniValues(), const char* peerLogin = "alice",
                     const char* peerPassword = "secret");
    ~Session();

    void Tick(int times = 1);
    void Login();  // Connect as the user does, the peer answers, the tick sees the session
    void Poll();   // one POLL and its reply carried into the window

    FakeClock clock;
    AnsweringPeer peer;
    std::unique_ptr<Brin2Dlg> dlg;
};
