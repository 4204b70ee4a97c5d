#pragma once
// Program entry: the single-instance rule, log rotation, the first-run wizard, the main window,
// and the application-level handler for exceptions that escape an event handler.
#include <QApplication>
#include <QPointer>
#include <QWidget>

class QLocalServer;
class QWidget;

class TVorlixApplication : public QApplication {
    Q_OBJECT
public:
    TVorlixApplication(int& argc, char** argv);
    // Catches what an event handler let escape: logs it, shows the message, and goes on.
    bool notify(QObject* receiver, QEvent* event) override;
    // Shows and logs an escaped exception (also used where no event is being delivered).
    static void ShowException(const QString& where, const QString& message);
};

// One Vorlix per user and home folder: the first instance listens on a local socket; a second
// start asks it to come to the front and ends.
class TSingleInstance : public QObject {
    Q_OBJECT
public:
    explicit TSingleInstance(QObject* parent = nullptr);
    ~TSingleInstance() override;

    static QString ServerName();
    // True when a running instance was found and asked to come to the front.
    static bool SignalRunningInstance();
    // Starts listening; the window given is restored, raised and activated on a second start.
    bool Listen(QWidget* mainWindow);
    void SetMainWindow(QWidget* mainWindow);
    int RaiseCount() const { return raised; }

private:
    void bringToFront();
    QLocalServer* server;
    QPointer<QWidget> window;
    int raised = 0;
};

// The first-run check: when the preferences were never saved, the "Vorlix Options" wizard runs.
// False when the user abandoned it (the program then ends).
bool RunFirstRunCheck();

int VorlixMain(int argc, char** argv);
