// Edit control <-> Windows-1251 string, with the framework's limit message.
#include "ui/DataExchange.h"

#include <QLineEdit>

#include "core/Cp1251.h"
#include "ui/MessageBox.h"

QValidator::State Cp1251Validator::validate(QString& input, int& pos) const {
    (void)pos;
    for (QChar c : input)
        if (!IsCp1251Encodable(c.unicode())) return Invalid;
    return Acceptable;
}

QString FromCp1251(const std::string& bytes) {
    return QString::fromStdString(Cp1251ToUtf8(bytes));
}

std::string ToCp1251(const QString& text) {
    std::string out;
    for (QChar c : text) {
        std::string one;
        if (Utf8ToCp1251(QString(c).toStdString(), &one)) out += one;
    }
    return out;
}

void LoadText(QLineEdit* edit, const std::string& text, int limit) {
    const QString shown = FromCp1251(text);
    if (edit->text() != shown) edit->setText(shown);
    edit->setMaxLength(limit > 0 ? limit : 32767);
    // setMaxLength cuts a longer text; a hand-edited file may hold one, and it must
    // still reach the string (and the limit message) when the fields are taken.
    if (edit->text() != shown) {
        edit->setMaxLength(32767);
        edit->setText(shown);
    }
}

bool TakeText(QLineEdit* edit, std::string* out, int limit, QWidget* owner) {
    *out = ToCp1251(edit->text());
    if (limit > 0 && static_cast<int>(out->size()) > limit) {
        ShowMessageBox(owner,
                       QStringLiteral("Please enter no more than %1 characters.").arg(limit),
                       ProgramName(), BoxIcon::Warning);
        edit->setFocus();
        return false;
    }
    return true;
}
