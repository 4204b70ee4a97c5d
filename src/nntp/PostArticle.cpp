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

QStringList TPostArticle::QuoteBody(const QStringList& viewerLines)
{
    QStringList body{QString(), QString()};
    for (const QString& line : viewerLines)
        body << QStringLiteral("> ") + line;
    return body;
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
