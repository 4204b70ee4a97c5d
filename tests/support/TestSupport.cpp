#include "TestSupport.h"

#include "core/RegistryEnhanced.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <memory>

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
