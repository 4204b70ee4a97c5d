// Reading articles in the real main window against the sample news server in this process:
// the header block above the body, clickable addresses, quote colours, the fixed-width font
// option, dates in the reader's own zone, and the attribution line of a reply.
#include "news_window_rig.h"

#include "SampleNewsServer.h"
#include "ScriptedWindows.h"
#include "gui/app/MessagePane.h"
#include "gui/nntp/PostReplyUnit.h"
#include "gui/prefs/NewsgroupPreferencesUnit.h"

#include <QAction>
#include <QCheckBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocumentFragment>
#include <QScopeGuard>
#include <QTextLayout>
#include <ctime>

using namespace NewsRig;

namespace {
const QString kGroup = QStringLiteral("alt.reading.test");

QByteArray Article(const QByteArray& subject, const QByteArray& from, const QByteArray& id, const QByteArray& body,
                   const QByteArray& date = "-1d 10:00")
{
    return "From: " + from + "\nNewsgroups: " + kGroup.toUtf8() + "\nSubject: " + subject + "\nDate: " + date
        + "\nMessage-ID: " + id + "\n\n" + body;
}

// The body's block that holds the text, and the colour the pane gave it.
QTextBlock BlockWith(QTextBrowser* body, const QString& text)
{
    for (QTextBlock b = body->document()->begin(); b.isValid(); b = b.next()) {
        if (b.text() == text)
            return b;
    }
    return {};
}

QColor ColourOf(const QTextBlock& block)
{
    const QList<QTextLayout::FormatRange> f = block.layout()->formats();
    return f.isEmpty() ? QColor() : f.first().format.foreground().color();
}

struct Reading {
    TScopedScriptedWindows dialogs;
    TSampleNewsServer server;
    Window w;

    Reading() { server.AddGroup(kGroup); }
    bool Start()
    {
        if (!server.Listen())
            return false;
        WriteConfig(QStringLiteral("127.0.0.1:%1").arg(server.Port()), {kGroup});
        if (!w.Open())
            return false;
        w.Select(kGroup);
        return w.WaitIdle();
    }
    bool Show(const QString& subject)
    {
        TArticleRow row = w.ItemBySubject(subject);
        if (!row)
            return false;
        w.SetCurrent(row);
        // The header block comes with the body.
        return w.WaitIdle() && TestSupport::WaitFor([this, subject] {
                   return !Pane()->Header->isHidden() && Pane()->Header->text().contains(subject.toHtmlEscaped());
               });
    }
    TMessagePane* Pane() const { return TestSupport::Part<TMessagePane>(w.Form.get(), "pnlMessage"); }
    QTextBrowser* Body() const { return Pane()->Body; }
};
} // namespace

class TestReading : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetProfile(); }

    void headerBlockLinksAndQuoteColours()
    {
        Reading r;
        QByteArray body = "My answer.\n> > Said first.\n> Said second.\nSee https://example.org/trail, or "
                          "www.example.net/map.\n";
        for (int i = 0; i < 400; ++i)
            body += "Filler line " + QByteArray::number(i) + "\n";
        body += "> Quoted at the very end.\n";
        QVERIFY(r.server.AddArticle(Article("Trail report", "Eve Smith <eve@example.org>", "<t1@x>", body)));
        QVERIFY(r.server.AddArticle(Article("Short note", "bob@example.org (Bob)", "<t2@x>", "Plain.\n")));
        QVERIFY(r.Start());
        QVERIFY(r.Pane()->Header->isHidden());

        QVERIFY(r.Show("Trail report"));
        const TArticleClass* record = TThreadView::RecordOf(r.w.ItemBySubject("Trail report"));
        QLabel* header = r.Pane()->Header;
        QVERIFY(header->isVisible());
        const QString shown = QTextDocumentFragment::fromHtml(header->text()).toPlainText();
        for (const QString& part : {QStringLiteral("From:"), QStringLiteral("Eve Smith <eve@example.org>"),
                                    QStringLiteral("Date:"), TArticleClass::DateText(record->Date),
                                    QStringLiteral("Newsgroups:"), kGroup, QStringLiteral("Subject:"),
                                    QStringLiteral("Trail report")})
            QVERIFY2(shown.contains(part), qPrintable(part + " missing in: " + shown));
        QVERIFY(shown.indexOf("From:") < shown.indexOf("Date:") && shown.indexOf("Date:") < shown.indexOf("Newsgroups:")
                && shown.indexOf("Newsgroups:") < shown.indexOf("Subject:"));
        // The body is the article alone: nothing of the header block is in it.
        QVERIFY(r.w.Memo().startsWith("My answer.\n"));

        // Addresses are links up to their last character, the closing punctuation left out.
        QTextBrowser* memo = r.Body();
        const QString text = r.w.Memo();
        const struct {
            QString shown, href;
        } links[] = {{"https://example.org/trail", "https://example.org/trail"},
                     {"www.example.net/map", "http://www.example.net/map"}};
        for (const auto& l : links) {
            const int at = int(text.indexOf(l.shown));
            QTextCursor inside(memo->document());
            inside.setPosition(at + 1);
            QCOMPARE(inside.charFormat().anchorHref(), l.href);
            QCOMPARE(memo->anchorAt(memo->cursorRect(inside).center()), l.href);
            QTextCursor after(memo->document());
            after.setPosition(at + int(l.shown.size()) + 1);
            QVERIFY(!after.charFormat().isAnchor());
        }

        // Quote levels have colours of their own; unquoted lines keep the text colour.
        const bool dark = memo->palette().color(QPalette::Base).lightness() < 128;
        QCOMPARE(ColourOf(BlockWith(memo, "> Said second.")), TMessagePane::QuoteColour(1, dark));
        QCOMPARE(ColourOf(BlockWith(memo, "> > Said first.")), TMessagePane::QuoteColour(2, dark));
        QVERIFY(TMessagePane::QuoteColour(1, dark) != TMessagePane::QuoteColour(2, dark));
        QVERIFY(!ColourOf(BlockWith(memo, "My answer.")).isValid());
        // Far below the view a quote is coloured once it is scrolled to.
        QVERIFY(!ColourOf(BlockWith(memo, "> Quoted at the very end.")).isValid());
        memo->verticalScrollBar()->setValue(memo->verticalScrollBar()->maximum());
        QTRY_COMPARE(ColourOf(BlockWith(memo, "> Quoted at the very end.")), TMessagePane::QuoteColour(1, dark));

        // The next article brings its own header; leaving the group empties the pane.
        QVERIFY(r.Show("Short note"));
        const QString second = QTextDocumentFragment::fromHtml(header->text()).toPlainText();
        QVERIFY(second.contains("bob@example.org (Bob)") && second.contains("Short note"));
        QVERIFY(!second.contains("Eve Smith"));
        QCOMPARE(r.w.Memo(), QString("Plain."));
        r.w.Select(QStringLiteral("127.0.0.1:%1").arg(r.server.Port()));
        QVERIFY(r.w.WaitIdle());
        QTRY_VERIFY(r.Pane()->Header->isHidden());
        QVERIFY(r.w.Memo().isEmpty());
    }

    void fixedWidthFontIsAnOption()
    {
        Reading r;
        QVERIFY(r.server.AddArticle(Article("Table", "eve@example.org", "<f1@x>", "a   b\n")));
        QVERIFY(r.Start());
        const QString fixedFamily = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
        QVERIFY(r.Body()->font().family() != fixedFamily);

        // Turned on in "Vorlix Options", stored, and in use at once.
        bool seen = false;
        r.dialogs.DialogHandlers.push_back([&](QDialog* d) {
            auto* prefs = qobject_cast<TNewsgroupPreferences*>(d);
            if (!prefs)
                return int(QDialog::Rejected);
            prefs->show();
            seen = !prefs->chkFixedFont->isChecked() && !prefs->chkFixedFont->text().isEmpty();
            prefs->chkFixedFont->setChecked(true);
            prefs->OkClick();
            return int(prefs->result());
        });
        r.w.Form->Command("NewsreaderOptions", TCommandPlace::Menu)->trigger();
        QVERIFY(seen);
        QCOMPARE(r.w.Form->Store->GetValue("MessageFixedFont").toBool(), true);
        QCOMPARE(r.Body()->font().family(), fixedFamily);

        // A new session starts with it.
        r.w.Form->close();
        r.w.Form.reset();
        QVERIFY(r.w.Open());
        QCOMPARE(r.Body()->font().family(), fixedFamily);
    }

    // Under a fixed zone one hour east of UTC: an article written at 09:00 +0900 was sent at
    // 01:00 local time, and one written the evening before at 20:30 -0500 at 02:30, later.
    void datesInTheReadersZone()
    {
        const QByteArray oldTz = qgetenv("TZ");
        qputenv("TZ", "CET-1");
        tzset();
        auto restore = qScopeGuard([&] {
            if (oldTz.isNull())
                qunsetenv("TZ");
            else
                qputenv("TZ", oldTz);
            tzset();
        });
        const QDate day = QDate::currentDate().addDays(-1);
        const QLocale c = QLocale::c();
        const QByteArray east = c.toString(day, "ddd, dd MMM yyyy").toLatin1() + " 09:00:00 +0900";
        const QByteArray west = c.toString(day.addDays(-1), "ddd, dd MMM yyyy").toLatin1() + " 20:30:00 -0500 (EST)";
        Reading r;
        QVERIFY(r.server.AddArticle(Article("From Tokyo", "a@example.jp", "<z1@x>", "East.\n", east)));
        QVERIFY(r.server.AddArticle(Article("From New York", "b@example.com", "<z2@x>", "West.\n", west)));
        QVERIFY(r.Start());

        const TDateTime tokyo = *TDateTime::Encode(day.year(), day.month(), day.day(), 1, 0, 0);
        const TDateTime newYork = *TDateTime::Encode(day.year(), day.month(), day.day(), 2, 30, 0);
        const std::vector<TArticleRow> rows = r.w.Items();
        QCOMPARE(int(rows.size()), 2);
        // Sorted by the moment of writing: Tokyo first.
        QCOMPARE(TThreadView::RecordOf(rows[0])->Subject, QString("From Tokyo"));
        QCOMPARE(TThreadView::RecordOf(rows[1])->Subject, QString("From New York"));
        QCOMPARE(TThreadView::RecordOf(rows[0])->Date.Value, tokyo.Value);
        QCOMPARE(TThreadView::RecordOf(rows[1])->Date.Value, newYork.Value);
        QCOMPARE(rows[1]->text(TThreadView::ColDate), TArticleClass::DateText(newYork));

        // The header block shows the local time; the file keeps the local-time text.
        QVERIFY(r.Show("From New York"));
        QVERIFY(QTextDocumentFragment::fromHtml(r.Pane()->Header->text())
                    .toPlainText()
                    .contains(TArticleClass::DateText(newYork)));
        TConfigClass* group = r.w.Entry(kGroup);
        r.w.Form->close();
        const QString stored = FileLines(group->FilePath()).join('\n');
        QVERIFY2(stored.contains("|" + TArticleClass::DateText(tokyo) + "|"), qPrintable(stored));
        QVERIFY2(stored.contains("|" + TArticleClass::DateText(newYork) + "|"), qPrintable(stored));
    }

    void replyStartsWithAnAttribution()
    {
        Reading r;
        QVERIFY(r.server.AddArticle(Article("Lunch", "\"Eve Smith\" <eve@example.org>", "<r1@x>", "Noon?\n")));
        QVERIFY(r.server.AddArticle(Article("Empty", "Bob <bob@example.org>", "<r2@x>", "")));
        QVERIFY(r.Start());
        r.w.Form->Store->SetValue("EmailAddress", "tester@example.org");
        auto replyBody = [&r] {
            QString body;
            r.dialogs.DialogHandlers.push_back([&body](QDialog* d) {
                auto* post = qobject_cast<TPostReply*>(d);
                if (!post)
                    return int(QDialog::Rejected);
                post->show();
                body = post->BodyEdit()->toPlainText();
                return int(QDialog::Rejected);
            });
            r.w.Form->Command("Reply", TCommandPlace::Toolbar)->trigger();
            return body;
        };

        QVERIFY(r.Show("Lunch"));
        QCOMPARE(replyBody(), QString("\n\nEve Smith wrote:\n> Noon?"));
        // An empty pane quotes nothing: no attribution and no lone "> ".
        QVERIFY(r.Show("Empty"));
        QVERIFY(r.w.Memo().isEmpty());
        QCOMPARE(replyBody(), QString("\n"));
    }
};

VORLIX_TEST_MAIN(TestReading)
#include "test_reading.moc"
