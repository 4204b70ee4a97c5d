#include "audio/AudioFileInfo.h"

#include <QFile>
#include <algorithm>
#include <taglib/chapterframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>
#include <taglib/wavfile.h>
#include <utility>
#include <vector>

namespace {
QString FromTag(const TagLib::String& s)
{
    return QString::fromStdString(s.to8Bit(true)).trimmed();
}

void ReadCommonTag(const TagLib::Tag* tag, TAudioFileInfo& info)
{
    if (!tag)
        return;
    info.Title = FromTag(tag->title());
    info.Artist = FromTag(tag->artist());
    info.Album = FromTag(tag->album());
    info.Comment = FromTag(tag->comment());
}

// The CHAP frames by start time, each named by its embedded title (TIT2) when it has one.
QStringList ChapterTitles(const TagLib::ID3v2::Tag* tag)
{
    if (!tag)
        return {};
    std::vector<std::pair<unsigned, QString>> chapters;
    for (const TagLib::ID3v2::Frame* frame : tag->frameList("CHAP")) {
        const auto* chapter = dynamic_cast<const TagLib::ID3v2::ChapterFrame*>(frame);
        if (!chapter)
            continue;
        QString title;
        const TagLib::ID3v2::FrameList titles = chapter->embeddedFrameList("TIT2");
        if (!titles.isEmpty())
            title = FromTag(titles.front()->toString());
        chapters.emplace_back(chapter->startTime(), title);
    }
    std::stable_sort(chapters.begin(), chapters.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    QStringList out;
    for (const auto& c : chapters)
        out << c.second;
    return out;
}

// MP3 and WAV files both may carry an ID3v2 tag beside their own.
template <class TFile>
TAudioFileInfo ReadFile(const QByteArray& name, bool withTags)
{
    TAudioFileInfo info;
    TFile file(name.constData(), true, TagLib::AudioProperties::Average);
    if (!file.isValid() || !file.audioProperties())
        return info;
    info.LengthMs = file.audioProperties()->lengthInMilliseconds();
    if (withTags) {
        ReadCommonTag(file.tag(), info);
        if (file.hasID3v2Tag())
            info.Chapters = ChapterTitles(file.ID3v2Tag());
    }
    info.Ok = info.LengthMs > 0;
    return info;
}
}

TAudioFileInfo ReadAudioFileInfo(const QString& path, bool withTags)
{
    const QByteArray name = QFile::encodeName(path);
    if (path.endsWith(QLatin1String(".mp3"), Qt::CaseInsensitive))
        return ReadFile<TagLib::MPEG::File>(name, withTags);
    if (path.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive))
        return ReadFile<TagLib::RIFF::WAV::File>(name, withTags);
    return {};
}
