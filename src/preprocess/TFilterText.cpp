#include "preprocess/TFilterText.h"

#include <algorithm>
#include <numeric>

TFilterText::TFilterText(const QString& text)
    : right(text)
    , rightOrigin(size_t(text.size()))
    , sourceLength(int(text.size()))
{
    std::iota(rightOrigin.begin(), rightOrigin.end(), 0);
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

int TFilterText::IndexOf(QStringView needle, int from, Qt::CaseSensitivity cs)
{
    if (from < 0)
        from = 0;
    if (from > Length())
        return -1;
    if (from < int(left.size()))
        moveGap(from);
    const int l = int(left.size());
    const qsizetype hit = QStringView(right).mid(rp).indexOf(needle, from - l, cs);
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
