#include "ScriptedDialogs.h"

#include "core/BaseUtils.h"

void TScriptedDialogService::ShowMessage(const QString& text, TMessageKind kind)
{
    UtilsClass::Log(QStringLiteral("Dialog: ") + text);
    Shown.push_back({kind, text});
}

TDialogAnswer TScriptedDialogService::Ask(const QString& text, TDialogButtons, TMessageKind kind)
{
    Shown.push_back({kind, text});
    TDialogAnswer a = DefaultAnswer;
    if (!Answers.empty()) {
        a = Answers.front();
        Answers.pop_front();
    }
    return a;
}

TDialogAnswer TScriptedDialogService::AskWithCheck(const QString& text, const QString&, bool& checked,
                                                   TDialogButtons, TMessageKind kind)
{
    Shown.push_back({kind, text});
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
}
