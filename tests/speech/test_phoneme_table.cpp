// The rules of custom pronunciations: the shipped phoneme table and its file format, the check
// and normal form of a pronunciation, where a symbol may be inserted, and the characters the
// user translations and lexicon words may hold.
#include "TestSupport.h"

#include "speech/PhonemeTable.h"
#include "speech/Sapi5Wrapper.h"

#include <QDir>
#include <QFile>

class TestPhonemeTable : public QObject {
    Q_OBJECT
private:
    static QString write(const QByteArray& content)
    {
        const QString path = QDir::temp().filePath(QStringLiteral("vorlix-phonemes-%1.chl").arg(++files));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(path));
        f.write(content);
        return path;
    }
    static inline int files = 0;

private slots:
    // Every symbol of the shipped table is one the eSpeak NG layer speaks, with an example.
    void shippedTableMatchesTheLexiconLayer()
    {
        TPhonemeTable table;
        table.LoadFromFile(TPhonemeTable::DefaultFileName());
        QCOMPARE(table.Rows.size(), 43);
        QVERIFY(table.PhonemeSet.startsWith(QStringLiteral("|aa|ae|ah|")));
        QVERIFY(table.PhonemeSet.endsWith(QStringLiteral("|zh|1|2|-|")));
        for (const TPhonemeRow& row : table.Rows) {
            QVERIFY2(!row.Example.trimmed().isEmpty(), qPrintable(row.Symbol));
            // Stress marks follow a vowel; the syllable break stands between phones.
            QString sample = row.Symbol;
            if (row.Symbol == QLatin1String("1") || row.Symbol == QLatin1String("2"))
                sample = QStringLiteral("aa ") + row.Symbol;
            else if (row.Symbol == QLatin1String("-"))
                sample = QStringLiteral("aa - b");
            bool ok = false;
            TSpLexicon::SapiToEspeak(sample, &ok);
            QVERIFY2(ok, qPrintable(row.Symbol));
        }
    }

    void fileFormat()
    {
        // The first "<1033>" is skipped, a later one is a row; a third field is ignored;
        // reading stops at "</1033>"; CR LF and LF both read.
        TPhonemeTable table;
        table.LoadFromFile(write("<1033>\r\naa|father|ignored\r\n<1033>|x\nb\r\nzh|vision\r\n</1033>\r\nk|kit\r\n"));
        QCOMPARE(table.Rows.size(), 4);
        QCOMPARE(table.Rows[0].Example, QStringLiteral("father"));
        QCOMPARE(table.Rows[1].Symbol, QStringLiteral("<1033>"));
        QCOMPARE(table.Rows[2].Symbol, QStringLiteral("b"));
        QCOMPARE(table.Rows[2].Example, QString());
        QCOMPARE(table.PhonemeSet, QStringLiteral("|aa|<1033>|b|zh|"));
        QVERIFY(!table.Contains(QStringLiteral("k")));
        QVERIFY(!table.Contains(QStringLiteral("a")));  // parts of a symbol are no symbol
        QCOMPARE(table.FirstInvalidToken(QStringLiteral("  aa  b zhx aa")), QStringLiteral("zhx"));
        QCOMPARE(table.FirstInvalidToken(QStringLiteral("aa b zh ")), QString());

        // A missing file leaves what was loaded before and says so.
        QVERIFY_THROWS_EXCEPTION(EPhonemeFileError, table.LoadFromFile(QStringLiteral("/nonexistent/Phoneme.chl")));
        try {
            table.LoadFromFile(QString());
        } catch (const EPhonemeFileError& e) {
            QCOMPARE(e.message(), QStringLiteral("Phoneme symbol file not found"));
        }
        QCOMPARE(table.Rows.size(), 4);
    }

    void normalising()
    {
        QCOMPARE(NormalisePronunciation(QStringLiteral("h  eh l   ow")), QStringLiteral("h eh l ow"));
        QCOMPARE(NormalisePronunciation(QStringLiteral("   aa ")), QStringLiteral("aa"));
        QCOMPARE(NormalisePronunciation(QStringLiteral("  ")), QString());
    }

    void symbolInsertion_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("caret");
        QTest::addColumn<bool>("inserted");
        QTest::addColumn<QString>("result");
        QTest::addColumn<int>("caretAfter");
        QTest::newRow("empty field") << "" << 0 << true << "ow" << 2;
        QTest::newRow("caret at the start appends") << "h eh" << 0 << true << "h eh ow" << 7;
        QTest::newRow("inside eh") << "h eh l" << 3 << false << "h eh l" << 3;
        QTest::newRow("after 'eh ' no doubled space") << "h eh l" << 5 << true << "h eh ow l" << 8;
        QTest::newRow("after 'eh' before a space") << "h eh l" << 4 << true << "h eh ow l" << 7;
        QTest::newRow("at the end") << "h eh" << 4 << true << "h eh ow " << 8;
        QTest::newRow("between two spaces") << "h  eh" << 2 << true << "h ow eh" << 4;
    }
    void symbolInsertion()
    {
        QFETCH(QString, text);
        QFETCH(int, caret);
        const TSymbolInsertion r = InsertPhonemeSymbol(text, caret, QStringLiteral("ow"));
        QTEST(r.Inserted, "inserted");
        QTEST(r.Text, "result");
        QTEST(r.Caret, "caretAfter");
    }

    void characterRules()
    {
        // Pronunciations of the user translations.
        for (const char* ok : {"New Yawk", "a=b", "{x}", "caf\xc3\xa9 \xc5\x93uvre", "R2 D2"})
            QVERIFY2(IsValidTranslationText(QString::fromUtf8(ok)), ok);
        for (const char* bad : {"Mr.", "rock'n'roll", "a-b", "x\ty", "\xe2\x82\xac"})
            QVERIFY2(!IsValidTranslationText(QString::fromUtf8(bad)), bad);
        // Lexicon words.
        for (const char* ok : {"Vorlix", "MP3", "na\xc3\xafve", "\xc5\xa0koda"})
            QVERIFY2(IsValidLexiconWord(QString::fromUtf8(ok)), ok);
        for (const char* bad : {"New York", "rock'n'roll", "a=b", "\xc3\x97"})
            QVERIFY2(!IsValidLexiconWord(QString::fromUtf8(bad)), bad);
    }
};

VORLIX_TEST_MAIN_CORE(TestPhonemeTable)
#include "test_phoneme_table.moc"
