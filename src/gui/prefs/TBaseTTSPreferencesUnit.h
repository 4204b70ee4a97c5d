#pragma once
// "Setting Voice and Audio File Preferences": the engines and voices with their pitch, speed
// and volume, the default voice, which engines are used, how voices are given to messages,
// and the options of speaking into audio files. The window works on a test speech manager of
// its own with copies of the main manager's voices and engines; "OK" copies them back.
#include "gui/prefs/TBasePrefFormUnit.h"

#include <memory>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSlider;
class QTreeWidget;
class QTreeWidgetItem;
class QVBoxLayout;
class TBaseEngineClass;
class TBaseTTS;
class TBaseVoiceClass;

class TBaseTTSPreferences : public TBasePrefForm {
    Q_OBJECT
public:
    // The picture of a tree node.
    enum TVoiceIcon { viDefault = 0, viEnabled = 1, viDisabled = 2 };
    // The node's picture as a number, for whoever reads the tree.
    static constexpr int IconRole = Qt::UserRole + 1;

    explicit TBaseTTSPreferences(QWidget* parent = nullptr);
    ~TBaseTTSPreferences() override;

    // The main speech manager; the caller also sets SettingsStore to its settings section.
    TBaseTTS* MainTTS = nullptr;
    // The window's own manager for "Test" (created on the first load).
    TBaseTTS* TestTTS() const { return testTTS.get(); }
    // The voice of the test manager that is to become the default.
    TBaseVoiceClass* DefaultVoice = nullptr;
    bool SapiSwitched = false;
    bool ShowSapiInfo = true;

    // Reloads the test manager's voices from the chosen engines and stores the choice.
    void SwitchSapiVersion(bool useSapi4, bool useSapi5);

    TBaseVoiceClass* VoiceOf(const QTreeWidgetItem* item) const;
    TBaseEngineClass* EngineOf(const QTreeWidgetItem* item) const;
    // The node of a voice of the test manager, or of an engine by its name.
    QTreeWidgetItem* NodeOfVoice(const TBaseVoiceClass* voice) const;
    QTreeWidgetItem* NodeOfEngine(const QString& name) const;

    void btnEnableClick();
    void btnDefaultClick();
    void btnTestClick();
    void btnResetClick();
    void btnBrowseClick();

    QTreeWidget* tvVoices;
    QLabel* lblPitch;
    QLabel* lblSpeed;
    QLabel* lblVolume;
    QSlider* tbPitch;
    QSlider* tbSpeed;
    QSlider* tbVolume;
    QLabel* lblPitchValue;
    QLabel* lblSpeedValue;
    QLabel* lblVolumeValue;
    QLabel* lblNoPitch;
    QPushButton* btnEnable;
    QPushButton* btnDefault;
    QPushButton* btnTest;
    QPushButton* btnReset;
    QComboBox* cbSapiVersion;
    QGroupBox* rgVoiceSelection;
    QRadioButton* rbDefaultVoice;
    QRadioButton* rbRoundRobin;
    QRadioButton* rbRandomVoice;
    QComboBox* cbOutputFormat;
    QComboBox* cbWriteSpeed;
    QLabel* lblQuality;
    QComboBox* cbQuality;
    QLineEdit* edtOutputDir;
    QPushButton* btnBrowse;

    void reject() override;

protected:
    bool ValidateControl(const QString& controlName) override;
    void CustomSaveValues() override;
    void CustomLoadValues() override;

    QWidget* pnlFileOptions;
    QVBoxLayout* fileOptionsLayout; // subclasses add their rows at the end

private:
    void createTestTTS();
    void reloadTestVoices(bool useSapi4, bool useSapi5);
    void buildTree();
    void updateIcons();
    void showDetails(QTreeWidgetItem* item);
    void updateEnableButton(QTreeWidgetItem* item);
    void trackBarMoved(QSlider* bar);
    void sapiVersionChanged(int index);
    void outputFormatChanged();
    void setSapiBox(int value);
    int voiceIcon(const TBaseVoiceClass* voice) const;
    void setIcon(QTreeWidgetItem* item, int icon) const;

    std::unique_ptr<TBaseTTS> testTTS;
    std::unique_ptr<TBaseVoiceClass> testVoice; // the copy a test speaks with
    bool updatingSapiBox = false;
};
