#pragma once
// `vorlix render`: renders newsgroup articles into audio files without a window. It opens the
// user's profile as the window does (settings, Config.chl with its servers and logins, voices,
// translations and rules, output folder and format), optionally downloads new headers first,
// and runs the same speaking run into files, so the window and the renderer carry on each
// other's marks, read states and file counters. Progress goes to standard output, problems to
// standard error.
#include "render/RenderOptions.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <memory>
#include <vector>

class QEventLoop;
class TArticleClass;
class TBaseTTS;
class TConfigClass;
class TMyRegistryClass;
class TNewsStore;
class TNntpProcessor;
class TProfileLock;
class TSpeakRun;

// Exit codes of `vorlix render`.
enum TRenderExit : int { reDone = 0, reSomeFailed = 1, reUsage = 2 };

class TRenderer : public QObject {
    Q_OBJECT
public:
    TRenderer(const TRenderOptions& options, FILE* out, FILE* err);
    ~TRenderer() override;

    // Renders what the options say; the exit code. Runs the event loop as it needs.
    int Run();
    // Asks a running render to stop after the current article (Ctrl+C, SIGTERM).
    void Interrupt();

private:
    struct TGroupJob {
        TConfigClass* Group = nullptr;
        QString Server;
        QString Name;
        int Queued = 0;
    };
    // A file this render wrote, for the feed.
    struct TRenderedFile {
        QString Path;
        QString Title; // the thread's subject
        QString Group;
        QStringList Authors;
        int Articles = 0;
        QDateTime Made;
    };
    struct TFailure {
        QString What;
        QString Why;
    };

    // Each step returns false after it reported a usage or configuration error.
    bool openProfile();
    bool chooseGroups();
    bool openSpeech();
    void download();
    void downloadGroup(TGroupJob& job);
    void render();
    void renderGroup(TGroupJob& job, int doneBefore, int total);
    int markedCount(TConfigClass* group, bool markNew);
    void fileDone(const QString& path, const std::vector<TArticleClass*>& articles);
    // --feed, --serve or the setting "PodcastFeed".
    bool feedWanted() const;
    void writeFeed();
    int serve();
    int finish();

    void say(const QString& line);
    void warn(const QString& line);
    void progress(int done, int total, const QString& what);
    void endProgressLine();

    TRenderOptions options;
    FILE* out;
    FILE* err;
    bool terminal = false;
    bool progressShown = false;
    bool interrupted = false;
    QEventLoop* serving = nullptr; // the loop of --serve, while it runs
    QElapsedTimer clock;

    std::unique_ptr<TProfileLock> lock;
    std::unique_ptr<TMyRegistryClass> settings;
    std::unique_ptr<TNewsStore> news;
    std::unique_ptr<TBaseTTS> tts;
    std::unique_ptr<TSpeakRun> run;
    std::unique_ptr<TNntpProcessor> processor;
    std::vector<TGroupJob> jobs;
    QStringList failedServers;

    // What was made.
    int articlesRendered = 0;
    int filesWritten = 0;
    qint64 audioMs = 0;
    std::vector<TRenderedFile> rendered;
    std::vector<TFailure> failures;
};

// The whole `vorlix render` program: argv[1] is "render". Creates the application object.
int RenderMain(int argc, char** argv);
