#pragma once
// The user translations: strings the preprocessor replaces before speaking ("tia" spoken as
// "thanks in advance"), kept in "UserTranslations.chl" in the home folder.
#include "core/VorlixException.h"

#include <QList>
#include <QString>

VORLIX_DECLARE_ERROR(ELookupTblException, EVorlixError)
// A rule or translation file that cannot be read or written.
VORLIX_DECLARE_ERROR(EFilterFileError, EVorlixError)

struct TLookupRecord {
    QString Key;            // as entered, not trimmed
    int Number = 0;         // the file's first column; 0 for rows made by the program
    QString Pronunciation;  // what the key is replaced by, as entered
    bool CaseSensitive = false;
};

class TLookupTable {
public:
    bool Exists(const QString& key) const { return indexOf(key) >= 0; }
    // The first row whose key equals key exactly, or nullptr.
    const TLookupRecord* Find(const QString& key) const;
    // Fails when the key exists, or when the key or the pronunciation is blank after trimming.
    void Add(const QString& key, const QString& pronunciation, int number, bool caseSensitive);
    // Replaces pronunciation and case flag of the row with that key; fails when there is none.
    void Modify(const QString& key, const QString& pronunciation, bool caseSensitive);
    void Delete(const QString& key);
    // key + separator + pronunciation + separator + "T"/"F".
    QString RecordText(int index, const QString& separator) const;

    // Adds the rows of a file to the table (a missing file is created empty). A line that does
    // not make a row is logged and skipped.
    void LoadFromFile(const QString& fileName);
    // Rewrites FileName, one "number~key~pronunciation~T/F" line per row, CR LF line ends.
    void SaveToFile() const;

    int Count() const { return Records.size(); }
    const TLookupRecord& operator[](int index) const { return Records.at(index); }
    void Clear() { Records.clear(); }

    QList<TLookupRecord> Records;
    QString FileName;

private:
    int indexOf(const QString& key) const;
};

// The file's name in the home folder.
inline const char* const UserTranslationsFileName = "UserTranslations.chl";
