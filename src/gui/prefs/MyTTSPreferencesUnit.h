#pragma once
// The voice and audio file preferences of Vorlix: the common window plus the choice of one
// audio file per message or per thread, kept in the program's main settings.
#include "gui/prefs/TBaseTTSPreferencesUnit.h"

class TMyRegistryClass;

class TMyTTSPreferences : public TBaseTTSPreferences {
    Q_OBJECT
public:
    explicit TMyTTSPreferences(QWidget* parent = nullptr);

    // The program's main settings ("ThreadFileOption").
    TMyRegistryClass* MainStore = nullptr;

    QGroupBox* rgMultipleFiles;
    QRadioButton* rbFilePerMessage;
    QRadioButton* rbFilePerThread;

protected:
    void CustomLoadValues() override;
    void CustomSaveValues() override;
};
