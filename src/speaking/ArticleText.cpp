// GLib's headers use "signals" as a name, which Qt defines as a keyword: GMime comes first.
#include <gmime/gmime.h>

#include "speaking/ArticleText.h"

#include "core/BaseUtils.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>
#include <memory>
#include <mutex>

namespace {
void InitGMime()
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

template <class T>
struct TUnref {
    void operator()(T* p) const
    {
        if (p)
            g_object_unref(p);
    }
};
template <class T>
using TGPtr = std::unique_ptr<T, TUnref<T>>;

QString SizeWords(qint64 bytes)
{
    const auto unit = [](qint64 n, const char* one, const char* many) {
        return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
    };
    if (bytes < 1024)
        return unit(std::max<qint64>(bytes, 0), "byte", "bytes");
    if (bytes < 1024 * 1024)
        return unit(std::max<qint64>(1, (bytes + 512) / 1024), "kilobyte", "kilobytes");
    return unit(std::max<qint64>(1, (bytes + 512 * 1024) / (1024 * 1024)), "megabyte", "megabytes");
}

// The decoded content of a leaf part (transfer encoding undone).
QByteArray DecodedContent(GMimePart* part)
{
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content)
        return {};
    TGPtr<GMimeStream> mem(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, mem.get());
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
    return bytes ? QByteArray(reinterpret_cast<const char*>(bytes->data), int(bytes->len)) : QByteArray();
}

// Control characters other than tab and line ends become blanks: nothing binary reaches a voice.
void Sanitize(QString& text)
{
    for (QChar& c : text) {
        const ushort u = c.unicode();
        if ((u < 0x20 && u != '\t' && u != '\r' && u != '\n') || u == 0x7F || (u >= 0x80 && u < 0xA0))
            c = QLatin1Char(' ');
    }
}

// Leaves out uuencoded and yEnc files and long runs of base64 inside a plain text.
QString FilterPlain(const QString& text, QStringList& skipped)
{
    static const QRegularExpression uuBegin(QStringLiteral("^begin [0-7]{3,4} (.+)$"));
    static const QRegularExpression yBegin(QStringLiteral("^=ybegin .*"));
    static const QRegularExpression yName(QStringLiteral("name=(.+)$"));
    static const QRegularExpression ySize(QStringLiteral("size=(\\d+)"));
    static const QRegularExpression base64(QStringLiteral("^[A-Za-z0-9+/]{60,76}={0,2}$"));
    const QStringList lines = text.split(QLatin1Char('\n'));
    QStringList out;
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        const QRegularExpressionMatch uu = uuBegin.match(line);
        if (uu.hasMatch()) {
            qint64 bytes = 0;
            int j = i + 1;
            for (; j < lines.size() && lines[j].trimmed() != QLatin1String("end"); ++j)
                if (!lines[j].isEmpty())
                    bytes += (lines[j].at(0).unicode() - 32) & 63;
            const QString sentence = SkippedSentence(bytes, uu.captured(1).trimmed());
            skipped << sentence;
            out << sentence;
            i = std::min(j, int(lines.size()) - 1);
            continue;
        }
        if (yBegin.match(line).hasMatch()) {
            const QRegularExpressionMatch size = ySize.match(line);
            int j = i + 1;
            while (j < lines.size() && !lines[j].startsWith(QLatin1String("=yend")))
                ++j;
            const QString sentence =
                SkippedSentence(size.hasMatch() ? size.captured(1).toLongLong() : 0, yName.match(line).captured(1).trimmed());
            skipped << sentence;
            out << sentence;
            i = std::min(j, int(lines.size()) - 1);
            continue;
        }
        if (base64.match(line).hasMatch()) {
            int j = i;
            qint64 chars = 0;
            while (j < lines.size() && base64.match(lines[j].trimmed()).hasMatch())
                chars += lines[j++].trimmed().size();
            // A short run could be a line of text; ten lines of it cannot.
            if (j - i >= 10) {
                const QString sentence = SkippedSentence(chars * 3 / 4, QString());
                skipped << sentence;
                out << sentence;
                i = j - 1;
                continue;
            }
        }
        out << lines[i];
    }
    return out.join(QLatin1Char('\n'));
}

struct TWalker {
    QStringList Parts;
    QStringList Skipped;

    void Skip(GMimeObject* object, qint64 bytes)
    {
        QString name;
        if (GMIME_IS_PART(object))
            name = QString::fromUtf8(g_mime_part_get_filename(GMIME_PART(object)));
        const QString sentence = SkippedSentence(bytes, name);
        Skipped << sentence;
        Parts << sentence;
    }

    static bool IsType(GMimeObject* object, const char* type, const char* subtype)
    {
        GMimeContentType* ct = g_mime_object_get_content_type(object);
        return ct && g_mime_content_type_is_type(ct, type, subtype);
    }

    void Walk(GMimeObject* object, int depth)
    {
        if (!object || depth > 20)
            return;
        if (GMIME_IS_MESSAGE_PART(object)) {
            GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
            if (inner)
                Walk(g_mime_message_get_mime_part(inner), depth + 1);
            return;
        }
        if (GMIME_IS_MULTIPART(object)) {
            GMimeMultipart* multi = GMIME_MULTIPART(object);
            const int n = g_mime_multipart_get_count(multi);
            if (IsType(object, "multipart", "alternative")) {
                // One of the alternatives: plain text first, else HTML, else the first.
                GMimeObject* chosen = n > 0 ? g_mime_multipart_get_part(multi, 0) : nullptr;
                for (const char* want : {"plain", "html"}) {
                    GMimeObject* found = nullptr;
                    for (int i = 0; i < n && !found; ++i)
                        if (IsType(g_mime_multipart_get_part(multi, i), "text", want))
                            found = g_mime_multipart_get_part(multi, i);
                    if (found) {
                        chosen = found;
                        break;
                    }
                }
                Walk(chosen, depth + 1);
                return;
            }
            for (int i = 0; i < n; ++i)
                Walk(g_mime_multipart_get_part(multi, i), depth + 1);
            return;
        }
        if (!GMIME_IS_PART(object))
            return;
        GMimePart* part = GMIME_PART(object);
        const QByteArray content = DecodedContent(part);
        const char* disposition = g_mime_object_get_disposition(object);
        const bool attachment = disposition && QByteArray(disposition).toLower() == "attachment"
            && g_mime_part_get_filename(part);
        const bool plain = IsType(object, "text", "plain") || !g_mime_object_get_content_type(object);
        const bool html = IsType(object, "text", "html");
        if (attachment || (!plain && !html)) {
            Skip(object, content.size());
            return;
        }
        // Text that came as quoted-printable or base64 is in the part's own charset; anything
        // else arrived as text already and was read as UTF-8 on the way in.
        QString text;
        const GMimeContentEncoding encoding = g_mime_part_get_content_encoding(part);
        if (encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE || encoding == GMIME_CONTENT_ENCODING_BASE64
            || encoding == GMIME_CONTENT_ENCODING_UUENCODE) {
            const char* charset = g_mime_object_get_content_type_parameter(object, "charset");
            QStringDecoder decoder(charset ? charset : "UTF-8");
            text = decoder.isValid() ? decoder.decode(content) : QString::fromUtf8(content);
        } else {
            text = QString::fromUtf8(content);
        }
        if (html)
            text = HtmlToText(text);
        Parts << text;
    }
};

QString BodyOnly(const QStringList& lines)
{
    const qsizetype blank = lines.indexOf(QString());
    return (blank < 0 ? QStringList() : lines.mid(blank + 1)).join(QLatin1Char('\n'));
}
} // namespace

QString SkippedSentence(qint64 bytes, const QString& name)
{
    QString s = QStringLiteral("An attachment of ") + SizeWords(bytes);
    if (!name.trimmed().isEmpty())
        s += QStringLiteral(", ") + name.trimmed() + QLatin1Char(',');
    return s + QStringLiteral(" is not read.");
}

QString HtmlToText(const QString& html)
{
    static const QRegularExpression hidden(QStringLiteral("<(script|style|head)\\b.*?</\\1\\s*>"),
                                           QRegularExpression::CaseInsensitiveOption
                                               | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression breaks(
        QStringLiteral("<\\s*(br|/p|p|/div|/li|li|/h[1-6]|/tr|/blockquote|/pre|hr)\\b[^>]*>"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
    static const QRegularExpression comment(QStringLiteral("<!--.*?-->"), QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression entity(QStringLiteral("&(#[0-9]+|#[xX][0-9a-fA-F]+|[a-zA-Z]+);"));
    static const QHash<QString, QString> named = {
        {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}, {"nbsp", " "},
        {"uuml", "ü"}, {"ouml", "ö"}, {"auml", "ä"}, {"Uuml", "Ü"}, {"Ouml", "Ö"}, {"Auml", "Ä"},
        {"szlig", "ß"}, {"eacute", "é"}, {"egrave", "è"}, {"hellip", "…"}, {"mdash", "—"}, {"ndash", "–"},
        {"copy", "©"}, {"euro", "€"}, {"rsquo", "’"}, {"lsquo", "‘"}, {"ldquo", "“"}, {"rdquo", "”"},
    };
    QString s = html;
    s.remove(comment);
    s.remove(hidden);
    s.replace(QLatin1Char('\r'), QLatin1Char(' '));
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    s.replace(breaks, QStringLiteral("\n"));
    s.remove(tags);
    QString out;
    out.reserve(s.size());
    qsizetype pos = 0;
    for (auto it = entity.globalMatch(s); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(s).mid(pos, m.capturedStart() - pos);
        const QString name = m.captured(1);
        QString value;
        if (name.startsWith(QLatin1Char('#'))) {
            bool ok = false;
            const uint code = name.startsWith(QLatin1String("#x"), Qt::CaseInsensitive) ? name.mid(2).toUInt(&ok, 16)
                                                                                       : name.mid(1).toUInt(&ok, 10);
            if (ok && code > 0 && code <= 0x10FFFF)
                value = QString::fromUcs4(reinterpret_cast<const char32_t*>(&code), 1);
        } else {
            value = named.value(name);
        }
        out += value.isEmpty() ? m.captured(0) : value;
        pos = m.capturedEnd();
    }
    out += QStringView(s).mid(pos);
    // Blanks runs and blank lines folded.
    QStringList lines;
    for (const QString& l : out.split(QLatin1Char('\n')))
        lines << l.simplified();
    QString joined = lines.join(QLatin1Char('\n'));
    static const QRegularExpression manyBreaks(QStringLiteral("\n{3,}"));
    joined.replace(manyBreaks, QStringLiteral("\n\n"));
    return joined.trimmed();
}

TSpokenArticle SpokenArticleText(const QStringList& lines, bool hasHeaders)
{
    TSpokenArticle result;
    QString text;
    if (!hasHeaders) {
        text = lines.join(QLatin1Char('\n'));
    } else {
        InitGMime();
        const QByteArray bytes = lines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n";
        TGPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size())));
        TGPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
        TGPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
        GMimeObject* root = message ? g_mime_message_get_mime_part(message.get()) : nullptr;
        if (root) {
            TWalker walker;
            walker.Walk(root, 0);
            text = walker.Parts.join(QStringLiteral("\n\n"));
            result.Skipped = walker.Skipped;
            // A multipart whose boundary never comes holds no part at all: its body is the text.
            if (walker.Parts.isEmpty())
                text = BodyOnly(lines);
        } else {
            // Not a message GMime can read: the body as it came.
            UtilsClass::Log(QStringLiteral("The article's MIME structure could not be read; its body is spoken as text"));
            text = BodyOnly(lines);
        }
    }
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text = FilterPlain(text, result.Skipped);
    Sanitize(text);
    if (text.size() > MaxSpokenText) {
        qsizetype cut = text.lastIndexOf(QLatin1Char('\n'), MaxSpokenText);
        if (cut < MaxSpokenText / 2)
            cut = MaxSpokenText;
        const qint64 rest = text.mid(cut).toUtf8().size();
        text = text.left(cut) + QStringLiteral("\nThe rest of this article, ") + SizeWords(std::max<qint64>(rest, 1024))
               + QStringLiteral(", is not read.");
    }
    result.Text = text.trimmed();
    return result;
}
