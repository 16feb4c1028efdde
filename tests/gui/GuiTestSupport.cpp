// The window tests' shared fixture pieces.
#include "GuiTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFrame>
#include <QImage>
#include <QMenu>
#include <QtTest>

#include "MessageBox.h"
#include "SettingsStore.h"
#include "Wire.h"

namespace {
bool g_trayAvailable = true;
}

void SetTrayAvailable(bool available) {
    g_trayAvailable = available;
    TrayIcon::SetAvailabilityProbe([] { return g_trayAvailable; });
}

void WriteIni(const IniValues& v) {
    SettingsStore store(kTestSerial);
    store.SetValue("SavePassword", v.savePassword ? "1" : "0");
    store.SetValue("AutoConnect", v.autoConnect ? "1" : "0");
    store.SetValue("KeepConn", v.keepConn ? "1" : "0");
    store.SetValue("IP", v.ip.c_str());
    store.SetValue("Port", std::to_string(v.port).c_str());
    store.SetValue("Login", v.login.c_str());
    store.SetPassword("Pass", v.password.c_str());
    store.SaveFile();
}

std::string StoredValue(const char* name) {
    SettingsStore store(kTestSerial);
    const char* value = store.GetValue(name);
    return value != nullptr ? value : "";
}

std::string StoredPassword() {
    SettingsStore store(kTestSerial);
    const char* value = store.GetPassword("Pass");
    return value != nullptr ? value : "";
}

QStringList Captions(const QMenu* menu) {
    QStringList captions;
    for (QAction* action : menu->actions()) captions << action->text();
    return captions;
}

QColor LampColour(Brin2Dlg& dlg) {
    // The window's own painting into a true-colour image: a screen pixmap may
    // have fewer bits per colour than the lamp's pure red and green.
    QImage shot(dlg.size(), QImage::Format_ARGB32);
    dlg.render(&shot);
    return shot.pixelColor(dlg.statusLamp->geometry().center());
}

namespace {

Account MakeAccount(const char* login, const char* password) {
    Account a;
    a.login = login;
    a.password = password;
    return a;
}

}  // namespace

LoopbackServer::LoopbackServer(Clock& clock, const char* login, const char* password)
    : server_({MakeAccount(login, password)}, AccessServer::Options(), clock, &log_) {
    Endpoint local;
    local.address = ParseIPv4("127.0.0.1");
    if (!server_.Open(local))
        qFatal("the loopback server cannot open: %s", server_.OpenError().c_str());
}

int LoopbackServer::Port() const {
    return PortFromNetwork(server_.LocalEndpoint().port);
}

void LoopbackServer::Pump(int waitMs) {
    for (int wait = waitMs; server_.Pump(wait) > 0; wait = 0) {
    }
}

void LoopbackServer::LoseDatagrams() {
    UdpSocket& socket = server_.Socket();
    uint8_t buffer[wire::kMaxDatagram];
    Endpoint from;
    while (socket.WaitReadable(0) == 1 && socket.Receive(buffer, sizeof buffer, &from) >= 0) {
    }
}

int LoopbackServer::Handshakes() const {
    return static_cast<int>(server_.GetStats().handshakes);
}

int LoopbackServer::PollReplies() const {
    return static_cast<int>(server_.GetStats().polls);
}

int LoopbackServer::Logouts() const {
    const std::string log = log_.str();
    int count = 0;
    for (size_t at = log.find(" logout '"); at != std::string::npos;
         at = log.find(" logout '", at + 1))
        ++count;
    return count;
}

Session::Session(IniValues values, const char* serverLogin, const char* serverPassword)
    : server(clock, serverLogin, serverPassword) {
    values.port = server.Port();
    WriteIni(values);
    dlg = std::make_unique<Brin2Dlg>(&clock, kTestSerial);
    dlg->OnInitDialog();
    dlg->refreshTimer.stop();  // the test drives the ticks
    dlg->show();
}

Session::~Session() = default;

void Session::Tick(int times) {
    for (int i = 0; i < times; ++i) dlg->OnTimer();
}

void Session::Login() {
    dlg->OnConnect();
    server.Pump();
    Tick();
}

void Session::Poll() {
    Tick();  // sends the POLL
    server.Pump();
    Tick();  // takes the reply
}
