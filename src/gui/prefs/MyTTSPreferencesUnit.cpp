#include "gui/prefs/MyTTSPreferencesUnit.h"

#include "core/RegistryUnit.h"

#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

TMyTTSPreferences::TMyTTSPreferences(QWidget* parent) : TBaseTTSPreferences(parent)
{
    rgMultipleFiles = new QGroupBox(QStringLiteral("Multiple File Options"), pnlFileOptions);
    rgMultipleFiles->setObjectName(QStringLiteral("rgMultipleFiles"));
    auto* v = new QVBoxLayout(rgMultipleFiles);
    rbFilePerMessage = new QRadioButton(QStringLiteral("Create one audio file per message"), rgMultipleFiles);
    rbFilePerMessage->setObjectName(QStringLiteral("rbFilePerMessage"));
    rbFilePerThread = new QRadioButton(QStringLiteral("Create one audio file per thread"), rgMultipleFiles);
    rbFilePerThread->setObjectName(QStringLiteral("rbFilePerThread"));
    v->addWidget(rbFilePerMessage);
    v->addWidget(rbFilePerThread);
    fileOptionsLayout->addWidget(rgMultipleFiles);
    fileOptionsLayout->addStretch(1);
}

void TMyTTSPreferences::CustomLoadValues()
{
    TBaseTTSPreferences::CustomLoadValues();
    const int option = MainStore ? MainStore->GetValue(QStringLiteral("ThreadFileOption")).toInt() : 0;
    (option == 1 ? rbFilePerThread : rbFilePerMessage)->setChecked(true);
}

void TMyTTSPreferences::CustomSaveValues()
{
    TBaseTTSPreferences::CustomSaveValues();
    if (!MainStore)
        return;
    // Kept in the main settings now; written to the file with their next save.
    const int option = rbFilePerThread->isChecked() ? 1 : 0;
    MainStore->SetValue(QStringLiteral("ThreadFileOption"), option);
    MainStore->ThreadFileOption = option;
}
