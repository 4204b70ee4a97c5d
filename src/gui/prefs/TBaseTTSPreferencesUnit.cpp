#include "gui/prefs/TBaseTTSPreferencesUnit.h"

#include "core/BaseUtils.h"
#include "core/DialogService.h"
#include "core/TBaseRegistryClassUnit.h"
#include "gui/app/WindowService.h"
#include "gui/prefs/SapiVersionInfoUnit.h"
#include "speech/PrivateSpeechManager.h"
#include "speech/TBaseTTSUnit.h"
#include "speech/TBaseVoiceRegistryClassUnit.h"
#include "speech/TBaseVoiceUnit.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cmath>

namespace {
constexpr int VoiceRole = Qt::UserRole;       // a voice node: its voice (as a QObject)
constexpr int EngineRole = Qt::UserRole + 2; // an engine node: its index in the engine list

void Log(const QString& text)
{
    UtilsClass::Log(text);
}

// The three pictures of the tree: a gold star for the default voice, a green dot for an
// enabled node, a grey dot with a red bar for a disabled one.
QIcon TreeIcon(int kind)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    if (kind == TBaseTTSPreferences::viDefault) {
        QPainterPath star;
        for (int i = 0; i < 10; ++i) {
            const double r = i % 2 ? 3.2 : 7.5;
            const double a = -M_PI / 2 + i * M_PI / 5;
            const QPointF pt(8 + r * std::cos(a), 8.5 + r * std::sin(a));
            i ? star.lineTo(pt) : star.moveTo(pt);
        }
        star.closeSubpath();
        p.setPen(QPen(QColor(150, 110, 0), 1));
        p.setBrush(QColor(255, 200, 0));
        p.drawPath(star);
    } else if (kind == TBaseTTSPreferences::viEnabled) {
        p.setPen(QPen(QColor(0, 100, 0), 1));
        p.setBrush(QColor(40, 180, 60));
        p.drawEllipse(QRectF(2.5, 2.5, 11, 11));
    } else {
        p.setPen(QPen(QColor(110, 110, 110), 1));
        p.setBrush(QColor(200, 200, 200));
        p.drawEllipse(QRectF(2.5, 2.5, 11, 11));
        p.setPen(QPen(QColor(200, 30, 30), 2));
        p.drawLine(QPointF(4, 12), QPointF(12, 4));
    }
    return QIcon(pixmap);
}

QSlider* TrackBar(QWidget* parent, const QString& name)
{
    auto* bar = new QSlider(Qt::Horizontal, parent);
    bar->setObjectName(name);
    bar->setTickPosition(QSlider::NoTicks);
    return bar;
}

QLabel* Label(QWidget* parent, const QString& text, const QString& name = QString())
{
    auto* l = new QLabel(text, parent);
    if (!name.isEmpty())
        l->setObjectName(name);
    return l;
}
} // namespace

TBaseTTSPreferences::TBaseTTSPreferences(QWidget* parent) : TBasePrefForm(parent)
{
    setObjectName(QStringLiteral("TTSPreferences"));
    setWindowTitle(QStringLiteral("Setting Voice and Audio File Preferences"));

    // --- voice options ---
    QWidget* voices = AddPanel(QStringLiteral("0,1,Voice Options"));
    voices->setObjectName(QStringLiteral("pnlVoiceOptions"));
    {
        auto* grid = new QGridLayout(voices);
        tvVoices = new QTreeWidget(voices);
        tvVoices->setObjectName(QStringLiteral("tvVoices"));
        tvVoices->setAccessibleName(QStringLiteral("Voices"));
        tvVoices->setAccessibleDescription(QStringLiteral("The speech engines and their voices"));
        tvVoices->setHeaderLabels({QStringLiteral("Engine / Voice"), QStringLiteral("Language"), QStringLiteral("Gender")});
        tvVoices->setRootIsDecorated(true);
        tvVoices->setSelectionMode(QAbstractItemView::SingleSelection);
        tvVoices->setExpandsOnDoubleClick(false);
        tvVoices->header()->setStretchLastSection(false);
        tvVoices->header()->setSectionResizeMode(0, QHeaderView::Stretch);
        tvVoices->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
        tvVoices->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
        grid->addWidget(tvVoices, 0, 0, 1, 3);

        lblPitch = Label(voices, QStringLiteral("Pitch"), QStringLiteral("lblPitch"));
        lblSpeed = Label(voices, QStringLiteral("Speed"), QStringLiteral("lblSpeed"));
        lblVolume = Label(voices, QStringLiteral("Volume"), QStringLiteral("lblVolume"));
        tbPitch = TrackBar(voices, QStringLiteral("tbPitch"));
        tbSpeed = TrackBar(voices, QStringLiteral("tbSpeed"));
        tbVolume = TrackBar(voices, QStringLiteral("tbVolume"));
        lblPitch->setBuddy(tbPitch);
        lblSpeed->setBuddy(tbSpeed);
        lblVolume->setBuddy(tbVolume);
        lblPitchValue = Label(voices, QString(), QStringLiteral("lblPitchValue"));
        lblSpeedValue = Label(voices, QString(), QStringLiteral("lblSpeedValue"));
        lblVolumeValue = Label(voices, QString(), QStringLiteral("lblVolumeValue"));
        lblNoPitch = Label(voices, QStringLiteral("Adjustment not supported by engine"), QStringLiteral("lblNoPitch"));
        lblNoPitch->hide();
        for (QLabel* v : {lblPitchValue, lblSpeedValue, lblVolumeValue})
            v->setMinimumWidth(48);
        grid->addWidget(lblPitch, 1, 0);
        grid->addWidget(tbPitch, 1, 1);
        grid->addWidget(lblNoPitch, 1, 1);
        grid->addWidget(lblPitchValue, 1, 2);
        grid->addWidget(lblSpeed, 2, 0);
        grid->addWidget(tbSpeed, 2, 1);
        grid->addWidget(lblSpeedValue, 2, 2);
        grid->addWidget(lblVolume, 3, 0);
        grid->addWidget(tbVolume, 3, 1);
        grid->addWidget(lblVolumeValue, 3, 2);

        auto* buttons = new QHBoxLayout;
        btnEnable = new QPushButton(QStringLiteral("Enable"), voices);
        btnEnable->setObjectName(QStringLiteral("btnEnable"));
        btnDefault = new QPushButton(QStringLiteral("Default Voice"), voices);
        btnDefault->setObjectName(QStringLiteral("btnDefault"));
        btnTest = new QPushButton(QStringLiteral("Test"), voices);
        btnTest->setObjectName(QStringLiteral("btnTest"));
        btnReset = new QPushButton(QStringLiteral("Reset Defaults"), voices);
        btnReset->setObjectName(QStringLiteral("btnReset"));
        for (QPushButton* b : {btnEnable, btnDefault, btnTest, btnReset}) {
            b->setAutoDefault(false);
            buttons->addWidget(b);
        }
        grid->addLayout(buttons, 4, 0, 1, 3);

        auto* sapiRow = new QHBoxLayout;
        auto* sapiLabel = Label(voices, QStringLiteral("SAPI Version:"), QStringLiteral("lblSapiVersion"));
        cbSapiVersion = new QComboBox(voices);
        cbSapiVersion->setObjectName(QStringLiteral("cbSapiVersion"));
        // The item index is the stored "SapiVersion": 0 the first engine, 1 the second, 2 both.
        cbSapiVersion->addItems({QStringLiteral("Use Flite Only"), QStringLiteral("Use eSpeak NG Only"),
                                 QStringLiteral("Use Both")});
        sapiLabel->setBuddy(cbSapiVersion);
        sapiRow->addWidget(sapiLabel);
        sapiRow->addWidget(cbSapiVersion, 1);
        grid->addLayout(sapiRow, 5, 0, 1, 3);
        grid->setColumnStretch(1, 1);
        grid->setRowStretch(0, 1);
    }

    // --- voice selection ---
    QWidget* selection = AddPanel(QStringLiteral("0,2,Voice Selection"));
    selection->setObjectName(QStringLiteral("pnlVoiceSelection"));
    {
        auto* v = new QVBoxLayout(selection);
        rgVoiceSelection = new QGroupBox(QStringLiteral("Voice Selection"), selection);
        rgVoiceSelection->setObjectName(QStringLiteral("rgVoiceSelection"));
        auto* g = new QVBoxLayout(rgVoiceSelection);
        rbDefaultVoice = new QRadioButton(QStringLiteral("Always use default voice"), rgVoiceSelection);
        rbRoundRobin = new QRadioButton(QStringLiteral("Round Robin"), rgVoiceSelection);
        rbRandomVoice = new QRadioButton(QStringLiteral("Choose random voice"), rgVoiceSelection);
        rbDefaultVoice->setObjectName(QStringLiteral("rbDefaultVoice"));
        rbRoundRobin->setObjectName(QStringLiteral("rbRoundRobin"));
        rbRandomVoice->setObjectName(QStringLiteral("rbRandomVoice"));
        for (QRadioButton* r : {rbDefaultVoice, rbRoundRobin, rbRandomVoice})
            g->addWidget(r);
        v->addWidget(rgVoiceSelection);
        v->addStretch(1);
    }

    // --- file options ---
    pnlFileOptions = AddPanel(QStringLiteral("0,3,File Options"));
    pnlFileOptions->setObjectName(QStringLiteral("pnlFileOptions"));
    {
        fileOptionsLayout = new QVBoxLayout(pnlFileOptions);
        auto* form = new QFormLayout;
        cbOutputFormat = new QComboBox(pnlFileOptions);
        cbOutputFormat->setObjectName(QStringLiteral("cbOutputFormat"));
        SetHint(cbOutputFormat, QStringLiteral("TTS_OutputFormat"));
        cbWriteSpeed = new QComboBox(pnlFileOptions);
        cbWriteSpeed->setObjectName(QStringLiteral("cbWriteSpeed"));
        SetHint(cbWriteSpeed, QStringLiteral("RealTime"));
        cbQuality = new QComboBox(pnlFileOptions);
        cbQuality->setObjectName(QStringLiteral("cbQuality"));
        SetHint(cbQuality, QStringLiteral("MP3_Quality"));
        lblQuality = Label(pnlFileOptions, QStringLiteral("Quality:"), QStringLiteral("lblQuality"));
        edtOutputDir = new QLineEdit(pnlFileOptions);
        edtOutputDir->setObjectName(QStringLiteral("edtOutputDir"));
        SetHint(edtOutputDir, QStringLiteral("TTS_OutputDir"));
        btnBrowse = new QPushButton(QStringLiteral("Browse ..."), pnlFileOptions);
        btnBrowse->setObjectName(QStringLiteral("btnBrowse"));
        btnBrowse->setAutoDefault(false);
        form->addRow(Label(pnlFileOptions, QStringLiteral("Output File Format:")), cbOutputFormat);
        form->addRow(Label(pnlFileOptions, QStringLiteral("Write to File Speed:")), cbWriteSpeed);
        form->addRow(lblQuality, cbQuality);
        fileOptionsLayout->addLayout(form);
        fileOptionsLayout->addWidget(Label(pnlFileOptions, QStringLiteral("Output Directory:")));
        qobject_cast<QLabel*>(fileOptionsLayout->itemAt(fileOptionsLayout->count() - 1)->widget())
            ->setBuddy(edtOutputDir);
        auto* dirRow = new QHBoxLayout;
        dirRow->addWidget(edtOutputDir, 1);
        dirRow->addWidget(btnBrowse);
        fileOptionsLayout->addLayout(dirRow);
    }

    connect(tvVoices, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { showDetails(current); });
    for (QSlider* bar : {tbPitch, tbSpeed, tbVolume}) {
        // Only the user's moves (keys, mouse) change the voice; filling the bars does not.
        connect(bar, &QSlider::actionTriggered, this, [this, bar](int) { trackBarMoved(bar); });
        connect(bar, &QSlider::valueChanged, this, [this, bar](int value) {
            QLabel* label = bar == tbPitch ? lblPitchValue : bar == tbSpeed ? lblSpeedValue : lblVolumeValue;
            label->setText(QString::number(value));
        });
    }
    connect(btnEnable, &QPushButton::clicked, this, &TBaseTTSPreferences::btnEnableClick);
    connect(btnDefault, &QPushButton::clicked, this, &TBaseTTSPreferences::btnDefaultClick);
    connect(btnTest, &QPushButton::clicked, this, &TBaseTTSPreferences::btnTestClick);
    connect(btnReset, &QPushButton::clicked, this, &TBaseTTSPreferences::btnResetClick);
    connect(btnBrowse, &QPushButton::clicked, this, &TBaseTTSPreferences::btnBrowseClick);
    connect(cbSapiVersion, &QComboBox::currentIndexChanged, this, &TBaseTTSPreferences::sapiVersionChanged);
    connect(cbOutputFormat, &QComboBox::currentIndexChanged, this, &TBaseTTSPreferences::outputFormatChanged);
}

TBaseTTSPreferences::~TBaseTTSPreferences()
{
    if (testTTS && testTTS->IsBusy()) {
        try {
            testTTS->Stop();
        } catch (const EVorlixError& e) {
            Log(QStringLiteral("TBaseTTSPreferences Destroy: ") + e.message());
        }
    }
    tvVoices->clear();
    testTTS.reset();
}

void TBaseTTSPreferences::reject()
{
    // Closing while a test speaks ends the test first.
    if (testTTS && testTTS->IsBusy()) {
        try {
            testTTS->Stop();
        } catch (const EVorlixError& e) {
            Log(QStringLiteral("TBaseTTSPreferences Close: ") + e.message());
        }
    }
    TBasePrefForm::reject();
}

// ---------------------------------------------------------------- loading

void TBaseTTSPreferences::createTestTTS()
{
    Log(QStringLiteral("TBaseTTSPreferences - calling TBaseTTS Create"));
    testTTS = CreatePrivateSpeechManager(*MainTTS);
    Log(QStringLiteral("Default Voice Caption: ") + MainTTS->GetDefaultVoiceName());
    Log(QStringLiteral("Default Voice ID:      ") + MainTTS->DefaultVoiceID);
}

void TBaseTTSPreferences::CustomLoadValues()
{
    try {
        if (!MainTTS || !SettingsStore)
            throw EttsException(QStringLiteral("The voice preferences have no speech manager"));
        if (!testTTS)
            createTestTTS();
        testTTS->OutputMode = 0;
        QPointer<QPushButton> test = btnTest, ok = OkButton(), cancel = CancelButton();
        testTTS->RegisterControl(ckSpeak, [this, test](bool on) {
            if (test)
                test->setEnabled(on && VoiceOf(tvVoices->currentItem()));
        });
        testTTS->RegisterControl(ckSpeak, [ok](bool on) {
            if (ok)
                ok->setEnabled(on);
        });
        testTTS->RegisterControl(ckSpeak, [cancel](bool on) {
            if (cancel)
                cancel->setEnabled(on);
        });

        QStringList items;
        TBaseTTS::GetOutputFormats(items);
        cbOutputFormat->clear();
        cbOutputFormat->addItems(items);
        items.clear();
        TBaseTTS::GetWriteSpeeds(items);
        cbWriteSpeed->clear();
        cbWriteSpeed->addItems(items);
        items.clear();
        MainTTS->GetMP3Qualities(items);
        cbQuality->clear();
        cbQuality->addItems(items);
        QRadioButton* assignment[] = {rbDefaultVoice, rbRoundRobin, rbRandomVoice};
        assignment[std::min<int>(MainTTS->VoiceAssignment, 2)]->setChecked(true);
        const bool mp3 = MainTTS->OutputFormat != QLatin1String("Wav");
        cbQuality->setEnabled(mp3);
        lblQuality->setEnabled(mp3);
        setSapiBox(SettingsStore->GetValue(QStringLiteral("SapiVersion")).toInt());
        ShowSapiInfo = SettingsStore->GetValue(QStringLiteral("ShowSapiVersionInfo")).toBool();

        DefaultVoice = testTTS->Voices.FindByName(testTTS->GetDefaultVoiceName());
        const QSignalBlocker detached(tvVoices);
        buildTree();
    } catch (const EVorlixError& e) {
        Log(QStringLiteral("CustomLoadValues Exception: ") + e.message());
        Dialogs().ShowError(e.message());
    }
    showDetails(tvVoices->currentItem());
}

void TBaseTTSPreferences::setSapiBox(int value)
{
    updatingSapiBox = true;
    cbSapiVersion->setCurrentIndex(std::clamp(value, 0, 2));
    updatingSapiBox = false;
}

// ---------------------------------------------------------------- the tree

TBaseVoiceClass* TBaseTTSPreferences::VoiceOf(const QTreeWidgetItem* item) const
{
    return item ? qobject_cast<TBaseVoiceClass*>(item->data(0, VoiceRole).value<QObject*>()) : nullptr;
}

TBaseEngineClass* TBaseTTSPreferences::EngineOf(const QTreeWidgetItem* item) const
{
    if (!item || !testTTS || !item->data(0, EngineRole).isValid())
        return nullptr;
    const int index = item->data(0, EngineRole).toInt();
    return index >= 0 && index < testTTS->Engines.Count() ? testTTS->Engines[index] : nullptr;
}

QTreeWidgetItem* TBaseTTSPreferences::NodeOfVoice(const TBaseVoiceClass* voice) const
{
    for (int i = 0; i < tvVoices->topLevelItemCount(); ++i) {
        QTreeWidgetItem* engine = tvVoices->topLevelItem(i);
        for (int j = 0; j < engine->childCount(); ++j)
            if (VoiceOf(engine->child(j)) == voice)
                return engine->child(j);
    }
    return nullptr;
}

QTreeWidgetItem* TBaseTTSPreferences::NodeOfEngine(const QString& name) const
{
    for (int i = 0; i < tvVoices->topLevelItemCount(); ++i)
        if (tvVoices->topLevelItem(i)->text(0) == name)
            return tvVoices->topLevelItem(i);
    return nullptr;
}

int TBaseTTSPreferences::voiceIcon(const TBaseVoiceClass* voice) const
{
    if (DefaultVoice && voice->DisplayName == DefaultVoice->DisplayName)
        return viDefault;
    return voice->Enabled ? viEnabled : viDisabled;
}

void TBaseTTSPreferences::setIcon(QTreeWidgetItem* item, int icon) const
{
    static const QIcon icons[] = {TreeIcon(viDefault), TreeIcon(viEnabled), TreeIcon(viDisabled)};
    item->setIcon(0, icons[icon]);
    item->setData(0, IconRole, icon);
}

void TBaseTTSPreferences::buildTree()
{
    if (tvVoices->topLevelItemCount() > 0) {
        updateIcons();
        return;
    }
    for (int e = 0; e < testTTS->Engines.Count(); ++e) {
        TBaseEngineClass* engine = testTTS->Engines[e];
        auto* top = new QTreeWidgetItem(tvVoices, {engine->Product});
        top->setData(0, EngineRole, e);
        bool anyEnabled = false;
        for (TBaseVoiceClass* voice : testTTS->Voices.Items) {
            if (voice->Engine.get() != engine)
                continue;
            anyEnabled = anyEnabled || voice->Enabled;
            auto* node = new QTreeWidgetItem(top, {voice->DisplayName, voice->LanguageName(), voice->Gender});
            node->setData(0, VoiceRole, QVariant::fromValue(static_cast<QObject*>(voice)));
            setIcon(node, voiceIcon(voice));
        }
        engine->Enabled = anyEnabled;
        setIcon(top, anyEnabled ? viEnabled : viDisabled);
        top->setExpanded(true);
    }
    if (tvVoices->topLevelItemCount() > 0)
        tvVoices->setCurrentItem(tvVoices->topLevelItem(0));
}

void TBaseTTSPreferences::updateIcons()
{
    for (int i = 0; i < tvVoices->topLevelItemCount(); ++i) {
        QTreeWidgetItem* top = tvVoices->topLevelItem(i);
        if (TBaseEngineClass* engine = EngineOf(top))
            setIcon(top, engine->Enabled ? viEnabled : viDisabled);
        for (int j = 0; j < top->childCount(); ++j)
            if (TBaseVoiceClass* voice = VoiceOf(top->child(j)))
                setIcon(top->child(j), voiceIcon(voice));
    }
    updateEnableButton(tvVoices->currentItem());
}

void TBaseTTSPreferences::updateEnableButton(QTreeWidgetItem* item)
{
    const int icon = item ? item->data(0, IconRole).toInt() : viDisabled;
    btnEnable->setEnabled(item && icon != viDefault);
    btnEnable->setText(icon == viDisabled ? QStringLiteral("Enable") : QStringLiteral("Disable"));
}

void TBaseTTSPreferences::showDetails(QTreeWidgetItem* item)
{
    TBaseVoiceClass* voice = VoiceOf(item);
    const bool isVoice = voice != nullptr;
    if (voice) {
        try {
            voice->LoadDefaults();
        } catch (const EVorlixError& e) {
            Log(QStringLiteral("Loading the limits of ") + voice->DisplayName + QStringLiteral(": ") + e.message());
        }
        const bool hasPitch = !voice->Engine || voice->Engine->HasPitch;
        tbPitch->setVisible(hasPitch);
        lblPitchValue->setVisible(hasPitch);
        lblNoPitch->setVisible(!hasPitch);
        const auto fill = [](QSlider* bar, int low, int high, int value) {
            const QSignalBlocker quiet(bar);
            if (low == NotSet || high == NotSet || high < low)
                low = high = 0;
            bar->setRange(low, high);
            bar->setValue(value == NotSet ? low : value);
        };
        fill(tbPitch, voice->PitchMin, voice->PitchMax, voice->Pitch);
        fill(tbSpeed, voice->SpeedMin, voice->SpeedMax, voice->Speed);
        fill(tbVolume, voice->GetMinVolume(), voice->GetMaxVolume(), voice->VolumeLeft);
        const bool sapi4 = voice->Engine && voice->Engine->Api == QLatin1String("Sapi4");
        tbPitch->setPageStep(sapi4 ? 10 : 1);
        tbSpeed->setPageStep(sapi4 ? 10 : 1);
        tbVolume->setPageStep(sapi4 ? 100 : 10);
        lblPitchValue->setText(QString::number(tbPitch->value()));
        lblSpeedValue->setText(QString::number(tbSpeed->value()));
        lblVolumeValue->setText(QString::number(tbVolume->value()));
        lblSpeedValue->show();
        lblVolumeValue->show();
    } else {
        for (QSlider* bar : {tbPitch, tbSpeed, tbVolume}) {
            const QSignalBlocker quiet(bar);
            bar->setValue(bar->minimum());
        }
        tbPitch->show();
        lblNoPitch->hide();
        for (QLabel* v : {lblPitchValue, lblSpeedValue, lblVolumeValue})
            v->hide();
    }
    for (QWidget* w : std::initializer_list<QWidget*>{btnDefault, btnReset, lblPitch, lblSpeed, lblVolume, tbPitch,
                                                      tbSpeed, tbVolume})
        w->setEnabled(isVoice);
    btnTest->setEnabled(isVoice && (!testTTS || !testTTS->IsBusy()));
    updateEnableButton(item);
}

void TBaseTTSPreferences::trackBarMoved(QSlider* bar)
{
    TBaseVoiceClass* voice = VoiceOf(tvVoices->currentItem());
    if (!voice)
        return;
    const int value = bar->sliderPosition();
    try {
        if (bar == tbPitch)
            voice->SetPitch(value);
        else if (bar == tbSpeed)
            voice->SetSpeed(value);
        else
            voice->SetVolume(value);
    } catch (const EVorlixError& e) {
        Dialogs().ShowError(e.message());
    }
}

// ---------------------------------------------------------------- buttons

void TBaseTTSPreferences::btnTestClick()
{
    TBaseVoiceClass* voice = VoiceOf(tvVoices->currentItem());
    if (!voice || !testTTS || !MainTTS)
        return;
    if (MainTTS->IsBusy()) {
        Dialogs().ShowMessage(QStringLiteral("Text to Speech is currently busy, and test cannot be performed"));
        return;
    }
    if (testTTS->IsBusy())
        return;
    try {
        testVoice = std::make_unique<TBaseVoiceClass>();
        testVoice->Assign(*voice);
        testVoice->SetValue(QStringLiteral("Pitch"), tbPitch->value());
        testVoice->SetValue(QStringLiteral("Speed"), tbSpeed->value());
        testVoice->SetValue(QStringLiteral("Volume"), tbVolume->value());
        testTTS->Speak2(testVoice.get(), MainTTS->GetTestSentence(testVoice.get()));
    } catch (const EVorlixError& e) {
        Log(QStringLiteral("btnTestClick Exception: ") + e.message());
        Dialogs().ShowError(e.message());
    }
}

void TBaseTTSPreferences::btnDefaultClick()
{
    TBaseVoiceClass* voice = VoiceOf(tvVoices->currentItem());
    if (!voice)
        return;
    try {
        voice->SetEnabled(true);
        if (voice->Engine)
            voice->Engine->Enabled = true;
        DefaultVoice = voice;
        updateIcons();
    } catch (const EVorlixError& e) {
        Dialogs().ShowError(e.message());
    }
}

void TBaseTTSPreferences::btnEnableClick()
{
    QTreeWidgetItem* item = tvVoices->currentItem();
    if (!item || !testTTS)
        return;
    try {
        if (TBaseVoiceClass* voice = VoiceOf(item)) {
            voice->SetEnabled(!voice->Enabled);
            if (voice->Enabled && voice->Engine)
                voice->Engine->Enabled = true;
        } else if (TBaseEngineClass* engine = EngineOf(item)) {
            if (engine->Enabled)
                testTTS->DisableEngine(engine->Key, DefaultVoice);
            else
                testTTS->EnableEngine(engine->Key);
        }
    } catch (const EVorlixError& e) {
        Dialogs().ShowError(e.message());
    }
    updateIcons();
}

void TBaseTTSPreferences::btnResetClick()
{
    TBaseVoiceClass* voice = VoiceOf(tvVoices->currentItem());
    if (!voice)
        return;
    try {
        voice->ResetToDefaults();
    } catch (const EVorlixError& e) {
        Dialogs().ShowError(e.message());
    }
    showDetails(tvVoices->currentItem());
}

void TBaseTTSPreferences::btnBrowseClick()
{
    const QString start = MainTTS ? MainTTS->OutputDir : edtOutputDir->text();
    const QString chosen = Dialogs().ChooseFolder(QStringLiteral("Output Directory"), start);
    edtOutputDir->setText(chosen.isEmpty() ? start : QDir::toNativeSeparators(chosen));
}

void TBaseTTSPreferences::outputFormatChanged()
{
    const bool mp3 = cbOutputFormat->currentText() != QLatin1String("Wav");
    cbQuality->setEnabled(mp3);
    lblQuality->setEnabled(mp3);
}

// ---------------------------------------------------------------- engine choice

void TBaseTTSPreferences::sapiVersionChanged(int index)
{
    if (updatingSapiBox || !SettingsStore || !testTTS)
        return;
    const int stored = SettingsStore->GetValue(QStringLiteral("SapiVersion")).toInt();
    if (ShowSapiInfo) {
        TSapiVersionInfo info(this);
        const int result = Windows().Exec(&info);
        ShowSapiInfo = info.ShowAgain();
        if (result != QDialog::Accepted) {
            setSapiBox(stored);
            return;
        }
    }
    // The switch replaces the engines a test may be speaking on.
    if (testTTS->IsBusy())
        testTTS->Stop();
    SwitchSapiVersion(index == 0 || index == 2, index == 1 || index == 2);
}

void TBaseTTSPreferences::reloadTestVoices(bool useSapi4, bool useSapi5)
{
    tvVoices->clear();
    DefaultVoice = nullptr;
    testTTS->Voices.Clear();
    testTTS->Engines.Clear();
    testTTS->InitVoices(*SettingsStore, useSapi4, true, useSapi5);
    DefaultVoice = testTTS->Voices.FindByName(testTTS->GetDefaultVoiceName());
    {
        const QSignalBlocker detached(tvVoices);
        buildTree();
    }
    showDetails(tvVoices->currentItem());
}

void TBaseTTSPreferences::SwitchSapiVersion(bool useSapi4, bool useSapi5)
{
    setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool oldSapi4 = TBaseVoiceRegistryClass::UseSapi4(*SettingsStore);
    const bool oldSapi5 = TBaseVoiceRegistryClass::UseSapi5(*SettingsStore);
    try {
        reloadTestVoices(useSapi4, useSapi5);
        TBaseVoiceRegistryClass::SetSapiChoice(*SettingsStore, useSapi4, useSapi5);
        // The choice stays even when the window is cancelled.
        SettingsStore->SaveAll();
        setSapiBox(SettingsStore->GetValue(QStringLiteral("SapiVersion")).toInt());
        SapiSwitched = true;
    } catch (const EVorlixError& e) {
        Log(QStringLiteral("SwitchSapiVersion Exception: ") + e.message());
        Dialogs().ShowError(e.message());
        setSapiBox(SettingsStore->GetValue(QStringLiteral("SapiVersion")).toInt());
        try {
            reloadTestVoices(oldSapi4, oldSapi5);
        } catch (const EVorlixError& fatal) {
            Log(QStringLiteral("SwitchSapiVersion Fatal Error: ") + fatal.message());
            Dialogs().ShowError(QStringLiteral("Fatal Error: ") + fatal.message());
        }
    }
    QApplication::restoreOverrideCursor();
    setEnabled(true);
}

// ---------------------------------------------------------------- validating and saving

bool TBaseTTSPreferences::ValidateControl(const QString& controlName)
{
    if (controlName != QLatin1String("edtOutputDir"))
        return true;
    const QString refusal = TBaseTTS::CheckOutputDir(edtOutputDir->text());
    if (refusal.isEmpty())
        return true;
    Dialogs().ShowError(refusal);
    return false;
}

void TBaseTTSPreferences::CustomSaveValues()
{
    if (!MainTTS || !testTTS)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        MainTTS->SetOutputFormat(cbOutputFormat->currentText());
        MainTTS->SetRealTime(cbWriteSpeed->currentText());
        MainTTS->SetMP3Quality(cbQuality->currentText());
        MainTTS->OutputDir = edtOutputDir->text();
        MainTTS->VoiceAssignment = rbRandomVoice->isChecked() ? 2 : rbRoundRobin->isChecked() ? 1 : 0;
        if (SapiSwitched) {
            // New adapters replace the old ones, so nothing may still speak on those.
            if (MainTTS->IsBusy())
                MainTTS->Stop();
            const int version = SettingsStore->GetValue(QStringLiteral("SapiVersion")).toInt();
            if (version == 0 || version == 2)
                MainTTS->CreateSapi4Adapter();
            if (version == 1 || version == 2)
                MainTTS->CreateSapi5Adapter();
        }
        // The copies speak through the main manager's adapter of their engine's interface.
        MainTTS->CopyVoicesAndEngines(*testTTS);
        if (DefaultVoice)
            MainTTS->SetDfltCaption(DefaultVoice->DisplayName);
        SettingsStore->SetValue(QStringLiteral("ShowSapiVersionInfo"), ShowSapiInfo);
        MainTTS->SaveProperties();
    } catch (const EVorlixError& e) {
        Log(QStringLiteral("CustomSaveValues Exception: ") + e.message());
        Dialogs().ShowError(e.message());
    }
    QApplication::restoreOverrideCursor();
}
