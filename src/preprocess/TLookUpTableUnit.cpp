#include "preprocess/TLookUpTableUnit.h"

#include "core/BaseUtils.h"
#include "core/TextFiles.h"
#include "core/TextFunctions.h"

#include <QFile>

namespace {
// The file has one row per line and "~" between fields, without escaping: a row holding either
// would come back damaged, so it is refused before it gets in.
void checkStorable(const QString& key, const QString& pronunciation)
{
    for (const QString& text : {key, pronunciation})
        if (text.contains(QLatin1Char('~')) || text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')))
            throw ELookupTblException(QStringLiteral("Invalid pronunciation record, \"~\" and line breaks are not allowed"));
}
}

int TLookupTable::indexOf(const QString& key) const
{
    for (int i = 0; i < Records.size(); ++i)
        if (Records.at(i).Key == key)
            return i;
    return -1;
}

const TLookupRecord* TLookupTable::Find(const QString& key) const
{
    const int i = indexOf(key);
    return i < 0 ? nullptr : &Records.at(i);
}

void TLookupTable::Add(const QString& key, const QString& pronunciation, int number, bool caseSensitive)
{
    if (Exists(key))
        throw ELookupTblException(QStringLiteral("Alternate pronunciation already exists for ") + key);
    if (key.trimmed().isEmpty())
        throw ELookupTblException(QStringLiteral("Invalid pronunciation record, Key is blank"));
    if (pronunciation.trimmed().isEmpty())
        throw ELookupTblException(QStringLiteral("Invalid pronunciation record, Pronunciation is blank"));
    checkStorable(key, pronunciation);
    Records.append(TLookupRecord{key, number, pronunciation, caseSensitive});
}

void TLookupTable::Modify(const QString& key, const QString& pronunciation, bool caseSensitive)
{
    const int i = indexOf(key);
    if (i < 0)
        throw ELookupTblException(QStringLiteral("String ") + key + QStringLiteral(" is not defined"));
    checkStorable(key, pronunciation);
    Records[i].Pronunciation = pronunciation;
    Records[i].CaseSensitive = caseSensitive;
}

void TLookupTable::Delete(const QString& key)
{
    const int i = indexOf(key);
    if (i < 0)
        throw ELookupTblException(QStringLiteral("String ") + key + QStringLiteral(" is not defined"));
    Records.removeAt(i);
}

QString TLookupTable::RecordText(int index, const QString& separator) const
{
    const TLookupRecord& r = Records.at(index);
    return r.Key + separator + r.Pronunciation + separator
        + (r.CaseSensitive ? QStringLiteral("T") : QStringLiteral("F"));
}

void TLookupTable::LoadFromFile(const QString& fileName)
{
    FileName = fileName;
    QFile file(fileName);
    if (!file.exists()) {
        if (!file.open(QIODevice::WriteOnly))
            UtilsClass::Log(QStringLiteral("TLookupTable could not create ") + fileName + QStringLiteral(": ")
                            + file.errorString());
        return;
    }
    if (!file.open(QIODevice::ReadOnly))
        throw EFilterFileError(QStringLiteral("Cannot read ") + fileName + QStringLiteral(": ") + file.errorString());
    // Invalid UTF-8 bytes become replacement characters; the rest of the line still loads.
    const QString content = QString::fromUtf8(file.readAll());
    const QStringList lines = content.split(QLatin1Char('\n'));
    for (int n = 0; n < lines.size(); ++n) {
        QString line = lines.at(n);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (n == lines.size() - 1 && line.isEmpty())
            break; // the file's final line end
        QString rest = line;
        try {
            const QString numberText = SplitToken(rest, QStringLiteral("~")).trimmed();
            bool ok = false;
            const int number = numberText.toInt(&ok);
            if (!ok)
                throw ELookupTblException(QStringLiteral("'") + numberText
                                          + QStringLiteral("' is not a valid integer value"));
            const QString key = SplitToken(rest, QStringLiteral("~"));
            const QString pronunciation = SplitToken(rest, QStringLiteral("~"));
            Add(key, pronunciation, number, rest == QLatin1String("T"));
        } catch (const EVorlixError& e) {
            UtilsClass::Log(QStringLiteral("TLookupTable Add exception for record: ") + line);
            UtilsClass::Log(QStringLiteral("TLookupTable Add exception: ") + e.message());
        }
    }
}

void TLookupTable::SaveToFile() const
{
    QStringList lines;
    for (const TLookupRecord& r : Records)
        lines << QString::number(r.Number) + QLatin1Char('~') + r.Key + QLatin1Char('~') + r.Pronunciation
                + QLatin1Char('~') + (r.CaseSensitive ? QLatin1Char('T') : QLatin1Char('F'));
    QString reason;
    if (!TryWriteLinesAtomically(FileName, lines, reason))
        throw EFilterFileError(QStringLiteral("Cannot write ") + FileName + QStringLiteral(": ") + reason);
}
