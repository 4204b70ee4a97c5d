// The main window's side of the speech manager: creating it at start-up with the window's
// preprocessor, letting it enable the speech commands, and the speech controls themselves.
#include "gui/app/UsenetUnit.h"

#include "core/BaseUtils.h"
#include "core/DialogService.h"
#include "core/RegistryUnit.h"
#include "gui/app/NewsCommands.h"
#include "gui/app/RunCommand.h"
#include "gui/app/WindowPlacement.h"
#include "gui/app/WindowService.h"
#include "gui/prefs/MyTTSPreferencesUnit.h"
#include "gui/lexicon/LexEdit.h"
#include "gui/prefs/TBasePreProcPreferencesUnit.h"
#include "gui/news/ThreadView.h"
#include "mpris/MprisPlayer.h"
#include "news/NewsStore.h"
#include "preprocess/TTSPreProcessor.h"
#include "speaking/SpeakRun.h"
#include "speech/TBaseTTSUnit.h"
#include "speech/TBaseVoiceRegistryClassUnit.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <cmath>
#include <cstdlib>

void TForm1::createSpeech()
{
    UtilsClass::Log(QStringLiteral("Form Create: Starting TTS Setup"));
    auto* preprocessor = new TGroupsPreProcessor;
    try {
        Speech = std::make_unique<TBaseTTS>();
    } catch (const EVorlixError& e) {
        delete preprocessor;
        Dialogs().ShowError(QStringLiteral("BaseTTS Create: ") + e.message());
        std::exit(1);
    }
    Speech->SetPreprocessor(preprocessor);
    Speech->SetShowExceptionDialogs(false);
    try {
        Speech->InitializeAll(*Store);
    } catch (const EVorlixError& e) {
        // Without voices the newsreader still works; speaking then reports why it cannot.
        UtilsClass::Log(QStringLiteral("Form Create: speech set-up failed: ") + e.message());
        Dialogs().ShowError(QStringLiteral("No voice could be loaded, so Vorlix cannot speak: ") + e.message());
    }

    UtilsClass::Log(QStringLiteral("Form Create: Register Controls"));
    const auto control = [this](const char* id, int kind, TCommandPlace place) {
        const QString name = QString::fromLatin1(id);
        auto target = [this, name, place](bool enabled) { setSpeechEnabled(name, place, enabled); };
        if (place == TCommandPlace::Toolbar)
            Speech->RegisterControl(kind, target);
        else
            Speech->RegisterMenuItem(kind, target);
    };
    for (const char* id : {"SpeakSelAloud", "SpeakSelFile", "SpeakMarkAloud", "SpeakMarkFile"})
        control(id, ckSpeak, TCommandPlace::Toolbar);
    control("Pause", ckPauseResume, TCommandPlace::Toolbar);
    control("Skip", ckSkip, TCommandPlace::Toolbar);
    control("Stop", ckStop, TCommandPlace::Toolbar);

    UtilsClass::Log(QStringLiteral("Form Create: Register MenuItems"));
    control("SpeakMarkAloud", ckSpeak, TCommandPlace::ServerPopup); // "Read Newsgroup Aloud"
    control("SelectDevice", ckSpeak, TCommandPlace::Menu);
    for (const char* id : {"SpeakSelAloud", "SpeakSelFile", "SpeakMarkAloud", "SpeakMarkFile"})
        control(id, ckSpeak, TCommandPlace::Menu);
    control("Pause", ckPauseResume, TCommandPlace::Menu);
    control("Skip", ckSkip, TCommandPlace::Menu);
    control("Stop", ckStop, TCommandPlace::Menu);

    UtilsClass::Log(QStringLiteral("Form Create: Event Setup"));
    bindSpeech();
    bindSpeaking();
    createMediaControls();
    BindCommand(QStringLiteral("SpeakMarkAloud"), [this] { SpeakMarked(false); });
    BindCommand(QStringLiteral("SpeakMarkFile"), [this] { SpeakMarked(true); });
    BindCommand(QStringLiteral("SpeakSelAloud"), [this] { SpeakSelected(false); });
    BindCommand(QStringLiteral("SpeakSelFile"), [this] { SpeakSelected(true); });
    BindCommand(QStringLiteral("Pause"), [this] { mnuPauseClick(); });
    BindCommand(QStringLiteral("Skip"), [this] { mnuSkipClick(); });
    BindCommand(QStringLiteral("Stop"), [this] { mnuStopClick(); });
    BindCommand(QStringLiteral("SelectDevice"), [this] { mnuSelectDeviceClick(); });
    BindCommand(QStringLiteral("TTSOptions"), [this] { TTSOptionsClick(); });
    BindCommand(QStringLiteral("TextPreprocessorOptions"), [this] { TBasePreProcPreferences::Execute(Speech.get(), this); });
    BindCommand(QStringLiteral("LexEdit"), [this] { TLexEditForm::Execute(Speech.get(), this); });
}

void TForm1::bindSpeech()
{
    auto setProgress = [this](int percent) { ArticleProgress->setValue(std::clamp(percent, 0, 100)); };
    Speech->OnSpeechEvent = [this, setProgress](TBaseTTS*, unsigned char code, const QString&) {
        setProgress(0);
        if (Speaking)
            Speaking->SpeechEvent(code);
    };
    Speech->OnSpeechError = [this](TBaseTTS*, const QString& message) {
        if (Speaking && Speaking->Running())
            Speaking->SpeechError(message);
        else
            Dialogs().ShowError(message);
    };
    Speech->OnWordPosition = [setProgress](TBaseTTS*, unsigned char kind, int length, int position) {
        if (kind == 0 && length > 0)
            setProgress(int(std::lround(double(position) * 100.0 / double(length))));
    };
    Speech->OnPause = [this](TBaseTTS*) {
        if (QAction* a = Command(QStringLiteral("Pause"), TCommandPlace::Menu))
            a->setText(QStringLiteral("&Resume"));
        if (QAction* b = Command(QStringLiteral("Pause"), TCommandPlace::Toolbar))
            b->setChecked(true);
    };
    Speech->OnResume = [this](TBaseTTS*) {
        if (QAction* a = Command(QStringLiteral("Pause"), TCommandPlace::Menu))
            a->setText(QStringLiteral("&Pause"));
        if (QAction* b = Command(QStringLiteral("Pause"), TCommandPlace::Toolbar))
            b->setChecked(false);
    };
    Speech->SetMP3ProgressHandler([setProgress](TAudioFileClass*, uint32_t done, uint32_t total) {
        if (total > 0)
            setProgress(int(std::lround(double(done) * 100.0 / double(total))));
    });
    Speech->OnConvertStart = [this](TBaseTTS*) { statusPanel[1]->setText(QStringLiteral("Converting to MP3")); };
    Speech->OnConvertDone = [this](TBaseTTS*) { statusPanel[1]->setText(QString()); };
    Speech->OnBeforeTags = [](TBaseTTS* sender) { TSpeakRun::TagRunFile(sender->Tags); };
}

void TForm1::setSpeechEnabled(const QString& id, TCommandPlace place, bool enabled)
{
    speechEnabled.insert(id + QLatin1Char('/') + QString::number(int(place)), enabled);
    UpdateCommands();
}

void TForm1::mnuPauseClick()
{
    if (!Speech)
        return;
    if (Speech->IsPaused())
        Speech->Resume();
    else
        Speech->Pause();
    // The toggle button shows the manager's state, not the click.
    if (QAction* b = Command(QStringLiteral("Pause"), TCommandPlace::Toolbar))
        b->setChecked(Speech->IsPaused());
}

void TForm1::bindSpeaking()
{
    Speaking = std::make_unique<TSpeakRun>(NewsStore.get(), Speech.get(), Store.get());
    Speaking->OnStatus = [this](TSpeakRun*, int panel, const QString& text) {
        if (panel == 0)
            SetStatusText(text);
        else
            statusPanel[panel]->setText(text);
    };
    Speaking->OnRunStarted = [this](TSpeakRun*, int queued) {
        articleProgressFull = queued < 2;
        QueueProgress->setRange(0, std::max(queued, 1));
        QueueProgress->setValue(0);
        QueueProgress->setVisible(queued >= 2);
        ArticleProgress->setRange(0, 100);
        ArticleProgress->setValue(0);
        ArticleProgress->show();
        placeProgress();
        if (Mpris)
            Mpris->RunChanged();
    };
    Speaking->OnArticleStarted = [this](TSpeakRun*, int position, int queued) {
        if (QueueProgress->isVisible()) {
            QueueProgress->setMaximum(std::max(queued, position));
            QueueProgress->setValue(position);
        }
        ArticleProgress->setValue(0);
        if (Mpris)
            Mpris->RunChanged();
    };
    Speaking->OnRunEnded = [this](TSpeakRun*) {
        QueueProgress->hide();
        ArticleProgress->hide();
        if (Mpris)
            Mpris->RunChanged();
    };
    Speaking->OnRecordChanged = [this](TSpeakRun*, TArticleClass* record) {
        if (ThreadView && record && record->Owner && record->Owner->Config == ThreadView->GroupNode)
            if (TThreadView::TNode* node = ThreadView->NodeOf(record))
                ThreadView->RefreshItem(node);
    };
    Speaking->OnAuthenticated = [this](TSpeakRun*, const QString& host, const QString& user, const QString& password,
                                       bool save) {
        if (News)
            News->CredentialsHandler(host, user, password, save);
    };
    // Marking or clearing an article during a run extends or shortens it.
    ThreadView->OnSpeakMarkChanged = [this](TThreadView*, TArticleClass* record) {
        if (Speaking)
            Speaking->Update(record);
    };
}

void TForm1::createMediaControls()
{
    Mpris = std::make_unique<TMprisPlayer>(Speech.get(), Speaking.get());
    Mpris->OnRaise = [this](TMprisPlayer*) { BringToFront(this); };
    // The desktop's Stop is the Stop command; it ends the run between two articles as well,
    // where the manager is idle and the window's own Stop is disabled.
    Mpris->OnStop = [this](TMprisPlayer*) { RunCommand(QStringLiteral("Stop"), [this] { mnuStopClick(); }); };
    Mpris->Start();
}

void TForm1::SpeakMarked(bool toFile)
{
    std::vector<TArticleClass*> records;
    for (TThreadView::TNode* node : ThreadView->Nodes())
        if (TArticleClass* r = TThreadView::RecordOf(node))
            records.push_back(r);
    TConfigClass* node = NewsStore->SelectedEntry() ? NewsStore->SelectedEntry() : NewsStore->CurrentEntry();
    if (node && node != ThreadView->GroupNode)
        records.clear(); // the view shows another entry's records
    Speaking->StartSpeaking(node, false, toFile, records);
}

void TForm1::SpeakSelected(bool toFile)
{
    std::vector<TArticleClass*> records;
    for (TThreadView::TNode* node : ThreadView->Nodes())
        if (ThreadView->IsSelected(node))
            if (TArticleClass* r = TThreadView::RecordOf(node))
                records.push_back(r);
    if (records.empty()) {
        Dialogs().ShowMessage(QStringLiteral("Select one or more messages to be spoken aloud"));
        return;
    }
    TConfigClass* node = NewsStore->SelectedEntry() ? NewsStore->SelectedEntry() : NewsStore->CurrentEntry();
    for (TArticleClass* r : records) {
        r->SetSpeakMark(1);
        if (TThreadView::TNode* n = ThreadView->NodeOf(r))
            ThreadView->RefreshItem(n);
    }
    if (ThreadView->GroupNode)
        ThreadView->SaveArticles(ThreadView->GroupNode);
    Speaking->StartSpeaking(node, true, toFile, records);
}

void TForm1::mnuSkipClick()
{
    if (Speech)
        Speech->Skip();
}

void TForm1::mnuStopClick()
{
    if (Speaking)
        Speaking->Stop();
    else if (Speech)
        Speech->Stop();
}

void TForm1::TTSOptionsClick()
{
    if (!Speech || !Speech->Store)
        return;
    TMyTTSPreferences prefs(this);
    prefs.SettingsStore = Speech->Store;
    prefs.MainTTS = Speech.get();
    prefs.MainStore = Store.get();
    prefs.WizardMode = false;
    prefs.PrepareShow();
    Windows().Exec(&prefs);
}

void TForm1::mnuSelectDeviceClick()
{
    if (Speech)
        Speech->SelectAudioDevice();
}
