#pragma once
// Debug log, log rotation, the home folder, locale-free number conversion, the user name,
// opening documents and the deployment overrides.
#include <QString>
#include <QStringList>

class UtilsClass {
public:
    // Appends one line ("<local date-time> - <message>") to the current log. Never fails visibly.
    static void Log(const QString& message);
    // Start-of-run rotation: .dbg -> 1.dbg -> 2.dbg -> 3.dbg; the run starts with no current log.
    static void RotateLogs();
    // The size past which the log is rotated while the program runs (10 MB).
    static qint64 MaxLogBytes;

    // The Vorlix home folder (logs, rule files, data folder root), ending in "/".
    // $VORLIX_HOME when set, else $XDG_DATA_HOME/Vorlix (~/.local/share/Vorlix). Created when missing.
    static QString GetProgramFolder();
    // The program's file name; it names the log files and the per-program settings keys.
    static QString GetProgramFileName();
    // Home folder + program name: the current log is GetLogBase() + ".dbg".
    static QString GetLogBase();
    // The folder of the read-only files shipped with the program (tips, help, quick start), ending in "/".
    static QString GetSharedDataFolder();
    // Path of a shipped read-only file, or empty when it is not installed.
    static QString FindSharedFile(const QString& name);

    // "." is the decimal separator whatever the locale; failure logs and yields 0.
    static double SafeStrToFloat(const QString& text);
    // Login name of the current user, cut before the first blank or control character, at most 100 characters.
    static QString GetWindowsUserName();

    // Deployment overrides: read-only values shipped with the installation ("deployment.ini").
    static QString GetDeploymentValue(const QString& name);
    static bool GetDeploymentBool(const QString& name, bool defaultValue);
    static int GetDeploymentInt(const QString& name, int defaultValue);
    // Tests and the installation may point the overrides at another file; empty means none.
    static void SetDeploymentFile(const QString& path);

    // The log switch is on from start-up; nothing in the program turns it off.
    static bool LogEnabled;
};

// Logs "Entered <name>" now and "Exit <name>" when the scope ends normally.
class TTrace {
public:
    explicit TTrace(QString name);
    ~TTrace();
    TTrace(const TTrace&) = delete;
    TTrace& operator=(const TTrace&) = delete;

private:
    QString Name;
    int uncaught;
};
