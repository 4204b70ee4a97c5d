#include "gui/app/MessagePane.h"

#include "gui/app/DesktopDocuments.h"

#include <QFontDatabase>
#include <QLabel>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextBrowser>
#include <QTextCursor>
#include <QVBoxLayout>

namespace {
// A body with more addresses than this keeps the rest as plain text: marking them all would
// slow a pathological article down for nothing.
constexpr int MaxLinks = 2000;

bool darkBackground(const QWidget* w)
{
    return w->palette().color(QPalette::Base).lightness() < 128;
}

// A block whose quote colour has been set (block user state).
constexpr int Coloured = 1;
}

TMessagePane::TMessagePane(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("pnlMessage"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Header = new QLabel(this);
    Header->setObjectName(QStringLiteral("lblMessageHeader"));
    Header->setTextFormat(Qt::RichText);
    Header->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Header->setWordWrap(true);
    Header->setContentsMargins(6, 4, 6, 4);
    Header->setAutoFillBackground(true);
    Header->setBackgroundRole(QPalette::AlternateBase);
    Header->setAccessibleName(QStringLiteral("Message header"));
    Header->hide();
    layout->addWidget(Header);

    Body = new QTextBrowser(this);
    Body->setObjectName(QStringLiteral("memoMessage"));
    Body->setAccessibleName(QStringLiteral("Message"));
    Body->setOpenLinks(false);
    Body->setUndoRedoEnabled(false);
    layout->addWidget(Body, 1);
    // Quotes are coloured as they come into view: colouring a long body at once would cost
    // more than showing it.
    connect(Body->verticalScrollBar(), &QScrollBar::valueChanged, this, &TMessagePane::colourVisibleQuotes);
    Body->viewport()->installEventFilter(this);
    connect(Body, &QTextBrowser::anchorClicked, this, [](const QUrl& url) { OpenDocument(url.toString()); });
}

void TMessagePane::SetHeader(const QString& from, const QString& date, const QString& newsgroups,
                             const QString& subject)
{
    QString html = QStringLiteral("<table cellspacing=\"0\" cellpadding=\"1\">");
    auto row = [&html](const char* name, const QString& value) {
        html += QStringLiteral("<tr><td><b>%1:</b>&nbsp;</td><td>%2</td></tr>")
                    .arg(QLatin1String(name), value.left(1000).toHtmlEscaped());
    };
    row("From", from);
    row("Date", date);
    row("Newsgroups", newsgroups);
    row("Subject", subject);
    Header->setText(html + QStringLiteral("</table>"));
    Header->setAccessibleDescription(QStringLiteral("From: %1, Date: %2, Newsgroups: %3, Subject: %4")
                                         .arg(from, date, newsgroups, subject));
    Header->show();
}

void TMessagePane::SetBody(const QString& text)
{
    Body->setPlainText(text);
    markLinks();
    colourVisibleQuotes();
}

bool TMessagePane::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Body->viewport() && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        colourVisibleQuotes();
    return QWidget::eventFilter(watched, event);
}

void TMessagePane::colourVisibleQuotes()
{
    QTextDocument* doc = Body->document();
    const int bottom = Body->viewport()->height();
    const bool dark = darkBackground(Body);
    // A screen of text past the view as well, so paging down shows coloured lines at once.
    for (QTextBlock block = Body->cursorForPosition(QPoint(0, 0)).block(); block.isValid(); block = block.next()) {
        if (Body->cursorRect(QTextCursor(block)).top() > 2 * bottom + 1)
            break;
        if (block.userState() == Coloured)
            continue;
        block.setUserState(Coloured);
        const QString text = block.text();
        const int level = QuoteLevel(text);
        if (level == 0)
            continue;
        QTextCharFormat colour;
        colour.setForeground(QuoteColour(level, dark));
        block.layout()->setFormats({QTextLayout::FormatRange{0, int(text.size()), colour}});
        doc->markContentsDirty(block.position(), block.length());
    }
}

void TMessagePane::Clear()
{
    Body->clear();
    Header->clear();
    Header->hide();
}

void TMessagePane::SetFixedFont(bool fixed)
{
    Body->setFont(fixed ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : font());
}

int TMessagePane::QuoteLevel(QStringView line)
{
    int level = 0;
    for (QChar c : line) {
        if (c == QLatin1Char('>'))
            ++level;
        else if (c != QLatin1Char(' '))
            break;
    }
    return level;
}

QColor TMessagePane::QuoteColour(int level, bool dark)
{
    static const QColor onLight[] = {QColor(0x1f, 0x4e, 0xa8), QColor(0x1e, 0x7b, 0x34), QColor(0x9a, 0x3b, 0x0c),
                                     QColor(0x7a, 0x2a, 0x9a)};
    static const QColor onDark[] = {QColor(0x7f, 0xb2, 0xff), QColor(0x7f, 0xd6, 0x8f), QColor(0xff, 0xb0, 0x7a),
                                    QColor(0xd9, 0x9b, 0xf2)};
    const int i = (qMax(level, 1) - 1) % 4;
    return dark ? onDark[i] : onLight[i];
}

void TMessagePane::markLinks()
{
    static const QRegularExpression address(
        QStringLiteral("\\b(?:(?:https?|ftp)://|www\\.|mailto:)[^\\s<>\"]+"),
        QRegularExpression::UseUnicodePropertiesOption);
    const QString text = Body->toPlainText();
    QTextCursor cursor(Body->document());
    bool editing = false;
    int count = 0;
    for (auto it = address.globalMatch(text); it.hasNext() && count < MaxLinks;) {
        const QRegularExpressionMatch m = it.next();
        QString shown = m.captured();
        // Punctuation closing a sentence or a bracket is not part of the address.
        while (!shown.isEmpty() && QStringLiteral(".,;:!?)]}'").contains(shown.back()))
            shown.chop(1);
        if (shown.size() < 8)
            continue;
        const QString href =
            shown.startsWith(QLatin1String("www."), Qt::CaseInsensitive) ? QStringLiteral("http://") + shown : shown;
        if (!editing) {
            cursor.beginEditBlock();
            editing = true;
        }
        cursor.setPosition(int(m.capturedStart()));
        cursor.setPosition(int(m.capturedStart() + shown.size()), QTextCursor::KeepAnchor);
        QTextCharFormat link;
        link.setAnchor(true);
        link.setAnchorHref(href);
        link.setFontUnderline(true);
        link.setForeground(palette().color(QPalette::Link));
        cursor.mergeCharFormat(link);
        ++count;
    }
    if (editing)
        cursor.endEditBlock();
}
