#include "gui/prefs/TBasePreProcPreferencesUnit.h"

#include "core/DialogService.h"
#include "core/TBaseRegistryClassUnit.h"
#include "gui/app/WindowService.h"
#include "gui/preprocess/EditSuppressContUnit.h"
#include "preprocess/TTSPreProcessor.h"
#include "speech/TBaseTTSUnit.h"
#include "speech/TBaseVoiceRegistryClassUnit.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QLabel* explanation(QWidget* panel, const QString& text)
{
    auto* l = new QLabel(text, panel);
    l->setWordWrap(true);
    return l;
}
}

TBasePreProcPreferences::TBasePreProcPreferences(TBaseTTS* speech, QWidget* parent)
    : TBasePrefForm(parent)
    , Preprocessor(speech ? speech->Preprocessor : nullptr)
{
    setObjectName(QStringLiteral("BasePreProcPreferences"));
    setWindowTitle(QStringLiteral("Setting Text Pre-Processor Preferences"));
    if (speech)
        SettingsStore = speech->Store;

    QWidget* beginning = AddPanel(QStringLiteral("0,1,Beginning With"));
    beginning->setObjectName(QStringLiteral("pnlBeginningWith"));
    {
        auto* v = new QVBoxLayout(beginning);
        v->addWidget(explanation(beginning,
                                 QStringLiteral("Lines of an article that begin with one of these strings are not "
                                                "spoken, for example the lines of a quoted message. Separate the "
                                                "strings with commas; a blank between two commas ends the list.")));
        chkStartOfLine = new QCheckBox(
            QStringLiteral("Check here to suppress speaking text lines begininng with the following strings"), beginning);
        chkStartOfLine->setObjectName(QStringLiteral("chkStartOfLine"));
        edtStartOfLine = new QLineEdit(beginning);
        edtStartOfLine->setObjectName(QStringLiteral("edtStartOfLine"));
        auto* startLabel = new QLabel(QStringLiteral("Lines &beginning with:"), beginning);
        startLabel->setBuddy(edtStartOfLine);
        v->addWidget(chkStartOfLine);
        v->addWidget(startLabel);
        v->addWidget(edtStartOfLine);
        v->addStretch(1);
    }

    QWidget* containing = AddPanel(QStringLiteral("0,2,Containing"));
    containing->setObjectName(QStringLiteral("pnlContaining"));
    {
        auto* v = new QVBoxLayout(containing);
        chkContaining = new QCheckBox(
            QStringLiteral("Check here to suppress speaking text lines containing the following strings"), containing);
        chkContaining->setObjectName(QStringLiteral("chkContaining"));
        lstContaining = new QListWidget(containing);
        lstContaining->setObjectName(QStringLiteral("lstContaining"));
        lstContaining->setAccessibleName(QStringLiteral("Suppressed strings"));
        lstContaining->setSortingEnabled(true);
        btnAdd = new QPushButton(QStringLiteral("Add"), containing);
        btnAdd->setObjectName(QStringLiteral("btnAdd"));
        btnDelete = new QPushButton(QStringLiteral("Delete"), containing);
        btnDelete->setObjectName(QStringLiteral("btnDelete"));
        for (QPushButton* b : {btnAdd, btnDelete})
            b->setAutoDefault(false);
        auto* row = new QHBoxLayout;
        row->addWidget(lstContaining, 1);
        auto* buttons = new QVBoxLayout;
        buttons->addWidget(btnAdd);
        buttons->addWidget(btnDelete);
        buttons->addStretch(1);
        row->addLayout(buttons);
        v->addWidget(chkContaining);
        v->addLayout(row, 1);
        connect(btnAdd, &QPushButton::clicked, this, &TBasePreProcPreferences::btnAddClick);
        connect(btnDelete, &QPushButton::clicked, this, &TBasePreProcPreferences::btnDeleteClick);
    }

    QWidget* misc = AddPanel(QStringLiteral("0,4,Miscellaneous Options"));
    misc->setObjectName(QStringLiteral("pnlMiscellaneous"));
    {
        auto* v = new QVBoxLayout(misc);
        v->addWidget(explanation(misc,
                                 QStringLiteral("Lines of symbols such as ====== or ****** and other characters "
                                                "that are neither letters nor digits are left out of the spoken "
                                                "text when this is checked.")));
        chkFilterSymbols = new QCheckBox(QStringLiteral("Filter non Alpha-Numeric Characters"), misc);
        chkFilterSymbols->setObjectName(QStringLiteral("chkFilterSymbols"));
        v->addWidget(chkFilterSymbols);
        v->addStretch(1);
    }
}

void TBasePreProcPreferences::Execute(TBaseTTS* speech, QWidget* parent)
{
    if (!speech || !speech->Preprocessor || !speech->Store) {
        Dialogs().ShowError(QStringLiteral("The text preprocessor is not available"));
        return;
    }
    TBasePreProcPreferences window(speech, parent);
    window.WizardMode = false;
    window.PrepareShow();
    Windows().Exec(&window);
}

void TBasePreProcPreferences::CustomLoadValues()
{
    if (!Preprocessor)
        return;
    chkStartOfLine->setChecked(Preprocessor->CheckStartOfLine);
    chkContaining->setChecked(Preprocessor->CheckContaining);
    chkFilterSymbols->setChecked(Preprocessor->FilterSymbols);
    edtStartOfLine->setText(Preprocessor->GetStartOfLineText());
    Preprocessor->GetContainingList(Containing);
    fillList();
}

void TBasePreProcPreferences::CustomSaveValues()
{
    if (!Preprocessor)
        return;
    Preprocessor->CheckStartOfLine = chkStartOfLine->isChecked();
    Preprocessor->CheckContaining = chkContaining->isChecked();
    Preprocessor->FilterSymbols = chkFilterSymbols->isChecked();
    Preprocessor->SetStartOfLineText(edtStartOfLine->text());
    SettingsStore->SetValue(QStringLiteral("EnableCheckStartOfLine"), Preprocessor->CheckStartOfLine);
    SettingsStore->SetValue(QStringLiteral("EnableCheckContaining"), Preprocessor->CheckContaining);
    SettingsStore->SetValue(QStringLiteral("EnableUserTranslations"), Preprocessor->UseTranslations);
    SettingsStore->SetValue(QStringLiteral("TTS_FilterSymbols"), Preprocessor->FilterSymbols);
    // The list is sorted, so the stored order becomes the sorted order.
    QStringList sorted;
    for (int i = 0; i < lstContaining->count(); ++i)
        sorted << lstContaining->item(i)->text();
    Preprocessor->SetContainingList(sorted);
    Preprocessor->SaveFilterOptions();
    // The field shows what the preprocessor kept of the text.
    edtStartOfLine->setText(Preprocessor->GetStartOfLineText());
}

void TBasePreProcPreferences::fillList()
{
    lstContaining->clear();
    lstContaining->addItems(Containing);
}

void TBasePreProcPreferences::btnAddClick()
{
    TEditSuppressCont window(&Containing, this);
    Windows().Exec(&window);
    fillList();
}

void TBasePreProcPreferences::btnDeleteClick()
{
    QListWidgetItem* item = lstContaining->currentItem();
    if (!item || !item->isSelected()) {
        Dialogs().ShowMessage(QStringLiteral("Select a row to delete"));
        return;
    }
    const QString text = item->text();
    // Taken out of the live list at once: "Cancel" does not bring it back.
    if (Preprocessor) {
        const int live = int(Preprocessor->ContainingList.indexOf(text));
        if (live >= 0)
            Preprocessor->ContainingList.removeAt(live);
    }
    const int own = int(Containing.indexOf(text));
    if (own >= 0)
        Containing.removeAt(own);
    delete item;
}
