#include "speech/Sapi5Wrapper.h"

#include "core/BaseUtils.h"

#include <espeak-ng/speak_lib.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLocale>
#include <QPointer>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextStream>
#include <cmath>
#include <mutex>

const QString SpeechVoicesCategory = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices");
const QString SpeechAudioOutputCategory = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\AudioOutput");

int SapiFormatRate(int formatType)
{
    switch (formatType) {
    case SAFT8kHz16BitMono: return 8000;
    case SAFT16kHz16BitMono: return 16000;
    case SAFT22kHz16BitMono: return 22050;
    default: return EspeakSampleRate();
    }
}

// ---------------------------------------------------------------------------------------
// The engine: one worker thread, initialised on first use.

namespace {
TSynthWorker& EspeakWorker()
{
    static TSynthWorker worker("espeak-ng");
    return worker;
}

int espeakRate = 0;
std::once_flag espeakInitOnce;
std::vector<TSpObjectTokenPtr> voiceTokens;

struct TEspeakJob {
    TSpeechRun* Run = nullptr;
    const std::vector<int>* CodePointPositions = nullptr; // 0-based code point -> source position
    const std::vector<bool>* CodePointBlank = nullptr;    // the code point is white space
    int64_t SegmentStart = 0;
    int LastPosition = -1;
    bool Stop = false;
};
TEspeakJob* currentJob = nullptr; // touched only on the worker thread

int SynthCallback(short* wav, int numsamples, espeak_EVENT* events)
{
    TEspeakJob* job = currentJob;
    if (!job)
        return 1;
    for (espeak_EVENT* e = events; e && e->type != espeakEVENT_LIST_TERMINATED; ++e) {
        if (e->type != espeakEVENT_WORD || e->text_position < 1)
            continue; // the library's closing word event carries no position
        const auto& map = *job->CodePointPositions;
        if (map.empty())
            continue;
        int cp = std::clamp(e->text_position - 1, 0, int(map.size()) - 1);
        const int cpEnd = std::clamp(e->text_position - 1 + std::max(e->length, 1) - 1, 0, int(map.size()) - 1);
        // At the start of a clause the library points at the blank before the word.
        const std::vector<bool>& blank = *job->CodePointBlank;
        while (cp < cpEnd && blank[size_t(cp)])
            ++cp;
        const int pos = map[size_t(cp)];
        // Now and then the library repeats an earlier word at a clause's end; the reader's
        // position never moves back.
        if (pos < job->LastPosition)
            continue;
        job->LastPosition = pos;
        const int len = std::max(1, map[size_t(cpEnd)] - pos + 1);
        const int64_t sample = job->SegmentStart + int64_t(e->audio_position) * espeakRate / 1000;
        job->Run->AddMark(sample, pos, len);
    }
    if (job->Run->Cancelled())
        job->Stop = true;
    if (!job->Stop && wav && numsamples > 0 && !job->Run->Write(wav, size_t(numsamples)))
        job->Stop = true;
    return job->Stop ? 1 : 0;
}

// Windows language ids of the eSpeak NG language tags (most specific first).
const QHash<QString, int>& LanguageTable()
{
    static const QHash<QString, int> table = {
        {"af", 1078}, {"am", 1118}, {"ar", 1025}, {"as", 1101}, {"az", 1068}, {"ba", 1133}, {"be", 1059},
        {"bg", 1026}, {"bn", 1093}, {"bs", 5146}, {"ca", 1027}, {"chr", 1116}, {"cmn", 2052}, {"cs", 1029},
        {"cy", 1106}, {"da", 1030}, {"de", 1031}, {"el", 1032}, {"en", 1033}, {"en-us", 1033},
        {"en-gb", 2057}, {"en-029", 9225}, {"es", 1034}, {"es-419", 22538}, {"et", 1061}, {"eu", 1069},
        {"fa", 1065}, {"fi", 1035}, {"fr", 1036}, {"fr-fr", 1036}, {"fr-be", 2060}, {"fr-ch", 4108},
        {"ga", 2108}, {"gd", 1169}, {"gu", 1095}, {"haw", 1141}, {"he", 1037}, {"hi", 1081}, {"hr", 1050},
        {"hu", 1038}, {"hy", 1067}, {"id", 1057}, {"is", 1039}, {"it", 1040}, {"ja", 1041}, {"ka", 1079},
        {"kk", 1087}, {"kl", 1135}, {"kn", 1099}, {"ko", 1042}, {"kok", 1111}, {"ku", 1170}, {"ky", 1088},
        {"lb", 1134}, {"lt", 1063}, {"lv", 1062}, {"mi", 1153}, {"mk", 1071}, {"ml", 1100}, {"mr", 1102},
        {"ms", 1086}, {"mt", 1082}, {"my", 1109}, {"nb", 1044}, {"ne", 1121}, {"nl", 1043}, {"om", 1138},
        {"or", 1096}, {"pa", 1094}, {"pl", 1045}, {"pt", 2070}, {"pt-br", 1046}, {"qu", 1131},
        {"quc", 1158}, {"ro", 1048}, {"ru", 1049}, {"sd", 2137}, {"si", 1115}, {"sk", 1051}, {"sl", 1060},
        {"sq", 1052}, {"sr", 2074}, {"sv", 1053}, {"sw", 1089}, {"ta", 1097}, {"te", 1098}, {"th", 1054},
        {"tk", 1090}, {"tn", 1074}, {"tr", 1055}, {"tt", 1092}, {"ug", 1152}, {"uk", 1058}, {"ur", 1056},
        {"uz", 1091}, {"vi", 1066}, {"yue", 3076},
    };
    return table;
}

void InitialiseEspeak()
{
    std::call_once(espeakInitOnce, [] {
        EspeakWorker().RunAndWait([] {
            espeakRate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 100, nullptr, espeakINITIALIZE_DONT_EXIT);
            if (espeakRate <= 0) {
                UtilsClass::Log(QStringLiteral("eSpeak NG could not be initialised"));
                espeakRate = 0;
                return;
            }
            espeak_SetSynthCallback(&SynthCallback);
            const espeak_VOICE** list = espeak_ListVoices(nullptr);
            for (int i = 0; list && list[i]; ++i) {
                const espeak_VOICE* v = list[i];
                const QString id = QString::fromUtf8(v->identifier ? v->identifier : "");
                if (id.isEmpty() || id.startsWith(QLatin1String("mb/")))
                    continue; // MBROLA voices need databases that are not installed
                const QString tag = QString::fromUtf8(v->languages ? v->languages + 1 : "").toLower();
                const int lcid = LanguageIdForTag(tag);
                if (lcid == 0) {
                    UtilsClass::Log(QStringLiteral("eSpeak NG voice without a language id skipped: ") + id);
                    continue;
                }
                auto t = std::make_shared<TSpObjectToken>();
                t->Id = id;
                const QString name = QString::fromUtf8(v->name ? v->name : "").replace(QLatin1Char('_'), QLatin1Char(' '));
                t->Description = name;
                t->Attributes[QStringLiteral("Name")] = name;
                t->Attributes[QStringLiteral("Vendor")] = QStringLiteral("eSpeak NG");
                t->Attributes[QStringLiteral("Language")] = QString::number(lcid, 16).toUpper();
                t->Attributes[QStringLiteral("LanguageTag")] = tag;
                t->Attributes[QStringLiteral("Gender")] = v->gender == 2 ? QStringLiteral("Female")
                                                    : v->gender == 1 ? QStringLiteral("Male") : QString();
                t->Attributes[QStringLiteral("Age")] = v->age ? QString::number(v->age) : QStringLiteral("Adult");
                voiceTokens.push_back(t);
            }
        });
    });
}
} // namespace

int LanguageIdForTag(const QString& tagIn)
{
    const QString tag = tagIn.toLower();
    const auto& t = LanguageTable();
    // "en-gb-x-rp" -> "en-gb-x-rp", "en-gb-x", "en-gb", "en"
    QString probe = tag;
    while (!probe.isEmpty()) {
        auto it = t.find(probe);
        if (it != t.end())
            return it.value();
        const int dash = probe.lastIndexOf(QLatin1Char('-'));
        if (dash < 0)
            break;
        probe.truncate(dash);
    }
    return 0;
}

const std::vector<TSpObjectTokenPtr>& EspeakVoiceTokens()
{
    InitialiseEspeak();
    return voiceTokens;
}

int EspeakSampleRate()
{
    InitialiseEspeak();
    return espeakRate > 0 ? espeakRate : 22050;
}

// ---------------------------------------------------------------------------------------

QString TSpObjectToken::GetAttribute(const QString& name) const
{
    for (auto it = Attributes.begin(); it != Attributes.end(); ++it)
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.value();
    return {};
}

void TSpObjectTokenCategory::SetId(const QString& id)
{
    if (id.compare(SpeechVoicesCategory, Qt::CaseInsensitive) != 0
        && id.compare(SpeechAudioOutputCategory, Qt::CaseInsensitive) != 0)
        throw ESapi5Error(QStringLiteral("Unknown token category ") + id);
    category = id;
}

std::vector<TSpObjectTokenPtr> TSpObjectTokenCategory::EnumerateTokens() const
{
    if (category.isEmpty())
        throw ESapi5Error(QStringLiteral("The token category is not set"));
    if (category.compare(SpeechVoicesCategory, Qt::CaseInsensitive) == 0) {
        const auto& v = EspeakVoiceTokens();
        if (espeakRate <= 0)
            throw ESapi5Error(QStringLiteral("eSpeak NG could not be initialised"));
        return v;
    }
    std::vector<TSpObjectTokenPtr> out;
    std::vector<TPulseSinkInfo> sinks;
    TPulseAudio::Instance().ListSinks(sinks);
    for (const auto& s : sinks) {
        auto t = std::make_shared<TSpObjectToken>();
        t->Id = s.Name;
        t->Description = s.Description;
        t->Attributes[QStringLiteral("Name")] = s.Description;
        out.push_back(t);
    }
    return out;
}

// ---------------------------------------------------------------------------------------

void TSpFileStream::Open(const QString& p, int mode)
{
    if (mode != 3)
        throw ESapi5Error(QStringLiteral("Only new files can be written"));
    QString err;
    if (!writer.Open(p, SapiFormatRate(FormatType), &err))
        throw ESapi5Error(err);
    path = p;
}

void TSpFileStream::Close()
{
    QString err;
    if (!writer.Close(&err))
        throw ESapi5Error(err);
}

// ---------------------------------------------------------------------------------------
// The user lexicon.

namespace {
std::mutex lexiconMutex;
bool lexiconLoaded = false;
std::vector<TSpLexiconEntry> lexiconEntries;
QHash<QString, QString> lexiconPhonemes;

const QHash<QString, QString>& PhoneTable()
{
    static const QHash<QString, QString> t = {
        {"aa", "A:"}, {"ae", "a"}, {"ah", "V"}, {"ao", "O:"}, {"aw", "aU"}, {"ax", "@"}, {"ay", "aI"},
        {"b", "b"}, {"ch", "tS"}, {"d", "d"}, {"dh", "D"}, {"eh", "E"}, {"er", "3:"}, {"ey", "eI"},
        {"f", "f"}, {"g", "g"}, {"h", "h"}, {"ih", "I"}, {"iy", "i:"}, {"jh", "dZ"}, {"k", "k"},
        {"l", "l"}, {"m", "m"}, {"n", "n"}, {"ng", "N"}, {"ow", "oU"}, {"oy", "OI"}, {"p", "p"},
        {"r", "r"}, {"s", "s"}, {"sh", "S"}, {"t", "t"}, {"th", "T"}, {"uh", "U"}, {"uw", "u:"},
        {"v", "v"}, {"w", "w"}, {"y", "j"}, {"z", "z"}, {"zh", "Z"},
    };
    return t;
}

void RebuildPhonemes()
{
    lexiconPhonemes.clear();
    for (const auto& e : lexiconEntries) {
        const QString key = e.Word.toLower();
        if (!lexiconPhonemes.contains(key))
            lexiconPhonemes.insert(key, TSpLexicon::SapiToEspeak(e.Pronunciation));
    }
}

void LoadLexiconLocked()
{
    if (lexiconLoaded)
        return;
    lexiconLoaded = true;
    lexiconEntries.clear();
    QFile f(TSpLexicon::FileName());
    if (f.open(QIODevice::ReadOnly)) {
        QTextStream in(&f);
        in.setEncoding(QStringConverter::Utf8);
        while (!in.atEnd()) {
            const QString line = in.readLine().trimmed();
            const QStringList parts = line.split(QLatin1Char('|'));
            if (parts.size() != 4 || parts[0].isEmpty())
                continue;
            bool ok = false;
            TSpLexicon::SapiToEspeak(parts[3], &ok);
            if (!ok) {
                UtilsClass::Log(QStringLiteral("Lexicon line skipped: ") + line);
                continue;
            }
            lexiconEntries.push_back({parts[0], parts[1].toInt(), parts[2].toInt(), parts[3].simplified()});
        }
    }
    RebuildPhonemes();
}

void SaveLexiconLocked()
{
    QSaveFile f(TSpLexicon::FileName());
    if (!f.open(QIODevice::WriteOnly))
        throw ESapi5Error(QStringLiteral("Could not write the lexicon file ") + TSpLexicon::FileName());
    QByteArray data;
    for (const auto& e : lexiconEntries)
        data += QStringLiteral("%1|%2|%3|%4\r\n").arg(e.Word).arg(e.LangId).arg(e.PartOfSpeech).arg(e.Pronunciation).toUtf8();
    f.write(data);
    if (!f.commit())
        throw ESapi5Error(QStringLiteral("Could not write the lexicon file ") + TSpLexicon::FileName());
}
} // namespace

QString TSpLexicon::FileName()
{
    return UtilsClass::GetProgramFolder() + QStringLiteral("Sapi5UserLexicon.chl");
}

void TSpLexicon::Reload()
{
    std::lock_guard<std::mutex> g(lexiconMutex);
    lexiconLoaded = false;
    LoadLexiconLocked();
}

QString TSpLexicon::SapiToEspeak(const QString& sapi, bool* ok)
{
    const QStringList phones = sapi.toLower().split(QRegularExpression(QStringLiteral("[\\s\\-]+")), Qt::SkipEmptyParts);
    QString out;
    QString pendingVowel;
    if (ok)
        *ok = false;
    if (phones.isEmpty())
        return {};
    // A stress digit follows its vowel in SAPI; eSpeak marks stress before the syllable's vowel.
    std::vector<QString> mapped;
    for (const QString& ph : phones) {
        if (ph == QLatin1String("1") || ph == QLatin1String("2")) {
            if (mapped.empty())
                return {};
            mapped.back().prepend(ph == QLatin1String("1") ? QLatin1Char('\'') : QLatin1Char(','));
            continue;
        }
        if (ph == QLatin1String("_") || ph == QLatin1String("_!") || ph == QLatin1String("&")
            || ph == QLatin1String("."))
            continue;
        auto it = PhoneTable().find(ph);
        if (it == PhoneTable().end())
            return {};
        mapped.push_back(it.value());
    }
    for (const auto& m : mapped)
        out += m;
    if (ok)
        *ok = !out.isEmpty();
    return out;
}

void TSpLexicon::AddPronunciation(const QString& word, int langId, int partOfSpeech, const QString& pronunciation)
{
    const QString w = word.trimmed();
    if (w.isEmpty() || w.contains(QLatin1Char('|')) || w.contains(QLatin1Char('\n')))
        throw ESapi5Error(QStringLiteral("The word is not valid"));
    bool ok = false;
    SapiToEspeak(pronunciation, &ok);
    if (!ok)
        throw ESapi5Error(QStringLiteral("The pronunciation is not valid: ") + pronunciation);
    std::lock_guard<std::mutex> g(lexiconMutex);
    LoadLexiconLocked();
    const QString p = pronunciation.simplified().toLower();
    for (const auto& e : lexiconEntries)
        if (e.Word.compare(w, Qt::CaseInsensitive) == 0 && e.LangId == langId && e.Pronunciation == p)
            return;
    lexiconEntries.push_back({w, langId, partOfSpeech, p});
    RebuildPhonemes();
    SaveLexiconLocked();
}

void TSpLexicon::RemovePronunciation(const QString& word, int langId, int, const QString& pronunciation)
{
    std::lock_guard<std::mutex> g(lexiconMutex);
    LoadLexiconLocked();
    const QString p = pronunciation.simplified().toLower();
    const auto before = lexiconEntries.size();
    std::erase_if(lexiconEntries, [&](const TSpLexiconEntry& e) {
        return e.Word.compare(word.trimmed(), Qt::CaseInsensitive) == 0 && (langId == 0 || e.LangId == langId)
               && (p.isEmpty() || e.Pronunciation == p);
    });
    if (lexiconEntries.size() != before) {
        RebuildPhonemes();
        SaveLexiconLocked();
    }
}

QStringList TSpLexicon::GetPronunciations(const QString& word, int langId) const
{
    std::lock_guard<std::mutex> g(lexiconMutex);
    LoadLexiconLocked();
    QStringList out;
    for (const auto& e : lexiconEntries)
        if (e.Word.compare(word.trimmed(), Qt::CaseInsensitive) == 0 && (langId == 0 || e.LangId == langId))
            out << e.Pronunciation;
    return out;
}

std::vector<TSpLexiconEntry> TSpLexicon::GetWords() const
{
    std::lock_guard<std::mutex> g(lexiconMutex);
    LoadLexiconLocked();
    return lexiconEntries;
}

QHash<QString, QString> TSpLexicon::Snapshot()
{
    std::lock_guard<std::mutex> g(lexiconMutex);
    LoadLexiconLocked();
    return lexiconPhonemes;
}

// ---------------------------------------------------------------------------------------
// Speak text parsing.

namespace {
struct TTag {
    QString Name;               // upper case
    QMap<QString, QString> Attr; // upper-case names
    bool Closing = false;
    bool Empty = false;
    int End = 0;                // index after '>'
};

bool IsNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('-') || c == QLatin1Char(':');
}

// Reads a tag at text[i] == '<'. Only well-formed tags count.
bool ReadTag(const QString& text, int i, TTag& tag)
{
    const int n = int(text.size());
    int j = i + 1;
    if (j < n && text[j] == QLatin1Char('/')) {
        tag.Closing = true;
        ++j;
    }
    const int nameStart = j;
    while (j < n && text[j].isLetter())
        ++j;
    if (j == nameStart)
        return false;
    tag.Name = text.mid(nameStart, j - nameStart).toUpper();
    for (;;) {
        while (j < n && text[j].isSpace())
            ++j;
        if (j >= n)
            return false;
        if (text[j] == QLatin1Char('>')) {
            tag.End = j + 1;
            return true;
        }
        if (text[j] == QLatin1Char('/') && j + 1 < n && text[j + 1] == QLatin1Char('>')) {
            tag.Empty = true;
            tag.End = j + 2;
            return true;
        }
        const int an = j;
        while (j < n && IsNameChar(text[j]))
            ++j;
        if (j == an)
            return false;
        const QString attr = text.mid(an, j - an).toUpper();
        while (j < n && text[j].isSpace())
            ++j;
        if (j >= n || text[j] != QLatin1Char('='))
            return false;
        ++j;
        while (j < n && text[j].isSpace())
            ++j;
        if (j >= n || (text[j] != QLatin1Char('"') && text[j] != QLatin1Char('\'')))
            return false;
        const QChar q = text[j];
        const int vs = ++j;
        while (j < n && text[j] != q && text[j] != QLatin1Char('<') && j - vs < 2000)
            ++j;
        if (j >= n || text[j] != q)
            return false;
        tag.Attr.insert(attr, text.mid(vs, j - vs));
        ++j;
    }
}

const QStringList& IgnoredTags()
{
    static const QStringList t = {"EMPH", "SPELL", "BOOKMARK", "CONTEXT", "PARTOFSP", "VOICE", "LANG",
                                  "SAPI", "P", "S", "XML"};
    return t;
}

bool ToInt(const QString& s, int& out)
{
    bool ok = false;
    const int v = s.trimmed().toInt(&ok);
    if (ok)
        out = v;
    return ok;
}

class TSegmentBuilder {
public:
    TSegmentBuilder(const QHash<QString, QString>& lex, std::vector<TSapiSegment>& out) : lexicon(lex), segments(out) {}

    void AddChar(QChar c, int source)
    {
        const ushort u = c.unicode();
        if ((u < 0x20 && u != '\n' && u != '\t') || u == 0x7F || (u >= 0x80 && u < 0xA0))
            c = QLatin1Char(' ');
        text.Content.append(c);
        text.Positions.push_back(source);
    }
    void Flush()
    {
        if (text.Content.trimmed().isEmpty()) {
            text = TSapiSegment{};
            return;
        }
        if (lexicon.isEmpty()) {
            Push(text);
        } else {
            SplitLexicon();
        }
        text = TSapiSegment{};
    }
    void Silence(int ms, int source)
    {
        Flush();
        TSapiSegment s;
        s.SegmentKind = TSapiSegment::Silence;
        s.Milliseconds = std::clamp(ms, 0, 60 * 60 * 1000);
        s.SourcePosition = source;
        Push(s);
    }
    void Phonemes(const QString& ph, int source, int length)
    {
        Flush();
        TSapiSegment s;
        s.SegmentKind = TSapiSegment::Phonemes;
        s.Content = ph;
        s.SourcePosition = source;
        s.SourceLength = length;
        Push(s);
    }
    TSapiXmlState State;

private:
    void Push(TSapiSegment s)
    {
        s.Pitch = State.Pitch;
        s.Rate = State.Rate;
        s.Volume = State.Volume;
        segments.push_back(std::move(s));
    }
    void SplitLexicon()
    {
        const QString& c = text.Content;
        const int n = int(c.size());
        int segStart = 0;
        int i = 0;
        while (i < n) {
            if (!c[i].isLetterOrNumber()) {
                ++i;
                continue;
            }
            int j = i;
            while (j < n && (c[j].isLetterOrNumber() || c[j] == QLatin1Char('\'')))
                ++j;
            const auto it = lexicon.find(c.mid(i, j - i).toLower());
            if (it != lexicon.end() && !it.value().isEmpty()) {
                if (i > segStart)
                    PushPart(segStart, i);
                TSapiSegment s;
                s.SegmentKind = TSapiSegment::Phonemes;
                s.Content = it.value();
                s.SourcePosition = text.Positions[size_t(i)];
                s.SourceLength = text.Positions[size_t(j - 1)] - s.SourcePosition + 1;
                Push(s);
                segStart = j;
            }
            i = j;
        }
        if (segStart < n)
            PushPart(segStart, n);
    }
    void PushPart(int from, int to)
    {
        TSapiSegment s;
        s.Content = text.Content.mid(from, to - from);
        if (s.Content.trimmed().isEmpty())
            return;
        s.Positions.assign(text.Positions.begin() + from, text.Positions.begin() + to);
        Push(s);
    }

    const QHash<QString, QString>& lexicon;
    std::vector<TSapiSegment>& segments;
    TSapiSegment text;
};
} // namespace

std::vector<TSapiSegment> ParseSapiText(const QString& text, bool xml, TSapiXmlState& state,
                                        const QHash<QString, QString>& lexicon)
{
    std::vector<TSapiSegment> out;
    TSegmentBuilder b(lexicon, out);
    b.State = state;
    std::vector<TSapiXmlState> stack;
    const int n = int(text.size());
    int i = 0;
    while (i < n) {
        const QChar c = text[i];
        if (xml && c == QLatin1Char('<')) {
            TTag tag;
            if (ReadTag(text, i, tag)) {
                bool known = true;
                if (tag.Name == QLatin1String("PITCH") || tag.Name == QLatin1String("RATE")
                    || tag.Name == QLatin1String("VOLUME")) {
                    b.Flush();
                    if (tag.Closing) {
                        if (!stack.empty()) {
                            b.State = stack.back();
                            stack.pop_back();
                        }
                    } else {
                        if (!tag.Empty)
                            stack.push_back(b.State);
                        int v = 0;
                        if (tag.Name == QLatin1String("PITCH")) {
                            if (ToInt(tag.Attr.value("ABSMIDDLE"), v))
                                b.State.Pitch = v;
                            else if (ToInt(tag.Attr.value("MIDDLE"), v))
                                b.State.Pitch += v;
                            b.State.Pitch = std::clamp(b.State.Pitch, -10, 10);
                        } else if (tag.Name == QLatin1String("RATE")) {
                            if (ToInt(tag.Attr.value("ABSSPEED"), v))
                                b.State.Rate = v;
                            else if (ToInt(tag.Attr.value("SPEED"), v))
                                b.State.Rate += v;
                            b.State.Rate = std::clamp(b.State.Rate, -10, 10);
                        } else if (ToInt(tag.Attr.value("LEVEL"), v)) {
                            b.State.Volume = std::clamp(v, 0, 100);
                        }
                    }
                } else if (tag.Name == QLatin1String("SILENCE")) {
                    int ms = 0;
                    if (!tag.Closing && ToInt(tag.Attr.value("MSEC"), ms))
                        b.Silence(ms, i);
                } else if (tag.Name == QLatin1String("PRON")) {
                    if (!tag.Closing) {
                        bool ok = false;
                        const QString ph = TSpLexicon::SapiToEspeak(tag.Attr.value("SYM"), &ok);
                        if (ok) {
                            int end = tag.End;
                            if (!tag.Empty) {
                                // The enclosed text is replaced by the pronunciation.
                                const int close = text.indexOf(QLatin1String("</PRON>"), tag.End, Qt::CaseInsensitive);
                                end = close < 0 ? n : close + 7;
                            }
                            b.Phonemes(ph, i, end - i);
                            i = end;
                            continue;
                        }
                    }
                } else if (!IgnoredTags().contains(tag.Name)) {
                    known = false;
                }
                if (known) {
                    i = tag.End;
                    continue;
                }
            } else if (i + 3 < n && text.mid(i, 4) == QLatin1String("<!--")) {
                const int close = text.indexOf(QLatin1String("-->"), i + 4);
                i = close < 0 ? n : close + 3;
                continue;
            }
        }
        if (xml && c == QLatin1Char('&')) {
            static const std::pair<const char*, QChar> entities[] = {
                {"&lt;", QLatin1Char('<')}, {"&gt;", QLatin1Char('>')}, {"&amp;", QLatin1Char('&')},
                {"&quot;", QLatin1Char('"')}, {"&apos;", QLatin1Char('\'')}};
            bool matched = false;
            for (const auto& [name, ch] : entities) {
                const QLatin1String e(name);
                if (text.mid(i, e.size()).compare(e, Qt::CaseInsensitive) == 0) {
                    b.AddChar(ch, i);
                    i += int(e.size());
                    matched = true;
                    break;
                }
            }
            if (matched)
                continue;
        }
        if (c.isHighSurrogate() && i + 1 < n && text[i + 1].isLowSurrogate()) {
            b.AddChar(c, i);
            b.AddChar(text[i + 1], i);
            i += 2;
            continue;
        }
        if (c.isSurrogate()) {
            b.AddChar(QLatin1Char(' '), i);
            ++i;
            continue;
        }
        b.AddChar(c, i);
        ++i;
    }
    b.Flush();
    state = b.State;
    return out;
}

// ---------------------------------------------------------------------------------------
// The voice object.

namespace {
int WordsPerMinute(int sapiRate)
{
    const double wpm = 175.0 * std::pow(3.0, std::clamp(sapiRate, -10, 10) / 10.0);
    return std::clamp(int(std::lround(wpm)), 80, 450);
}

int EspeakPitch(int sapiPitch)
{
    return std::clamp(50 + 5 * std::clamp(sapiPitch, -10, 10), 0, 100);
}

void RunEspeakJob(const std::shared_ptr<TSpeechRun>& run, const std::vector<TSapiSegment>& segments,
                  const QString& voiceId, int volume)
{
    if (!run->TryStart())
        return;
    if (espeakRate <= 0) {
        run->SetError(QStringLiteral("eSpeak NG could not be initialised"));
        run->Finish();
        return;
    }
    if (espeak_SetVoiceByName(voiceId.toUtf8().constData()) != EE_OK) {
        UtilsClass::Log(QStringLiteral("eSpeak NG voice not found: ") + voiceId);
        espeak_SetVoiceByName("en");
    }
    if (!run->Begin(espeakRate)) {
        run->Finish();
        return;
    }
    for (const TSapiSegment& seg : segments) {
        if (run->Cancelled())
            break;
        if (seg.SegmentKind == TSapiSegment::Silence) {
            if (!run->WriteSilence(seg.Milliseconds))
                break;
            continue;
        }
        espeak_SetParameter(espeakRATE, WordsPerMinute(seg.Rate), 0);
        espeak_SetParameter(espeakPITCH, EspeakPitch(seg.Pitch), 0);
        espeak_SetParameter(espeakVOLUME, std::clamp(volume * seg.Volume / 100, 0, 200), 0);
        QByteArray utf8;
        std::vector<int> cpMap;
        std::vector<bool> cpBlank;
        int flags = espeakCHARS_UTF8;
        if (seg.SegmentKind == TSapiSegment::Phonemes) {
            utf8 = "[[" + seg.Content.toUtf8() + "]]";
            cpMap.assign(size_t(seg.Content.size() + 4), seg.SourcePosition);
            cpBlank.assign(cpMap.size(), false);
            flags |= espeakPHONEMES;
        } else {
            utf8 = seg.Content.toUtf8();
            const QString& c = seg.Content;
            cpMap.reserve(size_t(c.size()));
            for (int k = 0; k < c.size(); ++k) {
                if (c[k].isLowSurrogate() && k > 0 && c[k - 1].isHighSurrogate())
                    continue;
                cpMap.push_back(seg.Positions[size_t(k)]);
                cpBlank.push_back(c[k].isSpace());
            }
        }
        TEspeakJob job;
        job.Run = run.get();
        job.CodePointPositions = &cpMap;
        job.CodePointBlank = &cpBlank;
        job.SegmentStart = run->SamplesWritten();
        currentJob = &job;
        unsigned int uid = 0;
        const espeak_ERROR err = espeak_Synth(utf8.constData(), size_t(utf8.size()) + 1, 0, POS_CHARACTER, 0,
                                              unsigned(flags), &uid, nullptr);
        currentJob = nullptr;
        if (err != EE_OK && !run->Cancelled()) {
            run->SetError(QStringLiteral("eSpeak NG failed to speak (error %1)").arg(int(err)));
            break;
        }
        if (job.Stop)
            break;
    }
    run->Finish();
}

// How long the voice object waits for its texts to stop when they are stopped.
constexpr int StopTimeoutMs = 2000;
// A synchronous speak gives up on a text when nothing moves for this long.
constexpr int SyncStallTimeoutMs = 5000;
} // namespace

TSpVoice::TSpVoice(QObject* owner) : QObject(owner)
{
    pollTimer.setInterval(15);
    connect(&pollTimer, &QTimer::timeout, this, &TSpVoice::Poll);
    const auto& tokens = EspeakVoiceTokens();
    if (espeakRate <= 0)
        throw ESapi5Error(QStringLiteral("eSpeak NG could not be initialised"));
    for (const auto& t : tokens)
        if (t->GetAttribute(QStringLiteral("LanguageTag")) == QLatin1String("en-us")) {
            voiceToken = t;
            break;
        }
    if (!voiceToken && !tokens.empty())
        voiceToken = tokens.front();
}

TSpVoice::~TSpVoice()
{
    PurgeAll();
    if (WaitUntilDone(StopTimeoutMs))
        return;
    UtilsClass::Log(QStringLiteral("eSpeak NG did not stop within %1 ms; its text writes nothing more").arg(StopTimeoutMs));
    DetachFile();
}

void TSpVoice::SetVoice(const TSpObjectTokenPtr& token)
{
    if (!token)
        throw ESapi5Error(QStringLiteral("No voice token"));
    voiceToken = token;
}

void TSpVoice::SetAudioOutput(const TSpObjectTokenPtr& token)
{
    audioOutputToken = token;
}

void TSpVoice::SetAudioOutputStream(TSpMMAudioOut* out)
{
    mmOut = out;
    fileOut = nullptr;
}

void TSpVoice::SetAudioOutputStream(TSpFileStream* file)
{
    fileOut = file;
    mmOut = nullptr;
}

void TSpVoice::SetVolume(int v)
{
    if (v < 0 || v > 100)
        throw ESapi5Error(QStringLiteral("The volume must lie between 0 and 100"));
    volume = v;
}

void TSpVoice::PurgeAll()
{
    for (auto& it : queue)
        if (it.Run)
            it.Run->Cancel();
}

int TSpVoice::Speak(const QString& text, int flags)
{
    if (!voiceToken)
        throw ESapi5Error(QStringLiteral("No voice is selected"));
    if (flags & SVSFPurgeBeforeSpeak)
        PurgeAll();
    const bool xml = (flags & SVSFIsXML) != 0;
    TSapiXmlState state = xmlState;
    std::vector<TSapiSegment> segments = ParseSapiText(text, xml, state, TSpLexicon::Snapshot());
    if (flags & SVSFPersistXML)
        xmlState = state;
    const int stream = nextStream++;
    Item item;
    item.Stream = stream;
    if (!segments.empty()) {
        if (fileOut) {
            if (!fileOut->IsOpen())
                throw ESapi5Error(QStringLiteral("The output file is not open"));
            item.Run = TSpeechRun::ToFile(fileOut->Writer());
        } else {
            const int device = mmOut ? mmOut->DeviceId : -1;
            item.Run = TSpeechRun::ToDevice(audioOutputToken && !mmOut ? audioOutputToken->Id : QString(), device);
        }
        if (paused)
            item.Run->SetPaused(true);
        auto run = item.Run;
        const QString voiceId = voiceToken->Id;
        const int vol = volume;
        EspeakWorker().Post([run, segs = std::move(segments), voiceId, vol] { RunEspeakJob(run, segs, voiceId, vol); });
    }
    queue.push_back(item);
    if (!(flags & SVSFlagsAsync) && item.Run)
        WaitSpoken(item.Run);
    if (!pollTimer.isActive())
        pollTimer.start();
    return stream;
}

void TSpVoice::WaitSpoken(const std::shared_ptr<TSpeechRun>& run)
{
    // The caller waits as long as the voice makes progress. A text that cannot move (the
    // voice is paused, and nobody can resume it while the caller waits) is stopped.
    int64_t last = ProgressCounter();
    while (!run->WaitDone(SyncStallTimeoutMs)) {
        const int64_t now = ProgressCounter();
        if (now != last) {
            last = now;
            continue;
        }
        UtilsClass::Log(QStringLiteral("A synchronous speak stood still for %1 ms and was stopped").arg(SyncStallTimeoutMs));
        run->Cancel();
        run->WaitDone(StopTimeoutMs);
        return;
    }
}

void TSpVoice::Pause()
{
    paused = true;
    for (auto& it : queue)
        if (it.Run)
            it.Run->SetPaused(true);
}

void TSpVoice::Resume()
{
    paused = false;
    for (auto& it : queue)
        if (it.Run)
            it.Run->SetPaused(false);
}

bool TSpVoice::WaitUntilDone(int ms)
{
    const QDeadlineTimer deadline(ms);
    for (auto& it : queue)
        if (it.Run && !it.Run->WaitDone(int(deadline.remainingTime())))
            return false;
    return true;
}

void TSpVoice::DetachFile()
{
    for (auto& it : queue)
        if (it.Run && it.Run->IsFile() && !it.Run->Done())
            it.Run->DetachWriter();
}

int64_t TSpVoice::OutputPosition()
{
    if (fileOut)
        return fileOut->Position();
    for (auto& it : queue)
        if (it.Run) {
            lastPosition = it.Run->StreamPosition();
            break;
        }
    return lastPosition;
}

bool TSpVoice::AllDone() const
{
    for (const auto& it : queue)
        if (it.Run && !it.Run->Done())
            return false;
    return true;
}

int64_t TSpVoice::ProgressCounter()
{
    int64_t p = 0;
    for (auto& it : queue)
        if (it.Run)
            p += it.Run->Progress() + (it.Run->Done() ? 1 : 0);
    return p + nextStream;
}

void TSpVoice::Poll()
{
    QPointer<TSpVoice> self(this);
    while (self && !queue.empty()) {
        Item it = queue.front();
        if (it.Run) {
            for (const auto& m : it.Run->TakeDueMarks()) {
                if (OnWord && (EventInterests & 32))
                    OnWord(it.Stream, it.Run->StreamPosition(), m.Position, m.Length);
                if (!self)
                    return;
            }
            if (!it.Run->Done())
                break;
        }
        queue.pop_front();
        lastPosition = fileOut ? fileOut->Position() : 0;
        const QString error = it.Run ? it.Run->ErrorText() : QString();
        if (!error.isEmpty()) {
            UtilsClass::Log(QStringLiteral("Speech output error: ") + error);
            if (OnStreamError)
                OnStreamError(it.Stream, error);
            if (!self)
                return;
        }
        if (OnEndStream)
            OnEndStream(it.Stream);
    }
    if (self && queue.empty())
        pollTimer.stop();
}
