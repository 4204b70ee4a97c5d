#include "preprocess/TFilterText.h"

#include <algorithm>
#include <numeric>

TFilterText::TFilterText(QString text)
    : right(std::move(text))
    , rightOrigin(size_t(right.size()))
    , sourceLength(int(right.size()))
{
    std::iota(rightOrigin.begin(), rightOrigin.end(), 0);
    // Room for the text and some growth (translations, pause tags) up front, so the passes
    // reuse the two buffers instead of growing them piece by piece.
    const qsizetype room = right.size() + right.size() / 8 + 64;
    left.reserve(room);
    leftOrigin.reserve(size_t(room));
    right.detach();
}

void TFilterText::SetAt(int index, QChar c)
{
    const int l = int(left.size());
    if (index < l)
        left[index] = c;
    else
        right[rp + index - l] = c;
}

QString TFilterText::Mid(int pos, int count) const
{
    const int len = Length();
    pos = std::clamp(pos, 0, len);
    count = std::clamp(count, 0, len - pos);
    const int l = int(left.size());
    QString out;
    out.reserve(count);
    if (pos < l) {
        const int n = std::min(count, l - pos);
        out += QStringView(left).mid(pos, n);
        pos += n;
        count -= n;
    }
    if (count > 0)
        out += QStringView(right).mid(rp + pos - l, count);
    return out;
}

bool TFilterText::StartsWithAt(int pos, QStringView s) const
{
    if (pos < 0 || pos + s.size() > Length())
        return false;
    for (qsizetype k = 0; k < s.size(); ++k)
        if (At(pos + int(k)) != s.at(k))
            return false;
    return true;
}

namespace {
QChar folded(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 128)
        return (u >= u'A' && u <= u'Z') ? QChar(char16_t(u + 32)) : c;
    return c.toCaseFolded();
}

// Qt's own search folds every character it passes; here only candidates whose first character
// matches in either case are compared, which keeps the translation pass fast on long texts.
qsizetype indexOfIgnoringCase(QStringView hay, QStringView needle, qsizetype from)
{
    if (needle.isEmpty())
        return from <= hay.size() ? from : -1;
    const QChar first = needle.at(0);
    if (first.unicode() >= 128)
        return hay.indexOf(needle, from, Qt::CaseInsensitive);
    const QChar lower = folded(first);
    const QChar upper = (lower.unicode() >= u'a' && lower.unicode() <= u'z') ? QChar(char16_t(lower.unicode() - 32)) : lower;
    const qsizetype last = hay.size() - needle.size();
    const QChar* data = hay.data();
    for (qsizetype k = std::max<qsizetype>(from, 0); k <= last; ++k) {
        const QChar c = data[k];
        if (c != lower && c != upper)
            continue;
        qsizetype m = 1;
        while (m < needle.size() && folded(data[k + m]) == folded(needle.at(m)))
            ++m;
        if (m == needle.size())
            return k;
    }
    return -1;
}
}

int TFilterText::IndexOf(QStringView needle, int from, Qt::CaseSensitivity cs)
{
    if (from < 0)
        from = 0;
    if (from > Length())
        return -1;
    if (from < int(left.size()))
        moveGap(from);
    const int l = int(left.size());
    const QStringView hay = QStringView(right).mid(rp);
    const qsizetype hit = cs == Qt::CaseInsensitive ? indexOfIgnoringCase(hay, needle, from - l)
                                                    : hay.indexOf(needle, from - l, cs);
    return hit < 0 ? -1 : int(hit) + l;
}

void TFilterText::moveGap(int pos)
{
    const int l = int(left.size());
    if (pos > l) {
        const int k = pos - l;
        left += QStringView(right).mid(rp, k);
        leftOrigin.insert(leftOrigin.end(), rightOrigin.begin() + rp, rightOrigin.begin() + rp + k);
        rp += k;
    } else if (pos < l) {
        const int k = l - pos;
        if (rp < k) {
            // Room in front of the right part for what moves over, with as much again spare.
            const int room = k + std::max(k, int(right.size()) - rp);
            QString grown(room, QChar(u' '));
            grown += QStringView(right).mid(rp);
            std::vector<int> grownOrigin(size_t(room), 0);
            grownOrigin.insert(grownOrigin.end(), rightOrigin.begin() + rp, rightOrigin.end());
            right = std::move(grown);
            rightOrigin = std::move(grownOrigin);
            rp = room;
        }
        rp -= k;
        std::copy(left.constData() + pos, left.constData() + l, right.data() + rp);
        std::copy(leftOrigin.begin() + pos, leftOrigin.end(), rightOrigin.begin() + rp);
        left.truncate(pos);
        leftOrigin.resize(size_t(pos));
    }
}

void TFilterText::Replace(int pos, int count, QStringView with)
{
    const int len = Length();
    pos = std::clamp(pos, 0, len);
    count = std::clamp(count, 0, len - pos);
    const int origin = Origin(pos);
    moveGap(pos);
    rp += count;
    left += with;
    leftOrigin.insert(leftOrigin.end(), size_t(with.size()), origin);
}

int TFilterText::Origin(int pos) const
{
    if (pos < 0)
        return pos;
    const int len = Length();
    if (pos >= len)
        return sourceLength + (pos - len);
    const int l = int(left.size());
    return pos < l ? leftOrigin[size_t(pos)] : rightOrigin[size_t(rp + pos - l)];
}

void TFilterText::Rewind()
{
    if (left.isEmpty())
        return;
    moveGap(Length());
    // All text is in the left part now: it becomes the right part, the old right buffer the
    // (empty) left one, both keeping their capacity.
    std::swap(left, right);
    std::swap(leftOrigin, rightOrigin);
    rp = 0;
    left.resize(0);
    leftOrigin.clear();
}

QStringView TFilterText::View()
{
    Rewind();
    return QStringView(right).mid(rp);
}

std::vector<int> TFilterText::TakeOrigins()
{
    moveGap(Length());
    std::vector<int> result = std::move(leftOrigin);
    result.push_back(sourceLength);
    leftOrigin.clear();
    left.clear();
    right.clear();
    rightOrigin.clear();
    rp = 0;
    return result;
}
