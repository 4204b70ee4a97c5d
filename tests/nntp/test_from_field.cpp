// The author of a downloaded header, read from the From field of real-world overview lines:
// quoted names with escapes, comments, encoded words, raw 8-bit bytes, groups, fields without
// an address and plain garbage. Every case goes through the real overview-line parser.
#include "TestSupport.h"

#include "nntp/FromField.h"
#include "nntp/NNTPProcessor.h"

#include <QtTest>

class TestFromField : public QObject {
    Q_OBJECT
private slots:
    void authorOfOverviewLine_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QString>("author");
        auto row = [](const char* name, const QByteArray& field, const QString& author) {
            QTest::newRow(name) << field << author;
        };
        // A quoted display name: unquoted and unescaped, comments around it dropped.
        row("escaped quotes", "\"Eve \\\"the lurker\\\" Smith\" <eve@example.com>", "Eve \"the lurker\" Smith");
        row("escaped backslash", "\"C:\\\\Users\\\\eve\" <eve@example.com>", "C:\\Users\\eve");
        row("plain quoted", "\"Ann Example\" <ann@example.org>", "Ann Example");
        row("empty quoted", "\"\" <nobody@example.org>", "");
        row("blank quoted", "\"   \" <nobody@example.org>", "");
        row("comment after name", "\"Ann Example\" (at work) <ann@example.org>", "Ann Example");
        row("comment before name", "(\"old name\") \"New Name\" <n@example.org>", "New Name");
        row("parenthesis inside quotes", "\"Eve (not a comment)\" <eve@example.com>", "Eve (not a comment)");
        row("partly quoted phrase", "Eve \"the lurker\" Smith <eve@example.com>", "Eve the lurker Smith");
        row("first of two mailboxes", "\"Ann\" <a@example.org>, \"Bob\" <b@example.org>", "Ann");
        row("unclosed angle", "\"Eve\" <eve@example.com", "Eve");
        row("quoted group name", "\"Hiking Club\": ann@example.org, bob@example.org;", "Hiking Club");
        row("text like an encoded word", "\"a =? b ?= c\" <a@example.org>", "a =? b ?= c");
        // Encoded words, in quoted names too (common, though the standard forbids it).
        row("encoded in quotes", "\"=?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?=\" <jm@example.de>",
            QString::fromUtf8("Jürgen Müller"));
        row("padded base64 words", "\"=?UTF-8?B?w6Q=?= =?UTF-8?B?w7Y=?=\" <a@example.org>", QString::fromUtf8("äö"));
        row("bad word kept", "\"x =?UTF-8?B?####?= y\" <a@example.org>", "x =?UTF-8?B?####?= y");
        row("unknown charset kept", "\"=?x-unknown?Q?abc?=\" <a@example.org>", "=?x-unknown?Q?abc?=");
        // Raw 8-bit names: UTF-8 where valid, else Latin-1.
        row("latin-1 bytes", "\"J\xfcrgen M\xfcller\" <j@example.de>", QString::fromUtf8("Jürgen Müller"));
        row("utf-8 bytes", "\"J\xc3\xbcrgen\" <j@example.de>", QString::fromUtf8("Jürgen"));
        // No quoted display name: the whole field, trimmed, encoded words decoded.
        row("name without quotes", "Eve Smith <eve@example.com>", "Eve Smith <eve@example.com>");
        row("address and comment", "  eve@example.com (Eve)  ", "eve@example.com (Eve)");
        row("quote in comment only", "eve@example.com (Eve \"the lurker\")", "eve@example.com (Eve \"the lurker\")");
        row("quote after address", "Eve <eve@example.com> (\"note\")", "Eve <eve@example.com> (\"note\")");
        row("quoted local part", "\"eve.smith\"@example.com", "\"eve.smith\"@example.com");
        row("unquoted group name", "Friends: \"Ann\" <a@example.org>;", "Friends: \"Ann\" <a@example.org>;");
        row("encoded name unquoted", "=?ISO-8859-1?Q?J=F6rg_M=FCller?= <jm@example.org>",
            QString::fromUtf8("Jörg Müller <jm@example.org>"));
        row("latin-1 unquoted", "J\xfcrgen <j@example.de>", QString::fromUtf8("Jürgen <j@example.de>"));
        row("address only", "eve@example.com", "eve@example.com");
        // No address at all, or garbage with quotes: the text between the first two quotes.
        row("quoted name alone", "\"Eve Smith\"", "Eve Smith");
        row("quoted name, empty angle", "\"Eve\" <>", "Eve");
        row("unterminated quote", "\"unterminated <x@example.com>", "unterminated <x@example.com>");
        row("lone quote", "\"", "");
        row("name alone", "Eve", "Eve");
        row("empty", "", "");
        row("blanks", "    ", "");
    }

    void authorOfOverviewLine()
    {
        QFETCH(QByteArray, field);
        QFETCH(QString, author);
        TNntpHeader h;
        bool dateReadable = false;
        TNntpProcessor::ParseOverviewLine(
            "42\tHello\t" + field + "\tSun, 06 Nov 2005 08:49:37 GMT\t<id@example.org>\t<r@example.org>\t99\t3", h,
            dateReadable);
        QCOMPARE(h.From, author);
        // The fields around it keep their places.
        QCOMPARE(h.Subject, QString("Hello"));
        QVERIFY(dateReadable);
        QCOMPARE(h.MessageID, QString("<id@example.org>"));
        QCOMPARE(h.References, QString("<r@example.org>"));
    }

    void garbageNeverBreaksTheParser()
    {
        // Quotes, brackets, comments and escapes in every order and depth, cut at every length:
        // each gives some author without crashing, and text without quotes keeps every character.
        const QByteArray pieces[] = {"\"", "\\", "(", ")", "<", ">", ":", ";", ",", "@", ".", "=?", "?=",
                                     "=?UTF-8?B?", "Eve", " ", "\xfc", "\xc3", "\xef\xb7\x90", "\x01"};
        quint32 seed = 12345;
        for (int n = 0; n < 3000; ++n) {
            QByteArray field;
            const int len = int(seed % 12);
            for (int i = 0; i < len; ++i) {
                seed = seed * 1103515245u + 12345u;
                field += pieces[(seed >> 16) % std::size(pieces)];
            }
            seed = seed * 1103515245u + 12345u;
            const QString text = QString::fromLatin1(field);
            const QString author = FromFieldText(text);
            if (!text.contains(QLatin1Char('"')) && !text.contains(QLatin1String("=?")))
                QCOMPARE(author, text.trimmed());
        }
    }
};

VORLIX_TEST_MAIN_CORE(TestFromField)
#include "test_from_field.moc"
