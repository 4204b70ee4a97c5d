#include "nntp/Rfc2047.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringList>
#include <optional>

namespace {

// Longest encoded word the standard allows, and its frame "=?UTF-8?X?" ... "?=".
constexpr int MaxWordLength = 75;
constexpr int FrameLength = 12;
constexpr int MaxPayload = MaxWordLength - FrameLength;

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<QByteArray> DecodeQ(const QByteArray& in)
{
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char c = in.at(i);
        if (c == '_') {
            out.append(' ');
        } else if (c == '=') {
            if (i + 2 >= in.size())
                return std::nullopt;
            const int hi = HexValue(in.at(i + 1));
            const int lo = HexValue(in.at(i + 2));
            if (hi < 0 || lo < 0)
                return std::nullopt;
            out.append(char(hi * 16 + lo));
            i += 2;
        } else {
            out.append(c);
        }
    }
    return out;
}

std::optional<QByteArray> DecodeB(const QByteArray& in)
{
    if (in.size() % 4 != 0)
        return std::nullopt;
    auto result = QByteArray::fromBase64Encoding(in, QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    return *result;
}

// The charset's decoder; nullopt when no decoder knows the charset.
std::optional<QString> ToUnicode(QByteArray charset, const QByteArray& bytes)
{
    // RFC 2231 lets a language follow the charset: "UTF-8*en".
    const qsizetype star = charset.indexOf('*');
    if (star >= 0)
        charset.truncate(star);
    const QByteArray cs = charset.toLower();
    if (cs == "iso-8859-1" || cs == "latin1" || cs == "us-ascii" || cs == "ascii")
        return QString::fromLatin1(bytes);
    QStringDecoder decoder(cs.constData());
    if (!decoder.isValid())
        return std::nullopt;
    return decoder.decode(bytes);
}

bool IsQSafe(uchar c)
{
    // The characters allowed unencoded in an encoded word anywhere, phrases included.
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '!' || c == '*'
        || c == '+' || c == '-' || c == '/';
}

QByteArray QForm(const QByteArray& bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    for (char ch : bytes) {
        const uchar c = uchar(ch);
        if (c == ' ') {
            out.append('_');
        } else if (IsQSafe(c)) {
            out.append(char(c));
        } else {
            out.append('=');
            out.append(hex[c >> 4]);
            out.append(hex[c & 15]);
        }
    }
    return out;
}

// The text as UTF-8 encoded words, none longer than 75 characters, never splitting a
// character between two words. Q when most of the text is plain, else B (shorter then).
QString EncodeRun(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    int unsafe = 0;
    for (char ch : utf8)
        if (!IsQSafe(uchar(ch)) && ch != ' ')
            ++unsafe;
    const bool useB = unsafe * 3 > utf8.size();

    QStringList words;
    QByteArray chunk;   // raw bytes of the word being filled
    int payload = 0;    // its encoded length
    auto flush = [&] {
        if (chunk.isEmpty())
            return;
        if (useB)
            words << QStringLiteral("=?UTF-8?B?") + QString::fromLatin1(chunk.toBase64()) + QStringLiteral("?=");
        else
            words << QStringLiteral("=?UTF-8?Q?") + QString::fromLatin1(QForm(chunk)) + QStringLiteral("?=");
        chunk.clear();
        payload = 0;
    };
    // Walk whole code points (a surrogate pair stays together).
    for (qsizetype i = 0; i < text.size();) {
        qsizetype len = 1;
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            len = 2;
        const QByteArray bytes = text.mid(i, len).toUtf8();
        i += len;
        int cost;
        if (useB) {
            const qsizetype total = chunk.size() + bytes.size();
            cost = int((total + 2) / 3 * 4) - payload;
        } else {
            cost = int(QForm(bytes).size());
        }
        if (payload + cost > MaxPayload) {
            flush();
            cost = useB ? int((bytes.size() + 2) / 3 * 4) : int(QForm(bytes).size());
        }
        chunk.append(bytes);
        payload += cost;
    }
    flush();
    return words.join(QLatin1Char(' '));
}

bool NeedsEncoding(const QString& word)
{
    return !IsPureAscii(word) || word.contains(QLatin1String("=?"));
}

} // namespace

bool IsPureAscii(const QString& text)
{
    for (QChar c : text)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

QString DecodeHeaderText(const QByteArray& raw)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(raw);
    if (utf8.hasError())
        text = QString::fromLatin1(raw);
    return DecodeHeaderText(text);
}

QString DecodeHeaderText(const QString& text)
{
    if (!text.contains(QLatin1String("=?")))
        return text;
    static const QRegularExpression word(QStringLiteral("=\\?([^?\\s]+)\\?([QqBb])\\?([^?\\s]*)\\?="));

    QString out;
    qsizetype pos = 0;             // end of the text already handled
    bool lastWasEncoded = false;   // the text before pos ended with a decoded word
    QByteArray pendingCharset;     // adjacent words of one charset are decoded together, so a
    QByteArray pendingBytes;       // character split between two words comes out whole
    QString pendingRaw;            // their original text, for a charset nobody knows

    auto flushPending = [&] {
        if (pendingCharset.isEmpty())
            return;
        const std::optional<QString> decoded = ToUnicode(pendingCharset, pendingBytes);
        out += decoded ? *decoded : pendingRaw;
        pendingCharset.clear();
        pendingBytes.clear();
        pendingRaw.clear();
    };

    QRegularExpressionMatchIterator it = word.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QByteArray charset = m.captured(1).toLatin1();
        const QByteArray encoded = m.captured(3).toLatin1();
        const bool isB = m.captured(2).compare(QLatin1String("B"), Qt::CaseInsensitive) == 0;
        const std::optional<QByteArray> bytes = isB ? DecodeB(encoded) : DecodeQ(encoded);
        const QString gap = text.mid(pos, m.capturedStart() - pos);
        if (!bytes) {
            // Malformed: the word stays as it is, like any other text.
            flushPending();
            out += gap + m.captured(0);
            lastWasEncoded = false;
            pos = m.capturedEnd();
            continue;
        }
        const bool adjacent = lastWasEncoded && gap.trimmed().isEmpty();
        if (adjacent && charset.compare(pendingCharset, Qt::CaseInsensitive) == 0) {
            pendingBytes += *bytes;
            pendingRaw += gap + m.captured(0);
        } else {
            flushPending();
            if (!adjacent)
                out += gap;
            pendingCharset = charset;
            pendingBytes = *bytes;
            pendingRaw = m.captured(0);
        }
        lastWasEncoded = true;
        pos = m.capturedEnd();
    }
    flushPending();
    out += text.mid(pos);
    return out;
}

QString EncodeHeaderText(const QString& text)
{
    QStringList words = text.split(QLatin1Char(' '));
    qsizetype first = -1;
    qsizetype last = -1;
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (NeedsEncoding(words.at(i))) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    if (first < 0)
        return text;
    // One run from the first word that needs it to the last: the blanks inside the run are
    // encoded with it, so none is lost between two encoded words.
    const QString run = words.mid(first, last - first + 1).join(QLatin1Char(' '));
    QStringList out = words.mid(0, first);
    out << EncodeRun(run);
    out << words.mid(last + 1);
    return out.join(QLatin1Char(' '));
}

QString EncodeMailbox(const QString& displayName, const QString& address)
{
    const QString name = displayName.trimmed();
    QString sender;
    if (!name.isEmpty())
        sender = (NeedsEncoding(name) ? EncodeRun(name) : name) + QLatin1Char(' ');
    return sender + QLatin1Char('<') + address + QLatin1Char('>');
}
