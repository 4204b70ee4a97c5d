#include "gui/app/WidgetDialogService.h"

#include "gui/app/KeyboardAccess.h"

#include "gui/nntp/LoginDialogUnit.h"
#include "gui/speech/SoundCardError.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <memory>

namespace {
TWindowService* currentWindows = nullptr;
QPointer<QWidget> parentWindow;

QMessageBox::Icon iconOf(TMessageKind kind)
{
    switch (kind) {
    case TMessageKind::Information: return QMessageBox::Information;
    case TMessageKind::Warning: return QMessageBox::Warning;
    case TMessageKind::Error: return QMessageBox::Critical;
    case TMessageKind::Question: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons buttonsOf(TDialogButtons buttons)
{
    switch (buttons) {
    case TDialogButtons::Ok: return QMessageBox::Ok;
    case TDialogButtons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case TDialogButtons::YesNo:
    case TDialogButtons::YesNoDefaultNo: return QMessageBox::Yes | QMessageBox::No;
    case TDialogButtons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

TDialogAnswer answerOf(int button, TDialogButtons buttons)
{
    switch (button) {
    case QMessageBox::Ok: return TDialogAnswer::Ok;
    case QMessageBox::Yes: return TDialogAnswer::Yes;
    case QMessageBox::No: return TDialogAnswer::No;
    default:
        return buttons == TDialogButtons::YesNo || buttons == TDialogButtons::YesNoDefaultNo ? TDialogAnswer::No
                                                                                             : TDialogAnswer::Cancel;
    }
}
}

TWindowService& TWindowService::Instance()
{
    // Every modal window comes through here: its controls get their Alt-letters when shown.
    KeyboardAccess::Install();
    return currentWindows ? *currentWindows : TWidgetDialogService::Program();
}

void TWindowService::Install(TWindowService* service)
{
    currentWindows = service;
}

void TWindowService::SetParentWindow(QWidget* parent)
{
    parentWindow = parent;
}

QWidget* TWindowService::ParentWindow()
{
    if (parentWindow)
        return parentWindow;
    return QApplication::activeWindow();
}

TWidgetDialogService& TWidgetDialogService::Program()
{
    static TWidgetDialogService service;
    return service;
}

void TWidgetDialogService::ShowMessage(const QString& text, TMessageKind kind)
{
    QMessageBox box(iconOf(kind), QStringLiteral("Vorlix"), text, QMessageBox::Ok, ParentWindow());
    box.exec();
}

TDialogAnswer TWidgetDialogService::Ask(const QString& text, TDialogButtons buttons, TMessageKind kind)
{
    QMessageBox box(iconOf(kind), QStringLiteral("Vorlix"), text, buttonsOf(buttons), ParentWindow());
    if (buttons == TDialogButtons::YesNoDefaultNo) {
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
    }
    return answerOf(box.exec(), buttons);
}

TDialogAnswer TWidgetDialogService::AskWithCheck(const QString& text, const QString& checkText, bool& checked,
                                                 TDialogButtons buttons, TMessageKind kind)
{
    QMessageBox box(iconOf(kind), QStringLiteral("Vorlix"), text, buttonsOf(buttons), ParentWindow());
    auto* check = new QCheckBox(checkText, &box);
    check->setChecked(checked);
    box.setCheckBox(check);
    const int button = box.exec();
    checked = check->isChecked();
    return answerOf(button, buttons);
}

bool TWidgetDialogService::RequestCredentials(const QString& host, QString& user, QString& password,
                                              bool& savePassword, const QString& status)
{
    return AskCredentialsWithLoginWindow(host, user, password, savePassword, status);
}

TDialogAnswer TWidgetDialogService::AskPlainPassword(const QString& host)
{
    // No is the default button: Enter alone must not send a password in clear text.
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Vorlix"), PlainPasswordQuestion(host),
                    QMessageBox::Yes | QMessageBox::No, ParentWindow());
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? TDialogAnswer::Yes : TDialogAnswer::No;
}

bool TWidgetDialogService::ShowSoundCardError(bool& disableCheck)
{
    return TSoundCardErrorForm::Execute(disableCheck);
}

bool TWidgetDialogService::ChooseAudioDevice(int& deviceId)
{
    const auto [accepted, id] = TAudioDeviceForm::Execute(deviceId);
    if (accepted)
        deviceId = id;
    return accepted;
}

QString TWidgetDialogService::ChooseFolder(const QString& caption, const QString& folder)
{
    QWidget* parent = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : ParentWindow();
    return QFileDialog::getExistingDirectory(parent, caption, folder,
                                             QFileDialog::ShowDirsOnly);
}

int TWidgetDialogService::Exec(QDialog* dialog)
{
    return dialog->exec();
}

bool AskCredentialsWithLoginWindow(const QString& host, QString& user, QString& password, bool& savePassword,
                                   const QString& status)
{
    auto dialog = std::make_unique<TLoginDialog>();
    dialog->SetServerName(host);
    dialog->SetUserName(user);
    dialog->SetPassword(QString());
    dialog->SetSavePassword(false);
    dialog->SetStatus(status.isEmpty() ? QStringLiteral("Authentication required") : status);
    if (Windows().Exec(dialog.get()) != QDialog::Accepted)
        return false;
    user = dialog->UserName();
    password = dialog->Password();
    savePassword = dialog->SavePassword();
    return true;
}
