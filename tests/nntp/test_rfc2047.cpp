// Encoded words in header text: what other newsreaders send must read as written, and what
// Vorlix sends must come back unchanged through the same decoder.
#include "TestSupport.h"

#include "nntp/Rfc2047.h"

#include <QStringDecoder>
#include <QtTest>

class TestRfc2047 : public QObject {
    Q_OBJECT
private slots:
    void decodesQAndB()
    {
        QCOMPARE(DecodeHeaderText(QStringLiteral("=?UTF-8?Q?Gr=C3=BC=C3=9Fe_aus_K=C3=B6ln?=")),
                 QStringLiteral("Grüße aus Köln"));
        QCOMPARE(DecodeHeaderText(QStringLiteral("=?ISO-8859-1?B?SvxyZ2Vu?= <j@example.org>")),
                 QStringLiteral("Jürgen <j@example.org>"));
        // Lower-case encodings and charsets, text around the word kept with its blanks.
        QCOMPARE(DecodeHeaderText(QStringLiteral("Re: =?utf-8?q?caf=C3=A9?= tonight")),
                 QStringLiteral("Re: café tonight"));
        QCOMPARE(DecodeHeaderText(QStringLiteral("=?iso-8859-1?q?=E9t=E9?=")), QStringLiteral("été"));
        // A language after the charset (RFC 2231).
        QCOMPARE(DecodeHeaderText(QStringLiteral("=?UTF-8*de?Q?=C3=A4?=")), QStringLiteral("ä"));
        // Raw bytes: UTF-8 where valid, Latin-1 otherwise, encoded words decoded in both.
        QCOMPARE(DecodeHeaderText(QByteArray("Gr\xC3\xBC\xC3\x9F =?UTF-8?Q?=C3=A9?=")), QStringLiteral("Grüß é"));
        QCOMPARE(DecodeHeaderText(QByteArray("J\xFCrgen")), QStringLiteral("Jürgen"));
        QCOMPARE(DecodeHeaderText(QByteArray("plain text")), QStringLiteral("plain text"));
    }

    void joinsAdjacentWords()
    {
        // Blanks between two encoded words vanish; blanks next to plain text stay.
        QCOMPARE(DecodeHeaderText(QStringLiteral("=?UTF-8?Q?a?= =?UTF-8?Q?b?=")), QStringLiteral("ab"));
        QCOMPARE(DecodeHeaderText(QStringLiteral("=?UTF-8?Q?a?=\r\n\t=?ISO-8859-1?Q?b?=")), QStringLiteral("ab"));
        QCOMPARE(DecodeHeaderText(QStringLiteral("=?UTF-8?Q?a?= x =?UTF-8?Q?b?=")), QStringLiteral("a x b"));
        QCOMPARE(DecodeHeaderText(QStringLiteral("=?UTF-8?Q?a_?= =?UTF-8?Q?b?=")), QStringLiteral("a b"));
        // A character whose bytes are split between two words comes out whole.
        QCOMPARE(DecodeHeaderText(QStringLiteral("=?UTF-8?Q?=C3?= =?UTF-8?Q?=BC?=")), QStringLiteral("ü"));
        QCOMPARE(DecodeHeaderText(QStringLiteral("=?UTF-8?B?w6Q=?= =?UTF-8?B?w7Y=?=")), QStringLiteral("äö"));
    }

    void leavesMalformedWordsAlone()
    {
        const QStringList bad{
            QStringLiteral("=?UTF-8?Q?=ZZ?="),          // bad hex
            QStringLiteral("=?UTF-8?Q?abc=C?="),        // cut escape
            QStringLiteral("=?UTF-8?B?####?="),         // not Base64
            QStringLiteral("=?UTF-8?B?abc?="),          // wrong Base64 length
            QStringLiteral("=?UTF-8?X?abc?="),          // unknown encoding
            QStringLiteral("=?UTF-8?Q?no end"),         // unterminated
            QStringLiteral("=?x-no-such-charset?Q?abc?="),
            QStringLiteral("=??Q?abc?="),               // no charset
        };
        for (const QString& b : bad)
            QCOMPARE(DecodeHeaderText(QStringLiteral("x ") + b + QStringLiteral(" y")),
                     QStringLiteral("x ") + b + QStringLiteral(" y"));
        // A good word next to a bad one is still decoded, and the blank before the bad one kept.
        QCOMPARE(DecodeHeaderText(QStringLiteral("=?UTF-8?Q?=C3=A4?= =?UTF-8?B?####?=")),
                 QStringLiteral("ä =?UTF-8?B?####?="));
        // Charsets beyond UTF-8 and Latin-1: decoded when the platform's decoder knows them.
        QStringDecoder probe("windows-1252");
        if (probe.isValid())
            QCOMPARE(DecodeHeaderText(QStringLiteral("=?windows-1252?Q?=80?=")), QStringLiteral("€"));
        else
            QCOMPARE(DecodeHeaderText(QStringLiteral("=?windows-1252?Q?=80?=")), QStringLiteral("=?windows-1252?Q?=80?="));
    }

    void encodesOnlyWhatNeedsIt()
    {
        // ASCII leaves unchanged, byte for byte, blanks included.
        for (const QString& s : {QStringLiteral("Hello  world "), QStringLiteral(""), QStringLiteral("Re: a.b")})
            QCOMPARE(EncodeHeaderText(s), s);
        QCOMPARE(EncodeMailbox(QStringLiteral("  Ann Smith "), QStringLiteral("ann@example.org")),
                 QStringLiteral("Ann Smith <ann@example.org>"));
        QCOMPARE(EncodeMailbox(QStringLiteral("  "), QStringLiteral("ann@example.org")),
                 QStringLiteral("<ann@example.org>"));

        const QString subject = QStringLiteral("Re: Grüße aus  Köln, bis bald");
        const QString enc = EncodeHeaderText(subject);
        QVERIFY(IsPureAscii(enc));
        QVERIFY(enc.startsWith(QStringLiteral("Re: =?UTF-8?")));
        QVERIFY(enc.endsWith(QStringLiteral(" bis bald")));
        QCOMPARE(DecodeHeaderText(enc), subject);

        // Text that looks like an encoded word is encoded too, so it reads back literally.
        const QString tricky = QStringLiteral("about =?UTF-8?Q?x?= words");
        QCOMPARE(DecodeHeaderText(EncodeHeaderText(tricky)), tricky);

        const QString name = QStringLiteral("Jürgen Müller");
        const QString from = EncodeMailbox(name, QStringLiteral("jm@example.org"));
        QVERIFY(IsPureAscii(from));
        QVERIFY(from.endsWith(QStringLiteral(" <jm@example.org>")));
        QCOMPARE(DecodeHeaderText(from), name + QStringLiteral(" <jm@example.org>"));
        // In a From phrase only letters, digits and a few signs may stand unencoded.
        const QString word = from.left(from.indexOf(QLatin1Char(' ')));
        QVERIFY(!word.contains(QLatin1Char('"')) && !word.contains(QLatin1Char(',')));
    }

    void longAndWideTextStaysWithinWordLimits()
    {
        const QStringList samples{
            QString(40, QChar(0x00E9)) + QStringLiteral(" and more words after it, plain ones"),
            QString::fromUtf8("日本語のニュースグループへようこそ、これは長い件名です。もっと長くします。"),
            QString::fromUtf8("emoji 😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀 end"),
        };
        for (const QString& s : samples) {
            const QString enc = EncodeHeaderText(s);
            QVERIFY(IsPureAscii(enc));
            for (const QString& w : enc.split(QLatin1Char(' ')))
                QVERIFY2(w.size() <= 75, qPrintable(w));
            QCOMPARE(DecodeHeaderText(enc), s);
        }
    }
};

VORLIX_TEST_MAIN_CORE(TestRfc2047)
#include "test_rfc2047.moc"
