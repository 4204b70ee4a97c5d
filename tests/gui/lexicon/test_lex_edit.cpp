// The "Pronunciation Editor" over the real speech manager and engines: the user translations
// on the basic page, the user lexicon on the advanced page with its phoneme table, the rules of
// validation, normalising and symbol insertion, what a lexicon word does to the eSpeak NG voice,
// and the test buttons speaking through the editor's own manager into the null sink.
#include "ScriptedWindows.h"
#include "TestSupport.h"
#include "test_engine_support.h"

#include "core/BaseUtils.h"
#include "core/RegistryUnit.h"
#include "gui/lexicon/LexEdit.h"
#include "preprocess/TLookUpTableUnit.h"
#include "preprocess/TTSPreProcessor.h"
#include "speech/PrivateSpeechManager.h"
#include "speech/Sapi5Wrapper.h"
#include "speech/TBaseTTSUnit.h"
#include "speech/TBaseVoiceUnit.h"
#include "speech/TBaseEngineUnit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <memory>

namespace {
std::unique_ptr<TBaseTTS> NewManager(TMyRegistryClass& store, bool sapi5 = true)
{
    auto tts = std::make_unique<TBaseTTS>();
    tts->SetPreprocessor(new TGroupsPreProcessor);
    tts->SetShowExceptionDialogs(false);
    tts->InitProperties(store);
    tts->InitVoices(store, true, false, sapi5);
    return tts;
}

QStringList Column(const QTreeWidget* list, int column = 0)
{
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        out << list->topLevelItem(i)->text(column);
    return out;
}

QTreeWidgetItem* Row(const QTreeWidget* list, const QString& caption)
{
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->text(0) == caption)
            return list->topLevelItem(i);
    return nullptr;
}

void Select(QTreeWidget* list, const QStringList& captions)
{
    list->clearSelection();
    for (const QString& c : captions) {
        QTreeWidgetItem* item = Row(list, c);
        QVERIFY2(item, qPrintable(c));
        item->setSelected(true);
    }
}

QString FileText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QStringList LexiconWords()
{
    QStringList out;
    for (const TSpLexiconEntry& e : TSpLexicon().GetWords())
        out << e.Word + QLatin1Char('=') + e.Pronunciation;
    return out;
}

}

class TestLexEdit : public QObject {
    Q_OBJECT
    std::unique_ptr<TMyRegistryClass> store;
    std::unique_ptr<TBaseTTS> main;

    // An editor shown and through its first activation.
    std::unique_ptr<TLexEditForm> open(TBaseTTS* speech = nullptr)
    {
        auto w = std::make_unique<TLexEditForm>(speech ? speech : main.get());
        w->show();
        w->FormActivate();
        return w;
    }

    TBaseVoiceClass* espeakVoice() const
    {
        for (int i = 0; i < main->Voices.Count(); ++i) {
            TBaseVoiceClass* v = main->Voices[i];
            if (v->Enabled && v->Engine && v->Engine->Api == QLatin1String("Sapi5") && v->Language == 1033)
                return v;
        }
        return nullptr;
    }

    // Speaks the text into a WAV file through the main manager, as a speaking run does.
    TWavFacts render(const QString& folder, const QString& name, const QString& text, TBaseTTS* tts = nullptr)
    {
        TBaseTTS* const speaker = tts ? tts : main.get();
        TBaseVoiceClass* const voice = speaker->Voices.FindById(espeakVoice()->Id);
        speaker->OutputMode = 1;
        speaker->OutputDir = folder;
        speaker->SetOutputFormat(QStringLiteral("Wav"));
        speaker->SetOutputFile(name);
        QList<int> codes;
        speaker->OnSpeechEvent = [&codes](TBaseTTS*, unsigned char code, const QString&) { codes << code; };
        speaker->Speak2(voice, text);
        TestSupport::WaitFor([&] { return !codes.isEmpty(); }, 60000);
        speaker->OnSpeechEvent = nullptr;
        speaker->OutputMode = 0;
        if (codes != QList<int>{6})
            return {};
        return ReadWav(folder + QLatin1Char('/') + name + QStringLiteral(".wav"));
    }

private slots:
    void initTestCase()
    {
        store = std::make_unique<TMyRegistryClass>();
        store->LoadAll();
        main = NewManager(*store);
        QVERIFY(main->HasEngineApi(QStringLiteral("Sapi5")));
        QVERIFY(espeakVoice());
    }

    void init()
    {
        for (const TSpLexiconEntry& e : TSpLexicon().GetWords())
            TSpLexicon().RemovePronunciation(e.Word, 0, 0, QString());
    }

    void cleanupTestCase()
    {
        main.reset();
        store.reset();
    }

    // Basic page: the translations listed, the character rules, Apply adding and replacing,
    // and the row chosen by typing a word.
    void basicPageEditsTranslations()
    {
        TScopedScriptedWindows dialogs;
        auto w = open();
        TLookupTable& table = main->Preprocessor->Translations;
        QCOMPARE(w->PageControl->currentWidget(), w->tsBasic);
        QCOMPARE(Column(w->lvBasic), QStringList({"imo", "pls", "thx", "tia"}));
        QCOMPARE(Row(w->lvBasic, "tia")->text(1), QStringLiteral("thanks in advance"));
        QCOMPARE(Row(w->lvBasic, "tia")->text(2), QStringLiteral(" "));
        QVERIFY(w->cbBasicVoice->count() >= 2);
        QCOMPARE(w->cbBasicVoice->currentText(), main->GetDefaultVoiceName());

        // Rejected: no change to the table, the message says why.
        const struct {
            const char* word;
            const char* pronunciation;
            const char* message;
        } refused[] = {
            {"  ", "x", "Enter a word first, then how you would like the word pronounced"},
            {"Mr", "Mr.", "The Pronunciation string 'Mr.' contains invalid characters.\n\r"
                          "Only alpha numeric characters and spaces are allowed"},
            {"NYC", "   ", "Enter a pronunciation for the word 'NYC'"},
        };
        for (const auto& r : refused) {
            w->edWord->setText(QString::fromUtf8(r.word));
            w->edPronunciation->setText(QString::fromUtf8(r.pronunciation));
            w->btnApply->click();
            QCOMPARE(dialogs.LastText(), QString::fromUtf8(r.message));
        }
        QCOMPARE(table.Count(), 4);
        dialogs.Clear();

        // Accepted, trimmed, case flag kept, saved and selected.
        for (const auto& [word, pron] : {std::pair{" NYC ", "New Yawk "}, std::pair{"eq", "a=b"}, std::pair{"xv", "{x}"}}) {
            w->edWord->setText(QString::fromUtf8(word));
            w->edPronunciation->setText(QString::fromUtf8(pron));
            w->chkCaseSensitive->setChecked(QByteArray(word) == " NYC ");
            w->btnApply->click();
        }
        QVERIFY2(dialogs.Shown.empty(), qPrintable(dialogs.Texts().join('|')));
        QCOMPARE(table.Find(QStringLiteral("NYC"))->Pronunciation, QStringLiteral("New Yawk"));
        QVERIFY(table.Find(QStringLiteral("NYC"))->CaseSensitive);
        QCOMPARE(Column(w->lvBasic), QStringList({"NYC", "eq", "imo", "pls", "thx", "tia", "xv"}));
        QCOMPARE(w->lvBasic->selectedItems().size(), 1);
        QCOMPARE(w->lvBasic->selectedItems().first()->text(0), QStringLiteral("xv"));
        QVERIFY(w->btnNew->isDefault());
        const QString file = FileText(UtilsClass::GetProgramFolder() + QLatin1String(UserTranslationsFileName));
        QVERIFY2(file.contains(QStringLiteral("0~NYC~New Yawk~T\r\n")), qPrintable(file));
        QVERIFY(file.contains(QStringLiteral("0~tia~thanks in advance~F\r\n")));

        // Typing a listed word (in any case) selects its row and fills the fields; Apply
        // replaces its pronunciation.
        w->edWord->setText(QStringLiteral("TIA"));
        w->edWordExit();
        QCOMPARE(w->lvBasic->selectedItems().first()->text(0), QStringLiteral("tia"));
        QCOMPARE(w->edPronunciation->text(), QStringLiteral("thanks in advance"));
        QVERIFY(w->btnApply->isDefault());
        w->edWord->setText(QStringLiteral("tia"));
        w->edPronunciation->setText(QStringLiteral("thank you in advance"));
        w->btnApply->click();
        QCOMPARE(table.Find(QStringLiteral("tia"))->Pronunciation, QStringLiteral("thank you in advance"));
        QCOMPARE(table.Count(), 7);
        // An unknown word clears the pronunciation and the case flag.
        w->edWord->setText(QStringLiteral("brb"));
        w->chkCaseSensitive->setChecked(true);
        w->edWordExit();
        QVERIFY(w->lvBasic->selectedItems().isEmpty());
        QVERIFY(w->edPronunciation->text().isEmpty() && !w->chkCaseSensitive->isChecked());

        // Selecting a row fills the fields; several rows disable New, Apply and Test.
        Select(w->lvBasic, {"NYC"});
        QCOMPARE(w->edPronunciation->text(), QStringLiteral("New Yawk"));
        QVERIFY(w->chkCaseSensitive->isChecked());
        Select(w->lvBasic, {"NYC", "eq"});
        QVERIFY(!w->btnNew->isEnabled() && !w->btnApply->isEnabled() && !w->btnTest->isEnabled());
        QVERIFY(w->btnDelete->isEnabled());
        Select(w->lvBasic, {"eq"});
        QVERIFY(w->btnNew->isEnabled() && w->btnApply->isEnabled() && w->btnTest->isEnabled());
    }

    // Basic page "Delete": the confirmation, one row, several rows, a word not listed, a word
    // with blanks around it, and Cancel.
    void basicDelete()
    {
        TScopedScriptedWindows dialogs;
        TLookupTable& table = main->Preprocessor->Translations;
        table.Clear();
        for (const char* k : {"aa", "bb", "cc", "dd"})
            table.Add(QString::fromLatin1(k), QStringLiteral("x"), 0, false);
        auto w = open();

        w->btnDelete->click();
        QCOMPARE(dialogs.LastText(), QStringLiteral("Enter the word you want deleted from your custom pronunciation list"));

        Select(w->lvBasic, {"aa"});
        dialogs.Answers.push_back(TDialogAnswer::Cancel);
        w->btnDelete->click();
        QCOMPARE(dialogs.LastText(), QStringLiteral("Delete the word 'aa' from your custom pronunciations ?"));
        QCOMPARE(table.Count(), 4);

        Select(w->lvBasic, {"aa"});
        dialogs.Answers.push_back(TDialogAnswer::Ok);
        w->btnDelete->click();
        QVERIFY(!table.Exists(QStringLiteral("aa")));
        QCOMPARE(Column(w->lvBasic), QStringList({"bb", "cc", "dd"}));
        QVERIFY(w->edWord->text().isEmpty() && w->btnNew->isDefault());

        Select(w->lvBasic, {"bb", "dd"});
        w->edWord->setText(QStringLiteral("bb"));
        dialogs.Answers.push_back(TDialogAnswer::Ok);
        w->btnDelete->click();
        QCOMPARE(dialogs.Shown[dialogs.Shown.size() - 1].Text,
                 QStringLiteral("Delete the selected words from your custom pronunciations ?"));
        QCOMPARE(Column(w->lvBasic), QStringList{"cc"});
        QCOMPARE(table.Count(), 1);

        w->edWord->setText(QStringLiteral("zz"));
        w->lvBasic->clearSelection();
        dialogs.Answers.push_back(TDialogAnswer::Ok);
        w->btnDelete->click();
        QCOMPARE(dialogs.LastText(), QStringLiteral("zz is not defined in your custom pronunciation list"));

        // The table looks keys up exactly: blanks around the word make it fail there.
        Select(w->lvBasic, {"cc"});
        w->edWord->setText(QStringLiteral(" cc "));
        dialogs.Answers.push_back(TDialogAnswer::Ok);
        w->btnDelete->click();
        QCOMPARE(dialogs.LastText(), QStringLiteral("String  cc  is not defined"));
        QCOMPARE(dialogs.Shown.back().Kind, TMessageKind::Error);
        QCOMPARE(table.Count(), 1);
        const QString file = FileText(UtilsClass::GetProgramFolder() + QLatin1String(UserTranslationsFileName));
        QCOMPARE(file, QStringLiteral("0~cc~x~F\r\n"));
    }

    // Advanced page: word and phoneme validation, the normal form, Apply replacing a defined
    // word and adding a new one without a message.
    void advancedApply()
    {
        TScopedScriptedWindows dialogs;
        auto w = open();
        QVERIFY(w->Sapi5Mode());
        QCOMPARE(w->PageControl->count(), 2);
        QCOMPARE(w->PageControl->tabText(1), QStringLiteral("Advanced Editting"));
        w->PageControl->setCurrentWidget(w->tsAdvanced);
        QCOMPARE(w->lvPhonemes->topLevelItemCount(), w->Phonemes().Rows.size());
        QCOMPARE(w->lvPhonemes->headerItem()->text(1), QStringLiteral("Sounds Like ...."));
        QVERIFY(w->cbAdvVoice->count() >= 1);
        for (int i = 0; i < w->cbAdvVoice->count(); ++i)
            QVERIFY(main->Voices.FindByName(w->cbAdvVoice->itemText(i))->Engine->Api == QLatin1String("Sapi5"));

        const struct {
            const char* word;
            const char* pronunciation;
            const char* message;
        } refused[] = {
            {"New York", "n uw", "The word 'New York' contains invalid characters.\n\r"
                                 "Spaces and non-alphanumeric characters are not allowed"},
            {"rock'n'roll", "r aa k", "The word 'rock'n'roll' contains invalid characters.\n\r"
                                      "Spaces and non-alphanumeric characters are not allowed"},
            {"hello", "  ", "Enter a pronunciation for the word 'hello'"},
            {"hello", "h eh qq l ow", "Invalid phoneme - qq"},
        };
        for (const auto& r : refused) {
            w->edAdvWord->setText(QString::fromUtf8(r.word));
            w->edAdvPronunciation->setText(QString::fromUtf8(r.pronunciation));
            w->btnAdvApply->click();
            QCOMPARE(dialogs.LastText(), QString::fromUtf8(r.message));
        }
        QCOMPARE(w->edAdvPronunciation->selectedText(), QStringLiteral("qq"));
        QCOMPARE(w->edAdvPronunciation->selectionStart(), 5);
        QVERIFY(LexiconWords().isEmpty());
        dialogs.Clear();

        w->edAdvWord->setText(QStringLiteral("hello"));
        w->edAdvPronunciation->setText(QStringLiteral("h  eh l   ow"));
        w->btnAdvApply->click();
        QVERIFY(dialogs.Shown.empty());
        QCOMPARE(w->edAdvPronunciation->text(), QStringLiteral("h eh l ow"));
        QCOMPARE(LexiconWords(), QStringList{"hello=h eh l ow"});
        QCOMPARE(Column(w->lvWords), QStringList{"hello"});
        QCOMPARE(w->lvWords->selectedItems().first()->text(0), QStringLiteral("hello"));

        // Defined already: replaced, not added twice.
        w->edAdvWord->setText(QStringLiteral("Hello"));
        w->edAdvWordExit();
        QCOMPARE(w->edAdvPronunciation->text(), QStringLiteral("h eh l ow"));
        QVERIFY(w->btnAdvApply->isDefault());
        w->edAdvPronunciation->setText(QStringLiteral("h ax 1 l ow"));
        w->btnAdvApply->click();
        QVERIFY(dialogs.Shown.empty());
        QCOMPARE(LexiconWords(), QStringList{"Hello=h ax 1 l ow"}); // as typed this time

        // Selecting a row shows its pronunciation; the list is the lexicon, sorted.
        w->edAdvWord->setText(QStringLiteral("Vorlix"));
        w->edAdvPronunciation->setText(QStringLiteral("v ao 1 r - l ih k s"));
        w->btnAdvApply->click();
        QCOMPARE(Column(w->lvWords), QStringList({"Hello", "Vorlix"}));
        Select(w->lvWords, {"Hello"});
        QCOMPARE(w->edAdvWord->text(), QStringLiteral("Hello"));
        QCOMPARE(w->edAdvPronunciation->text(), QStringLiteral("h ax 1 l ow"));
        Select(w->lvWords, {"Hello", "Vorlix"});
        QVERIFY(!w->btnAdvNew->isEnabled() && !w->btnAdvApply->isEnabled() && !w->btnAdvTest->isEnabled());
        QVERIFY(dialogs.Shown.empty());
        // The lexicon persists in the home folder.
        QVERIFY(FileText(TSpLexicon::FileName()).contains(QStringLiteral("Vorlix|1033|0|v ao 1 r - l ih k s\r\n")));
    }

    // Delete of three selected words whose second is no longer defined: the first goes, the
    // second is reported, the third stays.
    void advancedDeleteStopsAtAnUndefinedWord()
    {
        TScopedScriptedWindows dialogs;
        TSpLexicon lexicon;
        for (const char* word : {"alpha", "bravo", "charlie"})
            lexicon.AddPronunciation(QString::fromLatin1(word), 1033, 0, QStringLiteral("aa"));
        auto w = open();
        w->PageControl->setCurrentWidget(w->tsAdvanced);
        QCOMPARE(Column(w->lvWords), QStringList({"alpha", "bravo", "charlie"}));
        lexicon.RemovePronunciation(QStringLiteral("bravo"), 1033, 0, QString()); // gone behind the list's back
        Select(w->lvWords, {"alpha", "bravo", "charlie"});
        w->edAdvWord->setText(QStringLiteral("alpha"));
        dialogs.Answers.push_back(TDialogAnswer::Ok);
        w->btnAdvDelete->click();
        QCOMPARE(dialogs.Texts(), QStringList({"Delete the selected words from your custom pronunciations ?",
                                               "bravo is not defined in your custom pronunciation list"}));
        QCOMPARE(LexiconWords(), QStringList{"charlie=aa"});
        QCOMPARE(Column(w->lvWords), QStringList{"charlie"});
        QVERIFY(w->edAdvWord->text().isEmpty() && w->edAdvPronunciation->text().isEmpty());

        // One word, confirmed: removed.
        Select(w->lvWords, {"charlie"});
        dialogs.Answers.push_back(TDialogAnswer::Ok);
        w->btnAdvDelete->click();
        QCOMPARE(dialogs.Shown[2].Text, QStringLiteral("Delete the word 'charlie' from your custom pronunciations ?"));
        QVERIFY(LexiconWords().isEmpty());
        QCOMPARE(w->lvWords->topLevelItemCount(), 0);
    }

    // Double-clicking a phoneme: the word first, never inside a token, spaces added only where
    // missing; the warning image follows every insertion and key release.
    void phonemeInsertionAndWarning()
    {
        TScopedScriptedWindows dialogs;
        auto w = open();
        w->PageControl->setCurrentWidget(w->tsAdvanced);
        QTreeWidgetItem* ow = nullptr;
        for (int i = 0; i < w->lvPhonemes->topLevelItemCount(); ++i)
            if (w->lvPhonemes->topLevelItem(i)->text(0) == QLatin1String("ow"))
                ow = w->lvPhonemes->topLevelItem(i);
        QVERIFY(ow);

        w->edAdvPronunciation->setText(QStringLiteral("h eh"));
        w->lvPhonemesDblClick(ow);
        QCOMPARE(dialogs.LastText(), QStringLiteral("First enter a new word, or select a word you have already defined"));
        QCOMPARE(w->edAdvPronunciation->text(), QStringLiteral("h eh"));

        w->edAdvWord->setText(QStringLiteral("hello"));
        w->edAdvPronunciation->setText(QStringLiteral("h eh l"));
        w->edAdvPronunciation->setCursorPosition(3); // between "e" and "h"
        w->lvPhonemesDblClick(ow);
        QCOMPARE(dialogs.LastText(), QStringLiteral("Invalid phoneme symbol insertion.  Position cursor between phoneme strings"));
        QCOMPARE(w->edAdvPronunciation->text(), QStringLiteral("h eh l"));

        w->edAdvPronunciation->setCursorPosition(5); // after "eh "
        w->lvPhonemesDblClick(ow);
        QCOMPARE(w->edAdvPronunciation->text(), QStringLiteral("h eh ow l"));
        QCOMPARE(w->edAdvPronunciation->cursorPosition(), 8);
        // A selection collapses to the caret: nothing selected is replaced.
        w->edAdvPronunciation->setText(QStringLiteral("h eh l"));
        w->edAdvPronunciation->setSelection(0, 4); // caret after "eh"
        w->lvPhonemesDblClick(ow);
        QCOMPARE(w->edAdvPronunciation->text(), QStringLiteral("h eh ow l"));
        // At the very start the symbol goes to the end.
        w->edAdvPronunciation->setText(QStringLiteral("h eh l"));
        w->edAdvPronunciation->setCursorPosition(0);
        w->lvPhonemesDblClick(ow);
        QCOMPARE(w->edAdvPronunciation->text(), QStringLiteral("h eh l ow"));
        QCOMPARE(dialogs.Shown.size(), size_t(2));

        // The warning image: a token outside the table shows it, typing it right hides it.
        QVERIFY(w->imgWarning->isHidden());
        w->edAdvPronunciation->setFocus();
        w->edAdvPronunciation->setCursorPosition(w->edAdvPronunciation->text().size());
        QTest::keyClicks(w->edAdvPronunciation, QStringLiteral(" q"));
        QVERIFY(!w->imgWarning->isHidden());
        QTest::keyClick(w->edAdvPronunciation, Qt::Key_Backspace);
        QVERIFY(w->imgWarning->isHidden()); // a trailing blank is no token
        w->edAdvPronunciation->setText(QStringLiteral("h eh zz "));
        w->edAdvPronunciation->setCursorPosition(0);
        w->lvPhonemesDblClick(ow); // "h eh zz  ow": still holds zz
        QVERIFY(!w->imgWarning->isHidden());
        w->btnAdvNew->click();
        QVERIFY(w->imgWarning->isHidden());
        QVERIFY(w->edAdvWord->text().isEmpty());
        QTest::keyClick(w->edAdvPronunciation, Qt::Key_Space);
        QVERIFY(w->imgWarning->isHidden());
    }

    // Without a voice of the "Sapi5" interface only the basic page is there, and the phoneme
    // table is never read.
    void onlyBasicPageWithoutSapi5()
    {
        TScopedScriptedWindows dialogs;
        TMyRegistryClass flitesStore;
        flitesStore.LoadAll();
        auto flite = NewManager(flitesStore, false);
        QVERIFY(!flite->HasEngineApi(QStringLiteral("Sapi5")));
        auto w = open(flite.get());
        QVERIFY(!w->Sapi5Mode());
        QCOMPARE(w->PageControl->count(), 1);
        QCOMPARE(w->PageControl->currentWidget(), w->tsBasic);
        QVERIFY(w->PageControl->tabBar()->isHidden());
        QVERIFY(w->Phonemes().Rows.isEmpty());
        QCOMPARE(w->lvPhonemes->topLevelItemCount(), 0);
        QCOMPARE(w->cbAdvVoice->count(), 0);
        QVERIFY(w->cbBasicVoice->count() >= 1);
        QVERIFY(dialogs.Shown.empty());
    }

    // A word of the lexicon changes how the eSpeak NG voice says it, alone and inside a whole
    // sentence: the sentence takes as long as with the new pronunciation given in its place.
    // (Durations, not samples: the engine's output varies by a few milliseconds from run to run.)
    void lexiconWordChangesSpeech()
    {
        TScopedScriptedWindows dialogs;
        QTemporaryDir dir;
        const QString word = QStringLiteral("Vorlix");
        const QString pronunciation = QStringLiteral("v ao 1 r l ih k s n uw z r iy d er");
        const QString sentence = QStringLiteral("Please start Vorlix before breakfast.");
        const double wordBefore = render(dir.path(), QStringLiteral("w0"), word).Seconds();
        const double sentenceBefore = render(dir.path(), QStringLiteral("s0"), sentence).Seconds();
        QVERIFY(wordBefore > 0.2 && sentenceBefore > 1.0);

        auto w = open();
        w->PageControl->setCurrentWidget(w->tsAdvanced);
        w->edAdvWord->setText(word);
        w->edAdvPronunciation->setText(pronunciation);
        w->btnAdvApply->click();
        QVERIFY2(dialogs.Shown.empty(), qPrintable(dialogs.Texts().join('|')));
        w->close();

        const double wordAfter = render(dir.path(), QStringLiteral("w1"), word).Seconds();
        const double sentenceAfter = render(dir.path(), QStringLiteral("s1"), sentence).Seconds();
        const QString numbers = QStringLiteral("word %1 -> %2, sentence %3 -> %4")
                                    .arg(wordBefore).arg(wordAfter).arg(sentenceBefore).arg(sentenceAfter);
        QVERIFY2(wordAfter > wordBefore + 0.3, qPrintable(numbers));
        QVERIFY2(sentenceAfter > sentenceBefore + 0.3, qPrintable(numbers));

        // Removed again, the voice says it as before; the new pronunciation given in place of
        // the word, alone and in the sentence, sounds as long as what the lexicon made of them.
        TSpLexicon().RemovePronunciation(word, 1033, 0, QString());
        const double sentenceRemoved = render(dir.path(), QStringLiteral("s2"), sentence).Seconds();
        // The pronunciation tag goes through a manager without preprocessor, as the editor's
        // Test button speaks it.
        const auto plain = CreatePrivateSpeechManager(*main);
        const QString tag = QStringLiteral("<PRON SYM=\"") + pronunciation + QStringLiteral("\"/>");
        const double tagAlone = render(dir.path(), QStringLiteral("w3"), tag, plain.get()).Seconds();
        const double tagInSentence =
            render(dir.path(), QStringLiteral("s3"), QString(sentence).replace(word, tag), plain.get()).Seconds();
        const QString more = numbers + QStringLiteral("; removed %1, given alone %2, given in the sentence %3")
                                           .arg(sentenceRemoved).arg(tagAlone).arg(tagInSentence);
        QVERIFY2(std::abs(sentenceRemoved - sentenceBefore) < 0.02, qPrintable(more));
        QVERIFY2(std::abs(tagAlone - wordAfter) < 0.02, qPrintable(more));
        QVERIFY2(std::abs(tagInSentence - sentenceAfter) < 0.02, qPrintable(more));
        qInfo("%s", qPrintable(more));
    }

    // Each Test button speaks through the editor's own manager into the null sink: its buttons
    // are disabled while it speaks, the main manager stays idle.
    void testButtonsPlay()
    {
        VORLIX_REQUIRE_PULSE();
        TScopedScriptedWindows dialogs;
        auto w = open();
        TBaseTTS* own = w->TestSpeech();
        QVERIFY(own && own != main.get());
        QVERIFY(!own->Preprocessor);
        QList<int> codes;
        QStringList errors;
        own->OnSpeechEvent = [&codes](TBaseTTS*, unsigned char code, const QString&) { codes << code; };
        own->OnSpeechError = [&errors](TBaseTTS*, const QString& message) { errors << message; };

        w->edWord->setText(QStringLiteral("NYC"));
        w->edPronunciation->setText(QStringLiteral("New Yawk City"));
        w->btnTest->click();
        QCOMPARE(int(own->State), int(tsPlay));
        QVERIFY(!w->btnTest->isEnabled() && !w->btnDone->isEnabled() && !w->btnAdvApply->isEnabled());
        QCOMPARE(int(main->State), int(tsIdle));
        QVERIFY(TestSupport::WaitFor([&] { return !codes.isEmpty(); }, 30000));
        QCOMPARE(codes, QList<int>{6});
        QVERIFY(w->btnTest->isEnabled() && w->btnDone->isEnabled());

        w->PageControl->setCurrentWidget(w->tsAdvanced);
        w->edAdvWord->setText(QStringLiteral("tomato"));
        w->edAdvPronunciation->setText(QStringLiteral("t ax  m aa 1 t ow "));
        w->btnAdvTest->click();
        QCOMPARE(w->edAdvPronunciation->text(), QStringLiteral("t ax m aa 1 t ow"));
        QCOMPARE(int(own->State), int(tsPlay));
        QVERIFY(!w->btnAdvTest->isEnabled());
        QVERIFY(TestSupport::WaitFor([&] { return codes.size() == 2; }, 30000));
        QCOMPARE(codes, (QList<int>{6, 6}));
        QVERIFY(w->btnAdvTest->isEnabled());
        QVERIFY2(dialogs.Shown.empty() && errors.isEmpty(), qPrintable((dialogs.Texts() + errors).join('|')));
        QVERIFY(LexiconWords().isEmpty()); // testing defines nothing
    }
};

VORLIX_TEST_MAIN(TestLexEdit)
#include "test_lex_edit.moc"
