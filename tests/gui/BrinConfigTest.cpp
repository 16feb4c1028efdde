// The settings dialog: port spinner, server-field lock, re-loading of controls, Cancel and the
// limits.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "tests/gui/GuiTestSupport.h"
#include "tests/support/BoxRecorder.h"
#include "tests/support/TempDir.h"
#include "ui/BrinConfig.h"

namespace {

// The texts of the message boxes shown, in order.
QStringList BoxTexts() {
    QStringList texts;
    for (const RecordedBox& box : RecordedBoxes()) texts << box.text;
    return texts;
}

// A real click on one arrow of the spinner (press, then the release that ends the scroll).
void ClickArrow(QScrollBar* bar, bool up) {
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = bar->orientation();
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    if (bar->orientation() == Qt::Horizontal) option.state |= QStyle::State_Horizontal;
    const QRect arrow = bar->style()->subControlRect(
        QStyle::CC_ScrollBar, &option,
        up ? QStyle::SC_ScrollBarSubLine : QStyle::SC_ScrollBarAddLine, bar);
    QVERIFY2(arrow.isValid(), "the spinner has no room for its arrows");
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, arrow.center());
}

// Runs the dialog with `whileOpen` inside its modal loop; whatever a failed check
// left undone, the dialog is closed afterwards so the test never hangs.
int RunDialog(BrinConfig& dlg, const std::function<void()>& whileOpen) {
    QTimer::singleShot(0, &dlg, [&] {
        whileOpen();
        if (dlg.isVisible()) dlg.reject();
    });
    return dlg.DoModal();
}

}  // namespace

class BrinConfigTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void templateLayout();
    void spinner_data();
    void spinner();
    void lockedWhileConnected();
    void spinnerReloadsEveryControl();
    void leavingWithoutOkTakesNothingMore_data();
    void leavingWithoutOkTakesNothingMore();
    void overlongTextKeepsDialogOpen_data();
    void overlongTextKeepsDialogOpen();

private:
    std::unique_ptr<TempDir> dir_;
    MessageBoxHandler oldHandler_ = nullptr;
};

void BrinConfigTest::init() {
    dir_ = std::make_unique<TempDir>();
    RecordedBoxes().clear();
    oldHandler_ = InstallBoxRecorder();
}

void BrinConfigTest::cleanup() {
    SetMessageBoxHandler(oldHandler_);
    dir_.reset();
}

void BrinConfigTest::templateLayout() {
    BrinConfig dlg(0x1234abcdu);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Установки"));
    // A dialog of one size, nothing in it cut off or over another control; the spinner sits
    // against the port field's right side, as tall as the field.
    QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
    dlg.show();
    QVERIFY2(LayoutFaults(&dlg).isEmpty(), qPrintable(LayoutFaults(&dlg).join(u'\n')));
    const QRect port = dlg.portEdit->geometry();
    const QRect spinner = dlg.spinner->geometry();
    QCOMPARE(spinner.left(), port.right() + 1);
    QCOMPARE(spinner.top(), port.top());
    QCOMPARE(spinner.height(), port.height());
    dlg.hide();
    QVERIFY(dlg.okButton->isDefault());

    // Template order is the tab order; labels, frames and the spinner take no focus.
    const QList<QWidget*> order = {dlg.okButton,        dlg.cancelButton,   dlg.ipEdit,
                                   dlg.savePasswordBox, dlg.autoConnectBox, dlg.portEdit,
                                   dlg.keepConnBox};
    QWidget* w = dlg.okButton;
    for (int i = 1; i <= order.size(); ++i) {
        do {
            w = w->nextInFocusChain();
        } while (w != &dlg && !(w->focusPolicy() & Qt::TabFocus));
        if (w == &dlg) w = w->nextInFocusChain();
        QCOMPARE(w, order[i % order.size()]);
    }
}

void BrinConfigTest::spinner_data() {
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>(
        "action");  // 0 click on the up arrow, 1 on the down arrow, else a scroll code
    QTest::addColumn<QString>("expected");

    QTest::newRow("up raises") << "5001" << 0 << "5002";
    QTest::newRow("down lowers") << "5001" << 1 << "5000";
    QTest::newRow("65535 up stays") << "65535" << 0 << "65535";
    QTest::newRow("0 down stays") << "0" << 1 << "0";
    QTest::newRow("empty up") << "" << 0 << "1";
    QTest::newRow("80x up") << "80x" << 0 << "81";
    QTest::newRow("above 65535 up") << "70000" << 0 << "65535";
    QTest::newRow("above 65535 down") << "99999" << 1 << "65535";
    QTest::newRow("page code normalises only") << "80x" << 100 + BrinConfig::PageDown << "80";
    QTest::newRow("end of scroll normalises only")
        << " 0042" << 100 + BrinConfig::EndScroll << "42";
}

void BrinConfigTest::spinner() {
    QFETCH(QString, port);
    QFETCH(int, action);
    QFETCH(QString, expected);

    BrinConfig dlg(0x1234abcdu);
    dlg.portText = port.toStdString();
    dlg.DoDataExchange(false);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const int barValue = dlg.spinner->value();

    if (action < 100) {
        ClickArrow(dlg.spinner, action == 0);
    } else {
        dlg.OnVScroll(action - 100);
    }
    // One step per click: the end-of-scroll notification after it changes nothing more.
    QCOMPARE(QString::fromStdString(dlg.portText), expected);
    QCOMPARE(dlg.portEdit->text(), expected);
    QCOMPARE(dlg.spinner->value(), barValue);
}

void BrinConfigTest::lockedWhileConnected() {
    BrinConfig dlg(0x1234abcdu);
    dlg.portText = "5001";
    dlg.keepConn = 0;
    dlg.connectedShown = 1;
    bool checked = false;
    int result = RunDialog(dlg, [&] {
        checked = true;
        QVERIFY(dlg.ipEdit->isReadOnly());
        QVERIFY(dlg.portEdit->isReadOnly());
        QVERIFY(!dlg.spinner->isEnabled());
        ClickArrow(dlg.spinner, true);
        QCOMPARE(dlg.portEdit->text(), QStringLiteral("5001"));
        // The lock is taken when the dialog opens, not followed while it is open.
        dlg.connectedShown = 0;
        QVERIFY(dlg.portEdit->isReadOnly());
        // The switches stay usable.
        QVERIFY(dlg.keepConnBox->isEnabled());
        QTest::mouseClick(dlg.keepConnBox, Qt::LeftButton, Qt::NoModifier,
                          QPoint(4, dlg.keepConnBox->height() / 2));
        QVERIFY(dlg.keepConnBox->isChecked());
        dlg.okButton->click();
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QVERIFY(checked);
    QCOMPARE(dlg.keepConn, 1);
    QCOMPARE(dlg.portText, std::string("5001"));

    // Opened again once the session has ended: the server fields are editable.
    result = RunDialog(dlg, [&] {
        QVERIFY(!dlg.ipEdit->isReadOnly());
        QVERIFY(!dlg.portEdit->isReadOnly());
        QVERIFY(dlg.spinner->isEnabled());
        dlg.reject();
    });
    QCOMPARE(result, int(QDialog::Rejected));
}

void BrinConfigTest::spinnerReloadsEveryControl() {
    BrinConfig dlg(0x1234abcdu);
    dlg.ipText = "10.0.0.1";
    dlg.portText = "5001";
    dlg.savePassword = 1;
    dlg.autoConnect = 0;
    dlg.keepConn = 0;
    dlg.DoDataExchange(false);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    // Toggled boxes and an address typed since the last change of the port text...
    dlg.savePasswordBox->click();
    dlg.keepConnBox->click();
    dlg.ipEdit->selectAll();
    QTest::keyClicks(dlg.ipEdit, QStringLiteral("127.0.0.9"));
    ClickArrow(dlg.spinner, true);

    // ...return to the bound values, which the click did not take.
    QCOMPARE(dlg.portText, std::string("5002"));
    QCOMPARE(dlg.ipEdit->text(), QStringLiteral("10.0.0.1"));
    QCOMPARE(dlg.ipText, std::string("10.0.0.1"));
    QVERIFY(dlg.savePasswordBox->isChecked());
    QVERIFY(!dlg.keepConnBox->isChecked());
    QCOMPARE(dlg.savePassword, 1);
    QCOMPARE(dlg.keepConn, 0);

    // The wheel over the spinner is no click: it neither steps the port nor reloads.
    dlg.keepConnBox->click();
    const QPoint centre = dlg.spinner->rect().center();
    QWheelEvent wheel(centre, dlg.spinner->mapToGlobal(centre), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(dlg.spinner, &wheel);
    QCOMPARE(dlg.portText, std::string("5002"));
    QVERIFY(dlg.keepConnBox->isChecked());
}

void BrinConfigTest::leavingWithoutOkTakesNothingMore_data() {
    QTest::addColumn<int>("how");  // 0 Cancel button, 1 Escape key, 2 close box
    QTest::newRow("Cancel") << 0;
    QTest::newRow("Escape") << 1;
    QTest::newRow("close box") << 2;
    QTest::newRow("Enter on Cancel") << 3;
}

void BrinConfigTest::leavingWithoutOkTakesNothingMore() {
    QFETCH(int, how);
    BrinConfig dlg(0x1234abcdu);
    const std::string before = ReadFile("brin.ini");
    QVERIFY(!before.empty());
    QCOMPARE(dlg.portText, std::string("5001"));

    int result = RunDialog(dlg, [&] {
        // An address typed, a box toggled, then a new port: each change of the port takes all.
        QTest::keyClicks(dlg.ipEdit, QStringLiteral("192.0.2.7"));
        dlg.keepConnBox->click();
        dlg.portEdit->selectAll();
        QTest::keyClicks(dlg.portEdit, QStringLiteral("6000"));
        dlg.autoConnectBox->click();  // after the last port change: never taken
        if (how == 0) dlg.cancelButton->click();
        if (how == 1) QTest::keyClick(&dlg, Qt::Key_Escape);
        if (how == 2) dlg.close();
        if (how == 3) {
            dlg.cancelButton->setFocus();
            QTest::keyClick(dlg.cancelButton, Qt::Key_Return);
        }
    });
    QCOMPARE(result, int(QDialog::Rejected));

    QCOMPARE(ReadFile("brin.ini"), before);
    QCOMPARE(dlg.portText, std::string("6000"));
    QCOMPARE(dlg.ipText, std::string("192.0.2.7"));
    QCOMPARE(dlg.keepConn, 1);
    QCOMPARE(dlg.autoConnect, 0);
    QVERIFY(RecordedBoxes().empty());

    // Opened again, the dialog shows what was taken.
    RunDialog(dlg, [&] {
        QCOMPARE(dlg.portEdit->text(), QStringLiteral("6000"));
        QVERIFY(!dlg.autoConnectBox->isChecked());
        dlg.reject();
    });
}

void BrinConfigTest::overlongTextKeepsDialogOpen_data() {
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("ipFails");

    QTest::newRow("6-digit port") << "10.0.0.1"
                                  << "123456"
                                  << "Please enter no more than 5 characters." << false;
    QTest::newRow("16-character address") << "100.100.100.1000"
                                          << "5001"
                                          << "Please enter no more than 15 characters." << true;
}

void BrinConfigTest::overlongTextKeepsDialogOpen() {
    QFETCH(QString, ip);
    QFETCH(QString, port);
    QFETCH(QString, message);
    QFETCH(bool, ipFails);

    // Only a hand-edited brin.ini brings such texts; the fields still show them whole.
    BrinConfig dlg(0x1234abcdu);
    dlg.ipText = ip.toStdString();
    dlg.portText = port.toStdString();
    dlg.savePassword = 0;
    dlg.keepConn = 0;
    int result = RunDialog(dlg, [&] {
        QCOMPARE(dlg.ipEdit->text(), ip);
        QCOMPARE(dlg.portEdit->text(), port);
        dlg.savePasswordBox->click();
        dlg.keepConnBox->click();
        dlg.okButton->click();
        QCOMPARE(BoxTexts(), QStringList{message});
        QVERIFY(dlg.isVisible());
        // The exchange stopped at the failing field: what follows it was not taken.
        QCOMPARE(dlg.savePassword, ipFails ? 0 : 1);
        QCOMPARE(dlg.keepConn, 0);

        // Shortened, the text passes (a port change takes at once, silently) and OK closes.
        QLineEdit* failing = ipFails ? dlg.ipEdit : dlg.portEdit;
        failing->end(false);
        QTest::keyClick(failing, Qt::Key_Backspace);
        dlg.okButton->click();
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(RecordedBoxes().size(), size_t{1});
    QCOMPARE(dlg.keepConn, 1);
    QCOMPARE(dlg.ipText, ip.chopped(ipFails ? 1 : 0).toStdString());
    QCOMPARE(dlg.portText, port.chopped(ipFails ? 0 : 1).toStdString());
}

QTEST_MAIN(BrinConfigTest)
#include "BrinConfigTest.moc"
