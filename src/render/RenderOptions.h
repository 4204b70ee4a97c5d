#pragma once
// The command line of `vorlix render`: what to render, from which groups, and what to do
// around it. Parsing never exits the program; a bad command line comes back as a message.
#include <QString>
#include <QStringList>

struct TRenderOptions {
    QString Home;            // --home: another profile folder (as VORLIX_HOME)
    QStringList Groups;      // newsgroups named on the command line
    QStringList Servers;     // --server: every group of these servers
    bool AllGroups = false;  // --all, or no group and no server named
    bool Download = false;   // --download: new headers first
    bool NewArticles = false; // --new: every unread article not yet spoken, not only the marked
    bool Feed = false;       // --feed: keep feed.xml in the output folder
    int ServePort = -1;      // --serve PORT: serve the output folder over HTTP afterwards
    QString ServeAddress = QStringLiteral("127.0.0.1"); // --listen ADDRESS
    bool Quiet = false;      // --quiet: only the summary and errors
    bool Help = false;
    bool Version = false;

    // args: the whole command line, program name and "render" first. Empty: fine;
    // otherwise the message for the user (exit code 2).
    QString Parse(const QStringList& args);

    static QString HelpText();
};
