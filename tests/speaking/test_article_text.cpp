// The text spoken for an article: transfer encodings and charsets, HTML, alternatives,
// attachments of every kind left out with a sentence, a body over a megabyte, damaged MIME.
#include "TestSupport.h"

#include "speaking/ArticleText.h"

#include <QElapsedTimer>

namespace {
// An article as the speaking processor delivers it: header lines, an empty line, body lines.
QStringList Article(const QString& headers, const QString& body)
{
    return (QStringLiteral("From: Eve <eve@example.org>\nSubject: Test\n") + headers + QStringLiteral("\n\n") + body)
        .split(QLatin1Char('\n'));
}

QString Spoken(const QString& headers, const QString& body)
{
    return SpokenArticleText(Article(headers, body), true).Text;
}

QString Base64Lines(const QByteArray& data)
{
    const QString b64 = QString::fromLatin1(data.toBase64());
    QStringList lines;
    for (qsizetype i = 0; i < b64.size(); i += 76)
        lines << b64.mid(i, 76);
    return lines.join(QLatin1Char('\n'));
}

bool HasControls(const QString& text)
{
    for (QChar c : text)
        if ((c.unicode() < 0x20 && c != QLatin1Char('\n') && c != QLatin1Char('\t')) || c.unicode() == 0x7F)
            return true;
    return false;
}
} // namespace

class TestArticleText : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { TestSupport::PrepareEnvironment(); }
    void cleanupTestCase() { TestSupport::CleanUp(); }

    void charsetsAndEncodings()
    {
        QCOMPARE(Spoken("", "Plain text, grüß dich.\nSecond line."), QString("Plain text, grüß dich.\nSecond line."));
        QCOMPARE(Spoken("Content-Type: text/plain; charset=ISO-8859-1\nContent-Transfer-Encoding: quoted-printable",
                        "Sch=F6ne Gr=FC=DFe, sehr lange Zeile die umbrochen =\nwird."),
                 QString("Schöne Grüße, sehr lange Zeile die umbrochen wird."));
        QCOMPARE(Spoken("Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: base64",
                        Base64Lines(QString("Καλημέρα, κόσμε").toUtf8())),
                 QString("Καλημέρα, κόσμε"));
        QCOMPARE(Spoken("Content-Type: text/plain; charset=windows-1252\nContent-Transfer-Encoding: quoted-printable",
                        "=93Quote=94 =80 5"),
                 QString("“Quote” € 5"));
        // 8-bit lines came decoded already: their declared charset does not apply twice.
        QCOMPARE(Spoken("Content-Type: text/plain; charset=ISO-8859-1\nContent-Transfer-Encoding: 8bit", "Grüße"),
                 QString("Grüße"));
        // An unknown or missing charset on 8-bit bytes keeps them as Latin-1.
        QCOMPARE(Spoken("Content-Type: text/plain; charset=x-unheard-of\nContent-Transfer-Encoding: quoted-printable",
                        "Gr=FC=DFe"),
                 QString("Grüße"));

        QCOMPARE(SpokenArticleText({"Just a body.", "Two lines."}, false).Text, QString("Just a body.\nTwo lines."));
        QCOMPARE(SpokenArticleText(Article("", ""), true).Text, QString());
        QCOMPARE(SpokenArticleText({}, false).Text, QString());
        QCOMPARE(Spoken("", QString("A\x01" "B\x7F" "C") + QChar(0) + "D"), QString("A B C D"));
        // Base64 text that decodes to binary garbage still yields no control characters.
        QVERIFY(!HasControls(Spoken("Content-Transfer-Encoding: base64", "AAECAwQFBgcICQoLDA0ODxAREhM=\n!!notbase64")));
    }

    void htmlAndAlternatives()
    {
        QCOMPARE(Spoken("Content-Type: text/html; charset=UTF-8",
                        "<html><head><title>T</title><style>p{}</style></head><body><p>Hello &amp; welcome,"
                        "<br>caf&#233; &uuml;ber <b>all</b>.</p><p>a &lt; b,&#x2014;x &#150; y</p><script>x()</script>"
                        "</body></html>"),
                 QString("Hello & welcome,\ncafé über all.\n\na < b,—x – y"));
        QCOMPARE(HtmlToText("<pre>  two\n  lines</pre>if a < b && c<d"), QString("two\n  lines\nif a < b && c<d"));
        QCOMPARE(HtmlToText("before<script>never closed <p>hidden"), QString("before"));

        const QString plainLast = "--B\nContent-Type: text/html\n\n<p>HTML version</p>\n--B\n"
                                  "Content-Type: text/plain\n\nPlain version\n--B--";
        QCOMPARE(Spoken("MIME-Version: 1.0\nContent-Type: multipart/alternative; boundary=B", plainLast),
                 QString("Plain version"));
        QCOMPARE(Spoken("MIME-Version: 1.0\nContent-Type: multipart/alternative; boundary=B",
                        "--B\nContent-Type: text/enriched\n\n<bold>rich</bold>\n--B\n"
                        "Content-Type: text/html\n\n<p>Only HTML</p>\n--B--"),
                 QString("Only HTML"));

        // Broken markup in bulk takes linear time: nothing here may hang.
        QElapsedTimer t;
        t.start();
        const QString broken = QString("<a href='x' ").repeated(100000) + QString("&#99999999999;&").repeated(20000);
        QVERIFY(HtmlToText(broken).endsWith("&#99999999999;&"));
        QVERIFY(Spoken("Content-Type: text/html", broken).startsWith("<a href='x' <a href"));
        QCOMPARE(HtmlToText(QString("<script>").repeated(50000) + "x"), QString());
        QCOMPARE(HtmlToText(QString("<!--").repeated(100000)), QString());
        qDebug("broken HTML took %lld ms", static_cast<long long>(t.elapsed()));
    }

    void attachments()
    {
        const QString mixed = "--XX\nContent-Type: text/plain\n\nSee the picture.\n--XX\n"
                              "Content-Type: image/jpeg; name=\"picture.jpg\"\n"
                              "Content-Disposition: attachment; filename=\"C:\\\\pics\\\\picture.jpg\"\n"
                              "Content-Transfer-Encoding: base64\n\n"
                              + Base64Lines(QByteArray(2 * 1024 * 1024 + 300 * 1024, 'x'))
                              + "\n--XX\nContent-Type: application/octet-stream\nContent-Transfer-Encoding: base64\n\n"
                              + Base64Lines(QByteArray(1500, 'y'))
                              + "\n--XX\nContent-Type: text/plain\nContent-Disposition: attachment; filename=notes.txt\n\n"
                                "a\n--XX\nContent-Type: message/rfc822\n\nSubject: inner\nContent-Type: multipart/mixed; "
                                "boundary=IN\n\n--IN\n\nForwarded text.\n--IN\nContent-Type: audio/ogg\n\nOggS1\n--IN--\n"
                                "--XX\nContent-Type: text/x-diff\n\n-old\n+new\n--XX--";
        const TSpokenArticle a = SpokenArticleText(Article("Content-Type: multipart/mixed; boundary=\"XX\"", mixed), true);
        const QStringList skipped{"An attachment of 2 megabytes, picture.jpg, is not read.",
                                  "An attachment of 1 kilobyte is not read.",
                                  "An attachment of 1 byte, notes.txt, is not read.",
                                  "An attachment of 5 bytes is not read."};
        QCOMPARE(a.Skipped, skipped);
        QCOMPARE(a.Text, "See the picture.\n\n" + skipped.mid(0, 3).join("\n\n") + "\n\nForwarded text.\n\n" + skipped[3]
                             + "\n\n-old\n+new");
        QCOMPARE(SkippedSentence(1, ""), QString("An attachment of 1 byte is not read."));
        QCOMPARE(SkippedSentence(1536 * 1024, QString(300, 'n') + "\x01"),
                 "An attachment of 2 megabytes, " + QString(100, 'n') + ", is not read.");
    }

    void filesInsideText()
    {
        QStringList uu{"Here it is:", "begin 644 notes.zip"};
        for (int i = 0; i < 20; ++i)
            uu << "M" + QString(60, '0');
        uu << "%86)C9```" << "`" << "end" << "Bye.";
        const TSpokenArticle u = SpokenArticleText(Article("", uu.join('\n')), true);
        QCOMPARE(u.Text, QString("Here it is:\nAn attachment of 905 bytes, notes.zip, is not read.\nBye."));
        QCOMPARE(u.Skipped.size(), 1);
        // The later parts of a split uuencoded post have no begin line.
        QCOMPARE(SpokenArticleText(uu.mid(2, 20) + QStringList{"Piece 2 of 3"}, false).Text,
                 QString("An attachment of 900 bytes is not read.\nPiece 2 of 3"));
        // A begin line in prose is prose.
        QCOMPARE(SpokenArticleText({"begin 644 is the mode we use", "end of story"}, false).Text,
                 QString("begin 644 is the mode we use\nend of story"));

        const QString y = "Before.\n=ybegin part=1 line=128 size=2500000 name=song one.mp3\n=ypart begin=1 end=640\n"
                          + QString::fromLatin1("\x01\xE9\xFF=J") + QString(124, 'k') + "\n=yend size=640 part=1\nAfter.";
        QCOMPARE(Spoken("", y), QString("Before.\nAn attachment of 2 megabytes, song one.mp3, is not read.\nAfter."));
        // Cut off before its end line: the rest is the file.
        QCOMPARE(Spoken("", "Text.\n=ybegin line=128 size=10 name=a.bin\n\x02\x03"),
                 QString("Text.\nAn attachment of 10 bytes, a.bin, is not read."));
        QCOMPARE(SpokenArticleText(Base64Lines(QByteArray(3000, 'z')).split('\n') + QStringList{"Signed."}, false).Text,
                 QString("An attachment of 3 kilobytes is not read.\nSigned."));
    }

    void longAndDamaged()
    {
        const QString line = QStringLiteral("A line of the long article that goes on and on for a while.");
        QStringList big;
        for (qsizetype size = 0; size < 1500000; size += line.size() + 1)
            big << line;
        const QString body = big.join('\n');
        QElapsedTimer t;
        t.start();
        const QString text = SpokenArticleText(Article("", body), true).Text;
        qDebug("a 1.5 MB body took %lld ms", static_cast<long long>(t.elapsed()));
        const qsizetype cut = text.lastIndexOf("\nThe rest of this article, ");
        QVERIFY(cut > MaxSpokenText - 100 && cut <= MaxSpokenText);
        QCOMPARE(text.left(cut), body.left(cut));
        QCOMPARE(text.mid(cut + 1),
                 QString("The rest of this article, %1 kilobytes, is not read.").arg((body.size() - cut + 512) / 1024));
        t.restart();
        QCOMPARE(SpokenArticleText(big.mid(0, 17000), false).Text.size(), 17000 * (line.size() + 1) - 1);
        qDebug("a 1 MB body without headers took %lld ms", static_cast<long long>(t.elapsed()));

        // No closing boundary, a boundary never used, no boundary at all, headers that are not headers.
        QCOMPARE(Spoken("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=Q", "--Q\nContent-Type: text/plain\n\nStill spoken."),
                 QString("Still spoken."));
        QCOMPARE(Spoken("Content-Type: multipart/mixed; boundary=NEVER", "Just text."), QString("Just text."));
        QCOMPARE(Spoken("Content-Type: multipart/mixed", "Not split."), QString("Not split."));
        QCOMPARE(SpokenArticleText({"no header here", "", "The body."}, true).Text, QString("The body."));
        QCOMPARE(Spoken("X-Long: " + QString(3000000, 'h') + "\nContent-Type: text/plain; charset=" + QString(100000, 'c')
                            + "\nContent-Transfer-Encoding: quoted-printable",
                        "Fine=21"),
                 QString("Fine!"));
        // Parts nested past any sense are left out as one attachment.
        QString deep;
        for (int i = 0; i < 3000; ++i)
            deep += QString("Content-Type: multipart/mixed; boundary=b%1\n\n--b%1\n").arg(i);
        const TSpokenArticle d = SpokenArticleText(Article("", "x").mid(0, 2) + (deep + "\nDeep.").split('\n'), true);
        QCOMPARE(d.Skipped.size(), 1);
        QVERIFY(d.Text.startsWith("An attachment of ") && !d.Text.contains("Content-Type"));
    }
};

VORLIX_TEST_MAIN_CORE(TestArticleText)
#include "test_article_text.moc"
