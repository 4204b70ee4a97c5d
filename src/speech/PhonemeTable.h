#pragma once
// The rules of custom pronunciations, without any window: the phoneme table of the user
// lexicon ("Phoneme.chl", the US English phone symbols with an example of each sound), the
// check of a pronunciation against it, its normal form, and where a symbol may be inserted.
// Also the character rules of the user translations' pronunciations and of lexicon words.
#include "core/VorlixException.h"

#include <QList>
#include <QString>

VORLIX_DECLARE_ERROR(EPhonemeFileError, EVorlixError)

struct TPhonemeRow {
    QString Symbol;
    QString Example; // "Sounds Like ...."
};

class TPhonemeTable {
public:
    // Reads the rows of the file: "<1033>" (its first occurrence) is skipped, reading stops at
    // "</1033>" or the end; every other line is symbol "|" example ["|" ignored]. A missing
    // file raises EPhonemeFileError "Phoneme symbol file not found". Replaces earlier rows.
    void LoadFromFile(const QString& fileName);
    // The shipped "Phoneme.chl" (empty when it is not installed).
    static QString DefaultFileName();

    QList<TPhonemeRow> Rows;
    // "|" followed by each symbol and a "|" after it, in file order: "|aa|ae|ah|".
    QString PhonemeSet;

    bool Contains(const QString& symbol) const;
    // The first blank-separated token of the pronunciation that is not in the set; empty when
    // every token is.
    QString FirstInvalidToken(const QString& pronunciation) const;
    bool AllValid(const QString& pronunciation) const { return FirstInvalidToken(pronunciation).isEmpty(); }
};

// Every run of spaces becomes one space, and the result is trimmed.
QString NormalisePronunciation(const QString& pronunciation);

// Inserting a phoneme symbol into a pronunciation at the caret (0 = before everything).
struct TSymbolInsertion {
    bool Inserted = false;  // false: the caret lies inside a token, nothing was inserted
    QString Text;           // the field's new text
    int Caret = 0;          // where the caret goes afterwards
};
// At the very start: the trimmed result of text + " " + symbol. Elsewhere: refused when the
// characters on both sides of the caret are not spaces; else the symbol is inserted, with a
// space after it unless one follows and a space before it unless one precedes.
TSymbolInsertion InsertPhonemeSymbol(const QString& text, int caret, const QString& symbol);

// The accented letters of the Windows-1252 code page (bytes 8A, 8C, 9A, 9C, 9F, A1, BF, C0 to
// D6, D8 to F6, F8 to FF).
bool IsAccentedLetter(QChar c);
// A pronunciation of the user translations: space, digits, "=", A-Z, a-z, "{", "}" and the
// accented letters only.
bool IsValidTranslationText(const QString& text);
// A lexicon word: digits, A-Z, a-z and the accented letters only.
bool IsValidLexiconWord(const QString& word);
