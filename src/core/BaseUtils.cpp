#include "core/BaseUtils.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMutex>
#include <QSettings>
#include <QStandardPaths>

#include <exception>
#include <pwd.h>
#include <unistd.h>

bool UtilsClass::LogEnabled = true;
qint64 UtilsClass::MaxLogBytes = 10 * 1024 * 1024;

namespace {
QString deploymentFileOverride;
bool deploymentFileOverridden = false;
QMutex logMutex;

QString logLineTime()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale locale;
    QString date = locale.toString(now.date(), QLocale::ShortFormat);
    if (now.time() == QTime(0, 0))
        return date;
    return date + QLatin1Char(' ') + locale.toString(now.time(), QLocale::LongFormat);
}
}

void UtilsClass::Log(const QString& message)
{
    if (!LogEnabled)
        return;
    try {
        // An engine thread may log too; one line must never interleave with another.
        QMutexLocker lock(&logMutex);
        QFile file(GetLogBase() + QStringLiteral(".dbg"));
        if (!file.open(QIODevice::Append | QIODevice::WriteOnly))
            return;
        QByteArray line = (logLineTime() + QStringLiteral(" - ") + message).toUtf8();
        line += '\n';
        // A long session must not grow the log without end: past the limit it is rotated, as
        // at start-up.
        if (MaxLogBytes > 0 && file.size() > 0 && file.size() + line.size() > MaxLogBytes) {
            file.close();
            RotateLogs();
            if (!file.open(QIODevice::Append | QIODevice::WriteOnly))
                return;
        }
        file.write(line);
        file.flush();
    } catch (...) {
        // Logging never fails visibly.
    }
}

void UtilsClass::RotateLogs()
{
    const QString base = GetLogBase();
    auto copyOver = [](const QString& from, const QString& to) {
        if (!QFile::exists(from))
            return true;
        QFile::remove(to);
        return QFile::copy(from, to);
    };
    QFile::remove(base + "3.dbg");
    if (!copyOver(base + "2.dbg", base + "3.dbg"))
        return;
    if (!copyOver(base + "1.dbg", base + "2.dbg"))
        return;
    if (!copyOver(base + ".dbg", base + "1.dbg"))
        return;
    QFile::remove(base + ".dbg");
}

QString UtilsClass::GetProgramFolder()
{
    QString folder = qEnvironmentVariable("VORLIX_HOME");
    if (folder.isEmpty()) {
        QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
        if (dataHome.isEmpty())
            dataHome = QDir::homePath() + QStringLiteral("/.local/share");
        folder = dataHome + QStringLiteral("/Vorlix");
    }
    QDir().mkpath(folder);
    folder = QDir::cleanPath(folder);
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

QString UtilsClass::GetProgramFileName()
{
    return QStringLiteral("Vorlix");
}

QString UtilsClass::GetLogBase()
{
    return GetProgramFolder() + GetProgramFileName();
}

QString UtilsClass::GetSharedDataFolder()
{
    // An installed program finds its files beside the binary (../share/vorlix); a build
    // run from the source tree uses the repository's data folder.
    QStringList candidates;
    if (QCoreApplication::instance())
        candidates << QCoreApplication::applicationDirPath() + QStringLiteral("/../share/vorlix");
    candidates << QStringLiteral(VORLIX_INSTALL_DATA_DIR) << QStringLiteral(VORLIX_SOURCE_DATA_DIR);
    for (const QString& c : candidates) {
        if (QFileInfo::exists(c + QStringLiteral("/tips.chl")))
            return QDir::cleanPath(c) + QLatin1Char('/');
    }
    return QDir::cleanPath(QStringLiteral(VORLIX_SOURCE_DATA_DIR)) + QLatin1Char('/');
}

QString UtilsClass::FindSharedFile(const QString& name)
{
    const QString path = GetSharedDataFolder() + name;
    return QFileInfo::exists(path) ? path : QString();
}

double UtilsClass::SafeStrToFloat(const QString& text)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok) {
        Log(QStringLiteral("SafeStrToFloat Exception: '%1' is not a valid floating point value").arg(text));
        return 0;
    }
    return value;
}

QString UtilsClass::GetWindowsUserName()
{
    QString name;
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name)
        name = QString::fromLocal8Bit(pw->pw_name);
    if (name.isEmpty())
        name = qEnvironmentVariable("USER");
    for (int i = 0; i < name.size(); ++i) {
        if (name.at(i).isSpace() || name.at(i).category() == QChar::Other_Control) {
            name.truncate(i);
            break;
        }
    }
    return name.left(100);
}

void UtilsClass::SetDeploymentFile(const QString& path)
{
    deploymentFileOverride = path;
    deploymentFileOverridden = true;
}

QString UtilsClass::GetDeploymentValue(const QString& name)
{
    QString path;
    if (deploymentFileOverridden)
        path = deploymentFileOverride;
    else
        path = FindSharedFile(QStringLiteral("deployment.ini"));
    if (path.isEmpty() || !QFileInfo::exists(path))
        return {};
    QSettings ini(path, QSettings::IniFormat);
    // Names ignore letter case, as every settings name does.
    const QStringList keys = ini.childKeys();
    for (const QString& k : keys) {
        if (k.compare(name, Qt::CaseInsensitive) == 0)
            return ini.value(k).toString();
    }
    return {};
}

bool UtilsClass::GetDeploymentBool(const QString& name, bool defaultValue)
{
    const QString v = GetDeploymentValue(name).toLower().trimmed();
    if (v.isEmpty() || !QStringLiteral("truefalse").contains(v))
        return defaultValue;
    return v == QLatin1String("true");
}

int UtilsClass::GetDeploymentInt(const QString& name, int defaultValue)
{
    const QString v = GetDeploymentValue(name).trimmed();
    bool ok = false;
    const int value = v.toInt(&ok, 10);
    return ok ? value : defaultValue;
}

TTrace::TTrace(QString name) : Name(std::move(name)), uncaught(std::uncaught_exceptions())
{
    UtilsClass::Log(QStringLiteral("Entered ") + Name);
}

TTrace::~TTrace()
{
    if (std::uncaught_exceptions() == uncaught)
        UtilsClass::Log(QStringLiteral("Exit ") + Name);
}
