#pragma once
// The text preprocessor: turns an article's text into the text a voice speaks. It removes quoted
// material and attribution lines, applies the user's translations and regular-expression rules,
// puts pauses at paragraph breaks, compacts runs of blanks and punctuation, rewrites links,
// blanks symbols and lowers shouted words; and it maps the positions of the spoken text back
// onto the unfiltered text.
#include "core/VorlixException.h"
#include "preprocess/TFilterText.h"
#include "preprocess/TLookUpTableUnit.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class TBaseRegistryClass;

// What the filter needs to know of the engine that will speak the text.
struct TFilterTarget {
    // The engine reads markup ("Sapi5"): a "<!--" of the writer's is broken up.
    bool ReadsMarkup = false;
    // The engine's pause markup for a duration in seconds; unset, no pauses are inserted.
    std::function<QString(double seconds)> PauseTag;
};

// A rule of "UserRegularExpressions.chl" with a bad options header, a pattern that does not
// compile, or one the engine had to give up on (match limit).
VORLIX_DECLARE_ERROR(ERegExError, EVorlixError)

// One match of a rule.
struct TTranslationRecord {
    int Position = 0; // 1-based index of the match in the text
    int Length = 0;
    QString Replacement; // always empty: every match is removed
};
using TTranslationList = QList<TTranslationRecord>;

// Where each character of the last filtered text came from in the unfiltered text.
class TOffsetList {
public:
    // The unfiltered position of a 0-based position of the filtered text. Characters that an
    // edit inserted map to the start of what it replaced; positions past the end keep their
    // distance from the end. Without a filtered text the position is returned unchanged.
    int Map(int position) const;
    void Clear() { origins.clear(); }
    void Assign(std::vector<int> originsWithEnd) { origins = std::move(originsWithEnd); }
    bool IsEmpty() const { return origins.empty(); }

private:
    std::vector<int> origins; // one per character, then the unfiltered length
};

// File names in the home folder.
inline const char* const FilterOptionsFileName = "FilterOptions.chl";
inline const char* const UserRegularExpressionsFileName = "UserRegularExpressions.chl";

class TPreProcessor {
public:
    TPreProcessor();
    virtual ~TPreProcessor();
    TPreProcessor(const TPreProcessor&) = delete;
    TPreProcessor& operator=(const TPreProcessor&) = delete;

    // Registers TTS_FilterSymbols, EnableCheckStartOfLine, EnableCheckContaining and
    // EnableUserTranslations in the speech section, loads it, copies the flags, then
    // LoadFilterOptions.
    void LoadSettings(TBaseRegistryClass& store);
    // Sets the four settings from the flags, then SaveFilterOptions. The caller saves the store.
    void SaveSettings(TBaseRegistryClass& store);

    // The text the target engine should speak. target gives the pause markup; without it no
    // pauses are inserted. A failing rule raises ERegExError.
    QString FilterText(const TFilterTarget& target, const QString& text);
    // A 0-based position of the last filtered text mapped onto the text it was made from.
    int MapPosition(int position) const { return OffsetList.Map(position); }

    // "FilterOptions.chl" (suppress lists; defaults when missing) and "UserTranslations.chl"
    // (the four default rows when it holds none).
    void LoadFilterOptions();
    void SaveFilterOptions() const;

    void GetContainingList(QStringList& list) const;
    void SetContainingList(const QStringList& list);
    QString GetStartOfLineText() const;
    void SetStartOfLineText(QString text);

    // Appends one record per match of the rule line in text (an empty match removes nothing and
    // the search goes on one character further). Logs and re-raises ERegExError.
    static void ProcessRE(const QString& ruleLine, const QString& replacement, TTranslationList& matchList,
                          const QString& text);
    // The same on a text already in UTF-8 (the filter converts once for all rules that leave the
    // text as it is).
    static void ProcessREUtf8(const QString& ruleLine, const QString& replacement, TTranslationList& matchList,
                              const QByteArray& textUtf8);

    // The match budget of one search, against patterns that backtrack without end.
    static constexpr unsigned MatchLimit = 5'000'000;

    TOffsetList OffsetList;
    QStringList ContainingList;
    QStringList StartOfLineList;
    bool FilterSymbols = false;
    bool CheckStartOfLine = false;
    bool CheckContaining = false;
    bool UseTranslations = false;
    TLookupTable Translations;

protected:
    // Whether a suppressed block begins at the line [lineStart, lineEnd) (lineEnd is the index
    // of the line break that ends it); on true, its start and length.
    virtual bool CheckBlockStart(const TFilterText& text, int lineStart, int lineEnd, int& blockStart,
                                 int& blockLength);
    // Whether the suppressed line [lineStart, lineEnd) is deleted; deleteStart and deleteLength
    // (preset to the line) may be widened.
    virtual bool CheckBlockDelete(const TFilterText& text, int lineStart, int lineEnd, int& deleteStart,
                                  int& deleteLength);

    // The next line after the line break at or after start: its first index and the index of the
    // line break that ends it. False when no further line ends in a line break before limit.
    static bool NextLine(const TFilterText& text, int limit, int start, int& nextStart, int& nextEnd);

    // Counts the line passes run so far; lets a subclass keep look-ahead results for one pass.
    unsigned FilterRun = 0;

private:
    void applyTranslations(TFilterText& text) const;
    void applyRules(TFilterText& text) const;
    void linePass(TFilterText& text, const TFilterTarget& target);
    static void compactRuns(TFilterText& text);
    static void rewriteLinks(TFilterText& text);
    static void rewriteLink(TFilterText& text, int linkStart);
    static void removeNewsReferences(TFilterText& text);
    void symbolsAndShouting(TFilterText& text) const;
};

// Recognises attribution lines ("Ann wrote:") that introduce a quotation, and quoted lines
// whose last word was wrapped onto a line of its own.
class TGroupsPreProcessor : public TPreProcessor {
public:
    // "*" stands for any run of characters; literal parts are found at their first occurrence.
    static bool MatchesWildcard(const QString& text, const QString& pattern);
    // keyword occurs in line and only " ", "." and ":" follow its first occurrence.
    static bool EndsWithKeyword(const QString& line, const QString& keyword);
    static bool IsAttributionLine(const QString& line);

protected:
    bool CheckBlockStart(const TFilterText& text, int lineStart, int lineEnd, int& blockStart,
                         int& blockLength) override;
    bool CheckBlockDelete(const TFilterText& text, int lineStart, int lineEnd, int& deleteStart,
                          int& deleteLength) override;

private:
    // A run of attribution lines found not to introduce a quotation: the distance of its end from
    // the end of the text (edits happen only before the scan, so the distance stays valid).
    unsigned chainRun = 0;
    int chainEndFromTextEnd = -1;
};
