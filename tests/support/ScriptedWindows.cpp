#include "ScriptedWindows.h"

#include "gui/app/WidgetDialogService.h"

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

void TScopedScriptedWindows::Clear()
{
    TScriptedDialogService::Clear();
    DialogHandlers.clear();
    DialogTitles.clear();
}
