#include "TestSupport.h"
#include "core/BaseUtils.h"
#include "preprocess/TTSPreProcessor.h"
#include "speech/TBaseEngineUnit.h"

#include <QFile>
#include <QRegularExpression>
#include <QTimer>

namespace {
void writeHomeFile(const char* name, const QByteArray& data)
{
    QFile f(UtilsClass::GetProgramFolder() + name);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}
void removeHomeFile(const char* name)
{
    QFile::remove(UtilsClass::GetProgramFolder() + name);
}
QString logTail(int n)
{
    QFile f(UtilsClass::GetLogBase() + ".dbg");
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    return lines.mid(std::max<qsizetype>(0, lines.size() - n)).join('\n');
}
QString crlf(QString text)
{
    return text.replace("\n", "\r\n");
}
const QString Pause500 = "<SILENCE MSEC=\"500\"/>";
const QString Pause1000 = "<SILENCE MSEC=\"1000\"/>";
}

class TestPreProcessor : public QObject {
    Q_OBJECT

    TBaseEngineClass sapi5{"Microsoft", "Sapi5", "Microsoft"};
    TBaseEngineClass sapi4{"Lernout & Hauspie", "Sapi4", "TruVoice"};

    // A preprocessor with the default switches, suppress lists and translations.
    std::unique_ptr<TGroupsPreProcessor> make()
    {
        auto p = std::make_unique<TGroupsPreProcessor>();
        p->CheckStartOfLine = p->CheckContaining = p->UseTranslations = true;
        p->LoadFilterOptions();
        return p;
    }

private slots:
    void init()
    {
        removeHomeFile(FilterOptionsFileName);
        removeHomeFile(UserTranslationsFileName);
        removeHomeFile(UserRegularExpressionsFileName);
    }

    void translationsAreWholeWordsWithTheirCaseRule()
    {
        auto p = make();
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "thanks tia"), QString("thanks thanks in advance"));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "a tiara"), QString("a tiara"));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "IMO, TIA!"), QString("in my opinion, thanks in advance!"));
        // Only ASCII letters and digits make words: "_" separates.
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "imo_x x2imo pls"), QString("in my opinion_x x2imo please"));
        p->Translations.Add("IN", "India", 0, true);
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "in IN"), QString("in India"));
        // A pronunciation that contains its own key is not translated again.
        p->Translations.Add("ok", "ok ok", 0, false);
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "ok"), QString("ok ok"));
        p->UseTranslations = false;
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "tia"), QString("tia"));
    }

    void controlCharactersRunsSymbolsAndShouting()
    {
        auto p = make();
        QCOMPARE(p->FilterText(sapi4.FilterTarget(), "a=b\\c"), QString("a b c"));
        // Writers' markup cannot reach the Sapi5 engine as markup.
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "x <!-- y --> z <SILENCE MSEC=\"9\"/>"), QString("x <- y- > z <silence msec \"9\"/>"));
        QCOMPARE(p->FilterText(sapi4.FilterTarget(), "x <!-- y"), QString("x <! y"));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "Wait...  what"), QString("Wait. what"));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "end.\r\nNext"), QString("end. Next"));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "one  two"), QString("one two"));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "trailing...   "), QString("trailing...   "));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "IBM said"), QString("IBM said"));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "a NEWSGROUP"), QString("a newsgroup"));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "read USA TODAY"), QString("read usa today"));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "THIS IS SHOUTING here"), QString("this is shouting here"));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "WORLD peace"), QString("WORLD peace"));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "a*b (c) #d"), QString("a*b (c) #d"));
        p->FilterSymbols = true;
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "a*b (c) #d"), QString("a b  c   d"));
    }

    void linksAndNewsReferences()
    {
        auto p = make();
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "see ftp://www.site/a/b.html now"), QString("see w w w.site web link now"));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "see ftp://www.site today"), QString("see w w w.site today"));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), " ftp://host/x"), QString(" host web link"));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "www.site/x"), QString("w w w.site web link"));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "http://example.org/faq.html"), QString("example.org web link"));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "Go to http://a.example.com/x?y, then stop."),
                 QString("Go to a.example.com web link?y, then stop."));
        // Too far from any delimiter: the scheme stays.
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "xxxxxxxxxxxxhttp://h"), QString("xxxxxxxxxxxxhttp://h"));
        // With LF line ends a link ends at the line end; the next line is kept.
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "see http://x.org/a/b\nNext line"), QString("see x.org web link\nNext line"));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "Look at <news:abc123@news.example.com> here"), QString("Look at <> here"));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "ref news:x@host.example. end"), QString("ref  end"));
        // A group name is not a reference: the mail address further on stays.
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "Read news:comp.lang.c and mail bob@example.com"),
                 QString("Read news:comp.lang.c and mail bob@example.com"));
    }

    // An attribution before a quotation that ends the text is treated alike with LF and with
    // CR LF line ends.
    void attributionWithBothLineEnds()
    {
        auto p = make();
        for (const QString& text : {QStringLiteral("Ann wrote:\n> quote\n"), QStringLiteral("Intro.\nAnn wrote:\n> quote\n"),
                                    QStringLiteral("Ann wrote:\n> quote\n> more\n")}) {
            const QString withCrLf = p->FilterText(sapi5.FilterTarget(), crlf(text));
            const QString withLf = p->FilterText(sapi5.FilterTarget(), text);
            QCOMPARE(QString(withLf).replace("\n", "|"), QString(withCrLf).remove('\r').replace("\n", "|"));
        }
    }

    void quotesAttributionsAndPauses()
    {
        auto p = make();
        // Attribution with "wrote:" before a quotation: both go, a half-second pause follows.
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), crlf("Bob Smith wrote:\n> Is it raining?\n> Here too.\n\nYes, it is.\n")),
                 " " + Pause500 + "Yes, it is.\r\n");
        // The same line before ordinary text stays.
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), crlf("Bob Smith wrote:\nNothing quoted.\n")),
                 QString("Bob Smith wrote: Nothing quoted.\r\n"));
        // A quoted last line without a line break is kept.
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), crlf("Hello\n> quote")), QString("Hello > quote"));
        // The wrapped word of a quoted line goes with the quote, with LF and with CR LF ends.
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "> first part of a\nwrapped\n> rest of quote\nMy answer.\n"),
                 QString("\nMy answer.\n"));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), crlf("> first part of a\nwrapped\n> rest of quote\nMy answer.\n")),
                 QString(" My answer.\r\n"));
        // Two words are no wrapped word.
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "> quote\nmy reply\n> more\nend\n"), QString("\nmy reply\n\nend\n").replace("\n\n", " "));
        // A Outlook-style attribution with a news: reference.
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), crlf("\"Ann\" <ann@example.com> wrote in message news:abc123@news.example.com...\n"
                                             "> Question?\n\nAnswer here.\n")),
                 " " + Pause500 + "Answer here.\r\n");
        // "On ... 200x ... @" is an attribution even without a keyword; 1999 is not.
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "On Mon, 5 Jan 2004 10:00:00 +0000, Bob <bob@example.com> said:\n> text\nreply\n"),
                 QString(" reply\n"));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "On Mon, 5 Jan 1999 10:00:00 +0000, Bob <bob@example.com> said:\n> text\nreply\n"),
                 QString("On Mon, 5 Jan 1999 10:00:00 +0000, Bob <bob@example.com> said: reply\n"));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "On 5 Jan 2010, Bob wrote:\n> text\nreply\n"), QString(" reply\n"));
        // Several attribution lines before one quotation.
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "Ann wrote:\nBob writes:\n> q\nanswer\n"), QString(" answer\n"));
        // An attribution whose quotation is the last thing in the article goes too.
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "Top reply.\n\nAnn wrote:\n> q\n"), QString("Top reply.\n\n\n\n"));
        // Pauses: one blank line is half a second, two or more a second; SAPI 4 has its own tag.
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), crlf("one\n\n\ntwo")), "one " + Pause1000 + "two");
        QCOMPARE(p->FilterText(sapi4.FilterTarget(), crlf("one\n\ntwo")), QString("one \\Pau=500\\two"));
        QCOMPARE(p->FilterText(sapi4.FilterTarget(), "one\n\n\ntwo"), QString("one \\Pau=500\\two"));
        QCOMPARE(p->FilterText(sapi4.FilterTarget(), "one\n\n\n\n\ntwo"), QString("one \\Pau=1000\\two"));
        QCOMPARE(p->FilterText(sapi4.FilterTarget(), "one\n\ntwo"), QString("one two"));
        QCOMPARE(p->FilterText(TFilterTarget{}, crlf("one\n\n\ntwo")), QString("one two"));
        // No pause before a suppressed line.
        QCOMPARE(p->FilterText(sapi4.FilterTarget(), crlf("one\n\n\n> q\nx")), QString("one x"));
        // The "wrote in message" line goes, its line breaks stay for the pause.
        QCOMPARE(p->FilterText(sapi4.FilterTarget(), crlf("a\nsomeone wrote in message xyz\n\nb")), QString("a \\Pau=500\\b"));
    }

    void shoutedPauseTagsStayIntact()
    {
        auto p = make();
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "LOOK\n\n\nTHE END IS NEAR friends"),
                 "look " + Pause500 + "the end is near friends");
    }

    void wholeArticles()
    {
        auto p = make();
        const QString article = crlf(
            "On Tue, 14 Mar 2006 09:12:44 +0100, Jane Doe <jane@example.org> wrote:\n"
            "\n"
            ">I tried the new release and it crashed twice. Has anyone\n"
            ">seen\n"
            ">this before?\n"
            "\n"
            "Yes. It is a known problem, see http://bugs.example.org/show_bug.cgi?id=1234\n"
            "for the details.  The fix is simple:\n"
            "\n"
            "    if (ptr == NULL) return;\n"
            "\n"
            "\n"
            "PLEASE READ THE FAQ BEFORE posting, imo it answers most questions. Thx!\n"
            "\n"
            "-- \n"
            "Tom | www.example.net/~tom\n");
        const QString expected =
            " " + Pause500 + "Yes. It is a known problem, see bugs.example.org web link?id 1234 for the details. "
            "The fix is simple: " + Pause500 + " if (ptr NULL) return; " + Pause1000
            + "please read the faq before posting, in my opinion it answers most questions. thanks! "
            + Pause500 + "- Tom | w w w.example.net web link\r\n";
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), article), expected);

        // The same article with LF line ends.
        QString lf = article;
        lf.replace("\r\n", "\n");
        // With LF ends one blank line is two breaks: no pause; a single break stays as it is.
        const QString expectedLf =
            " Yes. It is a known problem, see bugs.example.org web link?id 1234\nfor the details. "
            "The fix is simple: if (ptr NULL) return; " + Pause500
            + "please read the faq before posting, in my opinion it answers most questions. thanks! "
            "Tom | w w w.example.net web link\n";
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), lf), expectedLf);

        // A reply in the "In article" style with a signature block, read through SAPI 4.
        const QString second = crlf(
            "In article <abc@news.example.com>, carl@example.com says...\n"
            "> Does the 2.0 version still need the patch?\n"
            "\n"
            "No, it was merged in March.\n"
            "\n"
            "| quoted by a bar\n"
            "Regards,\n"
            "Dave\n");
        QCOMPARE(p->FilterText(sapi4.FilterTarget(), second), QString(" \\Pau=500\\No, it was merged in March. Regards, Dave\r\n"));
    }

    void mapPositionFollowsEveryEdit()
    {
        auto p = make();
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "plain words only"), QString("plain words only"));
        for (int i = 0; i <= 16; ++i)
            QCOMPARE(p->MapPosition(i), i);

        writeHomeFile(UserRegularExpressionsFileName, "\\[noise\\] ?\r\n{{Options=+I}}REMOVE ME \r\n");
        const QString original = crlf("Hello tia world [noise] again imo end.\n"
                                      "Ann wrote:\n> quoted text\n\n\n"
                                      "Later remove me words http://example.com/page after.");
        const QString filtered = p->FilterText(sapi5.FilterTarget(), original);
        QCOMPARE(filtered, "Hello thanks in advance world again in my opinion end. " + Pause1000
                               + "Later words example.com web link after.");
        // Every word that came from the original maps back onto that word.
        const QStringList kept = {"Hello", "world", "again", "end", "Later", "words", "example", "after"};
        for (const QString& word : kept) {
            const int at = filtered.indexOf(QRegularExpression("\\b" + word + "\\b"));
            QVERIFY2(at >= 0, qPrintable(word));
            const int mapped = p->MapPosition(at);
            QVERIFY2(original.mid(mapped, word.size()) == word,
                     qPrintable(QString("%1 mapped to %2: %3").arg(word).arg(mapped).arg(original.mid(mapped, 12))));
        }
        // Words of a translation map to the word they replaced; the link text to the link.
        QCOMPARE(p->MapPosition(filtered.indexOf("thanks")), original.indexOf("tia"));
        QCOMPARE(p->MapPosition(filtered.indexOf("advance")), original.indexOf("tia"));
        QCOMPARE(p->MapPosition(filtered.indexOf("opinion")), original.indexOf("imo"));
        QCOMPARE(p->MapPosition(filtered.indexOf("web link")), original.indexOf("/page"));
        // The end and beyond keep their distance from the end.
        QCOMPARE(p->MapPosition(filtered.size()), original.size());
        QCOMPARE(p->MapPosition(filtered.size() + 3), original.size() + 3);
        QCOMPARE(p->MapPosition(-1), -1);
    }

    void rulesRemoveTheirMatches()
    {
        auto p = make();
        writeHomeFile(UserRegularExpressionsFileName,
                      "# a comment line\r\n"
                      "\r\n"
                      "   \r\n"
                      "{{Options=+I}}colou?r\r\n"
                      "{{Options=+i, -g}}x.+y\r\n"
                      "{{Options=+M}}^-+$\r\n");
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "Color red COLOUR x1y2y ok"), QString(" red 2y ok"));
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "top\n---\nbottom"), QString("top bottom"));
        // A text filtered from a window message while the rules run does not disturb this one.
        QString inner;
        QTimer::singleShot(0, [&] { inner = p->FilterText(sapi5.FilterTarget(), "Ann wrote:\nBob wrote:\nplain\n"); });
        const QString outer = p->FilterText(sapi5.FilterTarget(), "Color A wrote:\nB wrote:\n> q\nreply tia\n");
        QCOMPARE(inner, QString("Ann wrote:\nBob wrote:\nplain\n"));
        QCOMPARE(outer, QString(" reply thanks in advance\n"));
        QCOMPARE(p->MapPosition(1), QString("Color A wrote:\nB wrote:\n> q\nreply tia\n").indexOf("reply"));
        // A blank before "#" makes the line a pattern.
        writeHomeFile(UserRegularExpressionsFileName, " #comment\r\n");
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "a #comment b"), QString("a b"));
        // Edits to the rules file apply to the next text without a restart.
        removeHomeFile(UserRegularExpressionsFileName);
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "a #comment b"), QString("a #comment b"));
    }

    void processReFindsEveryMatch()
    {
        TTranslationList list;
        TPreProcessor::ProcessRE("{{Options=+I}}colou?r", "", list, "Color colour COLOR");
        QCOMPARE(list.size(), 3);
        QCOMPARE(list[0].Position, 1);
        QCOMPARE(list[0].Length, 5);
        QCOMPARE(list[1].Position, 7);
        QCOMPARE(list[1].Length, 6);
        QCOMPARE(list[2].Position, 14);
        list.clear();
        TPreProcessor::ProcessRE("colou?r", "", list, "color colour COLOR Color");
        QCOMPARE(list.size(), 2);
        list.clear();
        TPreProcessor::ProcessRE("{{Options=+i, -g}}x.+y", "", list, "x1y2y");
        QCOMPARE(list.size(), 1);
        QCOMPARE(list[0].Length, 3);
        // Dot matches line breaks unless switched off.
        list.clear();
        TPreProcessor::ProcessRE("a.b", "", list, "a\nb");
        QCOMPARE(list.size(), 1);
        list.clear();
        TPreProcessor::ProcessRE("{{Options=-S}}a.b", "", list, "a\nb");
        QCOMPARE(list.size(), 0);
        // Positions count characters, not UTF-8 bytes, also beyond the basic plane.
        list.clear();
        TPreProcessor::ProcessRE("b+", "", list, QString::fromUtf8("\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80 bb"));
        QCOMPARE(list.size(), 1);
        QCOMPARE(list[0].Position, 6);
        QCOMPARE(list[0].Length, 2);
        // A header-less line with blanks in front is a pattern as a whole.
        list.clear();
        TPreProcessor::ProcessRE("  {{Options=+I}}abc", "", list, "{{Options==I}}abc {{Options=+I}}abc");
        QCOMPARE(list.size(), 1);
    }

    void badRulesFailCleanly()
    {
        const auto failure = [](const QString& rule, const QString& text = "some text") {
            TTranslationList list;
            try {
                TPreProcessor::ProcessRE(rule, "", list, text);
            } catch (const ERegExError& e) {
                return e.message();
            }
            return QString("<no error>");
        };
        for (const char* rule : {"{{Options=+Q}}abc", "{{Options=I}}abc", "{{Options=+I abc", "{{Options=+}}abc"})
            QCOMPARE(failure(rule), QString("Invalid Regular Expression Options: ") + rule);
        QVERIFY(logTail(1).endsWith("ProcessRE Exception: Invalid Regular Expression Options: {{Options=+}}abc"));
        QVERIFY(logTail(2).contains("Entered ProcessRE: {{Options=+}}abc"));
        QVERIFY(failure("(abc").startsWith("Error in regular expression at offset 4:"));
        QVERIFY(failure("{{Options=+I}}").startsWith("Error in regular expression"));
        QVERIFY(failure("{{Options=+I}}   ").startsWith("Error in regular expression"));

        // Catastrophic backtracking is stopped by the match limit and reported like a bad rule
        // (bench_filter_text measures how soon).
        const QString msg = failure("(a+)+$", QString(40, 'a') + "!");
        QVERIFY2(msg.startsWith("Regular expression gave up on this text"), qPrintable(msg));
        // A rule that recurses once per character works on a long text.
        {
            TTranslationList deep;
            TPreProcessor::ProcessRE("(?:a|b)+c", "", deep, QString(20000, 'a') + "c");
            QCOMPARE(deep.size(), 1);
            QCOMPARE(deep[0].Length, 20001);
        }

        // A rule that matches the empty string ends, removes nothing, and the next rule still runs.
        writeHomeFile(UserRegularExpressionsFileName, "x*\r\nq\r\n");
        auto p = make();
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "abqc"), QString("abc"));
        TTranslationList list;
        TPreProcessor::ProcessRE("\\b", "", list, QString(100000, 'z'));
        QCOMPARE(list.size(), 0);

        // A failing rule leaves FilterText with the error; the preprocessor keeps working.
        writeHomeFile(UserRegularExpressionsFileName, "q\r\n(broken\r\nb\r\n");
        QVERIFY_THROWS_EXCEPTION(ERegExError, p->FilterText(sapi5.FilterTarget(), "abqc"));
        writeHomeFile(UserRegularExpressionsFileName, "q\r\n");
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "abqc"), QString("abc"));

        // Rules with invalid UTF-8 load as far as they can.
        writeHomeFile(UserRegularExpressionsFileName, "caf\xE9\r\nzap\r\n");
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), "a zap b"), QString("a b"));
    }

    void arbitraryInputNeverBreaksTheFilter()
    {
        // Random texts built from the characters every pass reacts to: nothing crashes, and every
        // position of the result maps into the original in order.
        auto p = make();
        p->FilterSymbols = true;
        p->Translations.Add("a", "xyz", 0, false);
        p->Translations.Add("w", "v", 0, false); // emptied below, as the editor allows
        p->Translations.Modify("w", "", false);
        writeHomeFile(UserRegularExpressionsFileName, "b+\r\n{{Options=+M}}^c\r\nx*\r\n");
        const QString alphabet = QString::fromUtf8("ab cW>|\r\n.-!?:/@=\\wn ews:<>ON200\xC3\xA4\xF0\x9F\x98\x80");
        quint32 seed = 12345;
        const auto next = [&seed] {
            seed = seed * 1664525u + 1013904223u;
            return seed >> 8;
        };
        for (int round = 0; round < 3000; ++round) {
            QString text;
            const int length = int(next() % 60);
            for (int i = 0; i < length; ++i)
                text += alphabet.at(int(next() % alphabet.size()));
            if (round % 7 == 0)
                text = "On x 2005 y@z wrote:\n" + text;
            if (round % 5 == 0)
                text += "http://www.ab/c www.x news:q@r.s\n";
            const QString out = p->FilterText(round % 2 ? sapi4.FilterTarget() : sapi5.FilterTarget(), text);
            int previous = 0;
            for (int i = 0; i <= out.size(); ++i) {
                const int m = p->MapPosition(i);
                QVERIFY2(m >= previous && m <= text.size(),
                         qPrintable(QString("round %1 position %2 -> %3").arg(round).arg(i).arg(m)));
                previous = m;
            }
        }
    }

    void veryLongInputStaysFast()
    {
        auto p = make();
        // One line of a megabyte: quoting, links and shouting code paths all stay linear
        // (bench_filter_text measures how fast).
        QString line;
        while (line.size() < 1000000)
            line += "news:a news:b www.x.org/y SHOUT ";
        const QString out = p->FilterText(sapi5.FilterTarget(), line + "\n");
        QVERIFY(out.size() > 100000);
        // Thousands of attribution lines in a row that introduce nothing.
        QString many;
        for (int i = 0; i < 20000; ++i)
            many += "Someone wrote:\n";
        many += "plain\n";
        QCOMPARE(p->FilterText(sapi5.FilterTarget(), many).count("wrote"), 20000);
    }
};

VORLIX_TEST_MAIN_CORE(TestPreProcessor)
#include "test_preprocessor.moc"
