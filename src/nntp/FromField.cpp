// GLib's headers use "signals" as a name, which Qt defines as a keyword: GMime comes first.
#include <gmime/gmime.h>

#include "nntp/FromField.h"

#include "nntp/GMimeInit.h"
#include "nntp/Rfc2047.h"

#include <QStringView>
#include <optional>

namespace {

enum class TLeadingName {
    None,     // the first address has no quoted display name
    Phrase,   // a quoted display name followed by "<" (a mailbox) or ":" (a group)
    Bare,     // a quoted name with no address after it
};

// Reads the start of the field as an address parser does, as far as the first address's
// display name goes: comments (nested, with quoted pairs) are passed over, quoted strings
// are taken whole. A quoted string directly followed by "@" or "." is the local part of an
// address, not a name.
TLeadingName LeadingName(QStringView s)
{
    const qsizetype n = s.size();
    bool quoted = false;
    qsizetype i = 0;
    while (i < n) {
        const QChar c = s[i];
        if (c == QLatin1Char('(')) {
            int depth = 1;
            ++i;
            while (i < n && depth > 0) {
                const QChar d = s[i];
                if (d == QLatin1Char('\\'))
                    ++i;
                else if (d == QLatin1Char('('))
                    ++depth;
                else if (d == QLatin1Char(')'))
                    --depth;
                ++i;
            }
            continue;
        }
        if (c == QLatin1Char('"')) {
            ++i;
            while (i < n && s[i] != QLatin1Char('"'))
                i += s[i] == QLatin1Char('\\') ? 2 : 1;
            ++i;
            qsizetype j = i;
            while (j < n && s[j].isSpace())
                ++j;
            if (j < n && (s[j] == QLatin1Char('@') || s[j] == QLatin1Char('.')))
                return TLeadingName::None;
            quoted = true;
            continue;
        }
        if (c == QLatin1Char('<') || c == QLatin1Char(':'))
            return quoted ? TLeadingName::Phrase : TLeadingName::None;
        if (c == QLatin1Char('@'))
            return TLeadingName::None;
        if (c == QLatin1Char(',') || c == QLatin1Char(';'))
            break;
        ++i;
    }
    return quoted ? TLeadingName::Bare : TLeadingName::None;
}

// GMime's decoder drops the text of an encoded word it cannot decode and loses the second of
// two adjacent Base64 words that both end in padding. Encoded words are therefore hidden from
// the address parser behind a noncharacter and decoded afterwards by our own lenient decoder.
constexpr char16_t kHiddenEquals = 0xFDD0;

// The display name of the first address as GMime's address parser reads it; nullopt when the
// field does not parse.
std::optional<QString> ParsedDisplayName(const QString& field)
{
    const bool hide = !field.contains(QChar(kHiddenEquals));
    QString input = field;
    if (hide)
        input.replace(QLatin1String("=?"), QString(QChar(kHiddenEquals)) + QLatin1Char('?'));
    InitGMime();
    const QByteArray utf8 = input.toUtf8();
    InternetAddressList* list = internet_address_list_parse(nullptr, utf8.constData());
    if (!list)
        return std::nullopt;
    std::optional<QString> name;
    if (internet_address_list_length(list) > 0) {
        InternetAddress* first = internet_address_list_get_address(list, 0);
        QString text = QString::fromUtf8(internet_address_get_name(first));
        if (hide)
            text.replace(QChar(kHiddenEquals), QLatin1Char('='));
        name = DecodeHeaderText(text);
    }
    g_object_unref(list);
    return name;
}

// The text between the first and the second double quote (or the end), for fields that hold
// no address.
QString BetweenQuotes(const QString& field)
{
    const qsizetype q1 = field.indexOf(QLatin1Char('"'));
    const qsizetype q2 = field.indexOf(QLatin1Char('"'), q1 + 1);
    return q2 < 0 ? field.mid(q1 + 1) : field.mid(q1 + 1, q2 - q1 - 1);
}

} // namespace

QString FromFieldText(const QString& field)
{
    const QString text = field.trimmed();
    const TLeadingName lead = text.contains(QLatin1Char('"')) ? LeadingName(text) : TLeadingName::None;
    if (lead == TLeadingName::None)
        return DecodeHeaderText(text).trimmed();
    if (lead == TLeadingName::Phrase) {
        if (const std::optional<QString> name = ParsedDisplayName(text))
            return name->trimmed();
    }
    return DecodeHeaderText(BetweenQuotes(text).trimmed()).trimmed();
}
