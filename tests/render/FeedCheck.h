#pragma once
// Helpers of the feed tests: audio files spoken by the real speech manager (eSpeak NG, MP3
// through LAME, tags through TagLib, as the window and the renderer write them), and the feed
// read back by an independent reader, Python's feedparser, in a process of its own while this
// one keeps serving its events.
#include "TestSupport.h"

#include "audio/TAudioFileUnit.h"
#include "core/RegistryUnit.h"
#include "speech/SpeechAPIUnit.h"
#include "speech/TBaseTTSUnit.h"
#include "speech/TBaseVoiceUnit.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <memory>
#include <vector>

namespace FeedCheck {

inline QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool WriteAll(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

// What feedparser made of a feed: {"bozo", "error", "version", "title", "language", "items":
// [{"title", "summary", "author", "id", "permalink", "published" (seconds since 1970, UTC),
// "duration", "href", "length", "type", "real" (the file's playing time in seconds as mutagen
// or Python's wave module reads it, for file:// enclosures), "text" (the exact texts of title,
// description and pubDate as an XML parser reads them: feedparser takes a title with markup
// in it for HTML)}]}. Empty when Python failed. Without playingTimes "real" is left out,
// which is much quicker for a long feed.
inline QJsonObject Parse(const QString& pathOrUrl, bool playingTimes = true)
{
    static const char* script = R"PY(
import sys, json, calendar, wave, urllib.parse, urllib.request
import xml.etree.ElementTree as ET
import feedparser, mutagen.mp3
src = sys.argv[1]
raw = urllib.request.urlopen(src).read() if src.startswith('http') else open(src, 'rb').read()
d = feedparser.parse(raw)
try:
    texts = [[i.findtext(n) for n in ('title', 'description', 'pubDate')] for i in ET.fromstring(raw).iter('item')]
except ET.ParseError:
    texts = []
def real(href):
    u = urllib.parse.urlparse(href or '')
    if u.scheme != 'file' or sys.argv[2] != 'times':
        return None
    p = urllib.parse.unquote(u.path)
    try:
        if p.lower().endswith('.mp3'):
            return mutagen.mp3.MP3(p).info.length
        with wave.open(p) as w:
            return w.getnframes() / w.getframerate()
    except Exception:
        return None
items = []
for n, e in enumerate(d.entries):
    enc = e.enclosures[0] if e.get('enclosures') else {}
    items.append({'title': e.get('title'), 'summary': e.get('summary'), 'author': e.get('author'),
                  'id': e.get('id'), 'permalink': e.get('guidislink'),
                  'published': calendar.timegm(e.published_parsed) if e.get('published_parsed') else None,
                  'duration': e.get('itunes_duration'), 'href': enc.get('href'),
                  'length': int(enc['length']) if enc.get('length') else None, 'type': enc.get('type'),
                  'real': real(enc.get('href')), 'text': texts[n] if n < len(texts) else None})
print(json.dumps({'bozo': bool(d.bozo), 'error': str(d.get('bozo_exception', '')), 'version': d.version,
                  'title': d.feed.get('title'), 'language': d.feed.get('language'), 'items': items}))
)PY";
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(script), pathOrUrl,
                                                 playingTimes ? QStringLiteral("times") : QStringLiteral("-")});
    if (!TestSupport::WaitFor([&p] { return p.state() == QProcess::NotRunning; }, 60000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    const QByteArray out = p.readAllStandardOutput();
    if (p.exitCode() != 0)
        qWarning("feedparser: %s", p.readAllStandardError().constData());
    return QJsonDocument::fromJson(out).object();
}

// "H:MM:SS", "MM:SS" or seconds, as itunes:duration may say.
inline double DurationSeconds(const QString& text)
{
    double total = 0;
    for (const QString& part : text.split(QLatin1Char(':')))
        total = total * 60 + part.toDouble();
    return total;
}

inline QStringList Ids(const QJsonObject& feed)
{
    QStringList ids;
    for (const QJsonValue& v : feed[QStringLiteral("items")].toArray())
        ids << v[QStringLiteral("id")].toString();
    return ids;
}

inline QStringList Titles(const QJsonObject& feed)
{
    QStringList titles;
    for (const QJsonValue& v : feed[QStringLiteral("items")].toArray())
        titles << v[QStringLiteral("title")].toString();
    return titles;
}

// The speech manager of the test profile, speaking into files with an eSpeak NG voice.
class TSpeaker {
public:
    TSpeaker()
    {
        store.LoadAll();
        tts = std::make_unique<TBaseTTS>();
        tts->SetShowExceptionDialogs(false);
        tts->InitializeAll(store);
        for (int i = 0; i < tts->Voices.Count() && !voice; ++i) {
            TBaseVoiceClass* v = tts->Voices[i];
            if (v->Enabled && v->Engine && v->Engine->Api == QLatin1String("Sapi5") && v->Language == 1033)
                voice = v;
        }
        tts->OutputMode = 1;
    }

    // Speaks text into folder/name.mp3 (format "MP3") or .wav ("Wav") with the tags' title
    // and chapters as given (an empty title: the manager's own, the file name). Returns the
    // file's path, or empty when it was not written.
    QString Speak(const QString& folder, const QString& name, const QString& format, const QString& text,
                  const QString& title = {}, const std::vector<TAudioChapter>& chapters = {})
    {
        if (!voice)
            return {};
        int finished = 0;
        tts->OnSpeechEvent = [&finished](TBaseTTS*, unsigned char code, const QString&) { finished += code == 6; };
        tts->OutputDir = folder;
        tts->SetOutputFormat(format);
        tts->SetOutputFile(name);
        tts->Tags.Title = title;
        tts->Tags.Chapters = chapters;
        tts->Speak2(voice, text);
        const bool done = TestSupport::WaitFor([&finished] { return finished == 1; }, 60000);
        tts->OnSpeechEvent = nullptr;
        const QString path = folder + QLatin1Char('/') + name + (format == QLatin1String("MP3") ? ".mp3" : ".wav");
        return done && QFile::exists(path) ? path : QString();
    }

    QString VoiceName() const { return voice ? voice->DisplayName : QString(); }

private:
    TMyRegistryClass store;
    std::unique_ptr<TBaseTTS> tts;
    TBaseVoiceClass* voice = nullptr;
};

// "news readers listen to long threads ..." of that many words.
inline QString Words(int count)
{
    static const char* w[] = {"news", "readers", "listen", "to", "long", "threads", "about", "speech", "and", "music"};
    QString t;
    for (int i = 0; i < count; ++i)
        t += QLatin1String(w[i % 10]) + QLatin1Char(' ');
    return t.trimmed() + QLatin1Char('.');
}
}
