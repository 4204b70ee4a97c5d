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
} // namespace

class TestArticleText : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { TestSupport::PrepareEnvironment(); }
    void cleanupTestCase() { TestSupport::CleanUp(); }

    void encodingsAndHtml()
    {
        QCOMPARE(SpokenArticleText(Article("", "Plain text, grüß dich.\nSecond line."), true).Text,
                 QString::fromUtf8("Plain text, grüß dich.\nSecond line."));
        QCOMPARE(SpokenArticleText(Article("Content-Type: text/plain; charset=ISO-8859-1\n"
                                           "Content-Transfer-Encoding: quoted-printable",
                                           "Sch=F6ne Gr=FC=DFe, sehr lange Zeile die umbrochen =\nwird."),
                                   true)
                     .Text,
                 QString::fromUtf8("Schöne Grüße, sehr lange Zeile die umbrochen wird."));
        QCOMPARE(SpokenArticleText(Article("Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: base64",
                                           QString::fromLatin1(QString::fromUtf8("Καλημέρα").toUtf8().toBase64())),
                                   true)
                     .Text,
                 QString::fromUtf8("Καλημέρα"));
        QCOMPARE(SpokenArticleText(Article("Content-Type: text/html; charset=UTF-8",
                                           "<html><head><style>p{}</style></head><body><p>Hello &amp; welcome,"
                                           "<br>caf&#233; &uuml;ber <b>all</b>.</p><script>x()</script></body></html>"),
                                   true)
                     .Text,
                 QString::fromUtf8("Hello & welcome,\ncafé über all."));
        // Alternatives: the plain text is spoken, once.
        const QString alt = SpokenArticleText(
                                Article("MIME-Version: 1.0\nContent-Type: multipart/alternative; boundary=B",
                                        "--B\nContent-Type: text/html\n\n<p>HTML version</p>\n--B\n"
                                        "Content-Type: text/plain\n\nPlain version\n--B--"),
                                true)
                                .Text;
        QCOMPARE(alt, QString("Plain version"));
        // Only the body lines, as some callers have them.
        QCOMPARE(SpokenArticleText({"Just a body.", "Two lines."}, false).Text, QString("Just a body.\nTwo lines."));
        QCOMPARE(SpokenArticleText(Article("", ""), true).Text, QString());
        // Control characters never reach a voice.
        QCOMPARE(SpokenArticleText(Article("", QString("A\x01" "B\x7F" "C")), true).Text, QString("A B C"));
    }

    void attachmentsAndSize()
    {
        const QString image = QString::fromLatin1(QByteArray(3 * 1024 * 1024, 'x').toBase64());
        QStringList imageLines;
        for (qsizetype i = 0; i < image.size(); i += 76)
            imageLines << image.mid(i, 76);
        const TSpokenArticle mixed = SpokenArticleText(
            Article("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"XX\"",
                    "--XX\nContent-Type: text/plain\n\nSee the picture.\n--XX\nContent-Type: image/jpeg; name=\"picture.jpg\"\n"
                    "Content-Disposition: attachment; filename=\"picture.jpg\"\nContent-Transfer-Encoding: base64\n\n"
                        + imageLines.join('\n') + "\n--XX--"),
            true);
        QCOMPARE(mixed.Text, QString("See the picture.\n\nAn attachment of 3 megabytes, picture.jpg, is not read."));
        QCOMPARE(mixed.Skipped, QStringList{"An attachment of 3 megabytes, picture.jpg, is not read."});

        // uuencode and yEnc inside a plain body, and a long base64 run without any headers.
        QStringList uu{"Here it is:", "begin 644 notes.zip"};
        for (int i = 0; i < 20; ++i)
            uu << QStringLiteral("M") + QString(60, '0');
        uu << "`" << "end" << "Bye.";
        QCOMPARE(SpokenArticleText(Article("", uu.join('\n')), true).Text,
                 QString("Here it is:\nAn attachment of 900 bytes, notes.zip, is not read.\nBye."));
        const QString y = "Before.\n=ybegin line=128 size=2500000 name=song.mp3\n" + QString(128, 'k') + "\n=yend size=2500000\nAfter.";
        QCOMPARE(SpokenArticleText(Article("", y), true).Text,
                 QString("Before.\nAn attachment of 2 megabytes, song.mp3, is not read.\nAfter."));
        QCOMPARE(SpokenArticleText(imageLines.mid(0, 40), false).Text, QString("An attachment of 2 kilobytes is not read."));

        // Over a megabyte: cut at a line end, the rest announced.
        QStringList big;
        while (big.join('\n').size() < 1500000)
            big << QStringLiteral("A line of the long article that goes on and on for a while.");
        QElapsedTimer t;
        t.start();
        const QString text = SpokenArticleText(Article("", big.join('\n')), true).Text;
        qDebug("a 1.5 MB body took %lld ms", static_cast<long long>(t.elapsed()));
        QVERIFY(text.size() <= MaxSpokenText + 100);
        QVERIFY(text.endsWith(QLatin1String("kilobytes, is not read.")));
        QVERIFY(text.contains(QLatin1String("for a while.\nThe rest of this article, ")));

        // Damaged MIME: no closing boundary, a boundary that is never used.
        QCOMPARE(SpokenArticleText(Article("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=Q",
                                           "--Q\nContent-Type: text/plain\n\nStill spoken."),
                                   true)
                     .Text,
                 QString("Still spoken."));
        QVERIFY(SpokenArticleText(Article("Content-Type: multipart/mixed; boundary=NEVER", "Just text."), true)
                    .Text.contains(QLatin1String("Just text.")));
    }
};

VORLIX_TEST_MAIN_CORE(TestArticleText)
#include "test_article_text.moc"
