// Access for everyone and the English texts: every interactive control of the four windows is
// named and reachable with Tab, the lamp says its state, the balance is read with its name; with an
// English LANG every text the windows show is English and fits its place.
#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QtTest>

#include "tests/gui/GuiTestSupport.h"
#include "ui/Translation.h"

namespace {

bool Interactive(QAccessible::Role role) {
    switch (role) {
        case QAccessible::PushButton:
        case QAccessible::CheckBox:
        case QAccessible::RadioButton:
        case QAccessible::EditableText:
        case QAccessible::List:
        case QAccessible::Tree:
        case QAccessible::Table:
        case QAccessible::ComboBox:
        case QAccessible::SpinBox:
        case QAccessible::ScrollBar:
            return true;
        default:
            return false;
    }
}

// The interactive controls under `iface`; their own parts (a list's rows) are theirs.
void Collect(QAccessibleInterface* iface, QList<QAccessibleInterface*>* out) {
    for (int i = 0; i < iface->childCount(); ++i) {
        QAccessibleInterface* child = iface->child(i);
        if (child == nullptr || child->state().invisible) continue;
        if (Interactive(child->role()))
            out->append(child);
        else
            Collect(child, out);
    }
}

// Every interactive control has a name and is in the Tab chain; a scroll bar that takes no
// focus is allowed only when `keyboardStandIn` (a field whose keys do its work) is named.
void CheckWindow(QWidget* window, const char* what) {
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QSet<QWidget*> chain;
    for (QWidget* w = window->nextInFocusChain(); w != window; w = w->nextInFocusChain())
        if (w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)) chain.insert(w);
    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(window);
    QVERIFY(root != nullptr);
    QVERIFY2(!root->text(QAccessible::Name).isEmpty(), what);
    QList<QAccessibleInterface*> controls;
    Collect(root, &controls);
    QVERIFY2(controls.size() >= 2, what);
    for (QAccessibleInterface* c : controls) {
        auto* widget = qobject_cast<QWidget*>(c->object());
        const QString name = c->text(QAccessible::Name);
        const QString label =
            QStringLiteral("%1: %2 %3")
                .arg(QString::fromUtf8(what), QString::number(c->role()),
                     QString::fromUtf8(widget != nullptr ? widget->metaObject()->className() : ""));
        QVERIFY2(!name.trimmed().isEmpty(), qPrintable(label));
        if (c->role() == QAccessible::ScrollBar && widget->focusPolicy() == Qt::NoFocus) continue;
        QVERIFY2(widget != nullptr && chain.contains(widget),
                 qPrintable(label + QStringLiteral(" not in the Tab order")));
    }
}

// Texts a user sees in `window`: titles, labels, buttons, boxes, group captions.
QStringList ShownTexts(QWidget* window) {
    QStringList texts{window->windowTitle()};
    for (QLabel* l : window->findChildren<QLabel*>()) texts << l->text();
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) texts << b->text();
    for (QGroupBox* g : window->findChildren<QGroupBox*>()) texts << g->title();
    for (QLineEdit* e : window->findChildren<QLineEdit*>()) texts << e->placeholderText();
    for (QWidget* w : window->findChildren<QWidget*>())
        texts << w->accessibleName() << w->accessibleDescription();
    return texts;
}

// Labels, check boxes and buttons show their whole text.
void CheckFits(QWidget* window, const char* what) {
    for (QLabel* l : window->findChildren<QLabel*>()) {
        if (l->text().isEmpty() || l->wordWrap() || !l->pixmap().isNull()) continue;
        QVERIFY2(l->fontMetrics().horizontalAdvance(l->text()) <= l->width() + 1,
                 qPrintable(QString::fromUtf8(what) + QStringLiteral(": ") + l->text()));
    }
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>())
        QVERIFY2(b->sizeHint().width() <= b->width() + 4,
                 qPrintable(QString::fromUtf8(what) + QStringLiteral(": ") + b->text()));
}

}  // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        SetTrayAvailable(true);
        InstallBoxRecorder();
    }

    void everyControlIsNamedAndInTheTabOrder() {
        TempDir dir;
        Session s;
        CheckWindow(s.dlg.get(), "main window");
        CheckWindow(&s.dlg->config, "settings");
        CheckWindow(s.dlg->pager.get(), "messages");
        s.dlg->OnUsageHistory();
        CheckWindow(s.dlg->usageWindow, "balance history");
        // The port field's Up key does what the spinner's upper arrow does.
        s.dlg->config.DoDataExchange(false);
        const int port = s.dlg->config.PortValue();
        QTest::keyClick(s.dlg->config.portEdit, Qt::Key_Up);
        QCOMPARE(s.dlg->config.PortValue(), port + 1);
    }

    void lampSaysItsStateAndANewBalanceIsAnnounced() {
        TempDir dir;
        Session s;
        QCOMPARE(s.dlg->statusLamp->accessibleDescription(), QString::fromUtf8("Не подключено"));
        s.server.Subscriber().balance = 1234567;
        s.Login();
        s.Poll();
        QCOMPARE(s.dlg->statusLamp->accessibleDescription(), QString::fromUtf8("Подключено"));
        // The value change itself goes to the platform's accessibility bridge, which the
        // offscreen platform lacks; what a screen reader reads is the label's name.
        QCOMPARE(s.dlg->balanceLabel->accessibleName(),
                 QString::fromUtf8("Денег на счету: 1234.567"));
    }

    void englishForAnEnglishLanguage() {
        const struct {
            const char* language;
            const char* lang;
            bool english;
        } cases[] = {
            {nullptr, nullptr, false},         {nullptr, "en_US.UTF-8", true},
            {"", "en_GB.UTF-8", true},         {nullptr, "ru_RU.UTF-8", false},
            {"en_GB:en", "ru_RU.UTF-8", true}, {"ru:en", "en_US.UTF-8", false},
            {nullptr, "C.UTF-8", false},       {nullptr, "de_DE.UTF-8", false},
        };
        for (const auto& c : cases)
            QVERIFY2(WantsEnglish(c.language, c.lang) == c.english,
                     c.lang != nullptr ? c.lang : "none");

        qputenv("LANGUAGE", "");
        qputenv("LANG", "en_US.UTF-8");
        QVERIFY(InstallTranslation(*QCoreApplication::instance()));
        {
            TempDir dir;
            Session s;
            s.dlg->OnUsageHistory();
            const QRegularExpression cyrillic(QStringLiteral("[\\x{0400}-\\x{04FF}]"));
            QStringList texts = Captions(s.dlg->tray.Menu());
            for (QWidget* w :
                 {static_cast<QWidget*>(s.dlg.get()), static_cast<QWidget*>(&s.dlg->config),
                  static_cast<QWidget*>(s.dlg->pager.get()),
                  static_cast<QWidget*>(s.dlg->usageWindow)})
                texts << ShownTexts(w);
            texts << s.dlg->usageWindow->forecastLabel->text();
            texts.removeAll(s.dlg->windowTitle());  // the product's name stays as it is
            for (const QString& t : texts) QVERIFY2(!t.contains(cyrillic), qPrintable(t));
            QCOMPARE(s.dlg->Button(kIdConnect)->text(), QStringLiteral("Connect"));
            QCOMPARE(Captions(s.dlg->tray.Menu()).last(), QStringLiteral("Balance history"));
            for (QWidget* w :
                 {static_cast<QWidget*>(s.dlg.get()), static_cast<QWidget*>(&s.dlg->config),
                  static_cast<QWidget*>(s.dlg->usageWindow)}) {
                w->show();
                CheckFits(w, w->metaObject()->className());
                // Every English text stays whole within its window and over no other control.
                QVERIFY2(LayoutFaults(w).isEmpty(), qPrintable(LayoutFaults(w).join(u'\n')));
            }
            CheckWindow(s.dlg.get(), "main window in English");
        }
        for (QTranslator* t : QCoreApplication::instance()->findChildren<QTranslator*>()) {
            QCoreApplication::removeTranslator(t);
            delete t;
        }
        qunsetenv("LANG");
    }
};

QTEST_MAIN(AccessibilityTest)
#include "AccessibilityTest.moc"
