#pragma once
// A run of spoken articles: the marked or selected records of a newsgroup are queued, each
// one's article is fetched by the speaking processor, its text is composed from the subject and
// the readable parts of the body and handed to the speech manager, aloud or into audio files
// (one per article or one per thread). When an article is done its speak mark moves on, the
// group is saved and the next article is fetched, until the queue is done. The window binds
// the events to its status bar, progress indicators and article view.
#include "speaking/TTSList.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class TArticleClass;
class TAudioTags;
class TBaseRegistryClass;
class TBaseTTS;
class TConfigClass;
class TNewsStore;
class TNntpProcessor;

// Pictures of a group node while a run goes on, and back to the plain group picture.
enum TRunPicture : int {
    rpGroup = 1,
    rpMarkedAloud = 2,
    rpSelectedAloud = 10,
    rpMarkedFile = 11,
    rpSelectedFile = 12,
};

class TSpeakRun : public QObject {
    Q_OBJECT
public:
    // settings: the main section ("ThreadFileOption"). The speech manager's speaking events
    // are forwarded by the owner (SpeechEvent, SpeechError).
    TSpeakRun(TNewsStore* store, TBaseTTS* tts, TBaseRegistryClass* settings, QObject* owner = nullptr);
    ~TSpeakRun() override;

    // Starts a run over the records of node in view order: the marked ones (speak mark 1)
    // or, in selected mode, all of them. Messages go through the dialog service. False when
    // nothing was started.
    bool StartSpeaking(TConfigClass* node, bool selectedMode, bool toFile,
                       const std::vector<TArticleClass*>& viewOrder);
    // A click changed a record's speak mark during a run.
    void Update(TArticleClass* record);
    bool Running() const { return Queue != nullptr; }
    // The record whose article is being spoken, from OnArticleStarted until the next one starts
    // or the run ends; none between runs or when the record no longer exists.
    TArticleClass* SpokenRecord() const;
    // The Stop command: the speech stops and the run ends after the current article. A file
    // of a whole thread is kept with what it holds.
    void Stop();

    // The speech manager reports: 6 spoken to its end, 5 stopped, 4 skipped.
    void SpeechEvent(unsigned char code);
    // The speech output failed while speaking: the run stops with the message.
    void SpeechError(const QString& message);

    // The speaking processor's events.
    void SpeakBodyReceived(const QString& host, const QStringList& lines, const QString& messageID,
                           const QString& group);
    void SpeakRequestDone(int code, const QString& message);
    // The current article is done, skipped or missing: on to the next one.
    void AdvanceSpeakQueue();

    // Subject (with "Re:" spoken as "Reply,") + ". " + line break + body.
    static QString ComposeSpokenText(const TArticleClass* record, const QString& body);
    // At most 15 letters, digits and "_" of a subject, other runs of characters as one "_".
    static QString CleanFileName(const QString& subject);
    // The thread's cleaned subject + "_" + its next file number.
    static QString AudioFileName(const TArticleClass* record);
    // The name part of an author ("Eve Smith <eve@example.org>" gives Eve Smith).
    static QString AuthorName(const QString& from);
    // The tags of a file a run wrote, just before they are written: the artist (the voice)
    // is shown as Vorlix's.
    static void TagRunFile(TAudioTags& tags);

    std::unique_ptr<TTTSList> Queue;
    std::unique_ptr<TNntpProcessor> Processor; // created at the first run and kept
    bool ToFile = false;
    bool ThreadFiles = false; // one audio file per thread

    // --- for the window (unbound: not raised) ---
    std::function<void(TSpeakRun*, int panel, const QString& text)> OnStatus;
    // A run starts with that many queued articles; the progress indicators are laid out.
    std::function<void(TSpeakRun*, int queued)> OnRunStarted;
    // Article number `position` (1-based) of `queued` is about to be spoken.
    std::function<void(TSpeakRun*, int position, int queued)> OnArticleStarted;
    // The run is over: the progress indicators go.
    std::function<void(TSpeakRun*)> OnRunEnded;
    // A record's marks or read state changed: its row is drawn again.
    std::function<void(TSpeakRun*, TArticleClass*)> OnRecordChanged;
    // Speaking to files: an audio file is finished and holds these articles, in the order
    // they were spoken (one for a file per article). path is the file on disk.
    std::function<void(TSpeakRun*, const QString& path, const std::vector<TArticleClass*>& articles)> OnFileDone;
    // The user typed a login for a server (to be kept with the server entry).
    std::function<void(TSpeakRun*, const QString& host, const QString& user, const QString& password, bool save)>
        OnAuthenticated;

private:
    void requestBody(TArticleClass* record);
    void endRun(TArticleClass* last);
    void fail(const QString& message);
    // The run is over: progress gone, the group's picture back, the queue released.
    void finishRun();
    // The run's picture moves to group (none: back to the plain picture).
    void showPictureOn(TConfigClass* group);
    void status(int panel, const QString& text);
    void openThreadFile(TArticleClass* record);
    void closeThreadFile();
    void saveGroup(TArticleClass* record);
    // The file being written is finished: OnFileDone with what it holds.
    void fileDone();

    TNewsStore* store;
    TBaseTTS* tts;
    TBaseRegistryClass* settings;
    TConfigClass* pictureGroup = nullptr; // the group node that shows the run's picture
    int picture = rpGroup;
    int articleNumber = 0;                // articles begun in this run
    QString spokenID;                     // Message-ID of the article being spoken
    // Chapters of the thread file being written: start in ms and title.
    struct TChapter {
        qint64 StartMs;
        QString Title;
    };
    std::vector<TChapter> chapters;
    // Spoken into the file being written: group and Message-ID, looked up again at the end,
    // as records may be deleted meanwhile.
    std::vector<std::pair<TConfigClass*, QString>> fileArticles;
};
