#pragma once
// Every message box, error box, confirmation and login question goes through this one
// service. A headless program gets a service that writes each text to the log and gives the
// safe answer; the windowed program installs its message boxes and login window as the
// default; tests install a scripted one that records each text and answers as the test says.
#include <QString>

// YesNoDefaultNo: Yes and No with No as the default button, for questions whose Yes destroys
// something (Enter alone must not delete).
enum class TDialogButtons { Ok, OkCancel, YesNo, YesNoCancel, YesNoDefaultNo };
enum class TDialogAnswer { Ok, Cancel, Yes, No };
enum class TMessageKind { Information, Warning, Error, Question };

class TDialogService {
public:
    virtual ~TDialogService() = default;

    // A message with one OK button.
    virtual void ShowMessage(const QString& text, TMessageKind kind = TMessageKind::Information) = 0;
    // A question with the given buttons; the answer is the button pressed (Escape gives No or Cancel).
    virtual TDialogAnswer Ask(const QString& text, TDialogButtons buttons,
                              TMessageKind kind = TMessageKind::Question) = 0;
    // The same with a check box below the text; checked holds its state before and after.
    virtual TDialogAnswer AskWithCheck(const QString& text, const QString& checkText, bool& checked,
                                       TDialogButtons buttons, TMessageKind kind = TMessageKind::Question) = 0;
    // Asks for the login of a news server. user comes in as the name known so far; the
    // password always starts empty and "save password" unchecked. status is the line shown
    // under the entries ("Authentication required" when empty). False when the user cancels.
    virtual bool RequestCredentials(const QString& host, QString& user, QString& password, bool& savePassword,
                                    const QString& status = QString()) = 0;

    // Asks "Send the password unencrypted to <host>?" (Yes/No) before a login to a server that
    // offers no encryption. Yes or No is the user's answer, to be remembered for the server;
    // Cancel means nobody answered (a program without windows): nothing is sent, nothing kept.
    virtual TDialogAnswer AskPlainPassword(const QString& host);
    static QString PlainPasswordQuestion(const QString& host);

    // The sound card warning window ("Sound Card Error Detected") after a failed device check.
    // True for Proceed; disableCheck tells whether "Disable Sound Card Check in the Future" was
    // ticked on leaving. A program without windows cancels.
    virtual bool ShowSoundCardError(bool& disableCheck);
    // The sound device window. deviceId comes in as the current device (-1 the default device)
    // and holds the choice when the result is true (accepted). A program without windows
    // keeps the device.
    virtual bool ChooseAudioDevice(int& deviceId);
    // The folder picker, starting at folder. The chosen folder, or empty when the user
    // cancelled. A program without windows chooses nothing.
    virtual QString ChooseFolder(const QString& caption, const QString& folder);

    // Shorthands.
    void ShowError(const QString& text) { ShowMessage(text, TMessageKind::Error); }
    bool Confirm(const QString& text) { return Ask(text, TDialogButtons::YesNo) == TDialogAnswer::Yes; }
    // A confirmation before something is deleted: No is the default.
    bool ConfirmDelete(const QString& text) { return Ask(text, TDialogButtons::YesNoDefaultNo) == TDialogAnswer::Yes; }

    // The service in force. Install(nullptr) brings back the default one.
    static TDialogService& Instance();
    static void Install(TDialogService* service);
    // The service Install(nullptr) brings back; nullptr gives the headless one.
    static void InstallDefault(TDialogService* service);
};

inline TDialogService& Dialogs() { return TDialogService::Instance(); }

// The default of a program without windows: every text goes to the log; questions get
// No or Cancel, a login request is refused.
class THeadlessDialogService : public TDialogService {
public:
    void ShowMessage(const QString& text, TMessageKind kind) override;
    TDialogAnswer Ask(const QString& text, TDialogButtons buttons, TMessageKind kind) override;
    TDialogAnswer AskWithCheck(const QString& text, const QString& checkText, bool& checked,
                               TDialogButtons buttons, TMessageKind kind) override;
    bool RequestCredentials(const QString& host, QString& user, QString& password, bool& savePassword,
                            const QString& status) override;
    TDialogAnswer AskPlainPassword(const QString& host) override;
};
