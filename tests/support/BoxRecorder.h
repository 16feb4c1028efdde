// Message boxes shown through ShowMessageBox, recorded instead of shown: what the window's tests
// and the Windows window check read back.
#pragma once

#include <QString>
#include <vector>

#include "ui/MessageBox.h"

struct RecordedBox {
    bool hasOwner;
    QString text;
    QString caption;
    BoxIcon icon;
};

inline std::vector<RecordedBox>& RecordedBoxes() {
    static std::vector<RecordedBox> boxes;
    return boxes;
}

// Records every box from now on (the list keeps what it holds); returns the handler it replaced.
inline MessageBoxHandler InstallBoxRecorder() {
    return SetMessageBoxHandler(
        [](QWidget* owner, const QString& text, const QString& caption, BoxIcon icon) {
            RecordedBoxes().push_back({owner != nullptr, text, caption, icon});
        });
}
