#include "render/PodcastFeed.h"

#include "audio/AudioFileInfo.h"
#include "core/BaseUtils.h"
#include "core/TextFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QUrl>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <algorithm>
#include <cmath>

namespace {
const QString ItunesNs = QStringLiteral("http://www.itunes.com/dtds/podcast-1.0.dtd");
const QString AtomNs = QStringLiteral("http://www.w3.org/2005/Atom");
const QString Generator = QStringLiteral("Vorlix");

// Authors named in full before the rest are counted.
constexpr int NamedAuthors = 5;

// One line of text as XML 1.0 may hold it: characters it forbids (most control characters,
// lone surrogates, U+FFFE and U+FFFF) are left out, white space runs become one blank.
QString XmlLine(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const char16_t u = c.unicode();
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += c;
            out += text[++i];
        } else if (c.isSurrogate() || u == 0xFFFE || u == 0xFFFF) {
            continue;
        } else if (u < 0x20) {
            if (u == '\t' || u == '\n' || u == '\r')
                out += QLatin1Char(' ');
        } else {
            out += c;
        }
    }
    return out.simplified();
}

QString AuthorList(const QStringList& authors)
{
    QStringList unique;
    for (const QString& a : authors) {
        const QString name = XmlLine(a);
        if (!name.isEmpty() && !unique.contains(name))
            unique << name;
    }
    if (unique.size() <= NamedAuthors + 1)
        return unique.join(QStringLiteral(", "));
    const qsizetype others = unique.size() - NamedAuthors;
    return unique.mid(0, NamedAuthors).join(QStringLiteral(", ")) + QStringLiteral(" and %1 others").arg(others);
}

// The guid of a file as it is now: its name, size and modification time (whole seconds, as
// every file system keeps them). A file written again is a new episode to a podcast app.
QString GuidOf(const QFileInfo& file)
{
    const QByteArray key = file.fileName().toUtf8() + '\n' + QByteArray::number(file.size()) + '\n'
                           + QByteArray::number(file.lastModified().toSecsSinceEpoch());
    return QStringLiteral("vorlix-")
           + QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex());
}

// "Tue, 14 May 2024 09:30:00 +0000": with the day's name, which some podcast apps insist on.
QString Rfc822(const QDateTime& time)
{
    return QLocale::c().toString(time.toUTC(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss")) + QStringLiteral(" +0000");
}

QString Duration(qint64 seconds)
{
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// "H:MM:SS", "MM:SS" or seconds; -1 when it is none of them.
qint64 ParseDuration(const QString& text)
{
    qint64 total = 0;
    const QStringList parts = text.trimmed().split(QLatin1Char(':'));
    if (parts.size() > 3)
        return -1;
    for (const QString& p : parts) {
        bool ok = false;
        const qint64 v = p.toLongLong(&ok);
        if (!ok || v < 0)
            return -1;
        total = total * 60 + v;
    }
    return total;
}

qint64 Seconds(qint64 ms)
{
    return (ms + 500) / 1000;
}

QString UnreadableKey(const QFileInfo& file)
{
    return file.fileName() + QLatin1Char('\n') + QString::number(file.size()) + QLatin1Char('\n')
           + QString::number(file.lastModified().toMSecsSinceEpoch());
}
}

struct TPodcastFeed::TEntry {
    QString FileName;
    QString Title;
    QString Description;
    QString Author;
    QString Guid;
    QDateTime Published;
    qint64 Length = -1;    // bytes, as the enclosure says
    qint64 Duration = -1;  // seconds; -1 unknown
};

TPodcastFeed::TPodcastFeed(const QString& folder)
    : folder(QDir::cleanPath(QDir(folder).absolutePath())),
      channelTitle(QStringLiteral("Vorlix: newsgroups read aloud"))
{
}

void TPodcastFeed::SetBaseUrl(const QString& url)
{
    baseUrl = url.trimmed();
    if (!baseUrl.isEmpty() && !baseUrl.endsWith(QLatin1Char('/')))
        baseUrl += QLatin1Char('/');
}

QString TPodcastFeed::FileName()
{
    return QStringLiteral("feed.xml");
}

QString TPodcastFeed::DamagedFileName()
{
    return QStringLiteral("feed-damaged.xml");
}

QString TPodcastFeed::FeedPath() const
{
    return folder + QLatin1Char('/') + FileName();
}

bool TPodcastFeed::IsAudioFileName(const QString& name)
{
    return !name.startsWith(QLatin1Char('.')) && !name.startsWith(QLatin1String("$$$"))
           && !name.contains(QLatin1Char('/')) && ContentType(name).startsWith(QLatin1String("audio/"));
}

bool TPodcastFeed::InFolder(const QFileInfo& file, const QString& canonicalFolder)
{
    const QString target = file.canonicalFilePath();
    return !target.isEmpty() && QFileInfo(target).absolutePath() == canonicalFolder;
}

QString TPodcastFeed::ContentType(const QString& name)
{
    if (name.endsWith(QLatin1String(".mp3"), Qt::CaseInsensitive))
        return QStringLiteral("audio/mpeg");
    if (name.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive))
        return QStringLiteral("audio/wav");
    if (name == FileName())
        return QStringLiteral("application/rss+xml; charset=utf-8");
    return {};
}

QString TPodcastFeed::Description(const TFeedItem& item)
{
    const int count = std::max(item.ArticleCount, 1);
    QString text = count == 1 ? QStringLiteral("1 article") : QStringLiteral("%1 articles").arg(count);
    const QString authors = AuthorList(item.Authors);
    if (!authors.isEmpty())
        text += QStringLiteral(" by ") + authors;
    const QString group = XmlLine(item.Group);
    return group.isEmpty() ? text : group + QStringLiteral(" — ") + text;
}

QString TPodcastFeed::enclosureUrl(const QString& fileName) const
{
    if (baseUrl.isEmpty())
        return QUrl::fromLocalFile(folder + QLatin1Char('/') + fileName).toString(QUrl::FullyEncoded);
    return baseUrl + QString::fromLatin1(QUrl::toPercentEncoding(fileName));
}

TPodcastFeed::TRead TPodcastFeed::readFeed(std::vector<TEntry>& entries, QString& why) const
{
    QFile file(FeedPath());
    if (!file.exists())
        return TRead::Missing;
    if (!file.open(QIODevice::ReadOnly)) {
        why = file.errorString();
        return TRead::Damaged;
    }
    QXmlStreamReader xml(&file);
    bool ours = false;
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("rss")) {
        why = xml.hasError() ? xml.errorString() : QStringLiteral("it is not an RSS feed");
        return TRead::Damaged;
    }
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("channel") || !xml.namespaceUri().isEmpty()) {
            xml.skipCurrentElement();
            continue;
        }
        while (xml.readNextStartElement()) {
            const bool plain = xml.namespaceUri().isEmpty();
            if (plain && xml.name() == QLatin1String("generator")) {
                ours = xml.readElementText().trimmed() == Generator;
                continue;
            }
            if (!plain || xml.name() != QLatin1String("item")) {
                xml.skipCurrentElement();
                continue;
            }
            TEntry e;
            QString url;
            while (xml.readNextStartElement()) {
                const QStringView name = xml.name();
                if (xml.namespaceUri().isEmpty()) {
                    if (name == QLatin1String("title")) {
                        e.Title = xml.readElementText();
                    } else if (name == QLatin1String("description")) {
                        e.Description = xml.readElementText();
                    } else if (name == QLatin1String("guid")) {
                        e.Guid = xml.readElementText().trimmed();
                    } else if (name == QLatin1String("pubDate")) {
                        e.Published = QDateTime::fromString(xml.readElementText().trimmed(), Qt::RFC2822Date);
                    } else if (name == QLatin1String("enclosure")) {
                        url = xml.attributes().value(QLatin1String("url")).toString();
                        bool ok = false;
                        e.Length = xml.attributes().value(QLatin1String("length")).toLongLong(&ok);
                        if (!ok)
                            e.Length = -1;
                        xml.skipCurrentElement();
                    } else {
                        xml.skipCurrentElement();
                    }
                } else if (xml.namespaceUri() == ItunesNs && name == QLatin1String("duration")) {
                    e.Duration = ParseDuration(xml.readElementText());
                } else if (xml.namespaceUri() == ItunesNs && name == QLatin1String("author")) {
                    e.Author = xml.readElementText();
                } else {
                    xml.skipCurrentElement();
                }
            }
            e.FileName = QUrl(url).fileName();
            if (e.FileName.isEmpty())
                UtilsClass::Log(QStringLiteral("Feed: an item without an enclosure (\"%1\") is left out").arg(e.Title));
            else
                entries.push_back(std::move(e));
        }
    }
    // Whatever follows the feed must be nothing but comments and white space.
    while (!xml.atEnd())
        xml.readNext();
    if (xml.hasError()) {
        why = QStringLiteral("%1 at line %2").arg(xml.errorString()).arg(xml.lineNumber());
        return TRead::Damaged;
    }
    if (!ours) {
        why = QStringLiteral("it was not written by Vorlix");
        return TRead::Damaged;
    }
    return TRead::Ours;
}

QString TPodcastFeed::keepDamagedCopy()
{
    const QFileInfo damaged(folder + QLatin1Char('/') + DamagedFileName());
    QString target = damaged.filePath();
    for (int n = 2; QFileInfo::exists(target) || QFileInfo(target).isSymLink(); ++n) {
        if (n > 999)
            return {};
        target = folder + QLatin1Char('/') + damaged.completeBaseName() + QLatin1Char('-') + QString::number(n)
                 + QStringLiteral(".xml");
    }
    return QFile::copy(FeedPath(), target) ? target : QString();
}

QString TPodcastFeed::Update(const std::vector<TFeedItem>& added)
{
    warnings.clear();
    QElapsedTimer timer;
    timer.start();
    const QString canonicalFolder = QFileInfo(folder).canonicalFilePath();
    if (canonicalFolder.isEmpty() || !QFileInfo(canonicalFolder).isDir())
        return QStringLiteral("The output folder %1 does not exist").arg(QDir::toNativeSeparators(folder));

    std::vector<TEntry> known;
    QString why;
    if (readFeed(known, why) == TRead::Damaged) {
        const QString kept = keepDamagedCopy();
        if (kept.isEmpty()) {
            const QString message = QStringLiteral("%1 cannot be read (%2) and no copy of it could be kept, so it "
                                                   "was left as it is")
                                        .arg(QDir::toNativeSeparators(FeedPath()), why);
            UtilsClass::Log(QStringLiteral("Feed: ") + message);
            return message;
        }
        known.clear();
        const QString message = QStringLiteral("%1 could not be read (%2); it is kept as %3 and the feed was made "
                                               "again from the audio files")
                                    .arg(FileName(), why, QFileInfo(kept).fileName());
        UtilsClass::Log(QStringLiteral("Feed: ") + message);
        warnings << message;
    }

    // The audio files of the folder, by name. A link counts when it leads to a file of the
    // folder itself, as the feed's web server would serve it.
    QHash<QString, QFileInfo> files;
    const QFileInfoList listed = QDir(canonicalFolder)
                                     .entryInfoList({QStringLiteral("*.mp3"), QStringLiteral("*.wav")},
                                                    QDir::Files | QDir::Readable, QDir::NoSort);
    files.reserve(listed.size());
    for (const QFileInfo& f : listed) {
        if (IsAudioFileName(f.fileName()) && (!f.isSymLink() || InFolder(f, canonicalFolder)))
            files.insert(f.fileName(), f);
    }

    QHash<QString, TEntry> entries;
    entries.reserve(files.size());
    // What the feed knew, while its file is there.
    for (TEntry& e : known) {
        const auto file = files.constFind(e.FileName);
        if (file == files.cend() || entries.contains(e.FileName))
            continue;
        const QString guid = GuidOf(*file);
        if (e.Guid != guid || e.Length != file->size() || e.Duration < 0) {
            // Written again since the feed listed it: a new episode of the same title.
            const TAudioFileInfo audio = ReadAudioFileInfo(file->filePath(), false);
            if (!audio.Ok) {
                UtilsClass::Log(QStringLiteral("Feed: %1 no longer reads as audio and is left out").arg(e.FileName));
                continue;
            }
            if (e.Guid != guid) {
                e.Guid = guid;
                e.Published = file->lastModified();
            }
            e.Length = file->size();
            e.Duration = Seconds(audio.LengthMs);
        }
        if (!e.Published.isValid())
            e.Published = file->lastModified();
        entries.insert(e.FileName, std::move(e));
    }

    // What was rendered now.
    for (const TFeedItem& item : added) {
        QString name = item.FileName;
        if (name.contains(QLatin1Char('/'))) {
            const QFileInfo given(name);
            if (QFileInfo(given.absolutePath()).canonicalFilePath() != canonicalFolder) {
                warnings << QStringLiteral("%1 is not in the output folder; the feed does not list it")
                                .arg(QDir::toNativeSeparators(name));
                continue;
            }
            name = given.fileName();
        }
        const auto file = files.constFind(name);
        if (file == files.cend()) {
            warnings << QStringLiteral("%1 is not an audio file of the output folder; the feed does not list it").arg(name);
            continue;
        }
        const TAudioFileInfo audio = ReadAudioFileInfo(file->filePath(), item.Title.trimmed().isEmpty());
        if (!audio.Ok) {
            warnings << QStringLiteral("%1 cannot be read as audio; the feed does not list it").arg(name);
            continue;
        }
        TEntry e;
        e.FileName = name;
        e.Title = XmlLine(item.Title);
        if (e.Title.isEmpty())
            e.Title = audio.Title;
        e.Description = Description(item);
        e.Author = AuthorList(item.Authors);
        e.Guid = GuidOf(*file);
        e.Length = file->size();
        e.Duration = Seconds(audio.LengthMs);
        const auto before = entries.constFind(name);
        if (item.Published.isValid())
            e.Published = item.Published;
        else if (before != entries.cend() && before->Guid == e.Guid)
            e.Published = before->Published;
        else
            e.Published = file->lastModified();
        entries.insert(name, std::move(e));
    }

    // Audio files the feed did not know: made by the window, or the feed was made again.
    for (auto file = files.cbegin(); file != files.cend(); ++file) {
        if (entries.contains(file.key()))
            continue;
        const QString key = UnreadableKey(*file);
        if (unreadable.contains(key))
            continue;
        const TAudioFileInfo audio = ReadAudioFileInfo(file->filePath(), true);
        if (!audio.Ok) {
            unreadable.insert(key);
            UtilsClass::Log(QStringLiteral("Feed: %1 cannot be read as audio and is not listed").arg(file.key()));
            continue;
        }
        TFeedItem tagged;
        tagged.Group = audio.Album;
        if (!audio.Artist.isEmpty())
            tagged.Authors << audio.Artist;
        tagged.ArticleCount = std::max<int>(1, int(audio.Chapters.size()));
        TEntry e;
        e.FileName = file.key();
        e.Title = XmlLine(audio.Title);
        e.Description = Description(tagged);
        e.Author = AuthorList(tagged.Authors);
        e.Guid = GuidOf(*file);
        e.Length = file->size();
        e.Duration = Seconds(audio.LengthMs);
        e.Published = file->lastModified();
        entries.insert(e.FileName, std::move(e));
    }

    std::vector<TEntry> items;
    items.reserve(entries.size());
    for (TEntry& e : entries) {
        if (XmlLine(e.Title).isEmpty())
            e.Title = QFileInfo(e.FileName).completeBaseName();
        items.push_back(std::move(e));
    }
    // The feed keeps whole seconds: items are ordered by what is written, so an item read
    // back keeps its place among those made in the same second.
    for (TEntry& e : items)
        e.Published.setMSecsSinceEpoch(e.Published.toSecsSinceEpoch() * 1000);
    std::sort(items.begin(), items.end(), [](const TEntry& a, const TEntry& b) {
        if (a.Published != b.Published)
            return a.Published > b.Published;
        return a.FileName > b.FileName;
    });

    const QByteArray xml = render(items);
    if (xml.isEmpty()) {
        UtilsClass::Log(QStringLiteral("Feed: the XML writer failed; feed.xml is left as it was"));
        return QStringLiteral("The podcast feed could not be composed; %1 is left as it was")
            .arg(QDir::toNativeSeparators(FeedPath()));
    }
    QStringList lines = QString::fromUtf8(xml).split(QLatin1Char('\n'));
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    QString reason;
    if (!TryWriteLinesAtomically(FeedPath(), lines, reason)) {
        const QString message = QStringLiteral("The podcast feed %1 could not be written: %2")
                                    .arg(QDir::toNativeSeparators(FeedPath()), reason);
        UtilsClass::Log(QStringLiteral("Feed: ") + message);
        return message;
    }
    UtilsClass::Log(QStringLiteral("Feed: %1 written with %2 items (%3 added) in %4 ms")
                        .arg(FeedPath())
                        .arg(items.size())
                        .arg(added.size())
                        .arg(timer.elapsed()));
    return {};
}

QByteArray TPodcastFeed::render(const std::vector<TEntry>& entries) const
{
    QByteArray data;
    QXmlStreamWriter w(&data);
    w.setAutoFormatting(true);
    w.setAutoFormattingIndent(1);
    const auto text = [&w](const QString& name, const QString& value) { w.writeTextElement(name, XmlLine(value)); };
    const auto itunes = [&w](const QString& name, const QString& value) {
        w.writeTextElement(ItunesNs, name, XmlLine(value));
    };
    const QString description = QStringLiteral("Newsgroup articles read aloud by Vorlix.");
    w.writeStartDocument();
    w.writeNamespace(ItunesNs, QStringLiteral("itunes"));
    w.writeNamespace(AtomNs, QStringLiteral("atom"));
    w.writeStartElement(QStringLiteral("rss"));
    w.writeAttribute(QStringLiteral("version"), QStringLiteral("2.0"));
    w.writeStartElement(QStringLiteral("channel"));
    text(QStringLiteral("title"), channelTitle);
    text(QStringLiteral("link"), baseUrl.isEmpty() ? QUrl::fromLocalFile(folder + QLatin1Char('/')).toString(QUrl::FullyEncoded)
                                                   : baseUrl);
    text(QStringLiteral("description"), description);
    text(QStringLiteral("language"), QLocale::system().bcp47Name());
    text(QStringLiteral("generator"), Generator);
    text(QStringLiteral("lastBuildDate"), Rfc822(QDateTime::currentDateTimeUtc()));
    if (!entries.empty())
        text(QStringLiteral("pubDate"), Rfc822(entries.front().Published));
    if (baseUrl.startsWith(QLatin1String("http"), Qt::CaseInsensitive)) {
        w.writeEmptyElement(AtomNs, QStringLiteral("link"));
        w.writeAttribute(QStringLiteral("href"), baseUrl + FileName());
        w.writeAttribute(QStringLiteral("rel"), QStringLiteral("self"));
        w.writeAttribute(QStringLiteral("type"), QStringLiteral("application/rss+xml"));
    }
    itunes(QStringLiteral("author"), Generator);
    itunes(QStringLiteral("summary"), description);
    itunes(QStringLiteral("explicit"), QStringLiteral("false"));
    w.writeEmptyElement(ItunesNs, QStringLiteral("category"));
    w.writeAttribute(QStringLiteral("text"), QStringLiteral("News"));
    for (const TEntry& e : entries) {
        w.writeStartElement(QStringLiteral("item"));
        text(QStringLiteral("title"), e.Title);
        text(QStringLiteral("description"), e.Description);
        itunes(QStringLiteral("summary"), e.Description);
        if (!XmlLine(e.Author).isEmpty())
            itunes(QStringLiteral("author"), e.Author);
        w.writeEmptyElement(QStringLiteral("enclosure"));
        w.writeAttribute(QStringLiteral("url"), enclosureUrl(e.FileName));
        w.writeAttribute(QStringLiteral("length"), QString::number(e.Length));
        w.writeAttribute(QStringLiteral("type"), ContentType(e.FileName));
        w.writeStartElement(QStringLiteral("guid"));
        w.writeAttribute(QStringLiteral("isPermaLink"), QStringLiteral("false"));
        w.writeCharacters(e.Guid);
        w.writeEndElement();
        text(QStringLiteral("pubDate"), Rfc822(e.Published));
        itunes(QStringLiteral("duration"), Duration(e.Duration));
        itunes(QStringLiteral("explicit"), QStringLiteral("false"));
        w.writeEndElement();
    }
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndDocument();
    // The writer fails only on text XML cannot hold, which XmlLine has taken out.
    return w.hasError() ? QByteArray() : data;
}
