#include "ScriptedDialogs.h"

#include "core/BaseUtils.h"

void TScriptedDialogService::ShowMessage(const QString& text, TMessageKind kind)
{
    UtilsClass::Log(QStringLiteral("Dialog: ") + text);
    Shown.push_back({kind, text});
}

TDialogAnswer TScriptedDialogService::Ask(const QString& text, TDialogButtons buttons, TMessageKind kind)
{
    Shown.push_back({kind, text, buttons});
    TDialogAnswer a = DefaultAnswer;
    if (!Answers.empty()) {
        a = Answers.front();
        Answers.pop_front();
    }
    return a;
}

TDialogAnswer TScriptedDialogService::AskWithCheck(const QString& text, const QString&, bool& checked,
                                                   TDialogButtons buttons, TMessageKind kind)
{
    Shown.push_back({kind, text, buttons});
    if (CheckAnswers.empty())
        return DefaultAnswer;
    const CheckAnswer a = CheckAnswers.front();
    CheckAnswers.pop_front();
    checked = a.Checked;
    return a.Answer;
}

bool TScriptedDialogService::RequestCredentials(const QString& host, QString& user, QString& password,
                                                bool& savePassword, const QString& status)
{
    CredentialRequests.push_back({host, user, status});
    if (CredentialAnswers.empty())
        return false;
    const Credentials c = CredentialAnswers.front();
    CredentialAnswers.pop_front();
    if (!c.Given)
        return false;
    user = c.UserName;
    password = c.Password;
    savePassword = c.SavePassword;
    return true;
}

TDialogAnswer TScriptedDialogService::AskPlainPassword(const QString& host)
{
    Shown.push_back({TMessageKind::Warning, PlainPasswordQuestion(host)});
    PlainPasswordRequests << host;
    TDialogAnswer a = DefaultAnswer;
    if (!PlainPasswordAnswers.empty()) {
        a = PlainPasswordAnswers.front();
        PlainPasswordAnswers.pop_front();
    }
    return a;
}

bool TScriptedDialogService::ShowSoundCardError(bool& disableCheck)
{
    Shown.push_back({TMessageKind::Warning, QStringLiteral("Sound Card Error Detected")});
    if (SoundCardAnswers.empty()) {
        disableCheck = false;
        return false;
    }
    const SoundCardAnswer a = SoundCardAnswers.front();
    SoundCardAnswers.pop_front();
    disableCheck = a.DisableCheck;
    return a.Proceed;
}

bool TScriptedDialogService::ChooseAudioDevice(int& deviceId)
{
    DeviceRequests.push_back(deviceId);
    if (DeviceAnswers.empty())
        return false;
    const std::optional<int> a = DeviceAnswers.front();
    DeviceAnswers.pop_front();
    if (!a)
        return false;
    deviceId = *a;
    return true;
}

QString TScriptedDialogService::ChooseFolder(const QString&, const QString& folder)
{
    FolderRequests << folder;
    if (FolderAnswers.empty())
        return {};
    const std::optional<QString> a = FolderAnswers.front();
    FolderAnswers.pop_front();
    return a.value_or(QString());
}

QStringList TScriptedDialogService::Texts() const
{
    QStringList out;
    for (const Entry& e : Shown)
        out << e.Text;
    return out;
}

void TScriptedDialogService::Clear()
{
    Shown.clear();
    Answers.clear();
    CheckAnswers.clear();
    CredentialAnswers.clear();
    CredentialRequests.clear();
    SoundCardAnswers.clear();
    DeviceAnswers.clear();
    DeviceRequests.clear();
    FolderAnswers.clear();
    FolderRequests.clear();
    PlainPasswordAnswers.clear();
    PlainPasswordRequests.clear();
}
