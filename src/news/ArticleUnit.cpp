#include "news/ArticleUnit.h"

#include "news/NewsStore.h"
#include "core/TextFiles.h"

#include "core/BaseUtils.h"
#include "core/BusyGuard.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSet>
#include <QStringDecoder>
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <pthread.h>

namespace {

const QDate dayZero(1899, 12, 30);

// The date texts of article files are read and written for every line, so the locale's
// pattern is compiled once into numeric fields and literal text. Patterns this cannot
// handle (day names, long month names, AM/PM, other digits) go through QLocale instead.
class TFileDateFormat {
public:
    enum Kind { Lit, Day, Month, MonthName, Year, Hour, Minute, Second };
    struct Tok {
        Kind kind;
        int width;       // 1: no leading zero, 2: two digits, 4: four-digit year
        QString text;    // literal text
    };

    TFileDateFormat()
    {
        const QLocale loc;
        locale = loc;
        QString f = loc.dateFormat(QLocale::ShortFormat);
        if (!f.contains(QLatin1String("yyyy")))
            f.replace(QLatin1String("yy"), QLatin1String("yyyy"));
        datePattern = f;
        fast = compile(f, dateToks) && loc.zeroDigit() == QLatin1Char('0');
        for (int m = 1; m <= 12; ++m) {
            const QString n = loc.monthName(m, QLocale::ShortFormat);
            monthNames[m - 1] = n;
            monthByName.insert(n.toLower(), m);
        }
        for (int m = 0; m < 12; ++m)
            monthOfName[m] = monthByName.value(monthNames[m].toLower(), 0);
    }

    static TFileDateFormat& current()
    {
        static TFileDateFormat fmt;
        const QLocale now;
        if (!(fmt.locale == now))
            fmt = TFileDateFormat();
        return fmt;
    }

    QString format(const TDateTime& value) const
    {
        // Day count and time of day straight from the value: no time-zone work per line.
        double whole = std::floor(value.Value);
        qint64 secs = qint64(std::llround((value.Value - whole) * 86400.0));
        if (secs >= 86400) {
            secs -= 86400;
            whole += 1;
        }
        const QDate d = dayZero.addDays(qint64(whole));
        const QTime t(int(secs / 3600), int(secs / 60 % 60), int(secs % 60));
        const bool midnight = secs == 0;
        if (!fast) {
            const QString p = midnight ? datePattern : datePattern + QStringLiteral(" HH:mm:ss");
            return QLocale().toString(QDateTime(d, t), p);
        }
        QString out;
        out.reserve(24);
        for (const Tok& k : dateToks) {
            switch (k.kind) {
            case Lit: out += k.text; break;
            case Day: num(out, d.day(), k.width); break;
            case Month: num(out, d.month(), k.width); break;
            case MonthName: out += monthNames[d.month() - 1]; break;
            case Year: num(out, d.year(), 4); break;
            default: break;
            }
        }
        if (!midnight) {
            out += QLatin1Char(' ');
            num(out, t.hour(), 2);
            out += QLatin1Char(':');
            num(out, t.minute(), 2);
            out += QLatin1Char(':');
            num(out, t.second(), 2);
        }
        return out;
    }

    std::optional<TDateTime> parse(QStringView text) const
    {
        if (fast) {
            if (auto v = parseFast(text))
                return v;
        }
        const QString t = text.trimmed().toString();
        if (t.isEmpty())
            return std::nullopt;
        QDateTime dt = QLocale().toDateTime(t, datePattern + QStringLiteral(" HH:mm:ss"));
        if (!dt.isValid()) {
            const QDate d = QLocale().toDate(t, datePattern);
            if (d.isValid())
                dt = QDateTime(d, QTime(0, 0));
        }
        if (dt.isValid())
            return TDateTime::FromQDateTime(dt);
        return TDateTime::FromText(t);
    }

private:
    static void num(QString& out, int v, int width)
    {
        // A year before the common era (a damaged file can hold one): the sign, then the digits.
        if (v < 0) {
            out += QLatin1Char('-');
            v = -v;
        }
        if (width >= 2 && v < 10)
            out += QLatin1Char('0');
        if (width >= 4) {
            if (v < 1000)
                out += QLatin1Char('0');
            if (v < 100)
                out += QLatin1Char('0');
        }
        out += QString::number(v);
    }

    static bool compile(const QString& f, std::vector<Tok>& toks)
    {
        int i = 0;
        while (i < f.size()) {
            const QChar c = f.at(i);
            int n = 1;
            while (i + n < f.size() && f.at(i + n) == c)
                ++n;
            if (c == QLatin1Char('d')) {
                if (n > 2)
                    return false;
                toks.push_back({Day, n, {}});
            } else if (c == QLatin1Char('M')) {
                if (n == 3)
                    toks.push_back({MonthName, 3, {}});
                else if (n <= 2)
                    toks.push_back({Month, n, {}});
                else
                    return false;
            } else if (c == QLatin1Char('y')) {
                if (n != 4)
                    return false;
                toks.push_back({Year, 4, {}});
            } else if (c.isLetter() || c == QLatin1Char('\'')) {
                return false;
            } else {
                toks.push_back({Lit, 0, f.mid(i, n)});
            }
            i += n;
        }
        return true;
    }

    static bool readNum(QStringView s, int& pos, int maxDigits, int& value)
    {
        int n = 0;
        value = 0;
        while (pos < s.size() && n < maxDigits && s.at(pos) >= QLatin1Char('0') && s.at(pos) <= QLatin1Char('9')) {
            value = value * 10 + (s.at(pos).unicode() - '0');
            ++pos;
            ++n;
        }
        return n > 0;
    }

    std::optional<TDateTime> parseFast(QStringView s) const
    {
        int pos = 0;
        int day = 0, month = 0, year = 0;
        for (const Tok& k : dateToks) {
            switch (k.kind) {
            case Lit:
                if (s.mid(pos, k.text.size()) != k.text)
                    return std::nullopt;
                pos += int(k.text.size());
                break;
            case Day:
                if (!readNum(s, pos, 2, day))
                    return std::nullopt;
                break;
            case Month:
                if (!readNum(s, pos, 2, month))
                    return std::nullopt;
                break;
            case Year:
                if (!readNum(s, pos, 4, year))
                    return std::nullopt;
                break;
            case MonthName: {
                int e = pos;
                while (e < s.size() && s.at(e).isLetter())
                    ++e;
                const QStringView name = s.mid(pos, e - pos);
                month = 0;
                for (int m = 0; m < 12 && month == 0; ++m) {
                    if (name == monthNames[m])
                        month = monthOfName[m];
                }
                if (month == 0)
                    month = monthByName.value(name.toString().toLower(), 0);
                if (month == 0)
                    return std::nullopt;
                pos = e;
                break;
            }
            default: break;
            }
        }
        int h = 0, mi = 0, se = 0;
        if (pos < s.size()) {
            if (s.at(pos) != QLatin1Char(' '))
                return std::nullopt;
            ++pos;
            if (!readNum(s, pos, 2, h) || pos >= s.size() || s.at(pos++) != QLatin1Char(':')
                || !readNum(s, pos, 2, mi) || pos >= s.size() || s.at(pos++) != QLatin1Char(':')
                || !readNum(s, pos, 2, se) || pos != s.size())
                return std::nullopt;
        }
        return TDateTime::Encode(year, month, day, h, mi, se);
    }

    QLocale locale;
    QString datePattern;
    bool fast = false;
    std::vector<Tok> dateToks;
    QString monthNames[12];
    int monthOfName[12] = {};
    QHash<QString, int> monthByName;
};

// Plain digits, as the program writes them, are read here; anything else goes the long way.
// Article numbers are 64-bit; older files with smaller numbers read the same.
template <typename T>
T toNumber(QStringView field, const char* what)
{
    constexpr qsizetype fastDigits = sizeof(T) == 8 ? 18 : 9; // never overflows T
    const qsizetype n = field.size();
    if (n > 0 && n <= fastDigits) {
        const bool minus = field.at(0) == QLatin1Char('-');
        qsizetype i = minus ? 1 : 0;
        T v = 0;
        for (; i < n; ++i) {
            const char16_t c = field.at(i).unicode();
            if (c < u'0' || c > u'9')
                break;
            v = v * 10 + (c - u'0');
        }
        if (i == n && n > (minus ? 1 : 0))
            return minus ? -v : v;
    }
    bool ok = false;
    T v = 0;
    if constexpr (sizeof(T) == 8)
        v = field.trimmed().toLongLong(&ok);
    else
        v = field.trimmed().toInt(&ok);
    if (!ok)
        throw EConvertError(
            QStringLiteral("'%1' is not a valid integer value (%2)").arg(field.toString(), QLatin1String(what)));
    return v;
}

int toInt(QStringView field, const char* what)
{
    return toNumber<int>(field, what);
}

qint64 toInt64(QStringView field, const char* what)
{
    return toNumber<qint64>(field, what);
}

} // namespace

// ---------------------------------------------------------------- TArticleClass

void TArticleClass::SetSpeakMark(int mark)
{
    SpeakMark = mark;
    if (mark == 2 && ReadState == 1)
        SetReadState(0);
}

void TArticleClass::CycleSpeakMark()
{
    switch (SpeakMark) {
    case 0: SetSpeakMark(1); break;
    case 1: SetSpeakMark(2); break;
    case 2: SetSpeakMark(0); break;
    default: break;
    }
}

void TArticleClass::ToggleWatch()
{
    if (Watch == 0)
        Watch = 1;
    else if (Watch == 1)
        Watch = 0;
}

void TArticleClass::SetReadState(int state)
{
    ReadState = state;
    if (state >= 0 && state <= 3)
        Style = quint8(state);
}

QStringView TArticleClass::FirstReference() const
{
    const QStringView r = QStringView(References).trimmed();
    const qsizetype blank = r.indexOf(QLatin1Char(' '));
    return blank < 0 ? r : r.left(blank);
}

QString TArticleClass::CleanField(const QString& text)
{
    qsizetype i = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('|') || c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            break;
    }
    if (i == text.size())
        return text;
    QString out = text.left(i);
    for (; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('|')) {
            out += QChar(0x00A6);
        } else if (c == QLatin1Char('\r')) {
            out += QLatin1Char(' ');
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
        } else if (c == QLatin1Char('\n')) {
            out += QLatin1Char(' ');
        } else {
            out += c;
        }
    }
    return out;
}

QString TArticleClass::DateText(const TDateTime& date)
{
    return TFileDateFormat::current().format(date);
}

std::optional<TDateTime> TArticleClass::ParseDateText(QStringView text)
{
    return TFileDateFormat::current().parse(text);
}

namespace {
// Texts that records of one group repeat (authors, subjects, the References of replies to
// the same article) are kept once: a text seen before is shared, so the line's copy is never
// made. Fields come out cleaned as TArticleList::Add would clean them. A slot holds the text
// itself beside its hash, so a look-up touches the slot and, on a likely hit, the text.
class TTextPool {
public:
    QString Text(QStringView field)
    {
        if (field.isEmpty())
            return QString();
        if (field.contains(QLatin1Char('\r')))
            return TArticleClass::CleanField(field.toString());
        if ((used + 1) * 4 > table.size() * 3)
            grow();
        const size_t hash = TextHash(field);
        for (size_t i = TextHome(hash, mask);; i = (i + 1) & mask) {
            TEntry& e = table[i];
            if (e.text.isNull()) {
                e.hash = hash;
                e.text = field.toString();
                ++used;
                return e.text;
            }
            if (e.hash == hash && QStringView(e.text) == field)
                return e.text;
        }
    }

private:
    struct TEntry {
        size_t hash = 0;
        QString text;
    };

    void grow()
    {
        std::vector<TEntry> old;
        old.swap(table);
        const size_t size = old.empty() ? 1024 : old.size() * 2;
        table.resize(size);
        mask = size - 1;
        for (TEntry& e : old) {
            if (e.text.isNull())
                continue;
            size_t i = TextHome(e.hash, mask);
            while (!table[i].text.isNull())
                i = (i + 1) & mask;
            table[i] = std::move(e);
        }
    }

    std::vector<TEntry> table;
    size_t mask = 0;
    size_t used = 0;
};

QString ownText(QStringView field, TTextPool* pool)
{
    if (pool)
        return pool->Text(field);
    return field.toString();
}

// Fills the record from one line with the given date format; throws EConvertError. The
// format is passed in so the article file can be read on a worker thread; with a pool, the
// texts come out shared and cleaned.
// One pool a field: the authors' pool stays small enough to be found in the cache.
struct TFieldPools {
    TTextPool Subjects;
    TTextPool Authors;
    TTextPool References;
};

// The subject of a line, left to be pooled by the thread that files the record.
struct TLaterTexts {
    QStringView Subject;
};

void parseFields(TArticleClass& a, QStringView line, const TFileDateFormat& format, TFieldPools* pool = nullptr,
                 TLaterTexts* later = nullptr)
{
    // Fields are cut at each "|"; a missing field is empty.
    qsizetype pos = 0;
    auto next = [&]() -> QStringView {
        if (pos > line.size())
            return QStringView();
        qsizetype bar = line.indexOf(QLatin1Char('|'), pos);
        if (bar < 0)
            bar = line.size();
        QStringView f = line.mid(pos, bar - pos);
        pos = bar + 1;
        return f;
    };
    a.Number = toInt64(next(), "Number");
    a.SetSpeakMark(toInt(next(), "SpeakMark"));
    a.SetReadState(toInt(next(), "ReadState"));
    a.Expanded = toInt(next(), "Expanded");
    a.FileCounter = toInt(next(), "FileCounter");
    const QStringView id = next();
    a.MessageID = pool && id.contains(QLatin1Char('\r')) ? TArticleClass::CleanField(id.toString()) : id.toString();
    if (later)
        later->Subject = next();
    else
        a.Subject = ownText(next(), pool ? &pool->Subjects : nullptr);
    a.From = ownText(next(), pool ? &pool->Authors : nullptr);
    const QStringView dateText = next();
    const std::optional<TDateTime> d = format.parse(dateText);
    if (!d)
        throw EConvertError(QStringLiteral("'%1' is not a valid date and time").arg(dateText.toString()));
    a.Date = *d;
    a.References = ownText(next(), pool ? &pool->References : nullptr);
    bool ok = false;
    const int w = next().trimmed().toInt(&ok);
    if (ok)
        a.Watch = w;
}
}

void TArticleClass::ParseRecord(QStringView line)
{
    try {
        parseFields(*this, line, TFileDateFormat::current());
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("ParseRecord Exception: ") + e.message());
        UtilsClass::Log(line.toString());
        throw;
    }
}

QString TArticleClass::FormatRecord() const
{
    const QChar bar = QLatin1Char('|');
    QString s;
    s.reserve(MessageID.size() + Subject.size() + From.size() + References.size() + 48);
    s += QString::number(Number) + bar + QString::number(SpeakMark) + bar + QString::number(ReadState) + bar
        + QString::number(Expanded) + bar + QString::number(FileCounter) + bar;
    s += CleanField(MessageID) + bar + CleanField(Subject) + bar + CleanField(From) + bar + DateText(Date) + bar
        + CleanField(References) + bar + QString::number(Watch);
    return s;
}

void TArticleClass::NextFileCounter()
{
    if (Root)
        ++Root->FileCounter;
    else
        ++FileCounter;
}

// ---------------------------------------------------------------- TArticleList

TArticleList::~TArticleList() = default;

TArticleClass* TArticleList::Add(std::unique_ptr<TArticleClass> record)
{
    TArticleClass* r = record.get();
    r->MessageID = TArticleClass::CleanField(r->MessageID);
    r->Subject = TArticleClass::CleanField(r->Subject);
    r->From = TArticleClass::CleanField(r->From);
    r->References = TArticleClass::CleanField(r->References);
    return insert(std::move(record));
}

TArticleClass* TArticleList::insert(std::unique_ptr<TArticleClass> record)
{
    TArticleClass* r = record.get();
    r->Owner = this;
    r->RootNumber = r->Number;
    r->Root = r;
    TArticleClass*& slot = byId.Slot(r->MessageID);
    if (TArticleClass* existing = slot) {
        // An article only known as a placeholder arrives for real: the placeholder takes
        // over its data, so the article is kept and the thread stays where it is.
        if (existing->IsPlaceholder() && !r->IsPlaceholder()) {
            existing->Number = r->Number;
            existing->RootNumber = existing->Root ? existing->Root->Number : r->Number;
            existing->Subject = r->Subject;
            existing->From = r->From;
            existing->Date = r->Date;
            existing->References = r->References;
            existing->SetReadState(r->ReadState);
            if (r->SpeakMark != 0)
                existing->SetSpeakMark(r->SpeakMark);
            if (OnRecordChanged)
                OnRecordChanged(this, existing);
        }
        return nullptr;
    }
    slot = r;
    if (!r->References.isEmpty()) {
        TArticleClass* root = byId.Find(r->FirstReference());
        if (root && root != r) {
            r->Root = root;
            r->RootNumber = root->Number;
        }
    }
    items.push_back(std::move(record));
    return r;
}

void TArticleList::Sort()
{
    // The keys are gathered first, so comparing does not chase records through memory;
    // the position breaks ties, which keeps the order of equal records.
    struct TSortKey {
        double date;
        qint64 number;
        quint32 at;
    };
    std::vector<TSortKey> keys;
    keys.reserve(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        // Records and their roots lie anywhere in memory: ask for them a few places ahead.
        if (i + 16 < items.size())
            __builtin_prefetch(items[i + 16].get());
        if (i + 8 < items.size())
            __builtin_prefetch(items[i + 8]->Root);
        const TArticleClass* r = items[i].get();
        keys.push_back({(r->Root ? r->Root : r)->Date.Value, r->Number, quint32(i)});
    }
    std::sort(keys.begin(), keys.end(), [](const TSortKey& a, const TSortKey& b) {
        if (a.date != b.date)
            return a.date < b.date;
        if (a.number != b.number)
            return a.number < b.number;
        return a.at < b.at;
    });
    std::vector<std::unique_ptr<TArticleClass>> sorted;
    sorted.reserve(items.size());
    for (const TSortKey& k : keys)
        sorted.push_back(std::move(items[k.at]));
    items = std::move(sorted);
}

void TArticleList::ChangeMessageID(TArticleClass* record, const QString& id)
{
    if (byId.Find(record->MessageID) == record)
        byId.Remove(record);
    record->MessageID = id;
    TArticleClass*& slot = byId.Slot(record->MessageID);
    if (!slot)
        slot = record;
}

int TArticleList::RemoveIf(const std::function<bool(TArticleClass*)>& pred)
{
    QSet<TArticleClass*> gone;
    for (const auto& r : items) {
        if (pred(r.get()))
            gone.insert(r.get());
    }
    if (gone.isEmpty())
        return 0;
    for (const auto& r : items) {
        if (r->Root && gone.contains(r->Root) && !gone.contains(r.get())) {
            r->Root = r.get();
            r->RootNumber = r->Number;
        }
    }
    for (TArticleClass* r : std::as_const(gone)) {
        if (byId.Find(r->MessageID) == r)
            byId.Remove(r);
    }
    items.erase(std::remove_if(items.begin(), items.end(),
                               [&](const std::unique_ptr<TArticleClass>& r) { return gone.contains(r.get()); }),
                items.end());
    return int(gone.size());
}

int TArticleList::NewCount() const
{
    int n = 0;
    for (const auto& r : items)
        n += r->ReadState == 1 ? 1 : 0;
    return n;
}

QString TArticleList::FilePath() const
{
    return GetDataFolder() + (Config ? Config->FileBase : QString()) + QStringLiteral(".chl");
}

namespace {
// One line of an article file as the reader made it: the record, or why the line failed.
struct TParsedLine {
    std::unique_ptr<TArticleClass> record;
    TLaterTexts later;
    QString error;
    QString line;
};

// The lines of one block, with the block's text that their subjects still view.
struct TParsedBlock {
    QString text;
    std::vector<TParsedLine> lines;
};

// Reads an article file a block of whole lines at a time and turns each block into records,
// so a large group never holds its whole text in memory besides its records. Blocks end
// after a line break, where no UTF-8 sequence can be cut.
class TArticleFileReader {
public:
    TArticleFileReader(QFile& file, const TFileDateFormat& format) : file(file), format(format) {}

    // The next block of lines; false when the file is read to its end. Throws EInOutError.
    bool Next(TParsedBlock& out)
    {
        constexpr qint64 BlockBytes = qint64(1) << 20;
        while (!atEnd) {
            const QByteArray block = file.read(BlockBytes);
            if (file.error() != QFileDevice::NoError)
                throw EInOutError(
                    QStringLiteral("Cannot read file %1: %2").arg(file.fileName(), file.errorString()));
            atEnd = block.isEmpty();
            pending += block;
            const qsizetype cut = atEnd ? pending.size() : pending.lastIndexOf('\n') + 1;
            if (cut == 0)
                continue;
            out.text = decoder(QByteArrayView(pending).first(cut));
            pending.remove(0, cut);
            parse(out);
            if (!out.lines.empty())
                return true;
        }
        return false;
    }

private:
    void parse(TParsedBlock& out)
    {
        const QStringView all(out.text);
        qsizetype start = 0;
        while (start < all.size()) {
            qsizetype end = all.indexOf(QLatin1Char('\n'), start);
            if (end < 0)
                end = all.size();
            QStringView line = all.mid(start, end - start);
            start = end + 1;
            if (line.endsWith(QLatin1Char('\r')))
                line.chop(1);
            if (line.trimmed().isEmpty())
                continue; // holds nothing to keep
            TParsedLine& p = out.lines.emplace_back();
            p.record = std::make_unique<TArticleClass>();
            TArticleClass& r = *p.record;
            try {
                parseFields(r, line, format, &texts, &p.later);
            } catch (const EVorlixError& e) {
                p.record.reset();
                p.error = e.message();
                p.line = line.toString();
            }
        }
    }

    QFile& file;
    const TFileDateFormat& format;
    QStringDecoder decoder{QStringDecoder::Utf8};
    QByteArray pending;
    bool atEnd = false;
    TFieldPools texts; // its authors' and References pools
};

// Runs a reader on a worker thread, a few blocks ahead of the thread that takes them.
class TReadAhead {
public:
    explicit TReadAhead(TArticleFileReader& reader) : reader(reader)
    {
        worker = std::thread([this] { run(); });
    }
    ~TReadAhead()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        changed.notify_all();
        worker.join();
    }

    // The next block; false at the end. Rethrows the reader's failure.
    bool Take(TParsedBlock& out)
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return !ready.empty() || done; });
        if (!ready.empty()) {
            out = std::move(ready.front());
            ready.pop_front();
            changed.notify_all();
            return true;
        }
        if (failed)
            throw EInOutError(failure);
        return false;
    }

private:
    void run()
    {
        pthread_setname_np(pthread_self(), "vorlix-read");
        try {
            for (;;) {
                TParsedBlock block;
                if (!reader.Next(block))
                    break;
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [this] { return ready.size() < 4 || stop; });
                if (stop)
                    return;
                ready.push_back(std::move(block));
                changed.notify_all();
            }
        } catch (const EVorlixError& e) {
            std::lock_guard<std::mutex> lock(mutex);
            failed = true;
            failure = e.message();
        } catch (const std::exception& e) {
            std::lock_guard<std::mutex> lock(mutex);
            failed = true;
            failure = QString::fromLocal8Bit(e.what());
        }
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
        changed.notify_all();
    }

    TArticleFileReader& reader;
    std::thread worker;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<TParsedBlock> ready;
    bool stop = false;
    bool done = false;
    bool failed = false;
    QString failure;
};
}

bool TArticleList::LoadFromFile(const QString& path)
{
    if (!QFileInfo::exists(path))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EInOutError(QStringLiteral("Cannot open file %1: %2").arg(path, file.errorString()));
    // Lines are read and parsed on a worker thread while this one files the records, so a
    // large group loads in about the time of the slower of the two.
    const TFileDateFormat format = TFileDateFormat::current();
    TArticleFileReader reader(file, format);
    TReadAhead ahead(reader);
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    // The reader pools authors and References; subjects are pooled here, which shares the
    // work about evenly between the two threads.
    TFieldPools pools;
    TParsedBlock block;
    int kept = 0;
    while (ahead.Take(block)) {
        for (TParsedLine& p : block.lines) {
            if (!p.record) {
                UtilsClass::Log(QStringLiteral("ParseRecord Exception: ") + p.error);
                UtilsClass::Log(p.line);
                UtilsClass::Log(QStringLiteral("LoadArticles_1 Parse Exception: ") + p.error);
                // Dropping the line would lose its article for good: the group's LastArticle
                // is past it, so it is never fetched again. It goes back into the file as it is.
                unreadable << std::move(p.line);
                ++kept;
                continue;
            }
            p.record->Subject = pools.Subjects.Text(p.later.Subject);
            insert(std::move(p.record));
        }
        block = TParsedBlock();
        // Large groups keep the window responsive while they load.
        if (sinceEvents.elapsed() >= 30) {
            // Painting goes on; clicks wait, so nothing can switch groups half-way.
            TBusyGuard::ProcessEvents(QEventLoop::ExcludeUserInputEvents);
            sinceEvents.restart();
        }
    }
    file.close();
    if (kept > 0)
        UtilsClass::Log(QStringLiteral("%1 unreadable lines of %2 are kept as they are").arg(kept).arg(path));
    return true;
}

void TArticleList::SaveFromList()
{
    std::vector<const TArticleClass*> recs;
    recs.reserve(items.size());
    for (const auto& r : items)
        recs.push_back(r.get());
    SaveArticleLines(FilePath(), recs, unreadable);
    if (Config)
        Config->SetGroupCaption(NewCount(), Count());
}

QString GroupCaption(const QString& name, int newCount, int total)
{
    return name + QStringLiteral(" (") + QString::number(newCount) + QLatin1Char('/') + QString::number(total)
        + QLatin1Char(')');
}

void SaveArticleLines(const QString& path, const std::vector<const TArticleClass*>& records,
                      const QStringList& keptLines)
{
    QStringList lines;
    lines.reserve(qsizetype(records.size()) + keptLines.size());
    for (const TArticleClass* r : records)
        lines << r->FormatRecord();
    lines << keptLines;
    WriteLinesAtomically(path, lines);
}
