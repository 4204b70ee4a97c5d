// GLib's headers use "signals" as a name, which Qt defines as a keyword: GMime comes first.
#include <gmime/gmime.h>

#include "speaking/ArticleText.h"

#include "core/BaseUtils.h"
#include "nntp/GMimeInit.h"

#include <QHash>
#include <QStringDecoder>
#include <QStringView>
#include <algorithm>
#include <memory>
#include <vector>

namespace {

struct TUnref {
    void operator()(gpointer p) const
    {
        if (p)
            g_object_unref(p);
    }
};
template <class T>
using TGPtr = std::unique_ptr<T, TUnref>;

// Nested multiparts and enclosed messages are followed this deep; what lies deeper is left out.
constexpr int MaxDepth = 64;
// A file name longer than this is cut where it is spoken.
constexpr qsizetype MaxSpokenName = 100;

QString CountWords(qint64 n, const char* one, const char* many)
{
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

qint64 Rounded(qint64 bytes, qint64 unit)
{
    return std::max<qint64>(1, (bytes + unit / 2) / unit);
}

QString SizeWords(qint64 bytes)
{
    if (bytes < 1024)
        return CountWords(std::max<qint64>(bytes, 0), "byte", "bytes");
    if (bytes < 1024 * 1024)
        return CountWords(Rounded(bytes, 1024), "kilobyte", "kilobytes");
    return CountWords(Rounded(bytes, 1024 * 1024), "megabyte", "megabytes");
}

qint64 Utf8Size(QStringView text)
{
    qint64 n = 0;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        n += u < 0x80 ? 1 : u < 0x800 ? 2 : c.isSurrogate() ? 2 : 3;
    }
    return n;
}

// Bytes that should be UTF-8. 8-bit text of an unknown charset is kept as Latin-1 (as the
// news client does with such lines) rather than turned into replacement characters.
QString Utf8OrLatin1(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

// The content of a leaf part with its transfer encoding undone.
QByteArray DecodedContent(GMimePart* part)
{
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content)
        return {};
    TGPtr<GMimeStream> mem(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, mem.get());
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
    return bytes ? QByteArray(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len)) : QByteArray();
}

// The size of a part's decoded content, counted without keeping it.
qint64 DecodedSize(GMimePart* part)
{
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content)
        return 0;
    TGPtr<GMimeStream> counter(g_mime_stream_null_new());
    return std::max<qint64>(0, g_mime_data_wrapper_write_to_stream(content, counter.get()));
}

// Text in charset converted to UTF-8 by GMime (iconv). Any other bytes pass unchanged.
QByteArray ConvertCharset(const QByteArray& bytes, const char* charset)
{
    GMimeFilter* filter = g_mime_filter_charset_new(charset, "UTF-8");
    if (!filter)
        return bytes;
    TGPtr<GMimeStream> out(g_mime_stream_mem_new());
    TGPtr<GMimeStream> filtered(g_mime_stream_filter_new(out.get()));
    g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered.get()), filter);
    g_object_unref(filter);
    g_mime_stream_write(filtered.get(), bytes.constData(), size_t(bytes.size()));
    g_mime_stream_flush(filtered.get());
    GByteArray* converted = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
    return converted ? QByteArray(reinterpret_cast<const char*>(converted->data), qsizetype(converted->len))
                     : QByteArray();
}

// The text of a text part. The lines reached us decoded and were written back as UTF-8, so
// 7bit and 8bit parts are UTF-8 now whatever they declare; only bytes made by a transfer
// encoding are still in the part's own charset.
QString PartText(GMimePart* part)
{
    const QByteArray content = DecodedContent(part);
    switch (g_mime_part_get_content_encoding(part)) {
    case GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE:
    case GMIME_CONTENT_ENCODING_BASE64:
    case GMIME_CONTENT_ENCODING_UUENCODE: {
        const char* charset = g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset");
        const QByteArray name = QByteArray(charset ? charset : "").trimmed().toLower();
        if (name.isEmpty() || name == "utf-8" || name == "utf8" || name == "us-ascii" || name == "ascii")
            return Utf8OrLatin1(content);
        return Utf8OrLatin1(ConvertCharset(content, name.constData()));
    }
    default:
        return QString::fromUtf8(content);
    }
}

// --- Binary files inside text ----------------------------------------------------------------

using TLines = std::vector<QStringView>;

// A binary file found inside text: lines [First, End) and what is said instead.
struct TBinaryBlock {
    size_t End = 0;
    qint64 Bytes = 0;
    QString Name;
};

// One line of uuencoded data: a length character, then four characters per three bytes, all
// between blank and backquote. Some encoders add a check character.
bool IsUuLine(QStringView line, qint64& bytes)
{
    if (line.isEmpty())
        return false;
    for (QChar c : line)
        if (c.unicode() < 0x20 || c.unicode() > 0x60)
            return false;
    const qsizetype n = (line[0].unicode() - 0x20) & 0x3F;
    const qsizetype chars = line.size() - 1;
    // Trailing blanks may have been lost on the way, so a line may be short of its last group.
    if (chars < (n * 4 + 2) / 3 || chars > (n + 2) / 3 * 4 + 2)
        return false;
    bytes = n;
    return true;
}

// A line of base64: only its alphabet, at most two '=' at the end. full: 60 to 76 characters,
// as encoders write all lines but the last.
bool IsBase64Line(QStringView line, bool& full)
{
    line = line.trimmed();
    const qsizetype n = line.size();
    if (n == 0 || n > 76)
        return false;
    qsizetype pad = 0;
    while (pad < 2 && pad < n && line[n - 1 - pad] == QLatin1Char('='))
        ++pad;
    for (qsizetype i = 0; i < n - pad; ++i) {
        const char16_t c = line[i].unicode();
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/'))
            return false;
    }
    full = n >= 60;
    return n > pad;
}

qint64 Base64Bytes(QStringView line)
{
    line = line.trimmed();
    qsizetype n = line.size();
    while (n > 0 && line[n - 1] == QLatin1Char('='))
        --n;
    return n * 3 / 4;
}

// "begin 644 name" (uuencode) or "begin-base64 644 name" (its base64 form).
bool ParseBeginLine(QStringView line, bool& base64, QString& name)
{
    line = line.trimmed();
    if (line.startsWith(QLatin1String("begin ")))
        base64 = false;
    else if (line.startsWith(QLatin1String("begin-base64 ")))
        base64 = true;
    else
        return false;
    const QStringView rest = line.mid(line.indexOf(QLatin1Char(' ')) + 1);
    qsizetype digits = 0;
    while (digits < rest.size() && rest[digits] >= QLatin1Char('0') && rest[digits] <= QLatin1Char('7'))
        ++digits;
    if (digits < 3 || digits > 4 || digits >= rest.size() || rest[digits] != QLatin1Char(' '))
        return false;
    name = rest.mid(digits + 1).trimmed().toString();
    return !name.isEmpty();
}

bool UuBlock(const TLines& lines, size_t i, TBinaryBlock& block)
{
    bool base64 = false;
    if (!ParseBeginLine(lines[i], base64, block.Name))
        return false;
    const QLatin1String endLine(base64 ? "====" : "end");
    size_t j = i + 1;
    for (; j < lines.size(); ++j) {
        qint64 bytes = 0;
        bool full = false;
        if (base64 ? IsBase64Line(lines[j], full) : IsUuLine(lines[j], bytes)) {
            block.Bytes += base64 ? Base64Bytes(lines[j]) : bytes;
        } else if (!(lines[j].isEmpty() && j + 1 < lines.size() && lines[j + 1].trimmed() == endLine)) {
            // The last data line of uuencode is a blank, which may have been lost.
            break;
        }
    }
    const bool ended = j < lines.size() && lines[j].trimmed() == endLine;
    // A "begin" line with nothing that looks like data after it is a sentence of the text.
    if (j == i + 1 && !ended)
        return false;
    block.End = ended ? j + 1 : j;
    return true;
}

// "=ybegin part=1 line=128 size=500000 name=file.bin" up to its "=yend" line. The data lines may
// hold any character, so a block without its end runs to the end of the text.
bool YencBlock(const TLines& lines, size_t i, TBinaryBlock& block)
{
    const QStringView line = lines[i];
    if (!line.startsWith(QLatin1String("=ybegin ")))
        return false;
    const qsizetype size = line.indexOf(QLatin1String(" size="));
    if (size >= 0) {
        qsizetype k = size + 6;
        while (k < line.size() && line[k].isDigit() && block.Bytes < (qint64(1) << 50))
            block.Bytes = block.Bytes * 10 + line[k++].digitValue();
    }
    const qsizetype name = line.indexOf(QLatin1String(" name="));
    if (name >= 0)
        block.Name = line.mid(name + 6).trimmed().toString();
    size_t j = i + 1;
    while (j < lines.size() && !lines[j].startsWith(QLatin1String("=yend")))
        ++j;
    block.End = j < lines.size() ? j + 1 : j;
    return true;
}

// A file posted without any begin line: ten or more lines of base64 at full length, or ten or
// more full lines of uuencode ("M" and 60 characters, as in the later parts of a split post).
bool DataRun(const TLines& lines, size_t i, TBinaryBlock& block)
{
    constexpr size_t MinRun = 10;
    bool full = false;
    qint64 bytes = 0;
    size_t j = i;
    if (IsBase64Line(lines[i], full) && full) {
        while (j < lines.size() && IsBase64Line(lines[j], full) && full)
            block.Bytes += Base64Bytes(lines[j++]);
        if (j - i < MinRun)
            return false;
        if (j < lines.size() && IsBase64Line(lines[j], full))
            block.Bytes += Base64Bytes(lines[j++]);
    } else if (lines[i].size() == 61 && lines[i][0] == QLatin1Char('M') && IsUuLine(lines[i], bytes)) {
        while (j < lines.size() && lines[j].size() == 61 && lines[j][0] == QLatin1Char('M') && IsUuLine(lines[j], bytes)) {
            block.Bytes += bytes;
            ++j;
        }
        if (j - i < MinRun)
            return false;
        while (j < lines.size() && IsUuLine(lines[j], bytes)) {
            block.Bytes += bytes;
            ++j;
        }
        if (j < lines.size() && lines[j].trimmed() == QLatin1String("end"))
            ++j;
    } else {
        return false;
    }
    block.End = j;
    return true;
}

// --- HTML ------------------------------------------------------------------------------------

char32_t NamedEntity(QStringView name)
{
    static const QHash<QString, char32_t> table = [] {
        QHash<QString, char32_t> t;
        // U+00A0 to U+00FF in order.
        static const char* const latin1[] = {
            "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",
            "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",
            "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12",
            "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil",
            "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde",
            "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",
            "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",
            "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",
            "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
            "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};
        char32_t code = 0xA0;
        for (const char* n : latin1)
            t.insert(QString::fromLatin1(n), code++);
        const std::pair<const char*, char32_t> more[] = {
            {"amp", '&'},       {"lt", '<'},        {"gt", '>'},        {"quot", '"'},      {"apos", '\''},
            {"OElig", 0x152},   {"oelig", 0x153},   {"Scaron", 0x160},  {"scaron", 0x161},  {"Yuml", 0x178},
            {"fnof", 0x192},    {"circ", 0x2C6},    {"tilde", 0x2DC},   {"ensp", 0x2002},   {"emsp", 0x2003},
            {"thinsp", 0x2009}, {"zwnj", 0x200C},   {"zwj", 0x200D},    {"lrm", 0x200E},    {"rlm", 0x200F},
            {"ndash", 0x2013},  {"mdash", 0x2014},  {"lsquo", 0x2018},  {"rsquo", 0x2019},  {"sbquo", 0x201A},
            {"ldquo", 0x201C},  {"rdquo", 0x201D},  {"bdquo", 0x201E},  {"dagger", 0x2020}, {"Dagger", 0x2021},
            {"bull", 0x2022},   {"hellip", 0x2026}, {"permil", 0x2030}, {"prime", 0x2032},  {"lsaquo", 0x2039},
            {"rsaquo", 0x203A}, {"euro", 0x20AC},   {"trade", 0x2122},  {"larr", 0x2190},   {"rarr", 0x2192},
            {"minus", 0x2212},  {"le", 0x2264},     {"ge", 0x2265},     {"ne", 0x2260},     {"infin", 0x221E},
        };
        for (const auto& [n, c] : more)
            t.insert(QString::fromLatin1(n), c);
        return t;
    }();
    return table.value(name.toString(), 0);
}

char32_t NumericEntity(QStringView digits)
{
    const bool hex = digits.startsWith(QLatin1Char('x')) || digits.startsWith(QLatin1Char('X'));
    if (hex)
        digits = digits.mid(1);
    if (digits.isEmpty() || digits.size() > 8)
        return 0;
    bool ok = false;
    const uint code = digits.toUInt(&ok, hex ? 16 : 10);
    if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    // Pages written on Windows number their quotes and dashes in its code page, as browsers
    // accept.
    if (code >= 0x80 && code <= 0x9F) {
        static const char16_t cp1252[32] = {0x20AC, 0x81,   0x201A, 0x192,  0x201E, 0x2026, 0x2020, 0x2021,
                                            0x2C6,  0x2030, 0x160,  0x2039, 0x152,  0x8D,   0x17D,  0x8F,
                                            0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                            0x2DC,  0x2122, 0x161,  0x203A, 0x153,  0x9D,   0x17E,  0x178};
        return cp1252[code - 0x80];
    }
    return code;
}

// The text made of HTML, gathered with HTML's rules for blanks.
struct THtmlText {
    QString Out;
    bool Blank = false; // a blank is due before the next character
    int Pre = 0;        // inside <pre>: blanks and line breaks are kept

    void Add(QChar c)
    {
        if (Pre > 0) {
            if (c != QLatin1Char('\r'))
                Out += c;
            Blank = false;
            return;
        }
        if (c.isSpace()) {
            Blank = true;
            return;
        }
        if (Blank && !Out.isEmpty() && !Out.endsWith(QLatin1Char('\n')))
            Out += QLatin1Char(' ');
        Blank = false;
        Out += c;
    }
    void Add(char32_t code)
    {
        if (QChar::requiresSurrogates(code)) {
            Add(QChar(QChar::highSurrogate(code)));
            Add(QChar(QChar::lowSurrogate(code)));
        } else {
            Add(QChar(char16_t(code)));
        }
    }
    // Ends the line; lines > 1 leaves an empty line after it (a paragraph).
    void Break(int lines)
    {
        Blank = false;
        if (Out.isEmpty())
            return;
        int have = 0;
        while (have < lines && have < Out.size() && Out[Out.size() - 1 - have] == QLatin1Char('\n'))
            ++have;
        for (; have < lines; ++have)
            Out += QLatin1Char('\n');
    }
};

bool OneOf(QStringView name, std::initializer_list<const char*> names)
{
    for (const char* n : names)
        if (name == QLatin1String(n))
            return true;
    return false;
}

void HtmlTag(QStringView name, bool closing, THtmlText& t)
{
    if (name == QLatin1String("br")) {
        t.Out += QLatin1Char('\n');
        t.Blank = false;
    } else if (OneOf(name, {"p", "h1", "h2", "h3", "h4", "h5", "h6", "blockquote", "table"})) {
        t.Break(2);
    } else if (OneOf(name, {"div", "li", "ul", "ol", "dl", "dt", "dd", "tr", "hr", "pre", "section", "article",
                            "header", "footer", "nav", "aside", "main", "address", "center", "form", "fieldset",
                            "figure", "figcaption", "caption", "body", "html"})) {
        t.Break(1);
    } else if (OneOf(name, {"td", "th"})) {
        t.Blank = true;
    }
    if (name == QLatin1String("pre"))
        t.Pre = closing ? std::max(0, t.Pre - 1) : t.Pre + 1;
}

// --- The article -----------------------------------------------------------------------------

// Control characters other than tab and line end become blanks: nothing binary reaches a voice.
void Sanitize(QString& text)
{
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != '\t' && u != '\n') || (u >= 0x7F && u < 0xA0))
            c = QLatin1Char(' ');
    }
}

bool IsType(GMimeObject* object, const char* type, const char* subtype)
{
    GMimeContentType* ct = g_mime_object_get_content_type(object);
    return ct && g_mime_content_type_is_type(ct, type, subtype);
}

// What is spoken of an article, gathered part by part in the order of the article.
class TArticleReader {
public:
    // False when GMime finds no message or no part in it.
    bool ReadMime(const QStringList& lines)
    {
        InitGMime();
        const QByteArray bytes = lines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n";
        TGPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size())));
        TGPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
        TGPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
        GMimeObject* root = message ? g_mime_message_get_mime_part(message.get()) : nullptr;
        if (!root)
            return false;
        Read(root, 0);
        return !Pieces.isEmpty();
    }

    // Text of the body, with any binary files inside it left out.
    void AddText(QString text)
    {
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        TLines lines;
        for (qsizetype pos = 0;;) {
            const qsizetype end = text.indexOf(QLatin1Char('\n'), pos);
            lines.push_back(QStringView(text).mid(pos, end < 0 ? -1 : end - pos));
            if (end < 0)
                break;
            pos = end + 1;
        }
        QString out;
        out.reserve(text.size());
        for (size_t i = 0; i < lines.size();) {
            TBinaryBlock block;
            if (YencBlock(lines, i, block) || UuBlock(lines, i, block) || DataRun(lines, i, block)) {
                out += Skip(block.Bytes, block.Name);
                i = block.End;
            } else {
                out += lines[i++];
            }
            if (i < lines.size())
                out += QLatin1Char('\n');
        }
        if (!out.trimmed().isEmpty())
            Pieces << out;
    }

    TSpokenArticle Finish()
    {
        TSpokenArticle result;
        QString text = Pieces.join(QStringLiteral("\n\n"));
        Sanitize(text);
        if (text.size() > MaxSpokenText) {
            // At a line end near the limit, else a blank, else at the limit itself.
            qsizetype cut = text.lastIndexOf(QLatin1Char('\n'), MaxSpokenText);
            if (cut < MaxSpokenText - 64 * 1024)
                cut = text.lastIndexOf(QLatin1Char(' '), MaxSpokenText);
            if (cut < MaxSpokenText - 4 * 1024)
                cut = text[MaxSpokenText].isLowSurrogate() ? MaxSpokenText - 1 : MaxSpokenText;
            const qint64 rest = Utf8Size(QStringView(text).mid(cut));
            text.truncate(cut);
            text += QStringLiteral("\nThe rest of this article, ") + CountWords(Rounded(rest, 1024), "kilobyte", "kilobytes")
                    + QStringLiteral(", is not read.");
        }
        result.Text = text.trimmed();
        result.Skipped = Skipped;
        return result;
    }

private:
    QString Skip(qint64 bytes, const QString& name)
    {
        const QString sentence = SkippedSentence(bytes, name);
        Skipped << sentence;
        return sentence;
    }

    void Read(GMimeObject* object, int depth)
    {
        if (!object)
            return;
        if (depth > MaxDepth) {
            // Parts nested this deep are not a letter to anyone: left out as one.
            TGPtr<GMimeStream> counter(g_mime_stream_null_new());
            Pieces << Skip(std::max<qint64>(0, g_mime_object_write_to_stream(object, nullptr, counter.get())), QString());
            return;
        }
        if (GMIME_IS_MESSAGE_PART(object)) {
            GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
            if (inner)
                Read(g_mime_message_get_mime_part(inner), depth + 1);
            return;
        }
        if (GMIME_IS_MULTIPART(object)) {
            GMimeMultipart* multi = GMIME_MULTIPART(object);
            const int count = g_mime_multipart_get_count(multi);
            if (IsType(object, "multipart", "alternative") && count > 0) {
                ReadAlternative(multi, count, depth);
                return;
            }
            for (int i = 0; i < count; ++i)
                Read(g_mime_multipart_get_part(multi, i), depth + 1);
            return;
        }
        if (!GMIME_IS_PART(object))
            return;
        GMimePart* part = GMIME_PART(object);
        if (!IsSpokenText(part)) {
            const char* name = g_mime_part_get_filename(part);
            Pieces << Skip(DecodedSize(part), name ? QString::fromUtf8(name) : QString());
            return;
        }
        const QString text = PartText(part);
        AddText(IsType(object, "text", "html") ? HtmlToText(text) : text);
    }

    // One of the alternatives: the plain text when it says anything, else the HTML, else the
    // first that holds parts of its own, else the first.
    void ReadAlternative(GMimeMultipart* multi, int count, int depth)
    {
        GMimeObject* plain = nullptr;
        GMimeObject* html = nullptr;
        GMimeObject* nested = nullptr;
        for (int i = 0; i < count; ++i) {
            GMimeObject* p = g_mime_multipart_get_part(multi, i);
            if (!plain && IsType(p, "text", "plain") && GMIME_IS_PART(p) && IsSpokenText(GMIME_PART(p)))
                plain = p;
            else if (!html && IsType(p, "text", "html") && GMIME_IS_PART(p) && IsSpokenText(GMIME_PART(p)))
                html = p;
            else if (!nested && GMIME_IS_MULTIPART(p))
                nested = p;
        }
        if (plain) {
            const QString text = PartText(GMIME_PART(plain));
            if (!text.trimmed().isEmpty() || (!html && !nested)) {
                AddText(text);
                return;
            }
        }
        if (html)
            AddText(HtmlToText(PartText(GMIME_PART(html))));
        else
            Read(nested ? nested : g_mime_multipart_get_part(multi, 0), depth + 1);
    }

    // Text parts are read, unless attached as a named file or made of data rather than prose.
    static bool IsSpokenText(GMimePart* part)
    {
        GMimeObject* object = GMIME_OBJECT(part);
        if (!IsType(object, "text", "*"))
            return false;
        if (g_mime_part_is_attachment(part) && g_mime_part_get_filename(part))
            return false;
        for (const char* data : {"calendar", "vcard", "x-vcard", "directory", "rtf"})
            if (IsType(object, "text", data))
                return false;
        return true;
    }

    QStringList Pieces;
    QStringList Skipped;
};

QString BodyOnly(const QStringList& lines)
{
    const qsizetype blank = lines.indexOf(QString());
    return blank < 0 ? QString() : lines.mid(blank + 1).join(QLatin1Char('\n'));
}

} // namespace

QString SkippedSentence(qint64 bytes, const QString& name)
{
    // Only the file's own name: no folders, no control characters, not endless.
    QString file = name.mid(std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\'))) + 1);
    Sanitize(file);
    file = file.simplified();
    if (file.size() > MaxSpokenName)
        file = file.left(MaxSpokenName).trimmed();
    QString s = QStringLiteral("An attachment of ") + SizeWords(bytes);
    if (!file.isEmpty())
        s += QStringLiteral(", ") + file + QLatin1Char(',');
    return s + QStringLiteral(" is not read.");
}

QString HtmlToText(const QString& html)
{
    THtmlText t;
    t.Out.reserve(html.size());
    const QStringView s(html);
    const qsizetype n = s.size();
    // Once a '<' has no '>' after it, no later '<' has one either: each '>' is looked for at
    // most once, and broken markup still takes linear time.
    qsizetype noCloseFrom = n;
    for (qsizetype i = 0; i < n;) {
        const QChar c = s[i];
        if (c == QLatin1Char('&')) {
            qsizetype j = i + 1;
            while (j < n && j - i <= 32 && (s[j].isLetterOrNumber() || s[j] == QLatin1Char('#')))
                ++j;
            if (j < n && s[j] == QLatin1Char(';') && j > i + 1) {
                const QStringView name = s.mid(i + 1, j - i - 1);
                const char32_t code = name.startsWith(QLatin1Char('#')) ? NumericEntity(name.mid(1)) : NamedEntity(name);
                if (code != 0) {
                    t.Add(code);
                    i = j + 1;
                    continue;
                }
            }
            t.Add(c);
            ++i;
            continue;
        }
        if (c != QLatin1Char('<')) {
            t.Add(c);
            ++i;
            continue;
        }
        if (s.mid(i, 4) == QLatin1String("<!--")) {
            const qsizetype end = s.indexOf(QLatin1String("-->"), i + 4);
            i = end < 0 ? n : end + 3;
            continue;
        }
        const QChar next = i + 1 < n ? s[i + 1] : QChar();
        const bool tagLike = next.isLetter() || next == QLatin1Char('/') || next == QLatin1Char('!') || next == QLatin1Char('?');
        const qsizetype close = tagLike && i < noCloseFrom ? s.indexOf(QLatin1Char('>'), i + 1) : -1;
        if (close < 0) {
            if (tagLike)
                noCloseFrom = i;
            t.Add(c);
            ++i;
            continue;
        }
        const bool closing = next == QLatin1Char('/');
        qsizetype k = i + (closing ? 2 : 1);
        const qsizetype nameStart = k;
        while (k < close && s[k].isLetterOrNumber())
            ++k;
        const QString name = s.mid(nameStart, k - nameStart).toString().toLower();
        i = close + 1;
        if (!closing && OneOf(name, {"script", "style", "title"})) {
            // Their content is not text; without an end tag the rest of the page is theirs.
            const qsizetype end = s.indexOf(QStringLiteral("</") + name, i, Qt::CaseInsensitive);
            const qsizetype gt = end < 0 ? -1 : s.indexOf(QLatin1Char('>'), end);
            i = gt < 0 ? n : gt + 1;
            continue;
        }
        HtmlTag(name, closing, t);
    }
    // Lines end without blanks, and at most one empty line stands between paragraphs.
    QString out;
    out.reserve(t.Out.size());
    int breaks = 0;
    for (QChar c : std::as_const(t.Out)) {
        if (c == QLatin1Char('\n')) {
            while (out.endsWith(QLatin1Char(' ')))
                out.chop(1);
            if (++breaks > 2)
                continue;
        } else {
            breaks = 0;
        }
        out += c;
    }
    return out.trimmed();
}

TSpokenArticle SpokenArticleText(const QStringList& lines, bool hasHeaders)
{
    TArticleReader reader;
    if (!hasHeaders) {
        reader.AddText(lines.join(QLatin1Char('\n')));
    } else if (!reader.ReadMime(lines)) {
        // Nothing GMime can read as a message (or a multipart whose boundary never comes): the
        // body as it came, with its binary files still left out.
        const QString body = BodyOnly(lines);
        if (!body.trimmed().isEmpty()) {
            UtilsClass::Log(QStringLiteral("The article's MIME structure could not be read; its body is spoken as text"));
            reader.AddText(body);
        }
    }
    return reader.Finish();
}
