#include "preprocess/TTSPreProcessor.h"

#include "core/BusyGuard.h"
#include "core/BaseUtils.h"
#include "core/TBaseRegistryClassUnit.h"
#include "core/TextFiles.h"
#include "core/TextFunctions.h"

#include <QCoreApplication>
#include <QFile>
#include <algorithm>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace {
bool isBreak(QChar c)
{
    return c == u'\r' || c == u'\n';
}
bool isAsciiLetterOrDigit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9');
}
bool isLower(QChar c)
{
    return c.unicode() >= u'a' && c.unicode() <= u'z';
}
bool isUpper(QChar c)
{
    return c.unicode() >= u'A' && c.unicode() <= u'Z';
}
bool isDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}
bool isRunPunctuation(QChar c)
{
    switch (c.unicode()) {
    case u'!': case u',': case u'-': case u'.': case u';': case u'?':
        return true;
    default:
        return false;
    }
}
bool isRunChar(QChar c)
{
    return c == u' ' || isBreak(c) || isRunPunctuation(c);
}
bool isFilteredSymbol(QChar c)
{
    switch (c.unicode()) {
    case u'#': case u'(': case u')': case u'*': case u'+': case u'-': case u'[': case u']':
    case u'^': case u'_': case u'`': case u'{': case u'|': case u'}': case u'~':
        return true;
    default:
        return false;
    }
}
// What stands before a link's scheme.
bool isSchemeDelimiter(QChar c)
{
    return isBreak(c) || c == u' ' || c == u'\\' || isRunPunctuation(c);
}
// What ends a link. Line breaks end it too: with LF line ends a single break survives the run
// compaction, and the next line's first word must not vanish into the link.
bool isLinkEnd(QChar c)
{
    switch (c.unicode()) {
    case u' ': case u'!': case u',': case u'-': case u';': case u'?': case u'\r': case u'\n':
        return true;
    default:
        return false;
    }
}

const QString SapiFivePausePrefix = QStringLiteral("<SILENCE MSEC=\"");

QStringList readLines(const QString& path)
{
    QStringList lines;
    QString reason;
    if (!TryReadLines(path, lines, reason))
        throw EFilterFileError(QStringLiteral("Cannot read ") + path + QStringLiteral(": ") + reason);
    return lines;
}

QString pcreMessage(int code)
{
    PCRE2_UCHAR buffer[256];
    if (pcre2_get_error_message(code, buffer, sizeof buffer) < 0)
        return QStringLiteral("error %1").arg(code);
    return QString::fromUtf8(reinterpret_cast<const char*>(buffer));
}

// The engine objects of one rule, released in every case.
struct TRuleEngine {
    pcre2_code* code = nullptr;
    pcre2_match_data* data = nullptr;
    pcre2_match_context* context = nullptr;
    pcre2_jit_stack* jitStack = nullptr;
    ~TRuleEngine()
    {
        if (jitStack)
            pcre2_jit_stack_free(jitStack);
        if (data)
            pcre2_match_data_free(data);
        if (context)
            pcre2_match_context_free(context);
        if (code)
            pcre2_code_free(code);
    }
};

// The number of UTF-16 units of the UTF-8 sequence that starts with byte b.
int utf16Units(unsigned char b)
{
    return (b & 0xF8) == 0xF0 ? 2 : 1;
}
int utf8SequenceLength(unsigned char b)
{
    if ((b & 0x80) == 0)
        return 1;
    if ((b & 0xE0) == 0xC0)
        return 2;
    if ((b & 0xF0) == 0xE0)
        return 3;
    if ((b & 0xF8) == 0xF0)
        return 4;
    return 1;
}
}

// ---------------------------------------------------------------------------------------------

int TOffsetList::Map(int position) const
{
    if (origins.empty() || position < 0)
        return position;
    const int length = int(origins.size()) - 1;
    if (position >= length)
        return origins.back() + (position - length);
    return origins[size_t(position)];
}

TPreProcessor::TPreProcessor() = default;
TPreProcessor::~TPreProcessor() = default;

void TPreProcessor::LoadSettings(TBaseRegistryClass& store)
{
    TTrace trace(QStringLiteral("TPreProcessor.LoadSettings"));
    const struct {
        const char* key;
        bool def;
    } items[] = {{"TTS_FilterSymbols", false},
                 {"EnableCheckStartOfLine", true},
                 {"EnableCheckContaining", true},
                 {"EnableUserTranslations", true}};
    for (const auto& item : items)
        if (!store.HasItem(QLatin1String(item.key)))
            store.AddItem(QLatin1String(item.key), rlSection, QString(), item.def, rkBoolean);
    store.LoadAll();
    FilterSymbols = store.GetValue(QStringLiteral("TTS_FilterSymbols")).toBool();
    CheckStartOfLine = store.GetValue(QStringLiteral("EnableCheckStartOfLine")).toBool();
    CheckContaining = store.GetValue(QStringLiteral("EnableCheckContaining")).toBool();
    UseTranslations = store.GetValue(QStringLiteral("EnableUserTranslations")).toBool();
    LoadFilterOptions();
}

void TPreProcessor::SaveSettings(TBaseRegistryClass& store)
{
    store.SetValue(QStringLiteral("TTS_FilterSymbols"), FilterSymbols);
    store.SetValue(QStringLiteral("EnableCheckStartOfLine"), CheckStartOfLine);
    store.SetValue(QStringLiteral("EnableCheckContaining"), CheckContaining);
    store.SetValue(QStringLiteral("EnableUserTranslations"), UseTranslations);
    SaveFilterOptions();
}

void TPreProcessor::LoadFilterOptions()
{
    TTrace trace(QStringLiteral("TPreProcessor.LoadFilterOptions"));
    const QString folder = UtilsClass::GetProgramFolder();
    const QString optionsPath = folder + QLatin1String(FilterOptionsFileName);
    StartOfLineList.clear();
    ContainingList.clear();
    if (QFile::exists(optionsPath)) {
        for (const QString& line : readLines(optionsPath)) {
            QString rest = line;
            const QString section = SplitToken(rest, QStringLiteral("~")).trimmed();
            const QString value = SplitToken(rest, QStringLiteral("~"));
            if (section == QLatin1String("1"))
                StartOfLineList.append(value);
            else if (section == QLatin1String("2"))
                ContainingList.append(value);
        }
    } else {
        ContainingList << QStringLiteral("wrote in message");
        StartOfLineList << QStringLiteral(">") << QStringLiteral("|") << QStringLiteral("In article <");
    }
    Translations.Clear();
    Translations.LoadFromFile(folder + QLatin1String(UserTranslationsFileName));
    if (Translations.Count() == 0) {
        Translations.Add(QStringLiteral("tia"), QStringLiteral("thanks in advance"), 0, false);
        Translations.Add(QStringLiteral("pls"), QStringLiteral("please"), 0, false);
        Translations.Add(QStringLiteral("thx"), QStringLiteral("thanks"), 0, false);
        Translations.Add(QStringLiteral("imo"), QStringLiteral("in my opinion"), 0, false);
    }
}

void TPreProcessor::SaveFilterOptions() const
{
    const QString path = UtilsClass::GetProgramFolder() + QLatin1String(FilterOptionsFileName);
    QStringList lines;
    // A value holding a line break would split into two entries; it is written up to the break.
    const auto oneLine = [](const QString& v) {
        qsizetype cut = 0;
        while (cut < v.size() && !isBreak(v.at(cut)))
            ++cut;
        return v.left(cut);
    };
    for (const QString& s : StartOfLineList)
        lines << QStringLiteral("1~") + oneLine(s);
    for (const QString& s : ContainingList)
        lines << QStringLiteral("2~") + oneLine(s);
    for (int i = 0; i < Translations.Count(); ++i)
        lines << QStringLiteral("3~") + Translations.RecordText(i, QStringLiteral("~"));
    QString reason;
    if (!TryWriteLinesAtomically(path, lines, reason))
        throw EFilterFileError(QStringLiteral("Cannot write ") + path + QStringLiteral(": ") + reason);
}

void TPreProcessor::GetContainingList(QStringList& list) const
{
    list = ContainingList;
}

void TPreProcessor::SetContainingList(const QStringList& list)
{
    ContainingList = list;
}

QString TPreProcessor::GetStartOfLineText() const
{
    return StartOfLineList.join(QLatin1Char(','));
}

void TPreProcessor::SetStartOfLineText(QString text)
{
    StartOfLineList.clear();
    for (;;) {
        const QString piece = SplitToken(text, QStringLiteral(","));
        if (piece.trimmed().isEmpty())
            break;
        StartOfLineList.append(piece);
    }
}

// ---------------------------------------------------------------------------------------------

void TPreProcessor::ProcessRE(const QString& ruleLine, const QString& replacement, TTranslationList& matchList,
                              const QString& text)
{
    ProcessREUtf8(ruleLine, replacement, matchList, text.toUtf8());
}

void TPreProcessor::ProcessREUtf8(const QString& ruleLine, const QString& replacement, TTranslationList& matchList,
                                  const QByteArray& subject)
{
    UtilsClass::Log(QStringLiteral("Entered ProcessRE: ") + ruleLine);
    try {
        TRuleEngine engine;
        uint32_t options = PCRE2_UTF | PCRE2_DOTALL;
        QString pattern;
        const QString header = QStringLiteral("{{Options=");
        if (ruleLine.startsWith(header)) {
            const qsizetype close = ruleLine.indexOf(QStringLiteral("}}"), header.size());
            const QString invalid = QStringLiteral("Invalid Regular Expression Options: ") + ruleLine;
            if (close < 0)
                throw ERegExError(invalid);
            QString list = ruleLine.mid(header.size(), close - header.size()).toUpper();
            for (;;) {
                const QString token = SplitTokenSkip(list, QStringLiteral(",")).trimmed();
                if (token.isEmpty())
                    break;
                if (token.size() < 2 || (token.at(0) != u'+' && token.at(0) != u'-'))
                    throw ERegExError(invalid);
                uint32_t flag = 0;
                switch (token.at(1).unicode()) {
                case u'I': flag = PCRE2_CASELESS; break;
                case u'S': flag = PCRE2_DOTALL; break;
                case u'G': flag = PCRE2_UNGREEDY; break; // greedy is the default: "-G" sets lazy
                case u'M': flag = PCRE2_MULTILINE; break;
                default: throw ERegExError(invalid);
                }
                const bool set = token.at(0) == u'+';
                const bool inverted = flag == PCRE2_UNGREEDY;
                if (set != inverted)
                    options |= flag;
                else
                    options &= ~flag;
            }
            pattern = ruleLine.mid(close + 2).trimmed();
        } else {
            pattern = ruleLine.trimmed();
        }
        if (pattern.isEmpty())
            throw ERegExError(QStringLiteral("Error in regular expression: the pattern is empty"));

        const QByteArray patternUtf8 = pattern.toUtf8();
        pcre2_compile_context* compileContext = pcre2_compile_context_create(nullptr);
        // Articles come with CR LF or LF line ends; "^" and "$" know both.
        pcre2_set_newline(compileContext, PCRE2_NEWLINE_ANYCRLF);
        int errorCode = 0;
        PCRE2_SIZE errorOffset = 0;
        engine.code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(patternUtf8.constData()), PCRE2_SIZE(patternUtf8.size()),
                                    options, &errorCode, &errorOffset, compileContext);
        pcre2_compile_context_free(compileContext);
        if (!engine.code)
            throw ERegExError(QStringLiteral("Error in regular expression at offset %1: %2")
                                  .arg(QString::fromUtf8(patternUtf8.left(qsizetype(errorOffset))).size())
                                  .arg(pcreMessage(errorCode)));
        pcre2_jit_compile(engine.code, PCRE2_JIT_COMPLETE); // falls back to the interpreter when JIT is missing
        engine.data = pcre2_match_data_create_from_pattern(engine.code, nullptr);
        engine.context = pcre2_match_context_create(nullptr);
        pcre2_set_match_limit(engine.context, MatchLimit);
        // The compiled form's default stack (32 KB) is short for rules that recurse on long
        // articles; give it room up to 4 MB.
        engine.jitStack = pcre2_jit_stack_create(64 * 1024, 4 * 1024 * 1024, nullptr);
        if (engine.jitStack)
            pcre2_jit_stack_assign(engine.context, nullptr, engine.jitStack);

        const auto* bytes = reinterpret_cast<PCRE2_SPTR>(subject.constData());
        const PCRE2_SIZE length = PCRE2_SIZE(subject.size());
        // Byte offsets become character positions by walking forward from the last one converted.
        PCRE2_SIZE walkedByte = 0;
        int walkedChar = 0;
        const auto charIndex = [&](PCRE2_SIZE byte) {
            while (walkedByte < byte) {
                walkedChar += utf16Units(static_cast<unsigned char>(subject[qsizetype(walkedByte)]));
                walkedByte += PCRE2_SIZE(utf8SequenceLength(static_cast<unsigned char>(subject[qsizetype(walkedByte)])));
            }
            return walkedChar;
        };
        PCRE2_SIZE start = 0;
        uint32_t matchOptions = 0; // the subject is checked for valid UTF-8 on the first search only
        while (start <= length) {
            const int rc = pcre2_match(engine.code, bytes, length, start, matchOptions, engine.data, engine.context);
            matchOptions = PCRE2_NO_UTF_CHECK;
            if (rc == PCRE2_ERROR_NOMATCH)
                break;
            if (rc < 0) {
                if (rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT || rc == PCRE2_ERROR_HEAPLIMIT
                    || rc == PCRE2_ERROR_JIT_STACKLIMIT)
                    throw ERegExError(QStringLiteral("Regular expression gave up on this text (%1): ").arg(pcreMessage(rc))
                                      + pattern);
                throw ERegExError(QStringLiteral("Error while matching regular expression: ") + pcreMessage(rc));
            }
            const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(engine.data);
            const PCRE2_SIZE from = ovector[0];
            const PCRE2_SIZE to = std::max(ovector[1], from);
            if (to == from) {
                // An empty match removes nothing; the search goes on one character further.
                if (from >= length)
                    break;
                start = from + PCRE2_SIZE(utf8SequenceLength(static_cast<unsigned char>(subject[qsizetype(from)])));
                continue;
            }
            const int first = charIndex(from);
            const int last = charIndex(to);
            matchList.append(TTranslationRecord{first + 1, last - first, replacement});
            start = to;
        }
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("ProcessRE Exception: ") + e.message());
        throw;
    }
    UtilsClass::Log(QStringLiteral("Exit ProcessRE"));
}

// ---------------------------------------------------------------------------------------------

QString TPreProcessor::FilterText(const TFilterTarget& target, const QString& source)
{
    const bool verbose = UtilsClass::GetDeploymentBool(QStringLiteral("Verbose"), false);
    if (verbose) {
        UtilsClass::Log(QStringLiteral("Before Filtering:"));
        UtilsClass::Log(source);
    }
    OffsetList.Clear();

    // The characters of Sapi4 control sequences; the pause tags inserted later keep theirs.
    QString copy = source;
    for (QChar& c : copy)
        if (c == u'=' || c == u'\\')
            c = u' ';
    // The Sapi5 engine reads markup: without "=" no tag of the writer's can carry a value, but
    // "<!--" would still silence everything up to a "-->" (or the end of the article).
    if (target.ReadsMarkup)
        for (qsizetype at = copy.indexOf(QLatin1String("<!--")); at >= 0; at = copy.indexOf(QLatin1String("<!--"), at + 1))
            copy[at + 1] = u' ';
    TFilterText text(std::move(copy));

    if (UseTranslations)
        applyTranslations(text);
    applyRules(text);
    linePass(text, target);
    compactRuns(text);
    rewriteLinks(text);
    symbolsAndShouting(text);

    QString result = text.ToString();
    OffsetList.Assign(text.TakeOrigins());
    if (verbose) {
        UtilsClass::Log(QStringLiteral("After Filtering:"));
        UtilsClass::Log(result);
    }
    return result;
}

void TPreProcessor::applyTranslations(TFilterText& text) const
{
    for (const TLookupRecord& record : Translations.Records) {
        const QString& key = record.Key;
        if (key.isEmpty())
            continue;
        const Qt::CaseSensitivity cs = record.CaseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
        text.Rewind();
        int from = 0;
        for (;;) {
            const int v = text.IndexOf(key, from, cs);
            if (v < 0)
                break;
            const int after = v + int(key.size());
            const bool wordStart = v == 0 || !isAsciiLetterOrDigit(text.At(v - 1));
            const bool wordEnd = after >= text.Length() || !isAsciiLetterOrDigit(text.At(after));
            if (!wordStart || !wordEnd) {
                from = after;
                continue;
            }
            text.Replace(v, int(key.size()), record.Pronunciation);
            from = v + int(record.Pronunciation.size());
        }
    }
}

void TPreProcessor::applyRules(TFilterText& text) const
{
    const QString path = UtilsClass::GetProgramFolder() + QLatin1String(UserRegularExpressionsFileName);
    if (!QFile::exists(path))
        return;
    const QStringList lines = readLines(path);
    QByteArray utf8; // the text as the rules see it, converted again only after a rule changed it
    bool converted = false;
    for (const QString& line : lines) {
        if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (!converted) {
            utf8 = text.View().toUtf8();
            converted = true;
        }
        TTranslationList matches;
        ProcessREUtf8(line, QString(), matches, utf8);
        if (matches.isEmpty())
            continue;
        converted = false;
        text.Rewind();
        std::stable_sort(matches.begin(), matches.end(),
                         [](const TTranslationRecord& a, const TTranslationRecord& b) { return a.Position < b.Position; });
        int removed = 0;
        for (const TTranslationRecord& m : matches) {
            const int p = m.Position - removed; // 1-based, after the removals before it
            if (m.Length <= 0)
                continue;
            text.Remove(p - 1, m.Length);
            removed += m.Length;
        }
        TBusyGuard::ProcessEvents();
    }
}

bool TPreProcessor::NextLine(const TFilterText& text, int limit, int start, int& nextStart, int& nextEnd)
{
    limit = std::min(limit, text.Length());
    int k = std::max(start, 0);
    while (k < limit && !isBreak(text.At(k)))
        ++k;
    while (k < limit && isBreak(text.At(k)))
        ++k;
    if (k >= limit)
        return false;
    nextStart = k;
    while (k < limit && !isBreak(text.At(k)))
        ++k;
    if (k >= limit)
        return false;
    nextEnd = k;
    return true;
}

bool TPreProcessor::CheckBlockStart(const TFilterText&, int, int, int&, int&)
{
    return false;
}

bool TPreProcessor::CheckBlockDelete(const TFilterText&, int, int, int&, int&)
{
    return true;
}

void TPreProcessor::linePass(TFilterText& text, const TFilterTarget& target)
{
    // Counted here, not at the start of FilterText: the rules before this pass let window
    // messages run, and a text filtered from one of them must not share this pass's look-ahead.
    ++FilterRun;
    text.Rewind();
    int i = 0;
    int lineStart = 0;
    bool inLine = false; // the scan starts as if a run of line breaks had just been passed
    int breaks = 0;
    bool suppressed = false;
    while (i < text.Length()) {
        const QChar c = text.At(i);
        if (!isBreak(c)) {
            if (!inLine) {
                inLine = true;
                lineStart = i;
                suppressed = false;
                if (CheckStartOfLine)
                    for (const QString& s : StartOfLineList)
                        if (text.StartsWithAt(i, s)) {
                            suppressed = true;
                            break;
                        }
                if (!suppressed && breaks > 2 && target.PauseTag) {
                    const QString tag = target.PauseTag(breaks > 4 ? 1.0 : 0.5);
                    text.Insert(i, tag);
                    i += int(tag.size());
                    lineStart = i;
                }
                breaks = 0;
            }
            ++i;
            continue;
        }

        ++breaks;
        if (!inLine) {
            ++i;
            continue;
        }
        inLine = false;
        int lineEnd = i;
        int length = lineEnd - lineStart;
        if (!suppressed) {
            int blockStart = 0, blockLength = 0;
            suppressed = CheckBlockStart(text, lineStart, lineEnd, blockStart, blockLength);
            if (suppressed) {
                lineStart = blockStart;
                length = blockLength;
                lineEnd = lineStart + length - 1;
            }
        }
        if (suppressed) {
            int deleteStart = lineStart;
            int deleteLength = lineEnd - lineStart;
            if (CheckBlockDelete(text, lineStart, lineEnd, deleteStart, deleteLength)) {
                text.Remove(deleteStart, deleteLength);
                // The line break that was counted stays and is passed over; when the deletion
                // took it (a wrapped quote line went with it), the scan goes on where it ended.
                i = deleteStart + deleteLength <= lineEnd ? lineEnd - deleteLength + 1 : deleteStart;
                continue;
            }
            ++i;
            continue;
        }
        if (CheckContaining) {
            const QString line = text.Mid(lineStart, length);
            bool hit = false;
            for (const QString& s : ContainingList)
                if (!s.isEmpty() && line.contains(s)) {
                    hit = true;
                    break;
                }
            if (hit) {
                text.Remove(lineStart, length);
                i = lineStart + 1;
                continue;
            }
        }
        ++i;
    }
}

void TPreProcessor::compactRuns(TFilterText& text)
{
    text.Rewind();
    int i = 0;
    while (i < text.Length()) {
        if (!isRunChar(text.At(i))) {
            ++i;
            continue;
        }
        int j = i;
        QChar punctuation;
        while (j < text.Length() && isRunChar(text.At(j))) {
            if (punctuation.isNull() && isRunPunctuation(text.At(j)))
                punctuation = text.At(j);
            ++j;
        }
        if (j - i >= 2 && j < text.Length()) {
            const QString replacement = punctuation.isNull() ? QStringLiteral(" ") : QString(punctuation) + u' ';
            text.Replace(i, j - i, replacement);
            i += int(replacement.size());
        } else {
            i = j;
        }
    }
}

void TPreProcessor::rewriteLink(TFilterText& text, int linkStart)
{
    const int length = text.Length();
    if (linkStart >= length)
        return;
    int pathStart = -1;
    int last = length - 1;
    for (int k = linkStart + 1; k < length; ++k) {
        const QChar c = text.At(k);
        if (c == u'/') {
            if (pathStart < 0)
                pathStart = k;
        } else if (isLinkEnd(c)) {
            last = k - 1;
            break;
        }
    }
    for (int k = linkStart; k + 2 < length && k < last; ++k) {
        if (text.At(k).toLower() == u'w' && text.At(k + 1).toLower() == u'w' && text.At(k + 2).toLower() == u'w') {
            text.Replace(k, 3, u"w w w");
            if (pathStart > k)
                pathStart += 2;
            last += 2;
            break;
        }
    }
    if (pathStart >= 0 && pathStart <= last)
        text.Replace(pathStart, last - pathStart + 1, u" web link");
}

void TPreProcessor::rewriteLinks(TFilterText& text)
{
    text.Rewind();
    int from = 0;
    for (;;) {
        const int p = text.IndexOf(u"://", from);
        if (p < 0)
            break;
        int delimiter = -2; // none found
        for (int k = p - 1; k >= 0 && k >= p - 10; --k)
            if (isSchemeDelimiter(text.At(k))) {
                delimiter = k;
                break;
            }
        // A scheme that starts the text (or is close enough to its start) counts as delimited.
        if (delimiter == -2 && p <= 10)
            delimiter = -1;
        if (delimiter != -2) {
            const int linkStart = delimiter + 1;
            text.Remove(linkStart, p + 3 - linkStart);
            rewriteLink(text, linkStart);
        }
        from = p + 1;
    }
    text.Rewind();
    from = 0;
    for (;;) {
        const int p = text.IndexOf(u"www.", from);
        if (p < 0)
            break;
        rewriteLink(text, p);
        from = p + 1;
    }
    removeNewsReferences(text);
}

void TPreProcessor::removeNewsReferences(TFilterText& text)
{
    // The search for the "@" of a reference stops at the end of the reference (a blank or a line
    // break): a group name such as news:comp.lang.c must not swallow the text up to a mail
    // address further on. The stop found last is kept, so a long word is not searched twice.
    int cachedFrom = -1, cachedStop = -1;
    text.Rewind();
    int from = 0;
    for (;;) {
        const int p = text.IndexOf(u"news:", from);
        if (p < 0)
            break;
        const int length = text.Length();
        int k;
        if (cachedFrom >= 0 && cachedFrom <= p + 1 && p + 1 <= cachedStop) {
            k = cachedStop;
        } else {
            k = p + 1;
            while (k < length && text.At(k) != u'@' && text.At(k) != u' ' && !isBreak(text.At(k)))
                ++k;
            cachedFrom = p + 1;
            cachedStop = k;
        }
        if (k >= length - 1 || text.At(k) != u'@') {
            from = p + 1;
            continue;
        }
        int h = k + 1;
        while (h < length) {
            const QChar c = text.At(h);
            if (isLower(c) || isDigit(c)) {
                ++h;
            } else if (c == u'.') {
                ++h;
                if (h >= length || !(isLower(text.At(h)) || isDigit(text.At(h))))
                    break;
            } else {
                break;
            }
        }
        text.Remove(p, h - p);
        cachedFrom = cachedStop = -1;
        from = p;
    }
}

void TPreProcessor::symbolsAndShouting(TFilterText& text) const
{
    const int length = text.Length();
    int runStart = -1;
    int capitals = 0;
    // The pause markup inserted at paragraph breaks is not the writer's shouting: it neither
    // counts nor changes. Returns the index of its last character, or -1 when none starts at i.
    const auto pauseTagEnd = [&](int i) {
        if (text.At(i) != u'<' || !text.StartsWithAt(i, SapiFivePausePrefix))
            return -1;
        int k = i + int(SapiFivePausePrefix.size());
        while (k + 1 < length && !(text.At(k) == u'/' && text.At(k + 1) == u'>'))
            ++k;
        return k + 1 < length ? k + 1 : -1;
    };
    const auto lowerRun = [&](int end) {
        if (capitals > 5)
            for (int k = runStart; k < end; ++k) {
                if (const int tagEnd = pauseTagEnd(k); tagEnd >= 0)
                    k = tagEnd;
                else if (isUpper(text.At(k)))
                    text.SetAt(k, QChar(text.At(k).unicode() + 32));
            }
        runStart = -1;
        capitals = 0;
    };
    for (int i = 0; i < length; ++i) {
        if (const int tagEnd = pauseTagEnd(i); tagEnd >= 0) {
            i = tagEnd;
            continue;
        }
        const QChar c = text.At(i);
        if (FilterSymbols && isFilteredSymbol(c)) {
            text.SetAt(i, u' ');
        } else if (isUpper(c)) {
            if (runStart < 0) {
                runStart = i;
                capitals = 0;
            }
            ++capitals;
        } else if (runStart >= 0 && isLower(c)) {
            lowerRun(i);
        }
    }
    if (runStart >= 0)
        lowerRun(length);
}

// ---------------------------------------------------------------------------------------------

bool TGroupsPreProcessor::MatchesWildcard(const QString& text, const QString& pattern)
{
    const QStringList parts = pattern.split(QLatin1Char('*'));
    if (parts.size() == 1)
        return text == pattern;
    if (!text.startsWith(parts.first()))
        return false;
    qsizetype pos = parts.first().size();
    for (qsizetype n = 1; n + 1 < parts.size(); ++n) {
        const qsizetype hit = text.indexOf(parts.at(n), pos);
        if (hit < 0)
            return false;
        pos = hit + parts.at(n).size();
    }
    const QString& lastPart = parts.last();
    if (lastPart.isEmpty())
        return true;
    return text.size() - pos >= lastPart.size() && text.endsWith(lastPart);
}

bool TGroupsPreProcessor::EndsWithKeyword(const QString& line, const QString& keyword)
{
    const qsizetype hit = line.indexOf(keyword);
    if (hit < 0)
        return false;
    for (qsizetype k = hit + keyword.size(); k < line.size(); ++k) {
        const QChar c = line.at(k);
        if (c != u' ' && c != u'.' && c != u':')
            return false;
    }
    return true;
}

bool TGroupsPreProcessor::IsAttributionLine(const QString& line)
{
    return MatchesWildcard(line, QStringLiteral("On * 200* *@*")) || MatchesWildcard(line, QStringLiteral("*news:*@*"))
        || EndsWithKeyword(line, QStringLiteral("wrote")) || EndsWithKeyword(line, QStringLiteral("writes"))
        || EndsWithKeyword(line, QStringLiteral("wrote in message"));
}

bool TGroupsPreProcessor::CheckBlockStart(const TFilterText& text, int lineStart, int lineEnd, int& blockStart,
                                          int& blockLength)
{
    // Inside a run of attribution lines already found to lead nowhere: same result again.
    if (chainRun == FilterRun && chainEndFromTextEnd >= 0 && text.Length() - lineStart > chainEndFromTextEnd)
        return false;
    int start = lineStart, end = lineEnd;
    int lastEnd = -1;
    while (IsAttributionLine(text.Mid(start, end - start))) {
        lastEnd = end;
        int nextStart = 0, nextEnd = 0;
        if (!NextLine(text, text.Length(), end, nextStart, nextEnd)) {
            chainRun = FilterRun;
            chainEndFromTextEnd = 0;
            return false;
        }
        start = nextStart;
        end = nextEnd;
    }
    if (lastEnd < 0)
        return false;
    if (text.At(start) != u'>') {
        chainRun = FilterRun;
        chainEndFromTextEnd = text.Length() - start;
        return false;
    }
    blockStart = lineStart;
    blockLength = lastEnd - lineStart + 1;
    return true;
}

bool TGroupsPreProcessor::CheckBlockDelete(const TFilterText& text, int lineStart, int lineEnd, int&,
                                           int& deleteLength)
{
    if (text.At(lineStart) != u'>')
        return true;
    int wordStart = 0, wordEnd = 0;
    if (!NextLine(text, text.Length(), lineEnd, wordStart, wordEnd))
        return true;
    if (text.At(wordStart) == u'>')
        return true;
    QString rest = text.Mid(wordStart, wordEnd - wordStart);
    int words = 0;
    while (words < 2) {
        if (rest.isEmpty())
            break;
        const QString token = SplitTokenSkip(rest, QStringLiteral(" -:.\""));
        if (token.isEmpty())
            break;
        if (std::all_of(token.begin(), token.end(), isAsciiLetterOrDigit))
            ++words;
    }
    if (words != 1)
        return true;
    int afterStart = 0, afterEnd = 0;
    if (NextLine(text, text.Length(), wordEnd, afterStart, afterEnd) && afterEnd > afterStart
        && text.At(afterStart) == u'>')
        deleteLength += wordEnd - lineEnd + 1;
    return true;
}
