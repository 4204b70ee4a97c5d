// "Setting Text Pre-Processor Preferences": the three tabs over the main speech manager's
// preprocessor, what "OK" stores, what "Cancel" drops, and the deletion "Cancel" does not undo.
#include "ScriptedWindows.h"
#include "TestSupport.h"

#include "core/RegistryUnit.h"
#include "gui/preprocess/EditSuppressContUnit.h"
#include "gui/prefs/TBasePreProcPreferencesUnit.h"
#include "preprocess/TTSPreProcessor.h"
#include "speech/TBaseTTSUnit.h"
#include "speech/TBaseVoiceRegistryClassUnit.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <memory>

namespace {
// The main window's set-up of the speech settings and the preprocessor, without voices.
std::unique_ptr<TBaseTTS> NewManager(TMyRegistryClass& store)
{
    auto tts = std::make_unique<TBaseTTS>();
    tts->SetPreprocessor(new TGroupsPreProcessor);
    tts->SetShowExceptionDialogs(false);
    tts->InitProperties(store);
    return tts;
}

QStringList Items(const QListWidget* list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

// A "Suppress Speak" window answered by typing text and pressing the button.
std::function<int(QDialog*)> Suppress(const QString& text, bool apply = false)
{
    return [text, apply](QDialog* d) {
        auto* w = static_cast<TEditSuppressCont*>(d);
        w->Entry()->setText(text);
        if (apply) {
            w->ApplyButton()->click();
            w->CancelButton()->click();
        } else {
            w->DoneButton()->click();
        }
        return w->result();
    };
}

QString Spoken(TPreProcessor& pp, const QString& text)
{
    return pp.FilterText(TFilterTarget{}, text);
}
}

class TestPreProcPreferences : public QObject {
    Q_OBJECT
private slots:
    // "OK" hands every control to the preprocessor, the settings section and FilterOptions.chl,
    // and the next start reads them back.
    void okStoresEverything()
    {
        TScopedScriptedWindows dialogs;
        TMyRegistryClass store;
        store.LoadAll();
        auto tts = NewManager(store);
        TPreProcessor& pp = *tts->Preprocessor;
        pp.CheckStartOfLine = false;
        pp.CheckContaining = true;
        pp.FilterSymbols = false;
        pp.UseTranslations = true;
        pp.StartOfLineList = {">", "|"};
        pp.ContainingList = {"zeta", "wrote in message", "Alpha"};

        TBasePreProcPreferences w(tts.get());
        w.WizardMode = false;
        w.show();
        QCOMPARE(w.windowTitle(), QStringLiteral("Setting Text Pre-Processor Preferences"));
        QCOMPARE(w.Tabs()->count(), 3);
        QCOMPARE(w.Tabs()->tabText(0), QStringLiteral("Beginning With"));
        QCOMPARE(w.Tabs()->tabText(1), QStringLiteral("Containing"));
        QCOMPARE(w.Tabs()->tabText(2), QStringLiteral("Miscellaneous Options"));
        QVERIFY(!w.chkStartOfLine->isChecked());
        QVERIFY(w.chkContaining->isChecked());
        QVERIFY(!w.chkFilterSymbols->isChecked());
        QCOMPARE(w.edtStartOfLine->text(), QStringLiteral(">,|"));
        QCOMPARE(Items(w.lstContaining), QStringList({"Alpha", "wrote in message", "zeta"}));

        // "Add": a string typed in "Suppress Speak" shows at once; a duplicate is refused.
        dialogs.DialogHandlers.push_back(Suppress(QStringLiteral("Sent from my phone")));
        w.btnAdd->click();
        QCOMPARE(Items(w.lstContaining), QStringList({"Alpha", "Sent from my phone", "wrote in message", "zeta"}));
        QCOMPARE(dialogs.DialogTitles, QStringList{QStringLiteral("Suppress Speak")});
        dialogs.DialogHandlers.push_back(Suppress(QStringLiteral("wrote in message"), true));
        w.btnAdd->click();
        QCOMPARE(dialogs.LastText(), QStringLiteral("\"wrote in message\" is already in the list"));
        QCOMPARE(w.lstContaining->count(), 4);
        QCOMPARE(pp.ContainingList.size(), 3); // nothing reaches the preprocessor before "OK"

        w.chkStartOfLine->setChecked(true);
        w.chkContaining->setChecked(false);
        w.chkFilterSymbols->setChecked(true);
        // A blank between two commas ends the list.
        w.edtStartOfLine->setText(QStringLiteral(">,In article <, ,Never"));
        w.OkButton()->click();
        QCOMPARE(w.result(), int(QDialog::Accepted));
        QVERIFY(pp.CheckStartOfLine && !pp.CheckContaining && pp.FilterSymbols && pp.UseTranslations);
        QCOMPARE(pp.StartOfLineList, QStringList({">", "In article <"}));
        QCOMPARE(w.edtStartOfLine->text(), QStringLiteral(">,In article <"));
        QCOMPARE(pp.ContainingList, QStringList({"Alpha", "Sent from my phone", "wrote in message", "zeta"}));
        QCOMPARE(dialogs.Texts().size(), 1);

        // The next start: a new manager over a new store reads what was saved.
        TMyRegistryClass store2;
        store2.LoadAll();
        auto next = NewManager(store2);
        const TPreProcessor& p2 = *next->Preprocessor;
        QVERIFY(p2.CheckStartOfLine && !p2.CheckContaining && p2.FilterSymbols && p2.UseTranslations);
        QCOMPARE(p2.StartOfLineList, pp.StartOfLineList);
        QCOMPARE(p2.ContainingList, pp.ContainingList);
        QCOMPARE(next->Store->GetValue(QStringLiteral("TTS_FilterSymbols")).toBool(), true);
    }

    // "Cancel" drops every change, except a "Delete" in the containing list: that string stays
    // out of the live filter.
    void cancelKeepsOnlyTheDeletion()
    {
        TScopedScriptedWindows dialogs;
        TMyRegistryClass store;
        store.LoadAll();
        auto tts = NewManager(store);
        TPreProcessor& pp = *tts->Preprocessor;
        pp.CheckStartOfLine = true;
        pp.CheckContaining = true;
        pp.FilterSymbols = false;
        pp.StartOfLineList = {">"};
        pp.ContainingList = {"wrote in message", "unsubscribe"};
        const QString article = QStringLiteral("Hello there.\nTo unsubscribe send a mail.\nBye now.\n");
        QVERIFY(!Spoken(pp, article).contains(QStringLiteral("unsubscribe")));
        const bool storedFilter = tts->Store->GetValue(QStringLiteral("TTS_FilterSymbols")).toBool();

        {
            TBasePreProcPreferences w(tts.get());
            w.WizardMode = false;
            w.show();
            w.Tabs()->setCurrentIndex(1);
            w.lstContaining->clearSelection();
            w.lstContaining->setCurrentItem(nullptr);
            w.btnDelete->click();
            QCOMPARE(dialogs.LastText(), QStringLiteral("Select a row to delete"));
            QCOMPARE(w.lstContaining->count(), 2);

            w.lstContaining->setCurrentItem(w.lstContaining->findItems(QStringLiteral("unsubscribe"), Qt::MatchExactly).first());
            w.btnDelete->click();
            QCOMPARE(Items(w.lstContaining), QStringList{QStringLiteral("wrote in message")});
            QCOMPARE(pp.ContainingList, QStringList{QStringLiteral("wrote in message")}); // at once

            dialogs.DialogHandlers.push_back(Suppress(QStringLiteral("extra")));
            w.btnAdd->click();
            w.chkStartOfLine->setChecked(false);
            w.chkContaining->setChecked(false);
            w.chkFilterSymbols->setChecked(!storedFilter);
            w.edtStartOfLine->setText(QStringLiteral("#,%"));
            w.CancelButton()->click();
            QCOMPARE(w.result(), int(QDialog::Rejected));
        }
        QVERIFY(pp.CheckStartOfLine && pp.CheckContaining && !pp.FilterSymbols);
        QCOMPARE(pp.StartOfLineList, QStringList{QStringLiteral(">")});
        QCOMPARE(pp.ContainingList, QStringList{QStringLiteral("wrote in message")});
        QCOMPARE(tts->Store->GetValue(QStringLiteral("TTS_FilterSymbols")).toBool(), storedFilter);
        // The deleted string no longer silences its line, though "Cancel" was pressed.
        QVERIFY(Spoken(pp, article).contains(QStringLiteral("unsubscribe")));

        // Opened again, the window shows the live list.
        TBasePreProcPreferences again(tts.get());
        again.WizardMode = false;
        again.PrepareShow();
        QCOMPARE(Items(again.lstContaining), QStringList{QStringLiteral("wrote in message")});
    }
};

VORLIX_TEST_MAIN(TestPreProcPreferences)
#include "test_preproc_preferences.moc"
