#include "gui/app/VorlixApplication.h"

#include "core/BaseUtils.h"
#include "core/DialogService.h"
#include "core/ProfileLock.h"
#include "gui/app/WidgetDialogService.h"
#include "gui/app/WindowPlacement.h"
#include "gui/app/WindowService.h"
#include "core/RegistryEnhanced.h"
#include "core/RegistryUnit.h"
#include "gui/app/UsenetUnit.h"
#include "core/VorlixException.h"
#include "gui/prefs/NewsgroupPreferencesUnit.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>
#include <exception>

TVorlixApplication::TVorlixApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Vorlix"));
    setOrganizationName(QStringLiteral("QuenradTech"));
    setApplicationVersion(QStringLiteral("1.0"));
    // Messages, questions and the login of this program are windows.
    TDialogService::InstallDefault(&TWidgetDialogService::Program());
}

void TVorlixApplication::ShowException(const QString& where, const QString& message)
{
    UtilsClass::Log(where + QStringLiteral(" Exception: ") + message);
    Dialogs().ShowError(message);
}

bool TVorlixApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const EVorlixError& e) {
        ShowException(QStringLiteral("Application"), e.message());
    } catch (const std::exception& e) {
        ShowException(QStringLiteral("Application"), QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowException(QStringLiteral("Application"), QStringLiteral("An unexpected error occurred."));
    }
    return false;
}

TSingleInstance::TSingleInstance(QObject* parent) : QObject(parent), server(new QLocalServer(this))
{
    server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* s = server->nextPendingConnection()) {
            connect(s, &QLocalSocket::readyRead, this, [this, s] {
                if (s->readAll().contains("raise"))
                    bringToFront();
                s->disconnectFromServer();
            });
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
        }
    });
}

TSingleInstance::~TSingleInstance() = default;

QString TSingleInstance::ServerName()
{
    // One name per user and settings file, so a test run never meets the user's own Vorlix.
    const QByteArray hash = QCryptographicHash::hash(TRegistryEnhanced::SettingsFilePath().toUtf8(),
                                                     QCryptographicHash::Sha1)
                                .toHex()
                                .left(12);
    return QStringLiteral("Vorlix-%1-%2").arg(UtilsClass::GetWindowsUserName(), QString::fromLatin1(hash));
}

bool TSingleInstance::SignalRunningInstance()
{
    QLocalSocket socket;
    socket.connectToServer(ServerName());
    if (!socket.waitForConnected(1000))
        return false;
    socket.write("raise\n");
    socket.waitForBytesWritten(1000);
    socket.waitForDisconnected(1000);
    return true;
}

bool TSingleInstance::Listen(QWidget* mainWindow)
{
    window = mainWindow;
    if (server->listen(ServerName()))
        return true;
    // A name left behind by an instance that crashed is taken over.
    QLocalServer::removeServer(ServerName());
    return server->listen(ServerName());
}

void TSingleInstance::bringToFront()
{
    ++raised;
    UtilsClass::Log(QStringLiteral("Brought to the front by a second start"));
    if (window)
        BringToFront(window);
}

bool RunFirstRunCheck()
{
    TMyRegistryClass store;
    if (store.IsStartupSaved())
        return true;
    TNewsgroupPreferences prefs;
    prefs.SettingsStore = &store;
    prefs.WizardMode = true;
    prefs.PrepareShow();
    return Windows().Exec(&prefs) != PrefAbandoned;
}

int VorlixMain(int argc, char** argv)
{
    TVorlixApplication app(argc, argv);
    if (TSingleInstance::SignalRunningInstance())
        return 0;
    // The renderer may be writing this profile: the window waits until it has finished.
    TProfileLock profile;
    if (!profile.TryLock(TProfileLock::hWindow)) {
        Dialogs().ShowError(profile.Refusal());
        return 1;
    }
    TSingleInstance instance;
    instance.Listen(nullptr);
    UtilsClass::RotateLogs();

    try {
        if (!RunFirstRunCheck())
            return 0;
    } catch (const std::exception& e) {
        TVorlixApplication::ShowException(QStringLiteral("Startup"), QString::fromLocal8Bit(e.what()));
        return 1;
    }

    int rc = 0;
    {
        TForm1 form;
        TWindowService::SetParentWindow(&form);
        instance.SetMainWindow(&form);
        form.show();
        rc = app.exec();
        TWindowService::SetParentWindow(nullptr);
    }
    TRegistryEnhanced::ResetStore();
    return rc;
}

void TSingleInstance::SetMainWindow(QWidget* mainWindow)
{
    window = mainWindow;
}
