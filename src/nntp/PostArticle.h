#pragma once
// A new article or a reply as it is posted: the rules for the subject, References and quoted
// body of a reply, the sender line, what must be filled in before sending, and the article
// handed to a request processor (headers beyond ASCII as encoded words).
#include <QString>
#include <QStringList>

class TArticleClass;
class TNntpProcessor;

class TPostArticle {
public:
    QString NewsGroup;
    QString UserName;        // the user's display name ("UserName" setting)
    QString EmailAddress;
    QString ReplyToAddress;
    QString References;      // empty for a new article
    QString Subject;         // as typed
    QStringList Body;        // the lines as shown

    // The subject a reply is sent with: unchanged when it begins with "RE" (any case, after
    // trimming), else "Re: " + subject.
    static QString ReplySubject(const QString& subject);
    // The References of a reply: the article's References, trimmed, a blank, its message ID.
    static QString ReplyReferences(const TArticleClass& article);
    // The quoted body of a reply: two empty lines, the attribution line "<author> wrote:" when
    // an author is given, then every line prefixed with "> ". An empty pane (no lines, or one
    // empty line) quotes nothing: the two empty lines alone.
    static QStringList QuoteBody(const QStringList& viewerLines, const QString& author = QString());
    // The name an attribution line gives for an author as stored: the display name of
    // "Eve Smith <eve@example.com>" or "eve@example.com (Eve Smith)", else the address or text.
    static QString AttributionName(const QString& author);
    // "name <address>", or "<address>" alone when the name is blank; a name beyond ASCII is
    // sent as encoded words.
    static QString ComposeSender(const QString& displayName, const QString& emailAddress);

    // The message shown when posting needs an e-mail address first.
    static QString NoEmailText();
    // Why an article cannot be sent yet (no e-mail address, an empty body), or empty.
    static QString SendRefusal(const QString& emailAddress, const QString& bodyText);

    // Posts this article through the processor (its host and login already set).
    void PostThrough(TNntpProcessor& processor) const;
};
