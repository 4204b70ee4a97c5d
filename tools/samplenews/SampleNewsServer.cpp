#include "SampleNewsServer.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimeZone>

struct TSampleNewsServer::Session {
    QTcpSocket* Socket = nullptr;
    QByteArray Buffer;
    QString Group;
    int Current = 0;
    bool Posting = false;
    QByteArray PostText;
    QByteArray User;
    bool LoggedIn = false;
};

namespace {
QByteArray rfcDate(const QDateTime& dt)
{
    return QLocale::c().toString(dt.toUTC(), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss")).toLatin1() + " +0000";
}

// "-2d 09:14" means two days ago at 09:14 (UTC); other texts are kept as they are.
QByteArray resolveDate(const QByteArray& text)
{
    static const QRegularExpression rel(QStringLiteral("^-(\\d+)d\\s+(\\d{1,2}):(\\d{2})$"));
    const auto m = rel.match(QString::fromLatin1(text.trimmed()));
    if (!m.hasMatch())
        return text.trimmed();
    QDateTime dt = QDateTime::currentDateTimeUtc().addDays(-m.captured(1).toInt());
    dt.setTime(QTime(m.captured(2).toInt(), m.captured(3).toInt()));
    if (dt > QDateTime::currentDateTimeUtc())
        dt = dt.addDays(-1);
    return rfcDate(dt);
}

QByteArray unfold(const QByteArray& v)
{
    QByteArray out = v;
    out.replace("\r\n", " ").replace('\n', ' ').replace('\t', ' ');
    return out.trimmed();
}
}

QByteArray TSampleArticle::Header(const QByteArray& name) const
{
    const QList<QByteArray> lines = Head.split('\n');
    QByteArray value;
    bool in = false;
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (in && (line.startsWith(' ') || line.startsWith('\t'))) {
            value += ' ' + line.trimmed();
            continue;
        }
        if (in)
            break;
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).compare(name, Qt::CaseInsensitive) == 0) {
            value = line.mid(colon + 1).trimmed();
            in = true;
        }
    }
    return value;
}

TSampleNewsServer::TSampleNewsServer(QObject* parent) : QObject(parent), server(new QTcpServer(this))
{
    connect(server, &QTcpServer::newConnection, this, &TSampleNewsServer::onConnection);
}

TSampleNewsServer::~TSampleNewsServer() = default;

void TSampleNewsServer::AddGroup(const QString& name, const QString& description)
{
    TSampleGroup& g = groups[name];
    g.Name = name;
    if (!description.isEmpty())
        g.Description = description;
}

void TSampleNewsServer::Close()
{
    server->close();
    for (QTcpSocket* sock : server->findChildren<QTcpSocket*>())
        sock->abort();
}

bool TSampleNewsServer::RemoveArticle(const QString& group, int number)
{
    auto g = groups.find(group);
    if (g == groups.end())
        return false;
    return g->Articles.removeIf([number](const TSampleArticle& a) { return a.Number == number; }) > 0;
}

bool TSampleNewsServer::AddArticle(const QByteArray& raw, QString* error)
{
    QByteArray text = raw;
    text.replace("\r\n", "\n");
    const int split = text.indexOf("\n\n");
    TSampleArticle a;
    QByteArray head = split < 0 ? text : text.left(split);
    QByteArray body = split < 0 ? QByteArray() : text.mid(split + 2);
    if (body.endsWith('\n'))
        body.chop(1);
    a.Head = head;
    a.Subject = unfold(a.Header("Subject"));
    a.From = unfold(a.Header("From"));
    const QByteArray newsgroups = unfold(a.Header("Newsgroups"));
    if (a.From.isEmpty() || newsgroups.isEmpty() || a.Subject.isEmpty()) {
        if (error)
            *error = QStringLiteral("441 Missing From, Subject or Newsgroups header");
        return false;
    }
    a.Date = resolveDate(a.Header("Date"));
    if (a.Date.isEmpty())
        a.Date = rfcDate(QDateTime::currentDateTimeUtc());
    a.MessageId = unfold(a.Header("Message-ID"));
    if (a.MessageId.isEmpty())
        a.MessageId = "<sample." + QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + "."
            + QByteArray::number(nextPosted++) + "@vorlix.invalid>";
    a.References = unfold(a.Header("References"));
    // Rebuild the head with the resolved date and message ID.
    QList<QByteArray> lines;
    for (const QByteArray& l : head.split('\n')) {
        if (l.startsWith("Date:") || l.startsWith("Message-ID:"))
            continue;
        lines << l;
    }
    lines << "Date: " + a.Date << "Message-ID: " + a.MessageId;
    a.Head = lines.join("\r\n");
    QList<QByteArray> bodyLines = body.split('\n');
    a.Lines = body.isEmpty() ? 0 : int(bodyLines.size());
    a.Body = bodyLines.join("\r\n");
    bool added = false;
    for (const QByteArray& g : newsgroups.split(',')) {
        const QString name = QString::fromLatin1(g.trimmed());
        auto it = groups.find(name);
        if (it == groups.end())
            continue;
        TSampleArticle copy = a;
        copy.Number = it->High() + 1;
        it->Articles << copy;
        added = true;
    }
    if (!added && error)
        *error = QStringLiteral("441 No such newsgroup");
    return added;
}

int TSampleNewsServer::LoadDirectory(const QString& dir)
{
    int count = 0;
    QDir root(dir);
    for (const QString& g : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        TSampleGroup& group = groups[g];
        group.Name = g;
        QFile desc(root.filePath(g + QStringLiteral("/description")));
        if (desc.open(QIODevice::ReadOnly))
            group.Description = QString::fromUtf8(desc.readAll()).trimmed();
        QDir gd(root.filePath(g));
        QStringList files = gd.entryList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name);
        for (const QString& f : files) {
            QFile file(gd.filePath(f));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            if (AddArticle(file.readAll()))
                ++count;
        }
    }
    return count;
}

bool TSampleNewsServer::Listen(quint16 port, const QHostAddress& address)
{
    return server->listen(address, port);
}

quint16 TSampleNewsServer::Port() const
{
    return server->serverPort();
}

void TSampleNewsServer::send(Session* s, const QByteArray& data)
{
    s->Socket->write(data);
}

void TSampleNewsServer::onConnection()
{
    while (QTcpSocket* sock = server->nextPendingConnection()) {
        auto* s = new Session;
        s->Socket = sock;
        connect(sock, &QTcpSocket::readyRead, this, [this, s] {
            s->Buffer += s->Socket->readAll();
            int nl;
            while ((nl = s->Buffer.indexOf('\n')) >= 0) {
                QByteArray line = s->Buffer.left(nl);
                s->Buffer.remove(0, nl + 1);
                if (line.endsWith('\r'))
                    line.chop(1);
                handleLine(s, line);
                if (!s->Socket)
                    return;
            }
        });
        connect(sock, &QTcpSocket::disconnected, this, [s] {
            s->Socket->deleteLater();
            delete s;
        });
        send(s, "200 Vorlix sample news server ready, posting allowed\r\n");
    }
}

QByteArray TSampleNewsServer::overview(const TSampleArticle& a) const
{
    auto clean = [](QByteArray v) { return v.replace('\t', ' '); };
    const int bytes = int(a.Head.size() + a.Body.size() + 4);
    return QByteArray::number(a.Number) + '\t' + clean(a.Subject) + '\t' + clean(a.From) + '\t' + a.Date + '\t'
        + a.MessageId + '\t' + clean(a.References) + '\t' + QByteArray::number(bytes) + '\t'
        + QByteArray::number(a.Lines);
}

const TSampleArticle* TSampleNewsServer::findArticle(Session* s, const QByteArray& arg, int* number)
{
    if (arg.startsWith('<')) {
        for (const TSampleGroup& g : groups) {
            for (const TSampleArticle& a : g.Articles) {
                if (a.MessageId == arg) {
                    *number = 0;
                    return &a;
                }
            }
        }
        return nullptr;
    }
    auto it = groups.find(s->Group);
    if (it == groups.end())
        return nullptr;
    const int n = arg.isEmpty() ? s->Current : arg.toInt();
    for (const TSampleArticle& a : it->Articles) {
        if (a.Number == n) {
            *number = n;
            s->Current = n;
            return &a;
        }
    }
    return nullptr;
}

void TSampleNewsServer::handleLine(Session* s, const QByteArray& line)
{
    if (s->Posting) {
        if (line == ".") {
            s->Posting = false;
            QString error;
            if (AddArticle(s->PostText, &error))
                send(s, "240 Article received\r\n");
            else
                send(s, error.toLatin1() + "\r\n");
            s->PostText.clear();
        } else {
            s->PostText += (line.startsWith("..") ? line.mid(1) : line) + '\n';
        }
        return;
    }
    const int space = line.indexOf(' ');
    const QByteArray verb = (space < 0 ? line : line.left(space)).toUpper();
    const QByteArray arg = space < 0 ? QByteArray() : line.mid(space + 1).trimmed();
    const bool needLogin = !LoginUser.isEmpty() && !s->LoggedIn;
    auto dotStuffed = [](const QByteArray& text) {
        QByteArray out;
        for (const QByteArray& l : text.split('\n')) {
            QByteArray x = l.endsWith('\r') ? l.left(l.size() - 1) : l;
            out += (x.startsWith('.') ? "." + x : x) + "\r\n";
        }
        return out;
    };

    if (verb == "QUIT") {
        send(s, "205 Goodbye\r\n");
        s->Socket->disconnectFromHost();
    } else if (verb == "MODE") {
        send(s, "200 Reader mode, posting allowed\r\n");
    } else if (verb == "AUTHINFO") {
        const QList<QByteArray> parts = arg.split(' ');
        if (parts.value(0).toUpper() == "USER") {
            s->User = parts.value(1);
            send(s, "381 Password required\r\n");
        } else if (parts.value(0).toUpper() == "PASS") {
            if (LoginUser.isEmpty() || (s->User == LoginUser.toUtf8() && parts.value(1) == LoginPass.toUtf8())) {
                s->LoggedIn = true;
                send(s, "281 Authentication accepted\r\n");
            } else {
                send(s, "481 Authentication failed\r\n");
            }
        } else {
            send(s, "501 Syntax error\r\n");
        }
    } else if (needLogin && verb != "HELP" && verb != "DATE") {
        send(s, "480 Authentication required\r\n");
    } else if (verb == "DATE") {
        send(s, "111 " + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1() + "\r\n");
    } else if (verb == "HELP") {
        send(s, "100 Help text follows\r\nThis server knows GROUP XOVER OVER ARTICLE HEAD BODY STAT LIST POST "
                "NEWGROUPS DATE MODE AUTHINFO QUIT\r\n.\r\n");
    } else if (verb == "GROUP") {
        auto it = groups.find(QString::fromLatin1(arg));
        if (it == groups.end()) {
            send(s, "411 No such group\r\n");
            return;
        }
        s->Group = it->Name;
        s->Current = it->Articles.isEmpty() ? 0 : it->Low();
        send(s, "211 " + QByteArray::number(it->Articles.size()) + ' ' + QByteArray::number(it->Low()) + ' '
                    + QByteArray::number(it->High()) + ' ' + it->Name.toLatin1() + "\r\n");
    } else if (verb == "XOVER" || verb == "OVER") {
        auto it = groups.find(s->Group);
        if (it == groups.end()) {
            send(s, "412 No newsgroup selected\r\n");
            return;
        }
        int lo = s->Current, hi = s->Current;
        if (!arg.isEmpty()) {
            const int dash = arg.indexOf('-');
            lo = (dash < 0 ? arg : arg.left(dash)).toInt();
            hi = dash < 0 ? lo : (dash == arg.size() - 1 ? it->High() : arg.mid(dash + 1).toInt());
        }
        QByteArray out = "224 Overview information follows\r\n";
        for (const TSampleArticle& a : it->Articles) {
            if (a.Number >= lo && a.Number <= hi)
                out += overview(a) + "\r\n";
        }
        send(s, out + ".\r\n");
    } else if (verb == "ARTICLE" || verb == "HEAD" || verb == "BODY" || verb == "STAT") {
        if (s->Group.isEmpty() && !arg.startsWith('<')) {
            send(s, "412 No newsgroup selected\r\n");
            return;
        }
        int n = 0;
        const TSampleArticle* a = findArticle(s, arg, &n);
        if (!a) {
            send(s, arg.startsWith('<') ? "430 No such article\r\n" : "423 No such article number\r\n");
            return;
        }
        const QByteArray id = ' ' + QByteArray::number(n) + ' ' + a->MessageId;
        if (verb == "STAT")
            send(s, "223" + id + "\r\n");
        else if (verb == "HEAD")
            send(s, "221" + id + " head\r\n" + dotStuffed(a->Head) + ".\r\n");
        else if (verb == "BODY")
            send(s, "222" + id + " body\r\n" + dotStuffed(a->Body) + ".\r\n");
        else
            send(s, "220" + id + " article\r\n" + dotStuffed(a->Head + "\r\n\r\n" + a->Body) + ".\r\n");
    } else if (verb == "LIST") {
        const QByteArray what = arg.toUpper();
        QByteArray out;
        if (what.isEmpty() || what == "ACTIVE") {
            out = "215 List of newsgroups follows\r\n";
            for (const TSampleGroup& g : groups)
                out += g.Name.toLatin1() + ' ' + QByteArray::number(g.High()) + ' ' + QByteArray::number(g.Low()) + " y\r\n";
        } else if (what == "NEWSGROUPS") {
            out = "215 Descriptions follow\r\n";
            for (const TSampleGroup& g : groups)
                out += g.Name.toLatin1() + '\t' + g.Description.toUtf8() + "\r\n";
        } else if (what == "OVERVIEW.FMT") {
            out = "215 Order of fields in overview database\r\nSubject:\r\nFrom:\r\nDate:\r\nMessage-ID:\r\n"
                  "References:\r\nBytes:\r\nLines:\r\n";
        } else {
            send(s, "501 Unknown LIST keyword\r\n");
            return;
        }
        send(s, out + ".\r\n");
    } else if (verb == "NEWGROUPS") {
        send(s, "231 New newsgroups follow\r\n.\r\n");
    } else if (verb == "POST") {
        s->Posting = true;
        s->PostText.clear();
        send(s, "340 Send article to be posted\r\n");
    } else {
        send(s, "500 Unknown command\r\n");
    }
}
