#pragma once
// The dialog service tests install: records every text, answers questions, questions with a
// check box and login requests from queues (a default answer when a queue is empty).
#include "core/DialogService.h"

#include <QStringList>
#include <deque>
#include <optional>
#include <vector>

class TScriptedDialogService : public TDialogService {
public:
    struct Entry {
        TMessageKind Kind;
        QString Text;
        TDialogButtons Buttons = TDialogButtons::Ok; // of a question
    };
    // One answer to a question with a check box: the button and the box's state afterwards.
    struct CheckAnswer {
        TDialogAnswer Answer;
        bool Checked;
    };
    // One answer to a login request; Given false cancels.
    struct Credentials {
        bool Given = true;
        QString UserName;
        QString Password;
        bool SavePassword = false;
    };
    // A login request as it was asked.
    struct CredentialsRequest {
        QString Host;
        QString UserName;
        QString Status;
    };

    std::vector<Entry> Shown;                          // every message and question, in order
    std::deque<TDialogAnswer> Answers;                 // answers for Ask, front first
    TDialogAnswer DefaultAnswer = TDialogAnswer::No;
    std::deque<CheckAnswer> CheckAnswers;              // answers for AskWithCheck, front first
    std::deque<Credentials> CredentialAnswers;         // answers for RequestCredentials, front first
    std::vector<CredentialsRequest> CredentialRequests; // every login request, in order
    // Answers to the sound card warning window: Proceed or not, and the check box afterwards.
    // With none queued the window is cancelled. Each showing is recorded in Shown as
    // "Sound Card Error Detected" (kind Warning).
    struct SoundCardAnswer {
        bool Proceed;
        bool DisableCheck;
    };
    std::deque<SoundCardAnswer> SoundCardAnswers;
    // Answers to the sound device window: the chosen id, or nullopt for Cancel. With none
    // queued the window is cancelled. DeviceRequests records the id each showing came in with.
    std::deque<std::optional<int>> DeviceAnswers;
    std::vector<int> DeviceRequests;
    // Answers to "Send the password unencrypted to <host>?", front first; with none queued the
    // answer is DefaultAnswer. Each question is recorded in Shown (kind Warning) and its host in
    // PlainPasswordRequests.
    std::deque<TDialogAnswer> PlainPasswordAnswers;
    QStringList PlainPasswordRequests;

    // Answers to the folder picker: the chosen folder, or nullopt for Cancel (with none queued
    // it is cancelled). FolderRequests records the folder each showing started at.
    std::deque<std::optional<QString>> FolderAnswers;
    QStringList FolderRequests;

    void ShowMessage(const QString& text, TMessageKind kind) override;
    TDialogAnswer Ask(const QString& text, TDialogButtons buttons, TMessageKind kind) override;
    TDialogAnswer AskWithCheck(const QString& text, const QString& checkText, bool& checked,
                               TDialogButtons buttons, TMessageKind kind) override;
    // Takes the next queued answer; with none queued the request is cancelled.
    bool RequestCredentials(const QString& host, QString& user, QString& password, bool& savePassword,
                            const QString& status) override;

    TDialogAnswer AskPlainPassword(const QString& host) override;
    bool ShowSoundCardError(bool& disableCheck) override;
    bool ChooseAudioDevice(int& deviceId) override;
    QString ChooseFolder(const QString& caption, const QString& folder) override;

    QStringList Texts() const;
    QString LastText() const { return Shown.empty() ? QString() : Shown.back().Text; }
    virtual void Clear();
};

// Installs a scripted service for the lifetime of the object.
class TScopedScriptedDialogs : public TScriptedDialogService {
public:
    TScopedScriptedDialogs() { TDialogService::Install(this); }
    ~TScopedScriptedDialogs() override { TDialogService::Install(nullptr); }
};
