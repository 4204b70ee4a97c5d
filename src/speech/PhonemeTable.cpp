#include "speech/PhonemeTable.h"

#include "core/BaseUtils.h"
#include "core/TextFunctions.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

void TPhonemeTable::LoadFromFile(const QString& fileName)
{
    if (fileName.isEmpty() || !QFileInfo::exists(fileName))
        throw EPhonemeFileError(QStringLiteral("Phoneme symbol file not found"));
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly))
        throw EPhonemeFileError(QStringLiteral("Phoneme symbol file not found"));
    Rows.clear();
    PhonemeSet = QStringLiteral("|");
    QTextStream in(&f);
    in.setEncoding(QStringConverter::Utf8);
    bool headerSkipped = false;
    while (!in.atEnd()) {
        QString line = in.readLine();
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (!headerSkipped && line == QLatin1String("<1033>")) {
            headerSkipped = true;
            continue;
        }
        if (line == QLatin1String("</1033>"))
            break;
        const int bar = line.indexOf(QLatin1Char('|'));
        TPhonemeRow row;
        row.Symbol = bar < 0 ? line : line.left(bar);
        if (bar >= 0) {
            const int next = line.indexOf(QLatin1Char('|'), bar + 1);
            row.Example = next < 0 ? line.mid(bar + 1) : line.mid(bar + 1, next - bar - 1);
        }
        Rows << row;
        PhonemeSet += row.Symbol + QLatin1Char('|');
    }
    if (Rows.isEmpty())
        PhonemeSet.clear();
}

QString TPhonemeTable::DefaultFileName()
{
    return UtilsClass::FindSharedFile(QStringLiteral("Phoneme.chl"));
}

bool TPhonemeTable::Contains(const QString& symbol) const
{
    return !symbol.isEmpty() && PhonemeSet.contains(QLatin1Char('|') + symbol + QLatin1Char('|'));
}

QString TPhonemeTable::FirstInvalidToken(const QString& pronunciation) const
{
    QString rest = pronunciation;
    for (;;) {
        const QString token = SplitTokenSkip(rest, QStringLiteral(" "));
        if (token.isEmpty())
            return {};
        if (!Contains(token))
            return token;
    }
}

QString NormalisePronunciation(const QString& pronunciation)
{
    static const QRegularExpression spaces(QStringLiteral(" {2,}"));
    QString out = pronunciation;
    out.replace(spaces, QStringLiteral(" "));
    return out.trimmed();
}

TSymbolInsertion InsertPhonemeSymbol(const QString& text, int caret, const QString& symbol)
{
    TSymbolInsertion r;
    caret = std::clamp(caret, 0, int(text.size()));
    if (caret == 0) {
        r.Inserted = true;
        r.Text = (text + QLatin1Char(' ') + symbol).trimmed();
        r.Caret = int(r.Text.size());
        return r;
    }
    const bool spaceBefore = text.at(caret - 1) == QLatin1Char(' ');
    const bool atEnd = caret >= text.size();
    const bool spaceAfter = !atEnd && text.at(caret) == QLatin1Char(' ');
    if (!spaceBefore && !atEnd && !spaceAfter) {
        r.Text = text;
        r.Caret = caret;
        return r;
    }
    QString piece = symbol;
    if (!spaceBefore)
        piece.prepend(QLatin1Char(' '));
    if (!spaceAfter)
        piece.append(QLatin1Char(' '));
    r.Inserted = true;
    r.Text = text.left(caret) + piece + text.mid(caret);
    r.Caret = caret + int(piece.size());
    return r;
}

bool IsAccentedLetter(QChar c)
{
    const char16_t u = c.unicode();
    switch (u) {
    case 0x0160: case 0x0152: case 0x0161: case 0x0153: case 0x0178: case 0x00A1: case 0x00BF:
        return true;
    default:
        break;
    }
    return (u >= 0xC0 && u <= 0xD6) || (u >= 0xD8 && u <= 0xF6) || (u >= 0xF8 && u <= 0xFF);
}

namespace {
bool isAsciiAlnum(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z');
}
}

bool IsValidTranslationText(const QString& text)
{
    for (QChar c : text) {
        if (isAsciiAlnum(c) || IsAccentedLetter(c) || c == QLatin1Char(' ') || c == QLatin1Char('=')
            || c == QLatin1Char('{') || c == QLatin1Char('}'))
            continue;
        return false;
    }
    return true;
}

bool IsValidLexiconWord(const QString& word)
{
    for (QChar c : word)
        if (!isAsciiAlnum(c) && !IsAccentedLetter(c))
            return false;
    return true;
}
