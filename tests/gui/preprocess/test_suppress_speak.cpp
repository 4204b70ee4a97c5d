// The Suppress Speak window: editing the list of texts that silence a line.
#include "ScriptedWindows.h"
#include "TestSupport.h"
#include "gui/preprocess/EditSuppressContUnit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

class TestSuppressSpeak : public QObject {
    Q_OBJECT
private slots:
    void suppressSpeakWindow()
    {
        TScopedScriptedWindows dialogs;
        QStringList list{"wrote in message"};
        TEditSuppressCont window(&list);
        QCOMPARE(window.windowTitle(), QString("Suppress Speak"));
        QVERIFY(window.findChild<QLabel*>()->text() == "Suppress any line containg this string");
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.Entry()->setText("leftover");
        window.hide();
        window.show();
        QCOMPARE(window.Entry()->text(), QString()); // cleared on showing

        // Blank entries do nothing.
        QTest::keyClicks(window.Entry(), "   ");
        window.ApplyButton()->click();
        QCOMPARE(list.size(), 1);
        // A new string is added untrimmed and the field cleared for the next one.
        window.Entry()->setText(" sent from my ");
        window.ApplyButton()->click();
        QCOMPARE(list, QStringList({"wrote in message", " sent from my "}));
        QCOMPARE(window.Entry()->text(), QString());
        QVERIFY(window.isVisible());
        // A duplicate is refused with a message and the list stays as it was.
        window.Entry()->setText("wrote in message");
        window.ApplyButton()->click();
        QCOMPARE(dialogs.LastText(), QString("\"wrote in message\" is already in the list"));
        QCOMPARE(list.size(), 2);
        window.DoneButton()->click();
        QVERIFY(window.isVisible()); // Done with a duplicate stays open
        QCOMPARE(dialogs.Texts().size(), 2);
        // Done with a new string adds it and closes with OK.
        window.Entry()->setText("Unsubscribe");
        window.DoneButton()->click();
        QVERIFY(!window.isVisible());
        QCOMPARE(window.result(), int(QDialog::Accepted));
        QCOMPARE(list.last(), QString("Unsubscribe"));

        // Cancel keeps what Apply added; an empty Done closes with OK. Run modally through the
        // dialog service as the preferences window does.
        QStringList second;
        TEditSuppressCont modal(&second);
        dialogs.DialogHandlers.push_back([](QDialog* d) {
            auto* w = static_cast<TEditSuppressCont*>(d);
            w->Entry()->setText("x");
            w->ApplyButton()->click();
            w->CancelButton()->click();
            return w->result();
        });
        QCOMPARE(Windows().Exec(&modal), int(QDialog::Rejected));
        QCOMPARE(second, QStringList({"x"}));
        dialogs.DialogHandlers.push_back([](QDialog* d) {
            static_cast<TEditSuppressCont*>(d)->DoneButton()->click();
            return d->result();
        });
        QCOMPARE(Windows().Exec(&modal), int(QDialog::Accepted));
        QCOMPARE(second.size(), 1);
    }
};

VORLIX_TEST_MAIN(TestSuppressSpeak)
#include "test_suppress_speak.moc"
