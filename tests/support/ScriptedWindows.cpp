#include "ScriptedWindows.h"

#include "gui/app/WidgetDialogService.h"
#include "gui/speech/SoundCardError.h"

#include <QDialog>

int TScopedScriptedWindows::Exec(QDialog* dialog)
{
    DialogTitles << dialog->windowTitle();
    std::function<int(QDialog*)> handler = DefaultDialogHandler;
    if (!DialogHandlers.empty()) {
        handler = DialogHandlers.front();
        DialogHandlers.pop_front();
    }
    if (!handler)
        return QDialog::Rejected;
    return handler(dialog);
}

bool TScopedScriptedWindows::RequestCredentials(const QString& host, QString& user, QString& password,
                                                bool& savePassword, const QString& status)
{
    if (!CredentialAnswers.empty())
        return TScriptedDialogService::RequestCredentials(host, user, password, savePassword, status);
    CredentialRequests.push_back({host, user, status});
    return AskCredentialsWithLoginWindow(host, user, password, savePassword, status);
}

bool TScopedScriptedWindows::ShowSoundCardError(bool& disableCheck)
{
    if (!SoundCardAnswers.empty())
        return TScriptedDialogService::ShowSoundCardError(disableCheck);
    Shown.push_back({TMessageKind::Warning, QStringLiteral("Sound Card Error Detected")});
    return TSoundCardErrorForm::Execute(disableCheck);
}

bool TScopedScriptedWindows::ChooseAudioDevice(int& deviceId)
{
    if (!DeviceAnswers.empty())
        return TScriptedDialogService::ChooseAudioDevice(deviceId);
    DeviceRequests.push_back(deviceId);
    const auto [accepted, id] = TAudioDeviceForm::Execute(deviceId);
    if (accepted)
        deviceId = id;
    return accepted;
}

void TScopedScriptedWindows::Clear()
{
    TScriptedDialogService::Clear();
    DialogHandlers.clear();
    DialogTitles.clear();
}
