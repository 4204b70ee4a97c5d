#include "TestSupport.h"

#include "core/RegistryEnhanced.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <sys/mount.h>

namespace {
std::unique_ptr<QTemporaryDir> home;
}

QString TestSupport::PrepareEnvironment()
{
    home = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/vorlix-test-XXXXXX"));
    const QString h = home->path();
    if (qEnvironmentVariableIsSet("VORLIX_KEEP_TEST_HOME"))
        home->setAutoRemove(false);
    QDir().mkpath(h + "/home");
    QDir().mkpath(h + "/vorlix");
    qputenv("VORLIX_HOME", (h + "/vorlix").toUtf8());
    qputenv("HOME", (h + "/home").toUtf8());
    qputenv("XDG_CONFIG_HOME", (h + "/home/.config").toUtf8());
    qputenv("XDG_DATA_HOME", (h + "/home/.local/share").toUtf8());
    qputenv("XDG_CACHE_HOME", (h + "/home/.cache").toUtf8());
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A window would appear on the desktop's session bus as a media player.
    qputenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + h + "/no-session-bus").toUtf8());
    // The xcb platform cannot start without an X server; the test starts offscreen then and
    // skips what needs the display (VORLIX_REQUIRE_X11).
    if (qEnvironmentVariable("QT_QPA_PLATFORM") == QLatin1String("xcb") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return h;
}

void TestSupport::CleanUp()
{
    TRegistryEnhanced::ResetStore();
    home.reset();
}

QString TestSupport::SourceDataDir()
{
    return QStringLiteral(VORLIX_SOURCE_DATA_DIR);
}

bool TestSupport::WaitFor(const std::function<bool()>& pred, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

bool TestSupport::ExpectNothingFor(int ms, const std::function<bool()>& pred)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        if (pred())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, int(std::min<qint64>(20, std::max<qint64>(1, deadline.remainingTime()))));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return !pred();
}

bool TestSupport::UnderCi()
{
    return qEnvironmentVariable("CI") == QLatin1String("true");
}

bool TestSupport::ServiceAvailable(TService service)
{
    switch (service) {
    case TService::Inn:
        return !qEnvironmentVariableIsEmpty("VORLIX_INN_HOST") && qEnvironmentVariableIntValue("VORLIX_INN_PORT") > 0;
    case TService::PulseAudio:
        return !qEnvironmentVariableIsEmpty("PULSE_SERVER") && !qEnvironmentVariableIsEmpty("VORLIX_PULSE_SPARE_SINK");
    case TService::DBus:
        return !qEnvironmentVariableIsEmpty("VORLIX_DBUS_ADDRESS");
    case TService::X11:
        return !qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariable("QT_QPA_PLATFORM") == QLatin1String("xcb");
    }
    return false;
}

void TestSupport::UseTestBus()
{
    qputenv("DBUS_SESSION_BUS_ADDRESS", qgetenv("VORLIX_DBUS_ADDRESS"));
}

QByteArray TestSupport::MissingServiceText(TService service)
{
    QByteArray what, vars, script;
    switch (service) {
    case TService::Inn:
        what = "INN test server";
        vars = "VORLIX_INN_HOST/VORLIX_INN_PORT";
        script = "inn.sh";
        break;
    case TService::PulseAudio:
        what = "PulseAudio test server";
        vars = "PULSE_SERVER/VORLIX_PULSE_SPARE_SINK";
        script = "pulseaudio.sh";
        break;
    case TService::DBus:
        what = "private session bus";
        vars = "VORLIX_DBUS_ADDRESS";
        script = "dbus.sh";
        break;
    case TService::X11:
        what = "X server";
        vars = "DISPLAY";
        script = "xvfb.sh";
        break;
    }
    if (UnderCi())
        return what + " not running under CI (" + vars + " not set): scripts/test-services/" + script +
               " did not start or scripts/run-tests.sh did not run the tests";
    return what + " not running (" + vars + " not set): start it with scripts/run-tests.sh";
}

bool TestSupport::ProgramAvailable(const QString& program)
{
    return !QStandardPaths::findExecutable(program).isEmpty();
}

QByteArray TestSupport::MissingProgramText(const QString& program)
{
    return "the program " + program.toUtf8() + " is not on the PATH: install it to run this test";
}

TestSupport::TSmallDisk::TSmallDisk(const QString& folder_, const char* size) : folder(folder_)
{
    QDir().mkpath(folder);
    const QByteArray options = QByteArray("size=") + size;
    mounted = ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, options.constData()) == 0;
}

TestSupport::TSmallDisk::~TSmallDisk()
{
    if (mounted)
        ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH);
}

void TestSupport::TSmallDisk::Fill(const QString& fileName) const
{
    QFile filler(folder + QLatin1Char('/') + fileName);
    if (!filler.open(QIODevice::WriteOnly))
        return;
    const QByteArray block(1024, 'x');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
}
