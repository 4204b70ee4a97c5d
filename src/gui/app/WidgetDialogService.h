#pragma once
// The windowed program's dialog service: Qt's message boxes, the login window and modal
// windows run with QDialog::exec.
#include "core/DialogService.h"
#include "gui/app/WindowService.h"

class TWidgetDialogService : public TDialogService, public TWindowService {
public:
    void ShowMessage(const QString& text, TMessageKind kind) override;
    TDialogAnswer Ask(const QString& text, TDialogButtons buttons, TMessageKind kind) override;
    TDialogAnswer AskWithCheck(const QString& text, const QString& checkText, bool& checked,
                               TDialogButtons buttons, TMessageKind kind) override;
    bool RequestCredentials(const QString& host, QString& user, QString& password, bool& savePassword,
                            const QString& status) override;
    TDialogAnswer AskPlainPassword(const QString& host) override;
    bool ShowSoundCardError(bool& disableCheck) override;
    bool ChooseAudioDevice(int& deviceId) override;
    QString ChooseFolder(const QString& caption, const QString& folder) override;
    int Exec(QDialog* dialog) override;

    // The program's one instance; also made the default of Dialogs().
    static TWidgetDialogService& Program();
};

// Runs the login window through Windows().Exec: the name filled in, the password empty,
// "Save Password" unchecked and the status line as given. True when confirmed; the three
// values are then what the user entered.
bool AskCredentialsWithLoginWindow(const QString& host, QString& user, QString& password, bool& savePassword,
                                   const QString& status);
