#pragma once
// One article header record, the records of one newsgroup and the group's article file.
#include "core/DateTimeValue.h"
#include "core/VorlixException.h"
#include "news/TextIndex.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TArticleList;
class TConfigClass;

class TArticleClass {
public:
    static constexpr int PlaceholderNumber = -999;

    TArticleList* Owner = nullptr;
    qint64 Number = 0;   // the server's article number (64-bit); PlaceholderNumber for a placeholder
    int SpeakMark = 0;   // 0 none, 1 to be spoken, 2 spoken
    int ReadState = 0;   // 0 read, 1 new, 2 body not available (3: shown like 1 and 2)
    int Watch = 0;       // 1: the thread this record heads is watched
    int Expanded = 0;    // 1: the item was expanded when last seen
    int FileCounter = 0; // audio files made so far from the thread this record heads
    QString MessageID;
    QString Subject;
    QString From;
    TDateTime Date;
    QString References;
    qint64 RootNumber = 0;
    // Where the thread model that shows the record keeps its node (-1: not shown). A record
    // is shown by one thread model at a time.
    qint32 NodeIndex = -1;
    TArticleClass* Root = nullptr;
    quint8 Style = 0;    // bit 0 bold, bit 1 italic

    void SetSpeakMark(int mark);
    void CycleSpeakMark();
    void ToggleWatch();
    void SetReadState(int state);
    // Fills the record from one article-file line; throws EConvertError (logged) when a
    // number or the date does not convert.
    void ParseRecord(const QString& line) { ParseRecord(QStringView(line)); }
    void ParseRecord(QStringView line);
    QString FormatRecord() const;
    void NextFileCounter();

    bool IsPlaceholder() const { return Number == PlaceholderNumber; }
    // The thread's first article: the References text before its first blank (a view into
    // References, valid while it stays as it is).
    QStringView FirstReference() const;

    // The article file has no escaping: "|" becomes a broken bar ("\u00A6"), and every CR,
    // LF or CR LF becomes one blank, so a field can never split a line.
    static QString CleanField(const QString& text);
    // Date text of the files: the locale's short date with a four-digit year, a blank and
    // the time; the time is left out at exactly midnight.
    static QString DateText(const TDateTime& date);
    static std::optional<TDateTime> ParseDateText(QStringView text);
};

inline QStringView MessageIdOf(const TArticleClass* r)
{
    return r->MessageID;
}

// The records of one newsgroup in insertion order; owns them.
class TArticleList {
public:
    explicit TArticleList(TConfigClass* config = nullptr) : Config(config) {}
    ~TArticleList();
    TArticleList(const TArticleList&) = delete;
    TArticleList& operator=(const TArticleList&) = delete;

    // The group's configuration entry (may be none in tools and tests).
    TConfigClass* Config;

    // Adds the record unless one with the same MessageID is stored already; returns the
    // stored record, or nullptr when it was refused (the record is then released). Texts
    // are cleaned (CleanField) on the way in. A refused real article whose ID is held by a
    // placeholder fills that placeholder instead (OnRecordChanged tells the view).
    TArticleClass* Add(std::unique_ptr<TArticleClass> record);
    // Sort by the Date of each record's Root, earlier first; equal dates by Number.
    void Sort();

    int Count() const { return int(items.size()); }
    TArticleClass* At(int i) const { return items[size_t(i)].get(); }
    TArticleClass* FindByMessageID(QStringView id) const { return byId.Find(id); }
    TArticleClass* FindByMessageID(const QString& id) const { return byId.Find(id); }
    // Gives a stored record another message ID, keeping the index right.
    void ChangeMessageID(TArticleClass* record, const QString& id);
    // Removes and releases the records for which pred is true; Root links to them fall
    // back to the record itself. Returns how many were removed.
    int RemoveIf(const std::function<bool(TArticleClass*)>& pred);
    int NewCount() const;

    // Reads the group's article file. A line that does not parse is logged and becomes no
    // record, but it is kept as it is (UnreadableLines) and written back by every save, so
    // its article is not lost. Returns false when the file does not exist. Throws
    // EInOutError when it cannot be read.
    bool LoadFromFile(const QString& path);
    // The lines of the file that did not parse, in file order; saves write them at the end.
    const QStringList& UnreadableLines() const { return unreadable; }
    // Writes the file from the list, in list order, and sets the group caption.
    void SaveFromList();
    // The group's article file: data folder + the entry's FileBase + ".chl".
    QString FilePath() const;

    // Raised when Add filled a placeholder with a real article's data.
    std::function<void(TArticleList*, TArticleClass*)> OnRecordChanged;

private:
    // Files a record whose texts are clean already.
    TArticleClass* insert(std::unique_ptr<TArticleClass> record);

    std::vector<std::unique_ptr<TArticleClass>> items;
    TTextIndex<TArticleClass, &MessageIdOf> byId;
    QStringList unreadable;
};

// name + " (" + new + "/" + total + ")"
QString GroupCaption(const QString& name, int newCount, int total);
// Writes the lines of the given records into the file (atomically), then the kept lines
// unchanged (a list's UnreadableLines).
void SaveArticleLines(const QString& path, const std::vector<const TArticleClass*>& records,
                      const QStringList& keptLines = QStringList());
