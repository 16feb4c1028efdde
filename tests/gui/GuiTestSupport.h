// What the window tests share: a temporary working directory, recorded message boxes, the lamp's
// colour, a session driver.
#pragma once

#include <QColor>
#include <QString>
#include <QStringList>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "server/AccessServer.h"
#include "tests/support/BoxRecorder.h"
#include "tests/support/TempDir.h"
#include "ui/Brin2Dlg.h"
#include "ui/MessageBox.h"

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
// What a user would see wrong in the shown `window`: a control (label, button, field, list)
// cut off by the window's edge, or two controls over each other. Empty when there is none.
QStringList LayoutFaults(QWidget* window);

// The access server brin-server runs (and brin-cli's tests talk to), in process on 127.0.0.1 and
// a free port, with one account for any address. Its clock is the window's, so its sessions age
// with the test's time; it answers only when pumped.
class LoopbackServer {
public:
    LoopbackServer(Clock& clock, const char* login, const char* password);

    int Port() const;
    // Handles what arrives within `waitMs`, then whatever is already waiting.
    void Pump(int waitMs = 200);
    // What the client has sent so far is lost on the way: the server never sees it.
    void LoseDatagrams();
    // The account's balance, counters and messages: the next POLL_REPLY carries them.
    Account& Subscriber() { return server_.AccountAt(0); }

    int Handshakes() const;   // HELLOs answered with a KEY_REPLY
    int PollReplies() const;  // POLLs answered
    int Logouts() const;      // sessions the client ended with a LOGOUT, as the server logs them

private:
    std::ostringstream log_;
    AccessServer server_;
};

// A main window with a fake clock against the loopback server, ticks driven by hand.
class Session {
public:
    // `serverLogin` and `serverPassword` are the server's account, `values` what brin.ini holds.
    explicit Session(IniValues values = IniValues(), const char* serverLogin = "alice",
                     const char* serverPassword = "secret");
    ~Session();

    void Tick(int times = 1);
    void Login();  // Connect as the user does, the server answers, the tick sees the session
    void Poll();   // one POLL and its reply carried into the window

    FakeClock clock;
    LoopbackServer server;
    std::unique_ptr<Brin2Dlg> dlg;
};
