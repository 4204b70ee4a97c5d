#pragma once
// The podcast feed of an output folder: feed.xml, RSS 2.0 with the iTunes podcast elements,
// one item per audio file (MP3 or WAV) of the folder, newest first. Each update reads the feed
// back and keeps what it knew (guids, dates, titles, descriptions), adds what was rendered,
// lists audio files it did not know yet (speaking to file from the window writes into the same
// folder) by their tags, and drops items whose file is gone. A feed.xml that cannot be read as
// Vorlix's own is kept as feed-damaged.xml and the feed is built again from the files.
#include <QDateTime>
#include <QFileInfo>
#include <QSet>
#include <QString>
#include <QStringList>
#include <vector>

// One rendered audio file: a thread, or a single article.
struct TFeedItem {
    QString FileName;      // the file's name in the folder (a path inside the folder is accepted)
    QString Title;         // the thread's subject (a single article: the article's subject)
    QString Group;         // the newsgroup
    QStringList Authors;   // the authors, in order of their first article
    int ArticleCount = 1;  // articles in the file
    QDateTime Published;   // invalid: the file's modification time
};

class TPodcastFeed {
public:
    explicit TPodcastFeed(const QString& folder);

    // The address the folder is reached at, such as "http://127.0.0.1:8080/" while it is
    // served; the enclosures and the channel link start with it. Empty: file:// URLs.
    void SetBaseUrl(const QString& url);
    QString BaseUrl() const { return baseUrl; }
    // The channel's title (default "Vorlix: newsgroups read aloud").
    void SetTitle(const QString& title) { channelTitle = title; }

    // Adds these items (their files already written; an item of a file the feed lists
    // already replaces it), lists audio files it did not know, drops items whose file is gone
    // and writes feed.xml atomically. Returns "" or the message why the feed could not be
    // written; a feed that could not be written leaves the old feed.xml as it was.
    QString Update(const std::vector<TFeedItem>& added);
    // What the last Update noticed that the user should hear of without it being a failure: a
    // damaged feed.xml kept aside, added files that are missing or unreadable.
    QStringList Warnings() const { return warnings; }

    QString Folder() const { return folder; }
    QString FeedPath() const;
    static QString FileName();        // "feed.xml"
    static QString DamagedFileName(); // "feed-damaged.xml"
    // An audio file the feed lists: .mp3 or .wav (any letter case), not hidden, not a
    // temporary file of a conversion ("$$$" first).
    static bool IsAudioFileName(const QString& name);
    // Whether file, a link perhaps, leads to a file directly in the folder (its canonical path).
    static bool InFolder(const QFileInfo& file, const QString& canonicalFolder);
    // "audio/mpeg", "audio/wav", "application/rss+xml; charset=utf-8" for the feed, or empty.
    static QString ContentType(const QString& name);
    // "comp.lang.misc — 3 articles by Eve Smith, Bob".
    static QString Description(const TFeedItem& item);

private:
    struct TEntry;
    enum class TRead { Missing, Ours, Damaged };
    TRead readFeed(std::vector<TEntry>& entries, QString& why) const;
    QString keepDamagedCopy();
    QString enclosureUrl(const QString& fileName) const;
    QByteArray render(const std::vector<TEntry>& entries) const;

    QString folder;
    QString baseUrl;
    QString channelTitle;
    QStringList warnings;
    // Files that could not be read as audio, by name, size and time: not read again while
    // they stay as they are.
    QSet<QString> unreadable;
};
