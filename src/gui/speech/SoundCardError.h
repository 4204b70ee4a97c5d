#pragma once
// The sound card warning window ("Sound Card Error Detected") and the audio output device
// window ("Audio Destination Device ID"). Both are modal and shown through the dialog service.
#include <QDialog>
#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;

// Proceed (accepted) or Cancel (the default button) after a failed sound card check.
class TSoundCardErrorForm : public QDialog {
    Q_OBJECT
public:
    explicit TSoundCardErrorForm(QWidget* parent = nullptr);
    // Shows the window; true for Proceed. disableCheck tells whether the box was ticked.
    static bool Execute(bool& disableCheck);

    QCheckBox* chkDisable = nullptr;
    QPushButton* btnProceed = nullptr;
    QPushButton* btnCancel = nullptr;
};

// The texts of the standard formats, format bit 0 to 11.
extern const char* const WaveFormatNames[12];

// What the window shows about one device.
struct TAudioDeviceDetails {
    QString DeviceId;
    QString ManufacturerId;
    QString ProductId;
    QString Version;
    QString Formats;
    QString Channels;
    QString Features;
    QString Device; // the server's name, sample format and state of the device
};

class TAudioDeviceForm : public QDialog {
    Q_OBJECT
public:
    explicit TAudioDeviceForm(QWidget* parent = nullptr);

    // Shows the window with the current id selected. first: accepted; second: the chosen id
    // (-1 for the default device or when nothing is selected).
    static std::pair<bool, int> Execute(int currentDeviceId);

    // Fills the list (called on showing); item 0 is the default device.
    void LoadDevices();
    // Selects item id + 1 (nothing for an id out of range) and shows its details.
    void SelectDevice(int deviceId);
    // The id of the selected item, -1 when none.
    int SelectedDeviceId() const;
    // Details of a device id (-1 the default device); false when it cannot be read.
    static bool ReadDetails(int deviceId, TAudioDeviceDetails& details);

    QListWidget* lstDevices = nullptr;
    QLabel* lblDeviceId = nullptr;
    QLabel* lblManufacturerId = nullptr;
    QLabel* lblProductId = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblFormats = nullptr;
    QLabel* lblChannels = nullptr;
    QLabel* lblFeatures = nullptr;
    QLabel* lblDevice = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

private:
    void ShowDetails();
    std::vector<int> ids; // device id of each list item
};
