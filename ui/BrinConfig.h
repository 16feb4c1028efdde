// The settings dialog "Установки" (template 134) on top of the settings store it edits in place.
#pragma once

#include <QDialog>

#include <cstdint>

#include "settings/SettingsStore.h"

class QCheckBox;
class QEvent;
class QGroupBox;
class QHideEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;
class QShowEvent;

class BrinConfig : public QDialog, public SettingsStore {
    Q_OBJECT

public:
    // Scroll notifications of the port spinner, numbered as the platform's scroll codes.
    enum ScrollCode {
        LineUp = 0,
        LineDown = 1,
        PageUp = 2,
        PageDown = 3,
        ThumbPosition = 4,
        ThumbTrack = 5,
        Top = 6,
        Bottom = 7,
        EndScroll = 8,
    };

    // The store's construction sequence in the current directory, then the dialog's controls.
    explicit BrinConfig(QWidget* parent = nullptr);
    explicit BrinConfig(uint32_t volumeSerial, QWidget* parent = nullptr);  // a given serial (tests)
    ~BrinConfig() override;

    // Loads the controls and runs the dialog; QDialog::Accepted when left with OK.
    int DoModal();

    // The store's SaveFile, and a box saying so when the file cannot be written (the settings
    // stay in force for this run): for the Connect command and the OK paths. The rewrite at
    // start-up, the store's own, stays silent.
    int SaveFileOrWarn();

    // take false: bound values into the controls. take true: controls into the bound
    // values, stopping at the first text over its limit (message shown, false returned).
    bool DoDataExchange(bool take);

    // Locks the server fields while the main window shows the session as connected.
    void OnShowWindow(bool show);
    // The port spinner: the port text one up or down, always left a number 0..65535.
    void OnVScroll(int code);
    // Every change of the port text takes all controls.
    void OnChangePort();

    // Controls, for the main window's tests and this dialog's own.
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
    QLineEdit* ipEdit = nullptr;          // 1002
    QCheckBox* savePasswordBox = nullptr; // 1009
    QCheckBox* autoConnectBox = nullptr;  // 1010
    QLineEdit* portEdit = nullptr;        // 1012
    QScrollBar* spinner = nullptr;        // 1013
    QCheckBox* keepConnBox = nullptr;     // 1014

public slots:
    void accept() override;  // OK: take the controls, close only if that succeeded

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void OnSpinnerAction(int action);

    bool loading_ = false;        // controls being loaded: their change notifications are ours
    bool resettingBar_ = false;   // the spinner's handle being put back: not a user action
};
