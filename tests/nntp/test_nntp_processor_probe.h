#pragma once
// Records everything a TNntpProcessor tells its owner, for the processor, login and INN tests.
#include "TestSupport.h"
#include "nntp/NNTPProcessor.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <vector>

struct TProcessorProbe {
    struct Done {
        int Code;
        QString Message;
    };
    struct Body {
        QString Host;
        QStringList Lines;
        QString MessageID;
        QString Group;
    };
    struct Login {
        QString Host, UserName, Password;
        bool Save;
    };

    std::vector<Done> Dones;
    std::vector<TNntpHeader> Headers;
    std::vector<TNntpHeader> Skipped;
    std::vector<Body> Bodies;
    std::vector<Login> Logins;
    QStringList CaughtUp; // "host|group"
    QStringList Statuses;
    // Called at each OnRequestDone, after it was recorded.
    std::function<void(int code)> AfterDone;
    std::function<void(const TNntpHeader&)> AfterHeader;

    void Attach(TNntpProcessor& p)
    {
        p.OnRequestDone = [this](QObject*, int code, const QString& message) {
            Dones.push_back({code, message});
            if (AfterDone)
                AfterDone(code);
        };
        p.OnHeader = [this](QObject*, const QString&, const TNntpHeader& h, const QString&) {
            Headers.push_back(h);
            if (AfterHeader)
                AfterHeader(h);
        };
        p.OnHeaderSkipped = [this](QObject*, const TNntpHeader& h) { Skipped.push_back(h); };
        p.OnBody = [this](QObject*, const QString& host, const QStringList& lines, const QString& id,
                          const QString& group) { Bodies.push_back({host, lines, id, group}); };
        p.OnAuthenticated = [this](QObject*, const QString& host, const QString& user, const QString& pass,
                                   bool save) { Logins.push_back({host, user, pass, save}); };
        p.OnCaughtUp = [this](QObject*, const QString& host, const QString& group) {
            CaughtUp << host + QLatin1Char('|') + group;
        };
        p.OnStatus = [this](QObject*, const QString& text) { Statuses << text; };
    }

    bool WaitDone(size_t count = 1, int ms = 15000)
    {
        return TestSupport::WaitFor([&] { return Dones.size() >= count; }, ms);
    }
    int LastCode() const { return Dones.empty() ? -9999 : Dones.back().Code; }
    QString LastMessage() const { return Dones.empty() ? QString() : Dones.back().Message; }
};
