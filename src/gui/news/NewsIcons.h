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
