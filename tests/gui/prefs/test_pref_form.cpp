#include "TestSupport.h"
#include "ScriptedDialogs.h"
#include "core/RegistryEnhanced.h"
#include "core/RegistryUnit.h"
#include "gui/prefs/NewsgroupPreferencesUnit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>

namespace {
class TestSection : public TBaseRegistryClass {
public:
    TestSection()
    {
        Section = "PrefTest";
        AddItem("Text", rlSection, "", "hello", rkString);
        AddItem("Flag", rlSection, "", false, rkBoolean);
        AddItem("Level", rlSection, "", 3, rkInteger);
        AddItem("Choice", rlSection, "", "beta", rkString);
        AddItem("Items", rlSection, "", QVariant(), rkList);
        AddItem("Mode", rlSection, "", "m2", rkString);
        AddItem("Other", rlSection, "", "x", rkString);
    }
};

// Panels with step numbers 1 and 3 (no 2), a tab-only panel, and one control of every kind.
class TestPrefs : public TBasePrefForm {
public:
    TestPrefs()
    {
        QWidget* a = AddPanel("1,1,First");
        edText = new QLineEdit(a);
        edText->setObjectName("edText");
        SetHint(edText, "Text");
        chkFlag = new QCheckBox(a);
        chkFlag->setObjectName("chkFlag");
        SetHint(chkFlag, "Flag");
        chkFlag->move(0, 40);
        QWidget* b = AddPanel("3,2,Second");
        slider = new QSlider(b);
        SetHint(slider, "Level");
        slider->setRange(0, 10);
        combo = new QComboBox(b);
        combo->addItems({"alpha", "beta", "beta"});
        SetHint(combo, "Choice");
        list = new QListWidget(b);
        SetHint(list, "Items");
        group = new QGroupBox(b);
        SetHint(group, "Mode");
        for (const char* v : {"m1", "m2", "m3"}) {
            auto* r = new QRadioButton(v, group);
            SetHint(r, v);
            radios << r;
        }
        QWidget* c = AddPanel("0,3,File Options");
        edOther = new QLineEdit(c);
        SetHint(edOther, "Other");
    }
    bool ValidateControl(const QString& name) override
    {
        validated << name;
        return rejectName.isEmpty() || name != rejectName;
    }
    QLineEdit* edText;
    QCheckBox* chkFlag;
    QSlider* slider;
    QComboBox* combo;
    QListWidget* list;
    QGroupBox* group;
    QList<QRadioButton*> radios;
    QLineEdit* edOther;
    QStringList validated;
    QString rejectName;
};
}

class TestPrefForm : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        TRegistryEnhanced::ResetStore();
        QFile::remove(TRegistryEnhanced::SettingsFilePath());
    }

    void wizardSkipsMissingStepsAndSaves()
    {
        TestSection store;
        TestPrefs w;
        w.SettingsStore = &store;
        w.PrepareShow();
        QCOMPARE(w.CurrentStep, 1);
        QVERIFY(!w.BackButton()->isEnabled());
        QCOMPARE(w.NextButton()->text(), QString("&Next >>"));
        QVERIFY(w.OkButton()->isHidden());
        QCOMPARE(w.edText->text(), QString("hello"));
        QCOMPARE(w.combo->currentIndex(), 2); // the last equal item
        QVERIFY(w.radios[1]->isChecked());
        w.edText->setText("changed");

        // A control that fails validation keeps the wizard on its step.
        w.rejectName = "chkFlag";
        w.NextStep();
        QCOMPARE(w.CurrentStep, 1);
        w.rejectName.clear();
        w.NextStep();
        QCOMPARE(w.CurrentStep, 3);
        QCOMPARE(w.NextButton()->text(), QString("&Finish"));
        QVERIFY(w.AtLastStep);
        QVERIFY(w.BackButton()->isEnabled());
        w.PreviousStep();
        QCOMPARE(w.CurrentStep, 1);
        w.NextStep();

        w.slider->setValue(7);
        w.list->addItems({"one", "two"});
        w.radios[2]->setChecked(true);
        w.edOther->setText("not in the wizard");
        QVERIFY(!store.IsStartupSaved());
        w.NextStep(); // Finish
        QCOMPARE(w.result(), int(QDialog::Accepted));
        QVERIFY(store.IsStartupSaved());

        TestSection again;
        again.LoadAll();
        QCOMPARE(again.GetValue("Text").toString(), QString("changed"));
        QCOMPARE(again.GetValue("Level").toInt(), 7);
        QCOMPARE(again.GetList("Items"), QStringList({"one", "two"}));
        QCOMPARE(again.GetValue("Mode").toString(), QString("m3"));
        // A panel without a wizard step is not saved in wizard mode.
        QCOMPARE(again.GetValue("Other").toString(), QString("x"));
    }

    void wizardCancelAsksFirst()
    {
        TScopedScriptedDialogs dialogs;
        TestSection store;
        TestPrefs w;
        w.SettingsStore = &store;
        w.PrepareShow();
        dialogs.Answers = {TDialogAnswer::No};
        w.CancelClick();
        QCOMPARE(dialogs.LastText(), QString("Are you sure you want to exit?"));
        QCOMPARE(w.result(), 0);
        QCOMPARE(w.CurrentStep, 1);
        dialogs.Answers = {TDialogAnswer::Yes};
        w.reject(); // Escape
        QCOMPARE(w.result(), PrefAbandoned);
        QVERIFY(!store.IsStartupSaved());
    }

    void tabModeAndBindingEdgeCases()
    {
        TRegistryEnhanced reg("Software\\QuenradTech\\PrefTest");
        reg.WriteValue("Flag", "true");
        reg.WriteValue("Choice", "gamma");
        TestSection store;
        store.LoadAll(); // a window's owner keeps its store loaded; the window does not reload it
        TestPrefs w;
        w.SettingsStore = &store;
        w.WizardMode = false;
        w.PrepareShow();
        QCOMPARE(w.Tabs()->count(), 3);
        QCOMPARE(w.Tabs()->tabText(2), QString("File Options"));
        QCOMPARE(w.Tabs()->currentIndex(), 0);
        QVERIFY(w.BackButton()->isHidden());
        QVERIFY(!w.OkButton()->isHidden());
        QVERIFY(w.chkFlag->isChecked());
        QCOMPARE(w.combo->currentIndex(), -1); // "gamma" is none of the items
        QCOMPARE(w.edOther->text(), QString("x"));

        // Leaving a tab whose panel fails validation is refused.
        w.rejectName = "edText";
        w.Tabs()->setCurrentIndex(1);
        QCOMPARE(w.Tabs()->currentIndex(), 0);
        w.rejectName.clear();
        w.Tabs()->setCurrentIndex(2);
        QCOMPARE(w.Tabs()->currentIndex(), 2);

        w.edOther->setText("saved from a tab");
        w.OkClick();
        QCOMPARE(w.result(), int(QDialog::Accepted));
        TestSection again;
        again.LoadAll();
        QCOMPARE(again.GetValue("Other").toString(), QString("saved from a tab"));
        QCOMPARE(again.GetValue("Choice").toString(), QString()); // no selection saves empty text
        QVERIFY(again.IsStartupSaved());
    }

    void cancelInTabModeKeepsStore()
    {
        TestSection store;
        TestPrefs w;
        w.SettingsStore = &store;
        w.WizardMode = false;
        w.PrepareShow();
        w.edText->setText("dropped");
        w.CancelClick();
        QCOMPARE(w.result(), int(QDialog::Rejected));
        TestSection again;
        again.LoadAll();
        QCOMPARE(again.GetValue("Text").toString(), QString("hello"));
        QVERIFY(!again.IsStartupSaved());
    }

    void newsgroupPreferences()
    {
        TMyRegistryClass store;
        TNewsgroupPreferences w;
        w.SettingsStore = &store;
        w.PrepareShow();
        QCOMPARE(w.windowTitle(), QString("Vorlix Options"));
        QCOMPARE(w.NextButton()->text(), QString("&Next >>"));
        QVERIFY(!w.BackButton()->isEnabled());
        QCOMPARE(w.edMsgsToRetrieve->text(), QString("100"));
        QCOMPARE(w.edMsgDeleteDays->text(), QString("30"));
        // The integer fields take digits only.
        QTest::keyClicks(w.edMsgsToRetrieve, "x5");
        QCOMPARE(w.edMsgsToRetrieve->text(), QString("1005"));
        w.edName->setText("Ann Example");
        w.NextStep();
        QCOMPARE(w.NextButton()->text(), QString("&Finish"));
        w.edMsgsToRetrieve->setText("250");
        w.NextStep();
        TMyRegistryClass again;
        QVERIFY(again.IsStartupSaved());
        again.LoadAll();
        QCOMPARE(again.GetValue("UserName").toString(), QString("Ann Example"));
        QCOMPARE(again.GetValue("EmailAddress").toString(), QString());
        QCOMPARE(again.GetValue("MsgsToRetrieve").toInt(), 250);

        // Tab mode: "OK" with empty fields stores them without a message.
        TScopedScriptedDialogs dialogs;
        TNewsgroupPreferences t;
        t.SettingsStore = &again;
        t.WizardMode = false;
        t.PrepareShow();
        QCOMPARE(t.Tabs()->tabText(0), QString("Posting Info"));
        QCOMPARE(t.Tabs()->tabText(1), QString("Misc. Options"));
        t.edName->clear();
        t.OkClick();
        QVERIFY(dialogs.Shown.empty());
        TMyRegistryClass third;
        third.LoadAll();
        QCOMPARE(third.GetValue("UserName").toString(), QString());
    }
};

VORLIX_TEST_MAIN(TestPrefForm)
#include "test_pref_form.moc"
