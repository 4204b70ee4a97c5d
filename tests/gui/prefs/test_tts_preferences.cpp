// The voice and audio file preferences over the real speech manager and the real engines:
// the voice tree and its buttons, the track bars, Cancel keeping only an engine switch, the
// output folder refusals, "Test" while the main manager speaks and into the null sink, and
// the choices of "OK" reaching the next speaking run of the real main window.
#include "../app/news_window_rig.h"

#include "SampleNewsServer.h"
#include "ScriptedWindows.h"
#include "core/RegistryUnit.h"
#include "gui/prefs/MyTTSPreferencesUnit.h"
#include "gui/prefs/SapiVersionInfoUnit.h"
#include "speaking/SpeakRun.h"
#include "speech/Sapi4Unit.h"
#include "speech/TBaseTTSUnit.h"
#include "speech/TBaseVoiceRegistryClassUnit.h"
#include "speech/TBaseVoiceUnit.h"
#include "speech/TBaseVoiceUtils.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

using namespace NewsRig;

namespace {
std::unique_ptr<TBaseTTS> NewManager(TMyRegistryClass& store)
{
    auto tts = std::make_unique<TBaseTTS>();
    tts->SetShowExceptionDialogs(false);
    tts->InitializeAll(store);
    return tts;
}

// The window as the main window opens it, over a manager and the main settings.
struct TPrefsRig {
    TMyRegistryClass Store;
    std::unique_ptr<TBaseTTS> Main;
    std::unique_ptr<TMyTTSPreferences> Prefs;
    TPrefsRig()
    {
        Store.LoadAll();
        Main = NewManager(Store);
        Prefs = std::make_unique<TMyTTSPreferences>();
        Prefs->SettingsStore = Main->Store;
        Prefs->MainTTS = Main.get();
        Prefs->MainStore = &Store;
        Prefs->WizardMode = false;
        Prefs->PrepareShow();
        Prefs->show();
    }
    QTreeWidgetItem* Node(const QString& voice) const
    {
        return Prefs->NodeOfVoice(Prefs->TestTTS()->Voices.FindByName(voice));
    }
    void Select(QTreeWidgetItem* item) const { Prefs->tvVoices->setCurrentItem(item); }
    int Icon(QTreeWidgetItem* item) const { return item->data(0, TBaseTTSPreferences::IconRole).toInt(); }
};

// The first voice of an interface and language in a manager.
TBaseVoiceClass* VoiceOf(const TBaseTTS& tts, const QString& api, int language)
{
    for (TBaseVoiceClass* v : tts.Voices.Items)
        if (v->Engine && v->Engine->Api == api && v->Language == language)
            return v;
    return nullptr;
}

QStringList EngineNames(const QTreeWidget* tree)
{
    QStringList names;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        names << tree->topLevelItem(i)->text(0);
    return names;
}

// The first MPEG audio frame after the ID3v2 tag: bit rate in kbps, sample rate, mono.
struct TFrameFacts {
    int Kbps = 0;
    int Rate = 0;
    bool Mono = false;
};
TFrameFacts FirstFrame(const QByteArray& data)
{
    qsizetype at = 0;
    if (data.startsWith("ID3") && data.size() > 10)
        at = 10 + ((data[6] & 0x7F) << 21 | (data[7] & 0x7F) << 14 | (data[8] & 0x7F) << 7 | (data[9] & 0x7F));
    while (at + 4 <= data.size() && !(uchar(data[at]) == 0xFF && (uchar(data[at + 1]) & 0xE0) == 0xE0))
        ++at;
    if (at + 4 > data.size())
        return {};
    const quint32 h = quint32(uchar(data[at])) << 24 | quint32(uchar(data[at + 1])) << 16
        | quint32(uchar(data[at + 2])) << 8 | uchar(data[at + 3]);
    const bool mpeg1 = ((h >> 19) & 3) == 3;
    static const int kbps1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int kbps2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const int rate1[] = {44100, 48000, 32000, 0};
    const int b = int((h >> 12) & 0xF), r = int((h >> 10) & 3);
    TFrameFacts f;
    f.Kbps = b < 15 ? (mpeg1 ? kbps1[b] : kbps2[b]) : 0;
    f.Rate = mpeg1 ? rate1[r] : rate1[r] / 2;
    f.Mono = ((h >> 6) & 3) == 3;
    return f;
}

// The artist of the ID3 version 1 block at the end of the file.
QString Id3v1Artist(const QByteArray& data)
{
    if (data.size() < 128 || !data.right(128).startsWith("TAG"))
        return {};
    return QString::fromLatin1(data.right(128).mid(33, 30)).remove(QChar(0)).trimmed();
}
} // namespace

class TestTTSPreferences : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetProfile(); }

    // The tree: one node per engine with its voices, their language and gender, the three
    // pictures; the buttons and track bars of a voice and of an engine node, keyboard steps
    // per engine, Reset Defaults, Enable/Disable of voices and engines, the protected default
    // voice, Default Voice, and the note of an engine without pitch.
    void voiceTreeAndAdjustments()
    {
        TScopedScriptedWindows dialogs;
        TPrefsRig rig;
        TMyTTSPreferences& w = *rig.Prefs;
        TBaseTTS& test = *w.TestTTS();
        QCOMPARE(w.windowTitle(), QString("Setting Voice and Audio File Preferences"));
        QCOMPARE(EngineNames(w.tvVoices), (QStringList{"Flite", "eSpeak NG"}));
        QStringList engineChoices;
        for (int i = 0; i < w.cbSapiVersion->count(); ++i)
            engineChoices << w.cbSapiVersion->itemText(i);
        QCOMPARE(engineChoices, (QStringList{"Use Flite Only", "Use eSpeak NG Only", "Use Both"}));
        QCOMPARE(w.cbSapiVersion->currentIndex(), 2);
        // The test manager has copies, not the main manager's voices.
        QCOMPARE(test.Voices.Count(), rig.Main->Voices.Count());
        QVERIFY(test.Voices.FindByName("Slt") != rig.Main->Voices.FindByName("Slt"));

        QTreeWidgetItem* slt = rig.Node("Slt");
        QVERIFY(slt);
        QCOMPARE(slt->text(1), QString("US English"));
        QCOMPARE(slt->text(2), QString("Female"));
        QCOMPARE(rig.Node("Kal")->text(2), QString("Male"));
        TBaseVoiceClass* german = VoiceOf(test, "Sapi5", 1031);
        QVERIFY(german && !german->Enabled);
        QTreeWidgetItem* germanNode = w.NodeOfVoice(german);
        QCOMPARE(germanNode->text(1), QString("German"));
        // A language the table lacks is named after the engine's language tag.
        QCOMPARE(rig.Node("Afrikaans")->text(1), QString("Afrikaans"));
        QCOMPARE(rig.Icon(germanNode), int(TBaseTTSPreferences::viDisabled));
        // The default voice of the main manager carries the star, and only it.
        QCOMPARE(w.DefaultVoice->DisplayName, rig.Main->GetDefaultVoiceName());
        int stars = 0;
        for (QTreeWidgetItemIterator it(w.tvVoices); *it; ++it)
            stars += rig.Icon(*it) == TBaseTTSPreferences::viDefault;
        QCOMPARE(stars, 1);
        QCOMPARE(rig.Icon(w.NodeOfVoice(w.DefaultVoice)), int(TBaseTTSPreferences::viDefault));
        QCOMPARE(rig.Icon(w.NodeOfEngine("eSpeak NG")), int(TBaseTTSPreferences::viEnabled));

        // An engine node: no test, no tuning.
        rig.Select(w.NodeOfEngine("eSpeak NG"));
        QVERIFY(!w.btnTest->isEnabled() && !w.btnDefault->isEnabled() && !w.btnReset->isEnabled());
        QVERIFY(!w.tbSpeed->isEnabled() && w.lblSpeedValue->isHidden());
        QCOMPARE(w.btnEnable->text(), QString("Disable"));

        // An eSpeak NG voice: steps of 1, 1 and 10; the keys change the voice at once.
        TBaseVoiceClass* english = VoiceOf(test, "Sapi5", 1033);
        rig.Select(w.NodeOfVoice(english));
        QVERIFY(w.btnTest->isEnabled() && w.tbPitch->isVisible() && w.lblNoPitch->isHidden());
        QCOMPARE(w.tbPitch->pageStep(), 1);
        QCOMPARE(w.tbSpeed->pageStep(), 1);
        QCOMPARE(w.tbVolume->pageStep(), 10);
        w.btnReset->click();
        const int pitch = english->Pitch, volume = english->VolumeLeft;
        QCOMPARE(pitch, english->PitchDefault);
        QTest::keyClick(w.tbPitch, Qt::Key_PageUp);
        QTest::keyClick(w.tbVolume, Qt::Key_PageDown);
        QCOMPARE(english->Pitch, pitch + 1);
        QCOMPARE(english->VolumeLeft, volume - 10);
        QCOMPARE(w.lblVolumeValue->text(), QString::number(volume - 10));
        w.btnReset->click();
        QCOMPARE(english->Pitch, pitch);
        QCOMPARE(english->VolumeLeft, volume);
        QCOMPARE(w.tbVolume->value(), volume);
        QCOMPARE(w.lblPitchValue->text(), QString::number(pitch));
        // A Flite voice: steps of 10, 10 and 100.
        rig.Select(slt);
        QCOMPARE(w.tbPitch->pageStep(), 10);
        QCOMPARE(w.tbVolume->pageStep(), 100);
        QCOMPARE(w.tbSpeed->minimum(), test.Voices.FindByName("Slt")->SpeedMin);

        // Enable and Disable a voice.
        rig.Select(germanNode);
        QCOMPARE(w.btnEnable->text(), QString("Enable"));
        w.btnEnable->click();
        QVERIFY(german->Enabled);
        QCOMPARE(rig.Icon(germanNode), int(TBaseTTSPreferences::viEnabled));
        QCOMPARE(w.btnEnable->text(), QString("Disable"));

        // The engine of the default voice cannot be disabled; another engine can, and back.
        const QString defaultEngine = w.DefaultVoice->Engine->Product;
        const QString otherEngine = defaultEngine == "Flite" ? "eSpeak NG" : "Flite";
        rig.Select(w.NodeOfEngine(defaultEngine));
        w.btnEnable->click();
        QCOMPARE(dialogs.LastText(), QString("Cannot disable default voice"));
        QCOMPARE(rig.Icon(w.NodeOfEngine(defaultEngine)), int(TBaseTTSPreferences::viEnabled));
        QVERIFY(w.DefaultVoice->Enabled);
        rig.Select(w.NodeOfEngine(otherEngine));
        w.btnEnable->click();
        QCOMPARE(rig.Icon(w.NodeOfEngine(otherEngine)), int(TBaseTTSPreferences::viDisabled));
        QCOMPARE(w.btnEnable->text(), QString("Enable"));
        for (int i = 0; i < w.NodeOfEngine(otherEngine)->childCount(); ++i)
            QCOMPARE(rig.Icon(w.NodeOfEngine(otherEngine)->child(i)), int(TBaseTTSPreferences::viDisabled));
        w.btnEnable->click();
        QCOMPARE(rig.Icon(w.NodeOfEngine(otherEngine)), int(TBaseTTSPreferences::viEnabled));
        QCOMPARE(w.btnEnable->text(), QString("Disable"));

        // Default Voice moves the star; the default node cannot be disabled.
        TBaseVoiceClass* oldDefault = w.DefaultVoice;
        rig.Select(germanNode);
        w.btnDefault->click();
        QCOMPARE(w.DefaultVoice, german);
        QCOMPARE(rig.Icon(germanNode), int(TBaseTTSPreferences::viDefault));
        QCOMPARE(rig.Icon(w.NodeOfVoice(oldDefault)), int(TBaseTTSPreferences::viEnabled));
        QVERIFY(!w.btnEnable->isEnabled());

        // An engine without pitch shows the note instead of the pitch bar.
        english->Engine->HasPitch = false;
        rig.Select(slt);
        rig.Select(w.NodeOfVoice(english));
        QVERIFY(w.tbPitch->isHidden() && w.lblPitchValue->isHidden());
        QVERIFY(w.lblNoPitch->isVisible());
        QCOMPARE(w.lblNoPitch->text(), QString("Adjustment not supported by engine"));
        QCOMPARE(dialogs.Shown.size(), size_t(1));
    }

    // Cancel drops the voice, default, file and selection changes, but an engine switch made
    // in the window stays stored. The info window: Cancel puts the box back; ticking its box
    // and Proceed switches, and the next change switches without it.
    void cancelKeepsOnlyTheEngineSwitch()
    {
        TScopedScriptedWindows dialogs;
        TPrefsRig rig;
        TMyTTSPreferences& w = *rig.Prefs;
        TBaseTTS& main = *rig.Main;
        const QString defaultId = main.DefaultVoiceID;
        const int voices = main.Voices.Count();
        TBaseVoiceClass* mainSlt = main.Voices.FindByName("Slt");
        const int sltSpeed = mainSlt->Speed;
        rig.Select(rig.Node("Slt"));
        QTest::keyClick(w.tbSpeed, Qt::Key_PageUp);
        QVERIFY(w.TestTTS()->Voices.FindByName("Slt")->Speed != sltSpeed);
        w.btnDefault->click();
        rig.Select(rig.Node("Kal"));
        w.btnEnable->click();
        w.cbOutputFormat->setCurrentText("MP3");
        w.rbRoundRobin->setChecked(true);
        w.rbFilePerThread->setChecked(true);

        // The info window cancelled: nothing switches.
        dialogs.DialogHandlers.push_back([](QDialog* d) {
            auto* info = qobject_cast<TSapiVersionInfo*>(d);
            return info ? int(QDialog::Rejected) : -1;
        });
        w.cbSapiVersion->setCurrentIndex(1);
        QCOMPARE(dialogs.DialogTitles, QStringList{"SAPI Version Info"});
        QCOMPARE(w.cbSapiVersion->currentIndex(), 2);
        QCOMPARE(EngineNames(w.tvVoices), (QStringList{"Flite", "eSpeak NG"}));
        QVERIFY(!w.SapiSwitched);

        // Ticked and Proceed: eSpeak NG only.
        dialogs.DialogHandlers.push_back([](QDialog* d) {
            auto* info = qobject_cast<TSapiVersionInfo*>(d);
            if (!info)
                return -1;
            info->chkDisable->click();
            info->btnProceed->click();
            return d->result();
        });
        w.cbSapiVersion->setCurrentIndex(1);
        QCOMPARE(EngineNames(w.tvVoices), QStringList{"eSpeak NG"});
        QCOMPARE(w.cbSapiVersion->currentIndex(), 1);
        QVERIFY(!w.ShowSapiInfo);
        QVERIFY(w.DefaultVoice && w.DefaultVoice->Engine->Api == "Sapi5");
        // The next change without the window: Flite only.
        w.cbSapiVersion->setCurrentIndex(0);
        QCOMPARE(dialogs.DialogTitles.size(), 2);
        QCOMPARE(EngineNames(w.tvVoices), QStringList{"Flite"});
        QVERIFY(w.SapiSwitched);

        w.CancelButton()->click();
        QCOMPARE(w.result(), int(QDialog::Rejected));
        QCOMPARE(main.DefaultVoiceID, defaultId);
        QCOMPARE(main.Voices.Count(), voices);
        QCOMPARE(main.Voices.FindByName("Slt")->Speed, sltSpeed);
        QVERIFY(main.Voices.FindByName("Kal")->Enabled);
        QCOMPARE(main.OutputFormat, QString("Wav"));
        QCOMPARE(int(main.VoiceAssignment), 0);
        QCOMPARE(rig.Store.GetValue("ThreadFileOption").toInt(), 0);
        QCOMPARE(rig.Store.ThreadFileOption, 0);
        QVERIFY(dialogs.Shown.empty());

        // What a later start reads: the engine choice, and nothing else of the window.
        TMyRegistryClass fresh;
        fresh.LoadAll();
        auto next = NewManager(fresh);
        QCOMPARE(next->Store->GetValue("SapiVersion").toInt(), 0);
        QVERIFY(next->Store->GetValue("ShowSapiVersionInfo").toBool());
        QCOMPARE(next->OutputFormat, QString("Wav"));
        QCOMPARE(next->Voices.FindByName("Slt")->Speed, sltSpeed);
        QVERIFY(!next->HasEngineApi("Sapi5"));
    }

    // The output folder: the two refusals keep the window open on the file tab, Browse
    // starts at the manager's folder and a cancelled picker puts that folder back, and the
    // quality box follows the format.
    void outputDirectoryRefusals()
    {
        TScopedScriptedWindows dialogs;
        TPrefsRig rig;
        TMyTTSPreferences& w = *rig.Prefs;
        w.Tabs()->setCurrentIndex(2);
        QCOMPARE(w.Tabs()->tabText(2), QString("File Options"));

        w.cbOutputFormat->setCurrentText("Wav");
        QVERIFY(!w.cbQuality->isEnabled());
        w.cbOutputFormat->setCurrentText("MP3");
        QVERIFY(w.cbQuality->isEnabled());

        w.edtOutputDir->setText("\\\\server\\share\\audio");
        w.OkButton()->click();
        QCOMPARE(dialogs.LastText(), QString("Output directory pathname is invalid"));
        QVERIFY(w.isVisible());
        w.Tabs()->setCurrentIndex(0);
        QCOMPARE(w.Tabs()->currentIndex(), 2);
        QCOMPARE(dialogs.Shown.size(), size_t(2));

        QTemporaryDir folder;
        w.edtOutputDir->setText(folder.filePath("missing"));
        w.OkButton()->click();
        QCOMPARE(dialogs.LastText(), QString("The output directory specified does not exist"));
        QVERIFY(w.isVisible());

        dialogs.FolderAnswers.push_back(std::nullopt);
        w.btnBrowse->click();
        QCOMPARE(dialogs.FolderRequests, QStringList{rig.Main->OutputDir});
        QCOMPARE(w.edtOutputDir->text(), rig.Main->OutputDir);
        dialogs.FolderAnswers.push_back(folder.path());
        w.btnBrowse->click();
        QCOMPARE(w.edtOutputDir->text(), folder.path());

        w.rbRandomVoice->setChecked(true);
        dialogs.Clear();
        w.OkButton()->click();
        QVERIFY(dialogs.Shown.empty());
        QCOMPARE(w.result(), int(QDialog::Accepted));
        QCOMPARE(rig.Main->OutputDir, folder.path());
        QCOMPARE(rig.Main->OutputFormat, QString("MP3"));
        QCOMPARE(int(rig.Main->VoiceAssignment), 2);
    }

    // "Test" while the main manager speaks only says so. Otherwise the copy of the voice with
    // the track bar values speaks the sentence of its language into the null sink, and the
    // window's Test, OK and Cancel wait for it.
    void testButton()
    {
        VORLIX_REQUIRE_PULSE();
        TScopedScriptedWindows dialogs;
        TPrefsRig rig;
        TMyTTSPreferences& w = *rig.Prefs;
        TBaseTTS& test = *w.TestTTS();
        TBaseVoiceClass* german = VoiceOf(test, "Sapi5", 1031);
        rig.Select(w.NodeOfVoice(german));
        w.btnEnable->click();
        QTest::keyClick(w.tbSpeed, Qt::Key_PageUp);
        QTest::keyClick(w.tbSpeed, Qt::Key_PageUp);

        rig.Main->Speak2(nullptr, QString("Every voice waits while this long sentence is read aloud. ").repeated(8));
        QVERIFY(rig.Main->IsBusy());
        w.btnTest->click();
        QCOMPARE(dialogs.Texts(), QStringList{"Text to Speech is currently busy, and test cannot be performed"});
        QVERIFY(!test.IsBusy());
        rig.Main->Stop();

        QList<int> events;
        test.OnSpeechEvent = [&events](TBaseTTS*, unsigned char code, const QString&) { events << code; };
        w.btnTest->click();
        QCOMPARE(int(test.State), int(tsPlay));
        QVERIFY(!w.btnTest->isEnabled() && !w.OkButton()->isEnabled() && !w.CancelButton()->isEnabled());
        QVERIFY(test.CurrentVoice && test.CurrentVoice != german);
        QCOMPARE(test.CurrentVoice->Speed, german->Speed);
        QCOMPARE(test.CurrentVoice->Speed, w.tbSpeed->value());
        QCOMPARE(test.SpokenLength, GetTestSentence(1031).size());
        QCOMPARE(rig.Main->GetTestSentence(german), QString("Hallo, dies ist ein Test meiner Stimme."));
        // The sentence reaches the sound server as a stream.
        QVERIFY(TestSupport::WaitFor(
            [] {
                QProcess p;
                p.start("pactl", {"list", "short", "sink-inputs"});
                return p.waitForFinished(5000) && !p.readAllStandardOutput().trimmed().isEmpty();
            },
            15000));
        QVERIFY(TestSupport::WaitFor([&] { return !events.isEmpty(); }, 30000));
        QCOMPARE(events, QList<int>{6});
        QVERIFY(w.btnTest->isEnabled() && w.OkButton()->isEnabled() && w.CancelButton()->isEnabled());
        QCOMPARE(dialogs.Shown.size(), size_t(1));
    }

    // From the menu of the real main window: a voice, its speed, MP3 at a chosen quality, a
    // folder and one file per thread, an engine switch and back, then "OK". A fresh manager
    // reads every choice back, and the next speaking run writes one MP3 per thread into that
    // folder, at that quality, spoken by that voice.
    void okChangesTheNextRun()
    {
        TScopedScriptedWindows dialogs;
        TSampleNewsServer server;
        const QString group = QStringLiteral("alt.test.voices");
        server.AddGroup(group);
        const auto article = [&group](const QByteArray& subject, const QByteArray& id, const QByteArray& refs) {
            QByteArray a = "From: Eve <eve@example.org>\nNewsgroups: " + group.toLatin1() + "\nSubject: " + subject
                + "\nDate: -1d 10:00\nMessage-ID: " + id + "\n";
            if (!refs.isEmpty())
                a += "References: " + refs + "\n";
            return a + "\nOne two three.\n";
        };
        QVERIFY(server.AddArticle(article("Voices", "<v1@t>", "")));
        QVERIFY(server.AddArticle(article("Re: Voices", "<v2@t>", "<v1@t>")));
        QVERIFY(server.Listen());
        WriteConfig(QStringLiteral("127.0.0.1:%1").arg(server.Port()), {group});
        Window win;
        QVERIFY(win.Open());
        win.Form->Store->SetValue("MsgDeleteDays", -1);
        win.Select(group);
        QVERIFY(win.WaitIdle());

        QTemporaryDir out;
        const QString quality = QStringLiteral("64 kbps  44.1 KHz   Mono");
        int speed = 0;
        QString sltId;
        dialogs.DialogHandlers.push_back([&](QDialog* d) {
            auto* w = qobject_cast<TMyTTSPreferences*>(d);
            if (!w)
                return -1;
            TBaseVoiceClass* slt = w->TestTTS()->Voices.FindByName("Slt");
            w->tvVoices->setCurrentItem(w->NodeOfVoice(slt));
            w->btnDefault->click();
            QTest::keyClick(w->tbSpeed, Qt::Key_PageUp);
            speed = slt->Speed;
            sltId = slt->Id;
            // An engine switch and back: the main manager gets new adapters.
            w->cbSapiVersion->setCurrentIndex(1);
            w->cbSapiVersion->setCurrentIndex(2);
            w->tvVoices->setCurrentItem(w->NodeOfVoice(w->TestTTS()->Voices.FindByName("Slt")));
            w->btnDefault->click();
            QTest::keyClick(w->tbSpeed, Qt::Key_PageUp);
            w->Tabs()->setCurrentIndex(2);
            w->cbOutputFormat->setCurrentText("MP3");
            w->cbQuality->setCurrentText(quality);
            w->cbWriteSpeed->setCurrentText("25x");
            dialogs.FolderAnswers.push_back(out.path());
            w->btnBrowse->click();
            w->rbFilePerThread->setChecked(true);
            w->OkButton()->click();
            return w->result();
        });
        dialogs.DefaultDialogHandler = [](QDialog* d) {
            if (auto* info = qobject_cast<TSapiVersionInfo*>(d)) {
                info->chkDisable->click();
                return int(QDialog::Accepted);
            }
            return int(QDialog::Rejected);
        };
        QAction* menu = win.Form->Command("TTSOptions", TCommandPlace::Menu);
        QCOMPARE(menu->text(), QString("&Voice and Audio File options"));
        menu->trigger();
        QCOMPARE(dialogs.DialogTitles,
                 (QStringList{"Setting Voice and Audio File Preferences", "SAPI Version Info"}));
        QVERIFY(dialogs.Shown.empty());
        TBaseTTS& tts = *win.Form->Speech;
        QCOMPARE(tts.GetDefaultVoiceName(), QString("Slt"));
        QCOMPARE(tts.Voices.FindByName("Slt")->Speed, speed);
        QCOMPARE(tts.Voices.FindByName("Slt")->Adapter, static_cast<TSpeechAPI*>(tts.Sapi4Adapter));
        QCOMPARE(win.Form->Store->ThreadFileOption, 1);

        // A later start reads the same choices.
        win.Form->Store->SaveAll();
        {
            TMyRegistryClass fresh;
            fresh.LoadAll();
            QCOMPARE(fresh.ThreadFileOption, 1);
            auto next = NewManager(fresh);
            QCOMPARE(next->DefaultVoiceID, sltId);
            QCOMPARE(next->Voices.FindById(sltId)->Speed, speed);
            QCOMPARE(next->OutputFormat, QString("MP3"));
            QCOMPARE(next->OutputDir, out.path());
            QCOMPARE(next->GetRealTimeText(), QString("25x"));
            QCOMPARE(next->Store->GetValue("MP3_Quality").toString(), quality);
            QVERIFY(!next->Store->GetValue("ShowSapiVersionInfo").toBool());
            QCOMPARE(next->Store->GetValue("SapiVersion").toInt(), 2);
        }

        // The next run: both articles of the thread into one MP3 in the chosen folder.
        for (const QString& id : {QStringLiteral("<v1@t>"), QStringLiteral("<v2@t>")})
            win.Entry(group)->Articles->FindByMessageID(id)->SetSpeakMark(1);
        win.Form->Command("SpeakMarkFile", TCommandPlace::Toolbar)->trigger();
        QVERIFY(TestSupport::WaitFor([&] { return !win.Form->Speaking->Running() && !tts.IsBusy(); }, 120000));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList{"Voices_1.mp3"});
        QFile mp3(out.filePath("Voices_1.mp3"));
        QVERIFY(mp3.open(QIODevice::ReadOnly));
        const QByteArray data = mp3.readAll();
        const TFrameFacts frame = FirstFrame(data);
        QCOMPARE(frame.Kbps, 64);
        QCOMPARE(frame.Rate, 44100);
        QVERIFY(frame.Mono);
        QCOMPARE(Id3v1Artist(data), QString("Vorlix: Slt"));
        QVERIFY(dialogs.Shown.empty());
    }
};

VORLIX_TEST_MAIN(TestTTSPreferences)
#include "test_tts_preferences.moc"
