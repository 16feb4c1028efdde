// Dialog units as the templates use them: base units from the font's average width and height.
#include "ui/DialogUnits.h"

#include <QFontMetrics>
#include <QLabel>
#include <algorithm>

DialogUnits::DialogUnits(const QFont& font) {
    QFontMetrics metrics(font);
    const QString sample = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    baseX_ = (metrics.horizontalAdvance(sample) / 26 + 1) / 2;
    baseY_ = metrics.height();
    if (baseX_ < 1) baseX_ = 1;
    if (baseY_ < 1) baseY_ = 1;
}

int DialogUnits::X(int units) const { return (units * baseX_ + 2) / 4; }
int DialogUnits::Y(int units) const { return (units * baseY_ + 4) / 8; }

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
}

QSize DialogUnits::Size(int width, int height) const { return QSize(X(width), Y(height)); }

QFont DialogUnits::TemplateFont() {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

void FitTranslatedLabel(QLabel* label, const char* sourceUtf8) {
    if (label->text() == QString::fromUtf8(sourceUtf8)) return;
    const int wanted = label->fontMetrics().horizontalAdvance(label->text()) + 2;
    QRect box = label->geometry();
    if (wanted <= box.width()) return;
    box.setLeft(std::max(0, box.right() + 1 - wanted));
    label->setGeometry(box);
}
