#include "core/TextFunctions.h"

#include "core/BaseUtils.h"

#include <QElapsedTimer>
#include <array>
#include <cmath>
#include <limits>

QString SplitToken(QString& text, const QString& separators)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (separators.contains(text.at(i))) {
            QString token = text.left(i);
            text.remove(0, i + 1);
            return token;
        }
    }
    QString token = text;
    text.clear();
    return token;
}

QString SplitTokenSkip(QString& text, const QString& separators)
{
    qsizetype start = 0;
    while (start < text.size() && separators.contains(text.at(start)))
        ++start;
    text.remove(0, start);
    return SplitToken(text, separators);
}

namespace {

enum class TokKind { End, Word, Number, Hex, String, Char };

struct Token {
    TokKind kind = TokKind::End;
    QString text;
};

// Splits a date text into the tokens described for article dates.
class DateTokenizer {
public:
    explicit DateTokenizer(const QString& t) : s(t) {}

    Token next()
    {
        while (pos < s.size() && (s.at(pos).isSpace() || s.at(pos).unicode() < 32))
            ++pos;
        Token tok;
        if (pos >= s.size())
            return tok;
        const qsizetype start = pos;
        const QChar c = s.at(pos);
        auto isDigit = [&](qsizetype i) { return i < s.size() && s.at(i).isDigit(); };
        if (c.isLetter() || c == QLatin1Char('_')) {
            ++pos;
            while (pos < s.size() && (s.at(pos).isLetterOrNumber() || s.at(pos) == QLatin1Char('_')))
                ++pos;
            tok.kind = TokKind::Word;
        } else if (c == QLatin1Char('-') || c.isDigit()) {
            ++pos;
            while (isDigit(pos))
                ++pos;
            if (pos < s.size() && s.at(pos) == QLatin1Char('.') && isDigit(pos + 1)) {
                ++pos;
                while (isDigit(pos))
                    ++pos;
            }
            if (pos < s.size() && (s.at(pos) == QLatin1Char('e') || s.at(pos) == QLatin1Char('E'))) {
                qsizetype q = pos + 1;
                if (q < s.size() && (s.at(q) == QLatin1Char('+') || s.at(q) == QLatin1Char('-')))
                    ++q;
                if (isDigit(q)) {
                    pos = q;
                    while (isDigit(pos))
                        ++pos;
                }
            }
            if (pos < s.size() && QStringLiteral("cdsCDS").contains(s.at(pos))
                && !(pos + 1 < s.size() && s.at(pos + 1).isLetterOrNumber()))
                ++pos;
            tok.kind = TokKind::Number;
        } else if (c == QLatin1Char('$')) {
            ++pos;
            while (pos < s.size() && QStringLiteral("0123456789abcdefABCDEF").contains(s.at(pos)))
                ++pos;
            tok.kind = TokKind::Hex;
        } else if (c == QLatin1Char('\'')) {
            ++pos;
            while (pos < s.size() && s.at(pos) != QLatin1Char('\''))
                ++pos;
            if (pos < s.size())
                ++pos;
            tok.kind = TokKind::String;
        } else if (c == QLatin1Char('#')) {
            ++pos;
            while (isDigit(pos))
                ++pos;
            tok.kind = TokKind::String;
        } else {
            ++pos;
            tok.kind = TokKind::Char;
        }
        tok.text = s.mid(start, pos - start);
        return tok;
    }

private:
    const QString& s;
    qsizetype pos = 0;
};

struct DateFail {};

int nameIndex(const Token& t, const char* const* names, int count)
{
    if (t.kind != TokKind::Word)
        return -1;
    const QString up = t.text.left(3).toUpper();
    for (int i = 0; i < count; ++i) {
        if (up == QLatin1String(names[i]))
            return i;
    }
    return -1;
}

const char* const weekdays[] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
const char* const months[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                              "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

int number(const Token& t)
{
    if (t.kind != TokKind::Number)
        throw DateFail();
    bool ok = false;
    const int v = t.text.toInt(&ok, 10);
    // No part of a date has more than five digits; anything larger comes from a damaged or
    // hostile header and must not reach the arithmetic below (negating INT_MIN, overflow).
    if (!ok || v < -99999 || v > 99999)
        throw DateFail();
    return v;
}

int month(const Token& t)
{
    const int m = nameIndex(t, months, 12);
    if (m < 0)
        throw DateFail();
    return m + 1;
}

}

std::optional<TDateTime> InetDateCommon(QByteArrayView s)
{
    qsizetype pos = 0;
    const qsizetype n = s.size();
    auto letter = [&](qsizetype i) { return i < n && ((s[i] >= 'a' && s[i] <= 'z') || (s[i] >= 'A' && s[i] <= 'Z')); };
    auto digit = [&](qsizetype i) { return i < n && s[i] >= '0' && s[i] <= '9'; };
    auto name = [&](const char* const* names, int count) {
        // exactly three letters, any case
        if (!letter(pos) || !letter(pos + 1) || !letter(pos + 2) || letter(pos + 3) || digit(pos + 3))
            return -1;
        for (int i = 0; i < count; ++i) {
            bool same = true;
            for (int k = 0; k < 3 && same; ++k)
                same = (s[pos + k] & ~0x20) == names[i][k];
            if (same)
                return i;
        }
        return -1;
    };
    auto num = [&](int minDigits, int maxDigits, int& value) {
        int d = 0;
        value = 0;
        while (digit(pos) && d < maxDigits) {
            value = value * 10 + (s[pos] - '0');
            ++pos;
            ++d;
        }
        return d >= minDigits && !digit(pos) && !letter(pos);
    };
    auto blank = [&]() {
        if (pos >= n || s[pos] != ' ')
            return false;
        while (pos < n && s[pos] == ' ')
            ++pos;
        return true;
    };
    if (letter(pos)) {
        if (name(weekdays, 7) < 0)
            return std::nullopt;
        pos += 3;
        if (pos >= n || s[pos] != ',')
            return std::nullopt;
        ++pos;
        if (!blank())
            return std::nullopt;
    }
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (!num(1, 2, day) || !blank())
        return std::nullopt;
    const int mon = name(months, 12) + 1;
    if (mon == 0)
        return std::nullopt;
    pos += 3;
    if (!blank() || !num(4, 4, year) || !blank() || !num(1, 2, hour) || pos >= n || s[pos++] != ':'
        || !num(2, 2, minute))
        return std::nullopt;
    if (pos < n && s[pos] == ':') {
        ++pos;
        if (!num(2, 2, second))
            return std::nullopt;
    } else {
        // InetDate passes over blanks and control characters and would take a ":" after them
        // as the start of the seconds ("23:36 :15"); such text is left to it.
        qsizetype next = pos;
        while (next < n && (uchar(s[next]) <= ' ' || uchar(s[next]) >= 0x80))
            ++next;
        if (next < n && s[next] == ':')
            return std::nullopt;
    }
    // What follows the time (a zone, a comment) is not read, as InetDate does not read it.
    if (pos < n && s[pos] != ' ')
        return std::nullopt;
    // "0028" is the year 28 to InetDate, which puts it in 1900 like any year below 100.
    if (year < 100)
        year += 1900;
    return TDateTime::Encode(year, mon, day, hour, minute, second);
}

std::optional<TDateTime> InetDate(const QString& text)
{
    try {
        DateTokenizer tz(text);
        Token tok = tz.next();
        auto isChar = [&](const char* c) { return tok.kind == TokKind::Char && tok.text == QLatin1String(c); };
        auto isMinus = [&]() { return tok.text == QLatin1String("-"); };

        int year = 0, mon = 0, day = 0, hour = 0, minute = 0, second = 0;
        auto readTime = [&]() {
            hour = number(tok);
            tok = tz.next();
            if (isChar(":"))
                tok = tz.next();
            minute = number(tok);
            tok = tz.next();
            if (isChar(":")) {
                tok = tz.next();
                second = number(tok);
                tok = tz.next();
            } else {
                second = 0;
            }
        };

        if (nameIndex(tok, weekdays, 7) >= 0) {
            tok = tz.next();
            if (isChar(":"))
                tok = tz.next();
            if (isChar(","))
                tok = tz.next();
        }
        if (nameIndex(tok, months, 12) >= 0) {
            mon = month(tok);
            tok = tz.next();
            day = number(tok);
            tok = tz.next();
            readTime();
            year = number(tok);
        } else {
            day = number(tok);
            tok = tz.next();
            if (isMinus())
                tok = tz.next();
            mon = month(tok);
            tok = tz.next();
            if (isMinus())
                tok = tz.next();
            // In "06-Nov-2005" the dash and the year come as one number token "-2005".
            year = number(tok);
            if (year < 0)
                year = -year;
            if (year < 100)
                year += 1900;
            tok = tz.next();
            readTime();
        }
        if (auto dt = TDateTime::Encode(year, mon, day, hour, minute, second))
            return dt;
    } catch (const DateFail&) {
    }
    UtilsClass::Log(QStringLiteral("InetDate Exception: ") + text);
    return std::nullopt;
}

std::optional<int> DateZoneOffset(QByteArrayView s)
{
    const qsizetype n = s.size();
    auto digit = [&](qsizetype i) { return i < n && s[i] >= '0' && s[i] <= '9'; };
    auto letter = [&](qsizetype i) { return i < n && ((s[i] >= 'a' && s[i] <= 'z') || (s[i] >= 'A' && s[i] <= 'Z')); };
    // The time is the first ":" between digits; the zone is the word after it.
    qsizetype pos = 0;
    while (pos < n && !(s[pos] == ':' && pos > 0 && digit(pos - 1) && digit(pos + 1)))
        ++pos;
    if (pos >= n)
        return std::nullopt;
    while (digit(pos) || (pos < n && s[pos] == ':'))
        ++pos;
    if (pos >= n || (s[pos] != ' ' && s[pos] != '\t'))
        return std::nullopt;
    while (pos < n && (s[pos] == ' ' || s[pos] == '\t'))
        ++pos;
    if (pos < n && (s[pos] == '+' || s[pos] == '-')) {
        const int sign = s[pos] == '-' ? -1 : 1;
        if (!digit(pos + 1) || !digit(pos + 2) || !digit(pos + 3) || !digit(pos + 4) || digit(pos + 5))
            return std::nullopt;
        const int hours = (s[pos + 1] - '0') * 10 + (s[pos + 2] - '0');
        const int minutes = (s[pos + 3] - '0') * 10 + (s[pos + 4] - '0');
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        return sign * (hours * 3600 + minutes * 60);
    }
    qsizetype end = pos;
    while (letter(end))
        ++end;
    if (end == pos || end - pos > 3 || digit(end))
        return std::nullopt;
    QByteArray name = s.sliced(pos, end - pos).toByteArray().toUpper();
    static const struct {
        const char* name;
        int hours;
    } zones[] = {{"UT", 0},  {"UTC", 0}, {"GMT", 0}, {"Z", 0},   {"EST", -5}, {"EDT", -4}, {"CST", -6},
                 {"CDT", -5}, {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
    for (const auto& z : zones) {
        if (name == z.name)
            return z.hours * 3600;
    }
    return std::nullopt;
}

namespace {
// The local zone's offset from UTC at a moment, remembered per quarter hour (zones change
// their offset only at quarter hours), since asking the system for every header of a large
// download costs far more than reading the headers. What is remembered is forgotten after a
// second, so a change of the system's zone is soon followed.
int localOffsetAt(qint64 utcSeconds)
{
    struct Slot {
        qint64 quarter = std::numeric_limits<qint64>::min();
        int offset = 0;
    };
    thread_local std::array<Slot, 1024> remembered;
    thread_local QElapsedTimer age;
    if (!age.isValid() || age.elapsed() > 1000) {
        remembered.fill(Slot());
        age.start();
    }
    const qint64 quarter = utcSeconds >= 0 ? utcSeconds / 900 : (utcSeconds - 899) / 900;
    Slot& slot = remembered[size_t(quarter) % remembered.size()];
    if (slot.quarter != quarter) {
        slot.quarter = quarter;
        slot.offset = QDateTime::fromSecsSinceEpoch(utcSeconds, Qt::LocalTime).offsetFromUtc();
    }
    return slot.offset;
}
}

TDateTime ZoneToLocal(TDateTime asWritten, int offsetSeconds)
{
    // Days since 1899-12-30 and the second of the day, as Encode wrote them.
    constexpr qint64 unixDay = 25569; // 1970-01-01
    qint64 days = qint64(std::floor(asWritten.Value));
    qint64 second = std::llround((asWritten.Value - double(days)) * 86400.0);
    if (second >= 86400) {
        second -= 86400;
        ++days;
    }
    const qint64 utc = (days - unixDay) * 86400 + second - offsetSeconds;
    const qint64 local = utc + localOffsetAt(utc);
    const qint64 localDays = local >= 0 ? local / 86400 : (local - 86399) / 86400;
    return TDateTime(double(localDays + unixDay) + double(local - localDays * 86400) / 86400.0);
}
