#pragma once
// The text being filtered, with the position each character had in the unfiltered text.
// It is a gap buffer: edits cost the distance from the previous edit plus their own size, so the
// filter passes, which work from left to right, stay linear in the text length.
#include <QString>
#include <QStringView>
#include <vector>

class TFilterText {
public:
    explicit TFilterText(QString text);

    int Length() const { return int(left.size() + right.size()) - rp; }
    QChar At(int index) const
    {
        const int l = int(left.size());
        return index < l ? left.at(index) : right.at(rp + index - l);
    }
    void SetAt(int index, QChar c);
    QString Mid(int pos, int count) const;
    QString ToString() const { return Mid(0, Length()); }
    bool StartsWithAt(int pos, QStringView s) const;
    // First index >= from where needle occurs, or -1. Moves the gap to from when from lies
    // before it.
    int IndexOf(QStringView needle, int from, Qt::CaseSensitivity cs = Qt::CaseSensitive);

    // Replaces count characters at pos by with. The inserted characters take the original
    // position of the first character replaced (or of the character at pos for a pure insertion).
    void Replace(int pos, int count, QStringView with);
    void Remove(int pos, int count) { Replace(pos, count, QStringView()); }
    void Insert(int pos, QStringView text) { Replace(pos, 0, text); }

    // The position in the unfiltered text of the character at pos; Length() maps to the
    // unfiltered length.
    int Origin(int pos) const;
    // Puts the whole text after the gap, the gap at the start, reusing both buffers; a pass that
    // works from left to right starts with this so it only ever moves the gap forward.
    void Rewind();
    // The whole text as one piece (rewinds first); valid until the next edit.
    QStringView View();
    // The origins of every character, in order, plus the unfiltered length at the end.
    std::vector<int> TakeOrigins();

private:
    void moveGap(int pos);

    QString left;
    std::vector<int> leftOrigin;
    QString right;       // live content is right[rp ..]
    std::vector<int> rightOrigin;
    int rp = 0;
    int sourceLength = 0;
};
