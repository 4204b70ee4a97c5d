#include "gui/preprocess/EditSuppressContUnit.h"

#include "core/DialogService.h"
#include "core/RegistryUnit.h"
#include "gui/app/WindowPlacement.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const QString PlacementName = QStringLiteral("TEditSuppressCont");
}

TEditSuppressCont::TEditSuppressCont(QStringList* list, QWidget* parent)
    : QDialog(parent)
    , List(list)
{
    setObjectName(PlacementName);
    setWindowTitle(QStringLiteral("Suppress Speak"));
    lblEntry = new QLabel(QStringLiteral("Suppress any line containg this string"), this);
    edtEntry = new QLineEdit(this);
    edtEntry->setObjectName(QStringLiteral("edtEntry"));
    lblEntry->setBuddy(edtEntry);
    btnApply = new QPushButton(QStringLiteral("Apply"), this);
    btnDone = new QPushButton(QStringLiteral("Done"), this);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnDone->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnApply);
    buttons->addWidget(btnDone);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblEntry);
    layout->addWidget(edtEntry);
    layout->addLayout(buttons);

    connect(btnApply, &QPushButton::clicked, this, &TEditSuppressCont::btnApplyClick);
    connect(btnDone, &QPushButton::clicked, this, &TEditSuppressCont::btnDoneClick);
    connect(btnCancel, &QPushButton::clicked, this, &TEditSuppressCont::btnCancelClick);
    RestoreWindowPlacement(this, PlacementName);
}

void TEditSuppressCont::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    edtEntry->clear();
    edtEntry->setFocus();
}

bool TEditSuppressCont::addEntry()
{
    const QString entry = edtEntry->text();
    if (List->contains(entry)) {
        Dialogs().ShowMessage(QStringLiteral("\"") + entry + QStringLiteral("\" is already in the list"));
        return false;
    }
    List->append(entry);
    return true;
}

void TEditSuppressCont::btnApplyClick()
{
    if (edtEntry->text().trimmed().isEmpty())
        return;
    if (!addEntry())
        return;
    edtEntry->clear();
    edtEntry->setFocus();
}

void TEditSuppressCont::btnDoneClick()
{
    if (!edtEntry->text().trimmed().isEmpty() && !addEntry())
        return;
    accept();
}

void TEditSuppressCont::btnCancelClick()
{
    reject();
}

void TEditSuppressCont::done(int result)
{
    SaveWindowPlacement(this, PlacementName);
    QDialog::done(result);
}
