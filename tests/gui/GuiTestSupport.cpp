// The window tests' shared fixture pieces.
#include "tests/gui/GuiTestSupport.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QtTest>

#include "core/Wire.h"
#include "settings/SettingsStore.h"
#include "ui/MessageBox.h"

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

namespace {

// The controls a user reads or uses; their own parts (a list's scroll bars) are theirs.
bool IsControl(const QWidget* w) {
    return qobject_cast<const QLabel*>(w) != nullptr ||
           qobject_cast<const QAbstractButton*>(w) != nullptr ||
           qobject_cast<const QLineEdit*>(w) != nullptr ||
           qobject_cast<const QAbstractScrollArea*>(w) != nullptr ||
           qobject_cast<const QScrollBar*>(w) != nullptr;
}

QString Describe(const QWidget* w) {
    const auto* label = qobject_cast<const QLabel*>(w);
    const auto* button = qobject_cast<const QAbstractButton*>(w);
    return QStringLiteral("%1 \"%2\"")
        .arg(QString::fromLatin1(w->metaObject()->className()), label != nullptr ? label->text()
                                                                : button != nullptr
                                                                    ? button->text()
                                                                    : w->objectName());
}

}  // namespace

QStringList LayoutFaults(QWidget* window) {
    QList<QWidget*> controls;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->window() != window || !IsControl(w)) continue;
        bool part = false;
        for (QWidget* up = w->parentWidget(); up != window && !part; up = up->parentWidget())
            part = IsControl(up);
        if (!part) controls << w;
    }
    QStringList faults;
    const QRect inside = window->rect();
    std::vector<QRect> boxes;
    for (QWidget* w : controls) {
        const QRect box(w->mapTo(window, QPoint(0, 0)), w->size());
        if (!inside.contains(box))
            faults << Describe(w) + QStringLiteral(" is cut off by the edge");
        boxes.push_back(box);
    }
    for (int i = 0; i < controls.size(); ++i)
        for (int j = i + 1; j < controls.size(); ++j)
            if (boxes[i].intersects(boxes[j]))
                faults << Describe(controls[i]) + QStringLiteral(" covers ") +
                              Describe(controls[j]);
    return faults;
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
