#pragma once
// What an audio file holds, read back with TagLib: its playing time and, when asked, its tags
// (ID3v2 or ID3 version 1 in an MP3, ID3v2 or a RIFF INFO list in a WAV) and the titles of
// its chapters. Used where finished files are listed again, such as the podcast feed.
#include <QString>
#include <QStringList>

struct TAudioFileInfo {
    bool Ok = false;      // the file was read as MP3 or WAV and holds audio
    qint64 LengthMs = 0;  // playing time
    QString Title;
    QString Artist;
    QString Album;
    QString Comment;
    QStringList Chapters; // chapter titles in time order (ID3v2 CHAP frames)
};

// Reads an .mp3 or .wav file (by its extension, in any letter case). withTags false reads only
// the playing time, which is quicker. A file that cannot be read, or holds no audio, gives Ok
// false; nothing is thrown.
TAudioFileInfo ReadAudioFileInfo(const QString& path, bool withTags = true);
