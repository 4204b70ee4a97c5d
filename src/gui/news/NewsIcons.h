#pragma once
// The pictures of the server tree and the article view, by their index in the main window's
// picture list: 0 server, 1 newsgroup, 2 marked for speaking, 3 folder entry, 4 folder entry
// selected, 5 spoken, 6 newsgroup being spoken, 9 watched thread; a newsgroup in a speaking run:
// 2 its marked articles aloud, 10 selected ones aloud, 11 marked ones to file, 12 selected ones
// to file.
#include <QIcon>

enum TNewsPicture {
    npServer = 0,
    npNewsGroup = 1,
    npSpeak = 2,
    npFolder = 3,
    npFolderSelected = 4,
    npSpoken = 5,
    npSpeakingGroup = 6,
    npWatch = 9,
    npSelectedAloud = 10,
    npMarkedToFile = 11,
    npSelectedToFile = 12
};

QIcon NewsPicture(int index);

class QStyle;
class QString;

// The toolbar picture of a main-window command: the desktop's icon theme first; where the
// theme has none, the scalable picture shipped in the data folder's "icons" (sharp at any
// scale); the style's own picture (picture, a QStyle::StandardPixmap) last.
QIcon CommandIcon(const QString& commandId, int picture, const QStyle* style);
// The theme name and the shipped file name of a command's picture (empty when it has none).
QString CommandIconThemeName(const QString& commandId);
QString CommandIconFile(const QString& commandId);
