#include "gui/speech/SoundCardError.h"

#include "core/BaseUtils.h"
#include "core/DialogService.h"
#include "gui/app/WindowService.h"
#include "speech/PulseAudioOut.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

const char* const WaveFormatNames[12] = {
    "11.025 kHz, Mono, 8-bit",   "11.025 kHz, Stereo, 8-bit", "11.025 kHz, Mono, 16-bit",
    "11.025 kHz, Stereo, 16-bit", "22.05 kHz, Mono, 8-bit ",   "22.05 kHz, Stereo, 8-bit",
    "22.05 kHz, Mono, 16-bit",   "22.05 kHz, Stereo, 16-bit", "44.1 kHz, Mono, 8-bit",
    "44.1 kHz, Stereo, 8-bit",   "44.1 kHz, Mono, 16-bit",    "44.1 kHz, Stereo, 16-bit",
};

TSoundCardErrorForm::TSoundCardErrorForm(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Sound Card Error Detected"));
    setObjectName(QStringLiteral("SoundCardErrorForm"));
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(QStringLiteral(
        "The sound output device could not be opened for speaking. It may be in use by another "
        "program, switched off, or not set up.\n\n"
        "Choose Proceed to try speaking anyway, or Cancel to stop this request. You can choose "
        "another device with \"Select Audio Device\"."), this);
    text->setWordWrap(true);
    layout->addWidget(text);
    chkDisable = new QCheckBox(QStringLiteral("Disable Sound Card Check in the Future"), this);
    layout->addWidget(chkDisable);
    auto* buttons = new QHBoxLayout;
    btnProceed = new QPushButton(QStringLiteral("Proceed"), this);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnProceed->setAutoDefault(false);
    btnCancel->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(btnProceed);
    buttons->addWidget(btnCancel);
    layout->addLayout(buttons);
    connect(btnProceed, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool TSoundCardErrorForm::Execute(bool& disableCheck)
{
    TSoundCardErrorForm form(TWindowService::ParentWindow());
    const int result = Windows().Exec(&form);
    disableCheck = form.chkDisable->isChecked();
    return result == QDialog::Accepted;
}

// ---------------------------------------------------------------------------------------

TAudioDeviceForm::TAudioDeviceForm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("AudioDeviceForm"));
    auto* layout = new QHBoxLayout(this);
    setAccessibleName(QStringLiteral("Audio Destination Device ID"));
    lstDevices = new QListWidget(this);
    lstDevices->setAccessibleName(QStringLiteral("Audio devices"));
    lstDevices->setMinimumWidth(240);
    layout->addWidget(lstDevices);
    auto* right = new QVBoxLayout;
    auto* form = new QFormLayout;
    auto makeLabel = [this] {
        auto* l = new QLabel(this);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return l;
    };
    lblDeviceId = makeLabel();
    lblManufacturerId = makeLabel();
    lblProductId = makeLabel();
    lblVersion = makeLabel();
    lblFormats = makeLabel();
    lblChannels = makeLabel();
    lblFeatures = makeLabel();
    lblFeatures->setWordWrap(true);
    lblDevice = makeLabel();
    lblDevice->setWordWrap(true);
    form->addRow(QStringLiteral("Device ID"), lblDeviceId);
    form->addRow(QStringLiteral("Manufacturer ID"), lblManufacturerId);
    form->addRow(QStringLiteral("Product ID"), lblProductId);
    form->addRow(QStringLiteral("Version"), lblVersion);
    form->addRow(QStringLiteral("Formats"), lblFormats);
    form->addRow(QStringLiteral("Channels"), lblChannels);
    form->addRow(QStringLiteral("Features"), lblFeatures);
    form->addRow(QStringLiteral("Device"), lblDevice);
    right->addLayout(form);
    auto* box = new QDialogButtonBox(this);
    btnOk = box->addButton(QDialogButtonBox::Ok);
    btnCancel = box->addButton(QDialogButtonBox::Cancel);
    right->addWidget(box);
    layout->addLayout(right);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(lstDevices, &QListWidget::currentRowChanged, this, [this] { ShowDetails(); });
    connect(lstDevices, &QListWidget::itemDoubleClicked, this, [this] { accept(); });
}

bool TAudioDeviceForm::ReadDetails(int deviceId, TAudioDeviceDetails& d)
{
    TWaveOutCaps caps;
    if (!WaveOutGetDevCaps(deviceId, caps))
        return false;
    d.DeviceId = deviceId == -1 ? QStringLiteral("-1 (Wave_mapper)") : QString::number(deviceId);
    d.ManufacturerId = QString::number(caps.ManufacturerId);
    d.ProductId = QString::number(caps.ProductId);
    d.Version = QString::number(caps.DriverVersion);
    d.Formats.clear();
    for (int bit = 0; bit < 12; ++bit) {
        if (!(caps.Formats & (1u << bit)))
            continue;
        d.Formats += QLatin1String(WaveFormatNames[bit]);
        if (bit != 11)
            d.Formats += QLatin1Char('\r');
    }
    d.Channels = caps.Channels == 1 ? QStringLiteral("Mono") : caps.Channels == 2 ? QStringLiteral("Stereo") : QString();
    d.Features.clear();
    const std::pair<unsigned, const char*> flags[] = {
        {8, "Supports separate left and right volume control. "},
        {1, "Supports pitch control. "},
        {2, "Support playback rate control. "},
        {16, "The driver is synchronous and will block while playing a buffer. "},
        {4, "Supports volume control. "},
        {32, "Returns sample-accurate position information."},
    };
    for (const auto& [bit, text] : flags)
        if (caps.Support & bit)
            d.Features += QLatin1String(text);
    d.Device = QStringLiteral("%1\n%2 %3 Hz, %4 channel(s) (%5), %6")
                   .arg(caps.Sink.Name, caps.Sink.SampleFormat)
                   .arg(caps.Sink.Rate)
                   .arg(caps.Sink.Channels)
                   .arg(caps.Sink.ChannelMap, caps.Sink.State);
    return true;
}

void TAudioDeviceForm::LoadDevices()
{
    lstDevices->clear();
    ids.clear();
    const int n = WaveOutGetNumDevs();
    if (n <= 0)
        return;
    setWindowTitle(QStringLiteral("Audio Destination Device ID"));
    lstDevices->addItem(QStringLiteral("Wave_Mapper (MS Default)"));
    ids.push_back(-1);
    for (int id = 0; id < n; ++id) {
        TWaveOutCaps caps;
        if (WaveOutGetDevCaps(id, caps) && (caps.Formats & 0xFFF)) {
            lstDevices->addItem(caps.ProductName);
            ids.push_back(id); // a skipped device keeps the ids of the others right
        }
    }
}

void TAudioDeviceForm::SelectDevice(int deviceId)
{
    int row = -1;
    for (size_t i = 0; i < ids.size(); ++i)
        if (ids[i] == deviceId)
            row = int(i);
    lstDevices->setCurrentRow(row);
    ShowDetails();
}

int TAudioDeviceForm::SelectedDeviceId() const
{
    const int row = lstDevices->currentRow();
    if (row < 0 || row >= int(ids.size()))
        return -1;
    return ids[size_t(row)];
}

void TAudioDeviceForm::ShowDetails()
{
    const int row = lstDevices->currentRow();
    TAudioDeviceDetails d;
    if (row < 0 || row >= int(ids.size()) || !ReadDetails(ids[size_t(row)], d)) {
        for (QLabel* l : {lblDeviceId, lblManufacturerId, lblProductId, lblVersion, lblFormats, lblChannels,
                          lblFeatures, lblDevice})
            l->clear();
        return;
    }
    lblDeviceId->setText(d.DeviceId);
    lblManufacturerId->setText(d.ManufacturerId);
    lblProductId->setText(d.ProductId);
    lblVersion->setText(d.Version);
    lblFormats->setText(QString(d.Formats).replace(QLatin1Char('\r'), QLatin1Char('\n')));
    lblChannels->setText(d.Channels);
    lblFeatures->setText(d.Features);
    lblDevice->setText(d.Device);
}

std::pair<bool, int> TAudioDeviceForm::Execute(int currentDeviceId)
{
    TAudioDeviceForm form(TWindowService::ParentWindow());
    form.LoadDevices();
    form.SelectDevice(currentDeviceId);
    if (Windows().Exec(&form) != QDialog::Accepted)
        return {false, currentDeviceId};
    return {true, form.SelectedDeviceId()};
}
