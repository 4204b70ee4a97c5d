// The login window, and the windowed program answering a login request with it.
#include "ScriptedWindows.h"
#include "TestSupport.h"
#include "gui/app/WidgetDialogService.h"
#include "gui/nntp/LoginDialogUnit.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

class TestLoginWindow : public QObject {
    Q_OBJECT

private slots:
    void loginWindow()
    {
        TLoginDialog d;
        QCOMPARE(d.Status(), QString("Authentication required"));
        QVERIFY(!d.SavePassword());
        QCOMPARE(d.PasswordEdit()->echoMode(), QLineEdit::Password);
        QVERIFY(d.OkButton()->isDefault());
        QCOMPARE(d.OkButton()->text(), QString("Ok"));
        QVERIFY(d.findChild<QCheckBox*>()->text() == "Save Password");
        d.SetServerName("news.example.org");
        QCOMPARE(d.ServerName(), QString("news.example.org"));
        // "Ok" waits for both entries.
        QVERIFY(!d.OkButton()->isEnabled());
        QTest::keyClicks(d.UserNameEdit(), "ann");
        QVERIFY(!d.OkButton()->isEnabled());
        QTest::keyClicks(d.PasswordEdit(), "secret");
        QVERIFY(d.OkButton()->isEnabled());
        QCOMPARE(d.Password(), QString("secret"));
        d.OkButton()->click();
        QCOMPARE(d.result(), int(QDialog::Accepted));
    }

    void loginRequestOpensTheLoginWindow()
    {
        // The window opens with the server, the name known so far, an empty password,
        // "Save Password" unchecked and the given status; what is typed comes back.
        TScopedScriptedWindows windows;
        QString server, shownUser, shownPassword, status;
        bool shownSave = true;
        windows.DialogHandlers.push_back([&](QDialog* dlg) {
            auto* login = qobject_cast<TLoginDialog*>(dlg);
            if (!login)
                return int(QDialog::Rejected);
            server = login->ServerName();
            shownUser = login->UserName();
            shownPassword = login->Password();
            shownSave = login->SavePassword();
            status = login->Status();
            login->Confirm("ann", "secret", true);
            return login->result();
        });
        windows.DialogHandlers.push_back([](QDialog*) { return int(QDialog::Rejected); });
        QString user = "bob", password = "old";
        bool save = false;
        QVERIFY(TWidgetDialogService::Program().RequestCredentials("news.example.org", user, password, save,
                                                                   "481 Authentication failed"));
        QCOMPARE(server, QString("news.example.org"));
        QCOMPARE(shownUser, QString("bob"));
        QCOMPARE(shownPassword, QString());
        QVERIFY(!shownSave);
        QCOMPARE(status, QString("481 Authentication failed"));
        QCOMPARE(user, QString("ann"));
        QCOMPARE(password, QString("secret"));
        QVERIFY(save);
        // Cancelled: refused, nothing changed.
        QVERIFY(!TWidgetDialogService::Program().RequestCredentials("news.example.org", user, password, save, {}));
        QCOMPARE(user, QString("ann"));
        QCOMPARE(windows.DialogTitles.size(), 2);
    }
};

VORLIX_TEST_MAIN(TestLoginWindow)
#include "test_login_window.moc"
