// The message window over the history: layout of its template, focus and scrolling, the new-message
// box.
#include "ui/Pager.h"

#include <QEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>

#include "ui/DataExchange.h"
#include "ui/DialogUnits.h"
#include "ui/MessageBox.h"

namespace {

// The history keeps CR LF; the view shows one line break per line.
QString ForView(const std::string& bytes) {
    QString text = FromCp1251(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

}  // namespace

Pager::Pager(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Сообщения"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DialogUnits::TemplateFont());
    const DialogUnits du(font());
    setFixedSize(du.Size(229, 155));

    historyEdit = new QPlainTextEdit(this);
    historyEdit->setObjectName(QStringLiteral("1018"));
    historyEdit->setAccessibleName(tr("История сообщений"));
    historyEdit->setGeometry(du.Rect(7, 7, 215, 121));
    historyEdit->setReadOnly(true);
    historyEdit->setLineWrapMode(QPlainTextEdit::NoWrap);
    historyEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    historyEdit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QPalette palette = historyEdit->palette();
    palette.setColor(QPalette::Base, QColor(228, 242, 255));
    historyEdit->setPalette(palette);
    historyEdit->installEventFilter(this);

    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setObjectName(QStringLiteral("1019"));
    okButton->setGeometry(du.Rect(89, 134, 50, 14));
    okButton->setAutoDefault(false);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
}

// The program ends: a last try for messages that could not be written yet.
Pager::~Pager() { RetrySave(); }

int Pager::DoModal(QWidget* owner) {
    isOpen = 1;
    DoDataExchange();
    if (owner != nullptr) {
        QRect box(QPoint(0, 0), size());
        box.moveCenter(owner->frameGeometry().center());
        move(box.topLeft());
    }
    historyEdit->setFocus();
    // Modal to its owner only: the tray icon stays usable while the window is open.
    setWindowModality(Qt::WindowModal);
    const int result = exec();
    isOpen = 0;
    return result;
}

void Pager::DoDataExchange() {
    // The view is read-only, so taking it back would give `history` unchanged.
    const QString text = ForView(history);
    if (historyEdit->toPlainText() != text) historyEdit->setPlainText(text);
}

void Pager::ScrollToEnd() {
    QScrollBar* bar = historyEdit->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void Pager::ShowNewEntry(const std::string& entry) {
    if (isOpen != 0) {
        DoDataExchange();
        ScrollToEnd();
        return;
    }
    QString text = ForView(entry);
    ShowMessageBox(nullptr, text, QStringLiteral("Internet access: Message"), BoxIcon::None);
}

void Pager::SaveFailingChanged() {
    if (!SaveFailing()) return;
    ShowMessageBox(nullptr,
                   tr("Не удалось записать history.ini. Новые сообщения сохранены в "
                      "памяти программы и будут записаны, как только запись "
                      "станет возможной."),
                   ProgramName(), BoxIcon::Warning);
}

bool Pager::eventFilter(QObject* watched, QEvent* event) {
    if (watched == historyEdit && event->type() == QEvent::FocusIn) {
        // Nothing selected, the newest entries in view.
        QTextCursor cursor = historyEdit->textCursor();
        cursor.setPosition(0);
        historyEdit->setTextCursor(cursor);
        ScrollToEnd();
    }
    return QDialog::eventFilter(watched, event);
}

void Pager::keyPressEvent(QKeyEvent* event) {
    // Enter is the window's OK; Escape and the close box cancel (the dialog's own handling).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
