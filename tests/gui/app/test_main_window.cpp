#include "TestSupport.h"
#include "core/BaseUtils.h"
#include "core/BusyGuard.h"
#include "ScriptedWindows.h"
#include "core/RegistryEnhanced.h"
#include "core/RegistryUnit.h"
#include "gui/app/TipOfDayUnit.h"
#include "gui/app/UsenetUnit.h"
#include "gui/app/VorlixApplication.h"
#include "core/VorlixException.h"
#include "gui/lexicon/LexEdit.h"
#include "gui/prefs/NewsgroupPreferencesUnit.h"
#include "gui/prefs/TBasePreProcPreferencesUnit.h"
#include "preprocess/TTSPreProcessor.h"
#include "gui/speech/SoundCardError.h"
#include "speech/TBaseTTSUnit.h"
#include "speech/TBaseVoiceUnit.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>

namespace {
QString settingsText()
{
    TRegistryEnhanced::Flush();
    QFile f(TRegistryEnhanced::SettingsFilePath());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString logText()
{
    QFile f(UtilsClass::GetLogBase() + ".dbg");
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

void freshSettings()
{
    TRegistryEnhanced::ResetStore();
    QFile::remove(TRegistryEnhanced::SettingsFilePath());
}

QStringList menuTitles(QMenuBar* bar)
{
    QStringList out;
    for (QAction* a : bar->actions())
        out << a->text();
    return out;
}

// Every entry with separators as "|"; toolbar entries by their hint.
QStringList entryTexts(const QList<QAction*>& actions, bool hints = false)
{
    QStringList out;
    for (QAction* a : actions)
        out << (a->isSeparator() ? QStringLiteral("|") : hints ? a->toolTip() : a->text());
    return out;
}

QStringList actionTexts(QMenu* menu)
{
    QStringList out;
    for (QAction* a : menu->actions()) {
        if (!a->isSeparator())
            out << a->text();
    }
    return out;
}

// Throws from inside event delivery, as a command handler would.
class Thrower : public QObject {
public:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User)
            throw EVorlixError("Something went wrong in a handler");
        return QObject::event(e);
    }
};
}

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void firstRunWizard()
    {
        freshSettings();
        TScopedScriptedWindows dialogs;
        dialogs.DialogHandlers.push_back([](QDialog* d) {
            auto* w = qobject_cast<TNewsgroupPreferences*>(d);
            if (!w || !w->WizardMode || w->NextButton()->text() != "&Next >>")
                return int(QDialog::Rejected);
            w->edName->setText("Ann Example");
            w->edEmail->setText("ann@example.org");
            w->NextStep();
            if (w->NextButton()->text() != "&Finish")
                return int(QDialog::Rejected);
            w->edMsgsToRetrieve->setText("150");
            w->NextStep();
            return w->result();
        });
        QVERIFY(RunFirstRunCheck());
        QCOMPARE(dialogs.DialogTitles, QStringList({"Vorlix Options"}));
        const QString ini = settingsText();
        QVERIFY(ini.contains("StartupSaved=1"));
        QVERIFY(ini.contains("EmailAddress=ann@example.org"));
        QVERIFY(ini.contains("MsgsToRetrieve=150"));
        // The wizard is not shown again.
        QVERIFY(RunFirstRunCheck());
        QCOMPARE(dialogs.DialogTitles.size(), 1);
    }

    void abandonedWizardEndsTheProgram()
    {
        freshSettings();
        TScopedScriptedWindows dialogs;
        dialogs.DialogHandlers.push_back([&](QDialog* d) {
            auto* w = qobject_cast<TNewsgroupPreferences*>(d);
            dialogs.Answers = {TDialogAnswer::No, TDialogAnswer::Yes};
            w->CancelClick();              // "No": stays
            const int afterNo = w->CurrentStep;
            w->CancelClick();              // "Yes": abandoned
            return afterNo == 1 ? w->result() : int(QDialog::Accepted);
        });
        QVERIFY(!RunFirstRunCheck());
        QCOMPARE(dialogs.Texts(), QStringList({"Are you sure you want to exit?", "Are you sure you want to exit?"}));
        QVERIFY(!settingsText().contains("StartupSaved=1"));
    }

    void mainWindowLayoutAndCommands()
    {
        freshSettings();
        TScopedScriptedWindows dialogs;
        {
            TForm1 form;
            form.resize(1000, 700);
            form.show();
            QVERIFY(TestSupport::WaitFor([] { return TForm1::Shown; }));
            QCOMPARE(form.windowTitle(), QString("Vorlix"));
            QCOMPARE(menuTitles(form.menuBar()), QStringList({"&File", "&Edit", "&Messages", "&Speaking Controls",
                                                              "&Actions", "&Options", "&Help"}));
            QCOMPARE(actionTexts(TestSupport::Part<QMenu>(&form, "mnuSpeaking")),
                     QStringList({"Speak Selected Messages &Aloud", "Speak Selected Messages to &File",
                                  "Spea&k Marked Messages Aloud", "Speak &Marked Messages to File", "&Pause",
                                  "S&kip", "&Stop"}));
            QCOMPARE(form.Command("SpeakMarkFile", TCommandPlace::Menu)->shortcut(), QKeySequence("Ctrl+F7"));
            QCOMPARE(form.Command("Stop", TCommandPlace::Menu)->shortcut(), QKeySequence("Ctrl+F10"));
            QCOMPARE(form.Command("SelectAll", TCommandPlace::Menu)->shortcut(), QKeySequence("Ctrl+A"));
            QCOMPARE(actionTexts(TestSupport::Part<QMenu>(&form, "popServers")).size(), 11);
            QCOMPARE(actionTexts(TestSupport::Part<QMenu>(&form, "popArticles")).size(), 11);
            QVERIFY(form.FindCommand("Speak marked threads or messages aloud"));
            QVERIFY(form.FindCommand("Display all newsgroups for current server"));
            // Help, options and the speak commands work now; Stop waits for something to stop.
            QVERIFY(form.Command("ExitVorlix", TCommandPlace::Menu)->isEnabled());
            QVERIFY(form.Command("NewsreaderOptions", TCommandPlace::Menu)->isEnabled());
            QVERIFY(form.Command("QuickStart", TCommandPlace::Menu)->isEnabled());
            QVERIFY(form.Command("SpeakSelAloud", TCommandPlace::Menu)->isEnabled());
            QVERIFY(!form.Command("Stop", TCommandPlace::Toolbar)->isEnabled());

            // Server pop-up with nothing selected: only "Add Server" may be enabled.
            form.UpdateCommands();
            QCOMPARE(form.Command("Download", TCommandPlace::ServerPopup)->text(), QString("&Retrieve next 100 messages"));
            QVERIFY(!form.Command("EditServer", TCommandPlace::ServerPopup)->isEnabled());
            QVERIFY(!form.Command("NewsgroupList", TCommandPlace::ServerPopup)->isEnabled());

            // Status bar: three panels at 25 %, 55 % and the rest.
            QCOMPARE(TestSupport::Part<QLabel>(&form, "StatusPanel0")->width(), 250);
            QCOMPARE(TestSupport::Part<QLabel>(&form, "StatusPanel1")->width(), 550);
            QCOMPARE(TestSupport::Part<QLabel>(&form, "StatusPanel1")->text(), QString(" "));
            form.resize(1201, 700);
            QCOMPARE(TestSupport::Part<QLabel>(&form, "StatusPanel0")->width(), 300);
            QCOMPARE(TestSupport::Part<QLabel>(&form, "StatusPanel1")->width(), 661);
            QVERIFY(TestSupport::Part<QProgressBar>(&form, "QueueProgress")->isHidden());
            form.SetStatusText("No more Articles");
            QCOMPARE(form.StatusText(0), QString("No more Articles"));

            // Stored layout: article view height, right panel width (opened at 1000 wide; the
            // 201 pixels more went to it), column widths (Subject takes the rest of the view).
            QCOMPARE(TestSupport::Part<QTreeView>(&form, "tvArticles")->height(), 311);
            QCOMPARE(TestSupport::Part<QWidget>(&form, "pnlRight")->width(), 670 + 201);
            QCOMPARE(TestSupport::Part<QTreeView>(&form, "tvArticles")->columnWidth(2), 146);
            QCOMPARE(TestSupport::Part<QTreeView>(&form, "tvArticles")->model()->headerData(1, Qt::Horizontal).toString(), QString("Subject"));

            TestSupport::Part<QSplitter>(&form, "Splitter2")->setSizes({250, 300});
            emit TestSupport::Part<QSplitter>(&form, "Splitter2")->splitterMoved(250, 1);
            TestSupport::Part<QTreeView>(&form, "tvArticles")->header()->resizeSection(2, 200);
            form.close();
        }
        const QString ini = settingsText();
        QVERIFY(ini.contains("MsgHeaderHeight=250"));
        QVERIFY(ini.contains("MsgHeaderWidth2=200"));
        QVERIFY(ini.contains("Height="));
        QVERIFY(dialogs.Shown.empty());
        QVERIFY(logText().contains(" - Entered FormCreate"));
        QVERIFY(logText().contains(" - Vorlix Version: 1.0"));
        QVERIFY(logText().contains(" - Exit FormShow"));
        QVERIFY(logText().contains(" - Entered FormActivate"));

        // The next start restores what the last one saved.
        TForm1::Shown = false;
        TForm1 again;
        again.show();
        QVERIFY(TestSupport::WaitFor([] { return TForm1::Shown; }));
        QCOMPARE(TestSupport::Part<QTreeView>(&again, "tvArticles")->height(), 250);
        QCOMPARE(TestSupport::Part<QTreeView>(&again, "tvArticles")->columnWidth(2), 200);
        // The saved width, made to fit the screen the window opens on.
        QCOMPARE(again.width(), std::min(1201, again.screen()->availableGeometry().width()));
        again.close();
        TForm1::Shown = false;
    }

    void everyPlaceOfEveryCommand()
    {
        freshSettings();
        TScopedScriptedDialogs dialogs;
        TForm1 form;
        auto menu = [&](const char* name) { return entryTexts(TestSupport::Part<QMenu>(&form, name)->actions()); };
        QCOMPARE(menu("mnuFile"), QStringList({"E&xit Vorlix"}));
        // Captions keep their text; entries without an Alt-letter get the first free one.
        QCOMPARE(menu("mnuEdit"), QStringList({"&Add Server", "&Edit Server", "&Delete Server", "|", "Add &Newsgroup",
                                               "De&lete Newsgroup"}));
        QCOMPARE(menu("mnuMessages"),
                 QStringList({"&Select All Messages", "&Deselect All Messages", "|",
                              "&Mark Selected Messages for Speaking", "M&ark Selected Messages as already Spoken",
                              "&Clear Selected Messages", "|", "Ma&rk Selected Messages as Read",
                              "Mar&k Selected Messages as Unread", "|", "&Watch Selected Messages",
                              "U&nwatch Selected Messages", "|", "Next &Unread Message"}));
        QCOMPARE(menu("mnuActions"),
                 QStringList({"&Download Messages from Server", "&Catch Up Newsgroup", "C&atch Up Server", "|",
                              "&Post New Message", "&Reply to Selected Message", "|", "Delete &Old Threads"}));
        QCOMPARE(menu("mnuOptions"),
                 QStringList({"V&orlix Options", "&Voice and Audio File options", "&Text Preprocessor Options",
                              "&Pronunciation Editor", "|", "&Select Audio Device"}));
        QCOMPARE(menu("mnuHelp"),
                 QStringList({"&Contents", "&Quick Start Guide", "&Tip of the Day", "|", "Vorlix &Support"}));
        QCOMPARE(menu("popServers"),
                 QStringList({"&Add Server", "&Edit Server", "&Delete Server", "|", "Add &Newsgroup",
                              "De&lete Newsgroup", "Ne&wsgroup List", "|", "&Retrieve next 100 messages",
                              "&Catch Up Newsgroup", "Ca&tch Up Server", "|", "Read New&sgroup Aloud",
                              "Read News&group to File"}));
        QCOMPARE(menu("popArticles"),
                 QStringList({"&Speak Selected Messages Aloud", "S&peak Selected Messages to File",
                              "Sp&eak Marked Messages Aloud", "Spe&ak Marked Messages to File", "|",
                              "&Mark Selected Messages for Speaking", "Ma&rk Selected Messages as already Spoken",
                              "&Clear Selected Messages", "|", "Mar&k Selected Messages as Read",
                              "Mark Se&lected Messages as Unread", "|", "&Watch Selected Threads",
                              "&Unwatch Selected Threads"}));
        QToolBar* bar = TestSupport::Part<QToolBar>(&form, "ToolBar1");
        QCOMPARE(entryTexts(bar->actions(), true),
                 QStringList({"Add a newsgroup server", "Add a newsgroup", "Delete selected newsgroup",
                              "Display all newsgroups for current server", "|", "Download Messages from Server",
                              "Post a new message", "Reply to the current message", "|",
                              "Speak selected threads or messages aloud", "Speak selected threads or messages to file",
                              "Speak marked threads or messages aloud", "Speak marked threads or messages to file",
                              "Pause / Resume speaking", "Skip speaking to next message", "Stop speaking"}));
        QVERIFY(form.Command("Pause", TCommandPlace::Toolbar)->isCheckable());
        QCOMPARE(form.Command("Contents", TCommandPlace::Menu)->shortcut(), QKeySequence(QKeySequence::HelpContents));
        // Idle speech: the speak commands and the device are enabled in the menu and on the
        // toolbar; Pause, Skip and Stop are disabled by the speech manager.
        QVERIFY(form.Speech && form.Speech->Voices.Count() > 0);
        QVERIFY(form.Command("SelectDevice", TCommandPlace::Menu)->isEnabled());
        QVERIFY(form.Command("TTSOptions", TCommandPlace::Menu)->isEnabled());
        for (const char* id : {"SpeakSelAloud", "SpeakSelFile", "SpeakMarkAloud", "SpeakMarkFile"})
            for (TCommandPlace place : {TCommandPlace::Menu, TCommandPlace::Toolbar})
                QVERIFY2(form.Command(id, place)->isEnabled(), id);
        for (const char* id : {"Pause", "Skip", "Stop"}) {
            for (TCommandPlace place : {TCommandPlace::Menu, TCommandPlace::Toolbar, TCommandPlace::ServerPopup,
                                        TCommandPlace::ArticlePopup}) {
                if (QAction* a = form.Command(id, place))
                    QVERIFY2(!a->isEnabled(), id);
            }
        }
    }

    // The speech manager drives the speech controls of the window: their enabling by its
    // state, the Pause caption and toggle, Stop while the program is busy, the sound device
    // command, and the "Vorlix: " before the artist of an MP3 made through the window's manager.
    void speechControls()
    {
        VORLIX_REQUIRE_PULSE();
        VORLIX_REQUIRE_PROGRAM(QStringLiteral("mid3v2"));
        freshSettings();
        TScopedScriptedWindows dialogs;
        TForm1 form;
        TBaseTTS& tts = *form.Speech;
        auto enabled = [&form](const char* id, TCommandPlace place) { return form.Command(id, place)->isEnabled(); };

        // The real device window: the first device after the default one is chosen.
        dialogs.DialogHandlers.push_back([](QDialog* d) {
            auto* w = qobject_cast<TAudioDeviceForm*>(d);
            if (!w || w->lstDevices->count() < 2 || w->lstDevices->currentRow() != 0)
                return int(QDialog::Rejected);
            w->lstDevices->setCurrentRow(1);
            return int(QDialog::Accepted);
        });
        form.Command("SelectDevice", TCommandPlace::Menu)->trigger();
        QCOMPARE(dialogs.DialogTitles, QStringList{QStringLiteral("Audio Destination Device ID")});
        QCOMPARE(dialogs.DeviceRequests, std::vector<int>{-1});
        QCOMPARE(tts.AudioDeviceId, 0);
        QVERIFY(settingsText().contains("TTS_AudioDeviceId=0"));

        TBaseVoiceClass* voice = nullptr;
        for (int i = 0; i < tts.Voices.Count() && !voice; ++i)
            if (tts.Voices[i]->Enabled && tts.Voices[i]->Engine->Api == QLatin1String("Sapi5"))
                voice = tts.Voices[i];
        QVERIFY(voice);
        tts.Speak2(voice, QStringLiteral("one two three four five six seven eight nine ten eleven twelve thirteen"));
        for (TCommandPlace place : {TCommandPlace::Menu, TCommandPlace::Toolbar}) {
            QVERIFY(enabled("Pause", place) && enabled("Skip", place) && enabled("Stop", place));
        }
        QVERIFY(!enabled("SelectDevice", TCommandPlace::Menu));
        form.Command("Pause", TCommandPlace::Menu)->trigger();
        QVERIFY(tts.IsPaused());
        QCOMPARE(form.Command("Pause", TCommandPlace::Menu)->text(), QStringLiteral("&Resume"));
        QVERIFY(form.Command("Pause", TCommandPlace::Toolbar)->isChecked());
        QVERIFY(!enabled("Skip", TCommandPlace::Toolbar));
        form.Command("Pause", TCommandPlace::Toolbar)->trigger();
        QVERIFY(!tts.IsPaused());
        QCOMPARE(form.Command("Pause", TCommandPlace::Menu)->text(), QStringLiteral("&Pause"));
        QVERIFY(!form.Command("Pause", TCommandPlace::Toolbar)->isChecked());
        {
            // Stop reaches the speech even while events are let run in the middle of a job.
            TBusyGuard busy;
            form.Command("Stop", TCommandPlace::Toolbar)->trigger();
        }
        QVERIFY(!tts.IsBusy());
        QVERIFY(!enabled("Stop", TCommandPlace::Menu) && enabled("SelectDevice", TCommandPlace::Menu));

        QTemporaryDir dir;
        tts.OutputMode = 1;
        tts.OutputDir = dir.path();
        tts.SetOutputFormat(QStringLiteral("MP3"));
        tts.SetOutputFile(QStringLiteral("thread"));
        bool converting = false;
        auto windowHandler = tts.OnConvertStart;
        tts.OnConvertStart = [&](TBaseTTS* sender) {
            windowHandler(sender);
            converting = true;
            QCOMPARE(form.StatusText(1), QStringLiteral("Converting to MP3"));
        };
        tts.Speak2(voice, QStringLiteral("A short article."));
        QVERIFY(TestSupport::WaitFor([&] { return !tts.IsBusy() && converting; }, 30000));
        QProcess mid3v2;
        mid3v2.start(QStringLiteral("mid3v2"), {QStringLiteral("--list"), dir.filePath(QStringLiteral("thread.mp3"))});
        QVERIFY(mid3v2.waitForFinished(30000));
        QVERIFY(QString::fromUtf8(mid3v2.readAllStandardOutput()).contains(QStringLiteral("TPE1=Vorlix: ") + voice->DisplayName));
    }

    void optionsAndTips()
    {
        freshSettings();
        TScopedScriptedWindows dialogs;
        TForm1 form;
        dialogs.DialogHandlers.push_back([](QDialog* d) {
            auto* w = qobject_cast<TNewsgroupPreferences*>(d);
            if (!w || w->WizardMode)
                return 0;
            w->edMsgDeleteDays->setText("45");
            w->OkClick();
            return w->result();
        });
        // A change of this session that the file does not have yet survives the options window.
        form.Store->SetValue("MsgHeaderWidth1", 555);
        form.Command("NewsreaderOptions", TCommandPlace::Menu)->trigger();
        QCOMPARE(form.Store->GetValue("MsgDeleteDays").toInt(), 45);
        QVERIFY(settingsText().contains("MsgDeleteDays=45"));
        QCOMPARE(form.Store->GetValue("MsgHeaderWidth1").toInt(), 555);
        // Emptied or 0 number fields keep the values stored before.
        const int retrieve = form.Store->GetValue("MsgsToRetrieve").toInt();
        QVERIFY(retrieve > 0);
        dialogs.DialogHandlers.push_back([](QDialog* d) {
            auto* w = qobject_cast<TNewsgroupPreferences*>(d);
            w->edMsgDeleteDays->setText("");
            w->edMsgsToRetrieve->setText("0");
            w->OkClick();
            return w->result();
        });
        form.Command("NewsreaderOptions", TCommandPlace::Menu)->trigger();
        QCOMPARE(form.Store->GetValue("MsgDeleteDays").toInt(), 45);
        QCOMPARE(form.Store->GetValue("MsgsToRetrieve").toInt(), retrieve);

        const QStringList tips = TTipOfDayForm::LoadTips(UtilsClass::FindSharedFile("tips.chl"));
        QVERIFY(tips.size() >= 5);
        QString seen, seenNext;
        dialogs.DialogHandlers.push_back([&](QDialog* d) {
            auto* t = qobject_cast<TTipOfDayForm*>(d);
            seen = t->CurrentTip();
            t->NextTipClick();
            seenNext = t->CurrentTip();
            t->accept();
            return t->result();
        });
        {
            // While the program is busy commands are held back.
            TBusyGuard busy;
            form.Command("TipOfDay", TCommandPlace::Menu)->trigger();
        }
        QVERIFY(seen.isEmpty());
        form.Command("TipOfDay", TCommandPlace::Menu)->trigger();
        QCOMPARE(seen, tips.at(0));
        QCOMPARE(seenNext, tips.at(1));
        // The next showing continues after the tip read last.
        QCOMPARE(ReadProgramValue("NextTip"), QString("2"));
        QCOMPARE(ReadProgramValue("ShowTips"), QString("Y"));
    }

    // Settings that cannot be written are reported where the user saves them: the options
    // window's OK and the end of the program.
    void settingsThatCannotBeSavedAreReported()
    {
        const QByteArray oldHome = qgetenv("VORLIX_HOME");
        const QString home = QString::fromUtf8(oldHome) + "/small-disk";
        TestSupport::TSmallDisk disk(home, "8m");
        if (!disk.Mounted())
            QSKIP("mounting a small tmpfs is not permitted here (needs root); the full-disk case is not run");
        TRegistryEnhanced::ResetStore();
        qputenv("VORLIX_HOME", home.toUtf8());
        struct Restore {
            QByteArray home;
            ~Restore()
            {
                TRegistryEnhanced::ResetStore();
                qputenv("VORLIX_HOME", home);
            }
        } restore{oldHome};
        TScopedScriptedWindows dialogs;
        TForm1 form;
        QVERIFY(TRegistryEnhanced::Flush());
        const QString path = TRegistryEnhanced::SettingsFilePath();
        QVERIFY(path.startsWith(home));
        const QString failure = "The settings could not be saved to \"" + path + "\": No space left on device.";

        disk.Fill();
        dialogs.DialogHandlers.push_back([](QDialog* d) {
            auto* w = qobject_cast<TNewsgroupPreferences*>(d);
            w->edMsgDeleteDays->setText("45");
            w->OkClick();
            return w->result();
        });
        form.Command("NewsreaderOptions", TCommandPlace::Menu)->trigger();
        QCOMPARE(dialogs.Shown.size(), size_t(1));
        QVERIFY2(dialogs.LastText().startsWith(failure), qPrintable(dialogs.LastText()));
        QCOMPARE(form.Store->GetValue("MsgDeleteDays").toInt(), 45);
        form.FormClose();
        QCOMPARE(dialogs.Shown.size(), size_t(2));
        QVERIFY(dialogs.LastText().startsWith(failure));

        // With room again the values of the session reach the file, and nothing is reported.
        QVERIFY(QFile::remove(home + "/filler"));
        form.FormClose();
        QCOMPARE(dialogs.Shown.size(), size_t(2));
        QVERIFY(settingsText().contains("MsgDeleteDays=45"));
    }

    // The text preprocessor options and the pronunciation editor open from the Options menu and
    // change what the main speech manager's preprocessor makes of the next text.
    void preprocessorOptionsAndPronunciationEditor()
    {
        freshSettings();
        TScopedScriptedWindows dialogs;
        TForm1 form;
        TPreProcessor* pp = form.Speech->Preprocessor;
        QVERIFY(pp);
        const bool filter = pp->FilterSymbols;
        dialogs.DialogHandlers.push_back([filter](QDialog* d) {
            auto* w = qobject_cast<TBasePreProcPreferences*>(d);
            if (!w || w->WizardMode)
                return 0;
            w->chkFilterSymbols->setChecked(!filter);
            w->OkClick();
            return w->result();
        });
        form.Command("TextPreprocessorOptions", TCommandPlace::Menu)->trigger();
        QCOMPARE(dialogs.DialogTitles, QStringList{"Setting Text Pre-Processor Preferences"});
        QCOMPARE(pp->FilterSymbols, !filter);
        QVERIFY(settingsText().contains(QStringLiteral("TTS_FilterSymbols=") + (filter ? "false" : "true")));

        dialogs.DialogHandlers.push_back([](QDialog* d) {
            auto* w = qobject_cast<TLexEditForm*>(d);
            if (!w)
                return 0;
            w->show();
            w->edWord->setText("brb");
            w->edPronunciation->setText("be right back");
            w->btnApply->click();
            w->btnDone->click();
            return w->result();
        });
        form.Command("LexEdit", TCommandPlace::Menu)->trigger();
        QCOMPARE(dialogs.DialogTitles.last(), QString("Pronunciation Editor"));
        QVERIFY2(dialogs.Shown.empty(), qPrintable(dialogs.Texts().join('|')));
        QVERIFY(pp->FilterText(TFilterTarget{}, "ok brb").contains("be right back"));
    }

    void escapedExceptionsAreShownAndTheProgramGoesOn()
    {
        TScopedScriptedWindows dialogs;
        Thrower t;
        QCoreApplication::postEvent(&t, new QEvent(QEvent::User));
        QVERIFY(TestSupport::WaitFor([&] { return !dialogs.Shown.empty(); }));
        QCOMPARE(dialogs.LastText(), QString("Something went wrong in a handler"));
        QVERIFY(logText().contains("Exception: Something went wrong in a handler"));
    }

    void secondStartBringsTheFirstToFront()
    {
        // The real program, started twice with the same home folder.
        freshSettings();
        TMyRegistryClass store;
        store.SetStartupSaved();
        TRegistryEnhanced::Flush();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("VORLIX_NO_SPLASH", "1");
        // Only the child may write "Exit FormShow" from now on.
        QFile::remove(UtilsClass::GetLogBase() + ".dbg");
        QProcess first;
        first.setProcessEnvironment(env);
        first.start(VORLIX_BINARY, {});
        QVERIFY(first.waitForStarted());
        QVERIFY2(TestSupport::WaitFor([] { return logText().contains("Exit FormShow"); }, 20000), qPrintable(logText()));
        QProcess second;
        second.setProcessEnvironment(env);
        second.start(VORLIX_BINARY, {});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(TestSupport::WaitFor([] { return logText().contains("Brought to the front by a second start"); }));
        QCOMPARE(first.state(), QProcess::Running);
        first.kill();
        first.waitForFinished();
    }
};

VORLIX_TEST_MAIN_APP(TestMainWindow, TVorlixApplication)
#include "test_main_window.moc"
