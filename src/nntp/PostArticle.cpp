#include "nntp/PostArticle.h"

#include "news/ArticleUnit.h"
#include "nntp/NNTPProcessor.h"
#include "nntp/Rfc2047.h"

QString TPostArticle::ReplySubject(const QString& subject)
{
    if (subject.trimmed().toUpper().startsWith(QLatin1String("RE")))
        return subject;
    return QStringLiteral("Re: ") + subject;
}

QString TPostArticle::ReplyReferences(const TArticleClass& article)
{
    QString refs = article.References.trimmed();
    if (!refs.isEmpty())
        refs += QLatin1Char(' ');
    return refs + article.MessageID;
}

QStringList TPostArticle::QuoteBody(const QStringList& viewerLines, const QString& author)
{
    QStringList body{QString(), QString()};
    if (viewerLines.isEmpty() || (viewerLines.size() == 1 && viewerLines.first().isEmpty()))
        return body;
    const QString name = AttributionName(author);
    if (!name.isEmpty())
        body << name + QStringLiteral(" wrote:");
    for (const QString& line : viewerLines)
        body << QStringLiteral("> ") + line;
    return body;
}

QString TPostArticle::AttributionName(const QString& author)
{
    auto unquote = [](QString s) {
        s = s.trimmed();
        if (s.size() >= 2 && s.startsWith(QLatin1Char('"')) && s.endsWith(QLatin1Char('"')))
            s = s.mid(1, s.size() - 2).trimmed();
        return s;
    };
    const QString a = author.simplified();
    const qsizetype open = a.indexOf(QLatin1Char('<'));
    const qsizetype close = a.indexOf(QLatin1Char('>'), open + 1);
    if (open >= 0 && close > open) {
        const QString name = unquote(a.left(open));
        return name.isEmpty() ? a.mid(open + 1, close - open - 1).trimmed() : name;
    }
    const qsizetype paren = a.indexOf(QLatin1Char('('));
    const qsizetype shut = a.lastIndexOf(QLatin1Char(')'));
    if (paren > 0 && shut > paren) {
        const QString name = unquote(a.mid(paren + 1, shut - paren - 1));
        return name.isEmpty() ? a.left(paren).trimmed() : name;
    }
    return unquote(a);
}

QString TPostArticle::ComposeSender(const QString& displayName, const QString& emailAddress)
{
    // A line break typed into a setting must not end the header early.
    QString address = emailAddress;
    address.replace(QLatin1Char('\r'), QLatin1Char(' '));
    address.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return EncodeMailbox(displayName, address);
}

QString TPostArticle::NoEmailText()
{
    return QStringLiteral("You must enter your email address on the Newsgroup Options panel");
}

QString TPostArticle::SendRefusal(const QString& emailAddress, const QString& bodyText)
{
    if (emailAddress.trimmed().isEmpty())
        return NoEmailText();
    if (bodyText.trimmed().isEmpty())
        return QStringLiteral("Enter message text");
    return QString();
}

void TPostArticle::PostThrough(TNntpProcessor& processor) const
{
    processor.PostArticle(NewsGroup, NewsGroup, ComposeSender(UserName, EmailAddress), ReplyToAddress, References,
                          QStringLiteral("None"), EncodeHeaderText(Subject), Body);
}
