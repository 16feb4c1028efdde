// Moving texts between edit controls and the Windows-1251 strings behind them.
#pragma once

#include <QValidator>
#include <string>

class QLineEdit;
class QWidget;

// Accepts only text that Windows-1251 can hold, so nothing typed is lost or turned into '?'.
class Cp1251Validator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
};

// Filling: the string into the control, then `limit` as its input limit (0: none).
void LoadText(QLineEdit* edit, const std::string& text, int limit);

// Taking: the control's whole text into `out`. When it is longer than `limit`
// (only a hand-edited file can cause that), `out` still receives it, the message
// "Please enter no more than %1 characters." is shown (caption: the program's
// name), the control gets the focus and false is returned.
bool TakeText(QLineEdit* edit, std::string* out, int limit, QWidget* owner);

QString FromCp1251(const std::string& bytes);
std::string ToCp1251(const QString& text);  // characters outside Windows-1251 are dropped
