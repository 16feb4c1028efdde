// Dialog-template units to pixels with the dialog font's own metrics, for all three windows.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class QLabel;

// A label whose translated text is wider than its template rectangle grows to the left, up to
// the control beside it on the right; the template's own texts keep their rectangles.
void FitTranslatedLabel(QLabel* label, const char* sourceUtf8);

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    // Horizontal units are a quarter of the font's average character width,
    // vertical units an eighth of its height.
    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const;
    int X(int units) const;
    int Y(int units) const;

    // The dialog font of the templates ("MS Sans Serif" 8 point), or the closest sans face.
    static QFont TemplateFont();

private:
    int baseX_;
    int baseY_;
};
