// `vorlix render` as a cron job runs it: 50 marked articles of the sample news server on
// loopback, one MP3 file per article, the profile's default voice. Measures
//  - from the start of the process to the first ARTICLE command reaching the server (a
//    relay in front of the server notes when it passes);
//  - the whole render's wall time against the length of the speech in the files;
//  - the peak memory of the render process (its maximum resident set).
#include "TestSupport.h"

#include "BenchThreads.h"
#include "audio/AudioFileInfo.h"
#include "core/BaseUtils.h"
#include "core/RegistryEnhanced.h"
#include "core/TextFiles.h"
#include "news/ArticleUnit.h"
#include "news/NewsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <cstdio>
#include <sys/resource.h>

namespace {
const QString kGroup = QStringLiteral("alt.bench.render");

// Passes a connection on to the server and notes when the client first asks for an article.
class TRelay : public QObject {
public:
    explicit TRelay(quint16 target_) : target(target_)
    {
        listener.listen(QHostAddress::LocalHost);
        QObject::connect(&listener, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* client = listener.nextPendingConnection()) {
                auto* server = new QTcpSocket(client);
                server->connectToHost(QHostAddress::LocalHost, target);
                QObject::connect(client, &QTcpSocket::readyRead, server, [this, client, server] {
                    const QByteArray data = client->readAll();
                    if (!firstArticle.isValid() && data.contains("ARTICLE "))
                        firstArticle = QDateTime::currentDateTime();
                    server->write(data);
                });
                QObject::connect(server, &QTcpSocket::readyRead, client, [client, server] { client->write(server->readAll()); });
                QObject::connect(server, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
                QObject::connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
            }
        });
    }
    quint16 Port() const { return listener.serverPort(); }
    QDateTime firstArticle;

private:
    QTcpServer listener;
    quint16 target;
};

int Render(const QStringList& args, QString* out = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The relay lives on this event loop: it runs the whole time, not between polls.
    QEventLoop loop;
    QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
    p.start(QStringLiteral(VORLIX_PROGRAM), QStringList{QStringLiteral("render")} + args);
    loop.exec();
    if (out)
        *out = QString::fromLocal8Bit(p.readAllStandardOutput());
    return p.exitCode();
}
} // namespace

int main(int argc, char** argv)
{
    TestSupport::PrepareEnvironment();
    QCoreApplication app(argc, argv);
    TSampleNewsServer server;
    AddBenchThreads(server, kGroup);
    if (!server.Listen())
        return 1;
    TRelay relay(server.Port());

    const QString folder = UtilsClass::GetProgramFolder() + QStringLiteral("audio");
    QDir().mkpath(folder);
    TRegistryEnhanced main(QStringLiteral("Software\\QuenradTech\\Vorlix"));
    main.WriteValue(QStringLiteral("StartupSaved"), QStringLiteral("1"));
    main.WriteValue(QStringLiteral("MsgDeleteDays"), -1);
    main.WriteValue(QStringLiteral("ThreadFileOption"), 0);
    TRegistryEnhanced tts(QStringLiteral("Software\\QuenradTech\\Vorlix\\BaseTTS"));
    tts.WriteValue(QStringLiteral("TTS_OutputDir"), folder);
    tts.WriteValue(QStringLiteral("TTS_OutputFormat"), QStringLiteral("MP3"));
    TRegistryEnhanced::Flush();
    QDir().mkpath(GetDataFolder());
    WriteLinesAtomically(TNewsStore::ConfigPath(),
                         {QStringLiteral("NewsServer|127.0.0.1:%1|1|-1|0|260101000000|0|||").arg(relay.Port()),
                          QStringLiteral("NewsGroup|%1|0|-1|0|260101000001M").arg(kGroup)});
    // The headers first, then every article marked, as a user marks them in the window.
    if (Render({QStringLiteral("--download"), QStringLiteral("--quiet")}) != 0)
        return 1;
    {
        TNewsStore store;
        store.LoadConfig();
        TConfigClass* group = store.FindGroup(kGroup);
        if (!group || !group->EnsureArticles() || group->Articles->Count() != 50)
            return 1;
        for (int i = 0; i < group->Articles->Count(); ++i)
            group->Articles->At(i)->SetSpeakMark(1);
        group->Articles->SaveFromList();
    }

    const QDateTime started = QDateTime::currentDateTime();
    QElapsedTimer wall;
    wall.start();
    QString out;
    const int rc = Render({QStringLiteral("--quiet")}, &out);
    const double seconds = double(wall.elapsed()) / 1000.0;
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);

    qint64 audioMs = 0;
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.mp3")}, QDir::Files);
    for (const QString& f : files)
        audioMs += ReadAudioFileInfo(folder + QLatin1Char('/') + f, false).LengthMs;
    std::printf("render exit code %d, %lld MP3 files\n%s", rc, static_cast<long long>(files.size()),
                qPrintable(out));
    std::printf("start to first ARTICLE command: %lld ms\n",
                static_cast<long long>(relay.firstArticle.isValid() ? started.msecsTo(relay.firstArticle) : -1));
    std::printf("50 articles: %.2f s wall, %.1f s of speech: %.1fx faster than spoken\n", seconds, audioMs / 1000.0,
                seconds > 0 ? audioMs / 1000.0 / seconds : 0.0);
    std::printf("peak memory of the render process: %.1f MB\n", double(usage.ru_maxrss) / 1024.0);
    TestSupport::CleanUp();
    return rc == 0 && files.size() == 50 ? 0 : 1;
}
