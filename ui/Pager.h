// The message window: the whole history in a read-only pale-blue view; new messages in a box while
// it is closed.
#pragma once

#include <QDialog>
#include <string>

#include "messages/MessageHistory.h"

class QPlainTextEdit;
class QPushButton;

class Pager : public QDialog, public MessageHistory {
    Q_OBJECT
public:
    explicit Pager(QWidget* parent = nullptr);  // loads history.ini
    ~Pager() override;

    // Shows the window modally over `owner` (may be null) with isOpen 1 while it runs.
    int DoModal(QWidget* owner = nullptr);

    void DoDataExchange();  // fills the view from `history`
    void ScrollToEnd();

    QPlainTextEdit* historyEdit = nullptr;  // control 1018
    QPushButton* okButton = nullptr;        // control 1019

protected:
    void ShowNewEntry(const std::string& entry) override;
    // Writing failed: one box says so; the window's tick retries (RetrySaveWhenDue).
    void SaveFailingChanged() override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};
