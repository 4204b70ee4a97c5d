#include "core/DialogService.h"

#include "core/BaseUtils.h"

namespace {
THeadlessDialogService headlessService;
TDialogService* defaultService = nullptr;
TDialogService* current = nullptr;

TDialogAnswer refusal(TDialogButtons buttons)
{
    switch (buttons) {
    case TDialogButtons::Ok: return TDialogAnswer::Ok;
    case TDialogButtons::YesNo:
    case TDialogButtons::YesNoDefaultNo: return TDialogAnswer::No;
    default: return TDialogAnswer::Cancel;
    }
}
}

TDialogService& TDialogService::Instance()
{
    if (current)
        return *current;
    return defaultService ? *defaultService : headlessService;
}

void TDialogService::Install(TDialogService* service)
{
    current = service;
}

void TDialogService::InstallDefault(TDialogService* service)
{
    defaultService = service;
}

void THeadlessDialogService::ShowMessage(const QString& text, TMessageKind)
{
    UtilsClass::Log(QStringLiteral("Dialog: ") + text);
}

TDialogAnswer THeadlessDialogService::Ask(const QString& text, TDialogButtons buttons, TMessageKind)
{
    UtilsClass::Log(QStringLiteral("Dialog: ") + text);
    return refusal(buttons);
}

TDialogAnswer THeadlessDialogService::AskWithCheck(const QString& text, const QString& checkText, bool&,
                                                   TDialogButtons buttons, TMessageKind)
{
    UtilsClass::Log(QStringLiteral("Dialog: ") + text + QStringLiteral(" [") + checkText + QLatin1Char(']'));
    return refusal(buttons);
}

bool THeadlessDialogService::RequestCredentials(const QString& host, QString&, QString&, bool&, const QString&)
{
    UtilsClass::Log(QStringLiteral("Dialog: login for ") + host + QStringLiteral(" refused, nobody to ask"));
    return false;
}

QString TDialogService::PlainPasswordQuestion(const QString& host)
{
    return QStringLiteral("Send the password unencrypted to %1?").arg(host.trimmed());
}

TDialogAnswer TDialogService::AskPlainPassword(const QString& host)
{
    const TDialogAnswer a = Ask(PlainPasswordQuestion(host), TDialogButtons::YesNo, TMessageKind::Warning);
    return a == TDialogAnswer::Yes ? TDialogAnswer::Yes : TDialogAnswer::No;
}

TDialogAnswer THeadlessDialogService::AskPlainPassword(const QString& host)
{
    UtilsClass::Log(QStringLiteral("Dialog: ") + PlainPasswordQuestion(host) + QStringLiteral(" Not sent, nobody to ask"));
    return TDialogAnswer::Cancel;
}

bool TDialogService::ShowSoundCardError(bool& disableCheck)
{
    UtilsClass::Log(QStringLiteral("Dialog: Sound Card Error Detected, cancelled, nobody to ask"));
    disableCheck = false;
    return false;
}

QString TDialogService::ChooseFolder(const QString& caption, const QString&)
{
    UtilsClass::Log(QStringLiteral("Dialog: no folder chosen for \"") + caption + QStringLiteral("\", nobody to ask"));
    return {};
}

bool TDialogService::ChooseAudioDevice(int&)
{
    UtilsClass::Log(QStringLiteral("Dialog: audio device choice kept, nobody to ask"));
    return false;
}
