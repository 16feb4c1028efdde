// The settings dialog: layout of template 134, data exchange, server-field lock and port spinner.
#include "ui/BrinConfig.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <cctype>
#include <cstdio>

#include "core/FieldLimits.h"
#include "ui/DataExchange.h"
#include "ui/DialogUnits.h"
#include "ui/MessageBox.h"

namespace {

constexpr int kPortLimit = 5;

}  // namespace

BrinConfig::BrinConfig(QWidget* parent) : QDialog(parent), SettingsStore() {
    BuildControls();
}

BrinConfig::BrinConfig(uint32_t volumeSerial, QWidget* parent)
    : QDialog(parent), SettingsStore(volumeSerial) {
    BuildControls();
}

BrinConfig::~BrinConfig() = default;

void BrinConfig::BuildControls() {
    setWindowTitle(tr("Установки"));
    setFont(DialogUnits::TemplateFont());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const DialogUnits du(font());
    setFixedSize(du.Size(211, 162));

    // Created in template order, which is also the tab order.
    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setGeometry(du.Rect(154, 7, 50, 14));
    okButton->setDefault(true);
    okButton->setAutoDefault(false);

    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setGeometry(du.Rect(154, 24, 50, 14));
    cancelButton->setAutoDefault(true);  // Enter on a focused Cancel presses Cancel

    auto* ipLabel = new QLabel(tr("IP-адрес"), this);
    ipLabel->setGeometry(du.Rect(15, 26, 30, 8));
    FitTranslatedLabel(ipLabel, "IP-адрес");

    ipEdit = new QLineEdit(this);
    ipEdit->setGeometry(du.Rect(50, 20, 62, 14));
    ipLabel->setBuddy(ipEdit);

    savePasswordBox = new QCheckBox(tr("Запомнить пароль"), this);
    savePasswordBox->setGeometry(du.Rect(15, 95, 79, 10));

    autoConnectBox = new QCheckBox(tr("Подключаться при запуске"), this);
    autoConnectBox->setGeometry(du.Rect(15, 111, 109, 10));

    auto* portLabel = new QLabel(tr("Порт"), this);
    portLabel->setGeometry(du.Rect(26, 46, 18, 8));
    FitTranslatedLabel(portLabel, "Порт");

    portEdit = new QLineEdit(this);
    portEdit->setGeometry(du.Rect(50, 41, 52, 14));
    portLabel->setBuddy(portEdit);

    spinner = new QScrollBar(Qt::Vertical, this);
    spinner->setGeometry(du.Rect(102, 41, 10, 14));
    spinner->setFocusPolicy(Qt::NoFocus);
    spinner->setAccessibleName(
        tr("Порт: больше или меньше на единицу (клавиши вверх и вниз в поле порта)"));
    // The bar's value means nothing: it only sits inside a range so both arrows are
    // drawn active, and is put back after every action.
    spinner->setRange(0, 2);
    spinner->setPageStep(1);
    spinner->setValue(1);

    auto* tcpBox = new QGroupBox(QStringLiteral("TCP/IP"), this);
    tcpBox->setGeometry(du.Rect(5, 5, 134, 65));
    auto* switchBox = new QGroupBox(this);
    switchBox->setGeometry(du.Rect(5, 80, 134, 68));

    keepConnBox = new QCheckBox(tr("Автоподключение при обрыве"), this);
    keepConnBox->setGeometry(du.Rect(15, 127, 118, 10));

    // The frames lie beneath the controls they enclose and never take a click.
    for (QGroupBox* box : {tcpBox, switchBox}) {
        box->setAttribute(Qt::WA_TransparentForMouseEvents);
        box->setFocusPolicy(Qt::NoFocus);
        box->lower();
    }

    setTabOrder(okButton, cancelButton);
    setTabOrder(cancelButton, ipEdit);
    setTabOrder(ipEdit, savePasswordBox);
    setTabOrder(savePasswordBox, autoConnectBox);
    setTabOrder(autoConnectBox, portEdit);
    setTabOrder(portEdit, keepConnBox);

    ipEdit->setValidator(new Cp1251Validator(ipEdit));
    portEdit->setValidator(new Cp1251Validator(portEdit));

    connect(okButton, &QPushButton::clicked, this, &BrinConfig::accept);
    connect(cancelButton, &QPushButton::clicked, this, &BrinConfig::reject);
    connect(portEdit, &QLineEdit::textChanged, this, [this] { OnChangePort(); });
    connect(spinner, &QAbstractSlider::actionTriggered, this, &BrinConfig::OnSpinnerAction);
    spinner->installEventFilter(this);
    portEdit->installEventFilter(this);
}

int BrinConfig::SaveFileOrWarn() {
    const int result = SettingsStore::SaveFile();
    if (result != 0)
        ShowMessageBox(nullptr,
                       tr("Не удалось записать brin.ini. Настройки действуют до "
                          "выхода из программы."),
                       ProgramName(), BoxIcon::Warning);
    return result;
}

int BrinConfig::DoModal() {
    DoDataExchange(false);
    // Modal to the main window only: the tray icon (and its "Выход") stays usable.
    setWindowModality(Qt::WindowModal);
    return exec();
}

bool BrinConfig::DoDataExchange(bool take) {
    if (!take) {
        // (::LoadText: the store has a LoadText of its own.) Setting the port text raises its
        // change notification; while the controls are loaded it must not take them back
        // half-loaded.
        loading_ = true;
        ::LoadText(ipEdit, ipText, static_cast<int>(kAddressLimit));
        savePasswordBox->setChecked(savePassword != 0);
        autoConnectBox->setChecked(autoConnect != 0);
        ::LoadText(portEdit, portText, kPortLimit);
        keepConnBox->setChecked(keepConn != 0);
        loading_ = false;
        return true;
    }
    if (!TakeText(ipEdit, &ipText, static_cast<int>(kAddressLimit), this)) return false;
    savePassword = savePasswordBox->isChecked() ? 1 : 0;
    autoConnect = autoConnectBox->isChecked() ? 1 : 0;
    if (!TakeText(portEdit, &portText, kPortLimit, this)) return false;
    keepConn = keepConnBox->isChecked() ? 1 : 0;
    return true;
}

void BrinConfig::OnShowWindow(bool show) {
    // Runs on showing and on hiding alike: the lock follows connectedShown as it is then.
    (void)show;
    const bool locked = connectedShown == 1;
    ipEdit->setReadOnly(locked);
    portEdit->setReadOnly(locked);
    spinner->setEnabled(!locked);
}

void BrinConfig::OnVScroll(int code) {
    int64_t v = ReadPort(portText);
    if (code == LineUp) v = v + 1;
    if (code == LineDown) v = v - 1;
    if (v > 65535) {
        v = 65535;
    } else if (v < 0) {
        v = 0;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(v));
    portText = text;
    DoDataExchange(false);
}

void BrinConfig::OnChangePort() {
    if (loading_) return;
    DoDataExchange(true);
}

void BrinConfig::accept() {
    if (DoDataExchange(true)) QDialog::accept();
}

void BrinConfig::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    OnShowWindow(true);
}

void BrinConfig::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    OnShowWindow(false);
}

void BrinConfig::OnSpinnerAction(int action) {
    if (resettingBar_) return;
    int code;
    switch (action) {
        // A vertical bar's upper arrow steps towards its minimum.
        case QAbstractSlider::SliderSingleStepSub:
            code = LineUp;
            break;
        case QAbstractSlider::SliderSingleStepAdd:
            code = LineDown;
            break;
        case QAbstractSlider::SliderPageStepSub:
            code = PageUp;
            break;
        case QAbstractSlider::SliderPageStepAdd:
            code = PageDown;
            break;
        case QAbstractSlider::SliderToMinimum:
            code = Top;
            break;
        case QAbstractSlider::SliderToMaximum:
            code = Bottom;
            break;
        default:
            code = ThumbTrack;
            break;
    }
    // The handle stays where it is, whatever the action would have done.
    resettingBar_ = true;
    spinner->setSliderPosition(spinner->value());
    resettingBar_ = false;
    OnVScroll(code);
}

bool BrinConfig::eventFilter(QObject* watched, QEvent* event) {
    // The spinner takes no focus: the Up and Down keys in the port field are its arrows,
    // locked with it while connected.
    if (watched == portEdit && event->type() == QEvent::KeyPress && spinner->isEnabled()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            OnVScroll(key == Qt::Key_Up ? LineUp : LineDown);
            return true;
        }
    }
    // The wheel is not one of the spinner's clicks: it would reload every control.
    if (watched == spinner && event->type() == QEvent::Wheel) return true;
    // Releasing the mouse over the spinner ends the scroll, as a separate notification.
    if (watched == spinner && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && spinner->isEnabled()) {
        const bool handled = QDialog::eventFilter(watched, event);
        OnVScroll(EndScroll);
        return handled;
    }
    return QDialog::eventFilter(watched, event);
}
