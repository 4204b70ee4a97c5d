#include "TestSupport.h"
#include "core/BaseUtils.h"
#include "core/RegistryEnhanced.h"
#include "core/RegistryUnit.h"
#include "preprocess/TTSPreProcessor.h"
#include "speech/TBaseEngineUnit.h"
#include "speech/TBaseVoiceRegistryClassUnit.h"

#include <QFile>

namespace {
QString homePath(const char* name)
{
    return UtilsClass::GetProgramFolder() + name;
}
void writeHomeFile(const char* name, const QByteArray& data)
{
    QFile f(homePath(name));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}
QByteArray readHomeFile(const char* name)
{
    QFile f(homePath(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
QString lastLogLines(int n)
{
    QFile f(UtilsClass::GetLogBase() + ".dbg");
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    return lines.mid(std::max<qsizetype>(0, lines.size() - n)).join('\n');
}
QString lookupError(const std::function<void()>& f)
{
    try {
        f();
    } catch (const ELookupTblException& e) {
        return e.message();
    }
    return "<no error>";
}
}

class TestFilterOptions : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        for (const char* name : {FilterOptionsFileName, UserTranslationsFileName, UserRegularExpressionsFileName})
            QFile::remove(homePath(name));
        TRegistryEnhanced::ResetStore();
        QFile::remove(TRegistryEnhanced::SettingsFilePath());
    }

    void lookupTableRowsAndMessages()
    {
        TLookupTable t;
        t.Add("tia", "thanks in advance", 0, false);
        t.Add("TIA", "Texas", 0, true); // keys compare with case
        QCOMPARE(t.Count(), 2);
        QCOMPARE(lookupError([&] { t.Add("tia", "  ", 0, false); }), QString("Alternate pronunciation already exists for tia"));
        QCOMPARE(lookupError([&] { t.Add("  ", "x", 0, false); }), QString("Invalid pronunciation record, Key is blank"));
        QCOMPARE(lookupError([&] { t.Add("k", " ", 0, false); }), QString("Invalid pronunciation record, Pronunciation is blank"));
        QCOMPARE(lookupError([&] { t.Modify("nope", "x", false); }), QString("String nope is not defined"));
        QCOMPARE(lookupError([&] { t.Delete("nope"); }), QString("String nope is not defined"));
        // Rows that could not be stored without damage are refused.
        QVERIFY(lookupError([&] { t.Add("a~b", "x", 0, false); }).startsWith("Invalid pronunciation record"));
        QVERIFY(lookupError([&] { t.Add("ab", "x\ny", 0, false); }).startsWith("Invalid pronunciation record"));
        t.Modify("tia", "", true); // an empty pronunciation is accepted by Modify
        QCOMPARE(t.Find("tia")->Pronunciation, QString());
        QVERIFY(t.Find("tia")->CaseSensitive);
        QCOMPARE(t.RecordText(1, "~"), QString("TIA~Texas~T"));
        t.Delete("tia");
        QVERIFY(!t.Exists("tia"));
        QVERIFY(t.Exists("TIA"));
    }

    void translationFileLoadsWhatItCan()
    {
        // A missing file is created empty.
        TLookupTable empty;
        empty.LoadFromFile(homePath(UserTranslationsFileName));
        QCOMPARE(empty.Count(), 0);
        QVERIFY(QFile::exists(homePath(UserTranslationsFileName)));

        const QByteArray longPronunciation(100000, 'y');
        writeHomeFile(UserTranslationsFileName,
                      "0~thx~thanks~T\r\n"
                      "0~pls~please~t\r\n"
                      "x~abc~def~F\r\n"
                      "0~thx~again~F\r\n"
                      "7~brb~be right back\r\n"
                      "0~lonely\r\n"
                      "\r\n"
                      "0~caf\xE9~coffee~F\n"
                      "  12 ~long~" + longPronunciation + "~F\r\n"
                      "3~afk~away from keyboard~T");
        TLookupTable t;
        t.LoadFromFile(homePath(UserTranslationsFileName));
        QCOMPARE(t.Count(), 6);
        QVERIFY(t.Find("thx")->CaseSensitive);
        QCOMPARE(t.Find("thx")->Pronunciation, QString("thanks"));
        QVERIFY(!t.Find("pls")->CaseSensitive);
        QCOMPARE(t.Find("brb")->Number, 7);
        QVERIFY(!t.Find("brb")->CaseSensitive);
        QCOMPARE(t.Find("long")->Number, 12);
        QCOMPARE(t.Find("long")->Pronunciation.size(), 100000);
        QVERIFY(t.Exists(QString("caf") + QChar(0xFFFD)));
        QVERIFY(t.Find("afk")->CaseSensitive);
        const QString log = lastLogLines(200);
        QVERIFY(log.contains("TLookupTable Add exception for record: x~abc~def~F"));
        QVERIFY(log.contains("TLookupTable Add exception: 'x' is not a valid integer value"));
        QVERIFY(log.contains("TLookupTable Add exception: Alternate pronunciation already exists for thx"));
        QVERIFY(log.contains("TLookupTable Add exception: Invalid pronunciation record, Pronunciation is blank"));

        // Saving writes every row back, CR LF, and loading again gives the same rows.
        t.SaveToFile();
        QVERIFY(readHomeFile(UserTranslationsFileName).startsWith("0~thx~thanks~T\r\n0~pls~please~F\r\n7~brb~be right back~F\r\n"));
        TLookupTable again;
        again.LoadFromFile(homePath(UserTranslationsFileName));
        QCOMPARE(again.Count(), t.Count());
        for (int i = 0; i < t.Count(); ++i)
            QCOMPARE(again.RecordText(i, "~"), t.RecordText(i, "~"));
    }

    void defaultsAndTheOptionsFile()
    {
        TPreProcessor p;
        p.LoadFilterOptions();
        QCOMPARE(p.StartOfLineList, QStringList({">", "|", "In article <"}));
        QCOMPARE(p.ContainingList, QStringList({"wrote in message"}));
        QCOMPARE(p.Translations.Count(), 4);
        QCOMPARE(p.Translations[0].Key, QString("tia"));
        QCOMPARE(p.Translations[3].Pronunciation, QString("in my opinion"));
        QVERIFY(!QFile::exists(homePath(FilterOptionsFileName)));
        QCOMPARE(readHomeFile(UserTranslationsFileName), QByteArray()); // created empty, defaults stay in memory
        p.SaveFilterOptions();
        QCOMPARE(readHomeFile(FilterOptionsFileName),
                 QByteArray("1~>\r\n1~|\r\n1~In article <\r\n2~wrote in message\r\n"
                            "3~tia~thanks in advance~F\r\n3~pls~please~F\r\n3~thx~thanks~F\r\n3~imo~in my opinion~F\r\n"));

        // Reading: the section is trimmed, the value runs to the next "~", other lines are skipped.
        writeHomeFile(FilterOptionsFileName, "1 ~>\r\n2~sig~nature\r\n3~a~b~F\r\n9~x\r\nno separator\r\n2~\r\n1~--\r\n");
        p.LoadFilterOptions();
        QCOMPARE(p.StartOfLineList, QStringList({">", "--"}));
        QCOMPARE(p.ContainingList, QStringList({"sig", ""}));

        // An empty start-of-line string suppresses every line that ends in a break; an empty
        // containing string matches nothing.
        TBaseEngineClass engine("Microsoft", "Sapi5", "Microsoft");
        p.CheckStartOfLine = p.CheckContaining = true;
        writeHomeFile(FilterOptionsFileName, "1~\r\n");
        p.LoadFilterOptions();
        QCOMPARE(p.FilterText(engine.FilterTarget(), "one\ntwo\nthree"), QString("\n\nthree").replace("\n\n", " "));
        writeHomeFile(FilterOptionsFileName, "2~\r\n");
        p.LoadFilterOptions();
        QCOMPARE(p.FilterText(engine.FilterTarget(), "one\ntwo"), QString("one\ntwo"));
    }

    void startOfLineTextAndContainingList()
    {
        TPreProcessor p;
        p.SetStartOfLineText("a,,b");
        QCOMPARE(p.StartOfLineList, QStringList({"a"}));
        p.SetStartOfLineText("a, b");
        QCOMPARE(p.StartOfLineList, QStringList({"a", " b"}));
        QCOMPARE(p.GetStartOfLineText(), QString("a, b"));
        QStringList list{"old"};
        p.SetContainingList({"x", "y"});
        p.GetContainingList(list);
        QCOMPARE(list, QStringList({"x", "y"}));
    }

    void switchesLiveInTheSpeechSection()
    {
        TMyRegistryClass main;
        {
            TBaseVoiceRegistryClass section(main);
            QCOMPARE(section.SectionName(), QString("Vorlix\\BaseTTS"));
            QCOMPARE(section.GetVersion(), QString("1.0.9"));
            TGroupsPreProcessor p;
            p.LoadSettings(section);
            QVERIFY(!p.FilterSymbols);
            QVERIFY(p.CheckStartOfLine);
            QVERIFY(p.CheckContaining);
            QVERIFY(p.UseTranslations);
            p.FilterSymbols = true;
            p.UseTranslations = false;
            p.SaveSettings(section);
            section.SaveAll();
            QVERIFY(QFile::exists(homePath(FilterOptionsFileName)));
        }
        TRegistryEnhanced::ResetStore();
        TBaseVoiceRegistryClass section(main);
        TGroupsPreProcessor p;
        p.LoadSettings(section);
        QVERIFY(p.FilterSymbols);
        QVERIFY(!p.UseTranslations);
        QVERIFY(p.CheckContaining);
        QCOMPARE(TRegistryEnhanced("Software\\QuenradTech\\Vorlix\\BaseTTS").ReadValue("TTS_FilterSymbols").toString(),
                 QString("true"));
    }
};

VORLIX_TEST_MAIN_CORE(TestFilterOptions)
#include "test_filter_options.moc"
