#include "core/DialogService.h"

#include "core/BaseUtils.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>

namespace {
TWidgetDialogService realService;
TDialogService* current = nullptr;
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
}

TDialogService& TDialogService::Instance()
{
    return current ? *current : realService;
}

void TDialogService::Install(TDialogService* service)
{
    current = service;
}

void TDialogService::SetParentWindow(QWidget* parent)
{
    parentWindow = parent;
}

QWidget* TDialogService::ParentWindow()
{
    if (parentWindow)
        return parentWindow;
    return QApplication::activeWindow();
}

void TWidgetDialogService::ShowMessage(const QString& text, TMessageKind kind)
{
    QMessageBox box(iconOf(kind), QStringLiteral("Vorlix"), text, QMessageBox::Ok, ParentWindow());
    box.exec();
}

TDialogAnswer TWidgetDialogService::Ask(const QString& text, TDialogButtons buttons, TMessageKind kind)
{
    QMessageBox::StandardButtons b;
    switch (buttons) {
    case TDialogButtons::Ok: b = QMessageBox::Ok; break;
    case TDialogButtons::OkCancel: b = QMessageBox::Ok | QMessageBox::Cancel; break;
    case TDialogButtons::YesNo: b = QMessageBox::Yes | QMessageBox::No; break;
    case TDialogButtons::YesNoCancel: b = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel; break;
    }
    QMessageBox box(iconOf(kind), QStringLiteral("Vorlix"), text, b, ParentWindow());
    switch (box.exec()) {
    case QMessageBox::Ok: return TDialogAnswer::Ok;
    case QMessageBox::Yes: return TDialogAnswer::Yes;
    case QMessageBox::No: return TDialogAnswer::No;
    default: return buttons == TDialogButtons::YesNo ? TDialogAnswer::No : TDialogAnswer::Cancel;
    }
}

int TWidgetDialogService::Exec(QDialog* dialog)
{
    return dialog->exec();
}

void TScriptedDialogService::ShowMessage(const QString& text, TMessageKind kind)
{
    UtilsClass::Log(QStringLiteral("Dialog: ") + text);
    Shown.push_back({kind, text});
}

TDialogAnswer TScriptedDialogService::Ask(const QString& text, TDialogButtons buttons, TMessageKind kind)
{
    Shown.push_back({kind, text});
    TDialogAnswer a = DefaultAnswer;
    if (!Answers.empty()) {
        a = Answers.front();
        Answers.pop_front();
    }
    return a;
}

int TScriptedDialogService::Exec(QDialog* dialog)
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
    DialogHandlers.clear();
    DialogTitles.clear();
}
