#pragma once
// The newsgroup the speaking benchmarks read: five threads of ten articles (a top and nine
// replies), each body forty words of plain English in four sentences.
#include "SampleNewsServer.h"

#include <QByteArray>
#include <QString>

inline void AddBenchThreads(TSampleNewsServer& server, const QString& group)
{
    static const char* words[] = {"listening", "to", "the", "group", "while", "walking", "home", "is", "a", "pleasure"};
    server.AddGroup(group);
    for (int t = 0; t < 5; ++t)
        for (int i = 0; i < 10; ++i) {
            const QByteArray id = "<t" + QByteArray::number(t) + "." + QByteArray::number(i) + "@bench>";
            QByteArray a = "From: Bench <b@example.org>\nNewsgroups: " + group.toUtf8() + "\nSubject: "
                + QByteArray(i ? "Re: " : "") + "Thread " + QByteArray::number(t) + "\nDate: -1d 10:00\nMessage-ID: " + id
                + "\n";
            if (i)
                a += "References: <t" + QByteArray::number(t) + ".0@bench>\n";
            QByteArray body;
            for (int w = 0; w < 40; ++w)
                body += QByteArray(words[(w + t * 10 + i) % 10]) + (w % 10 == 9 ? ".\n" : " ");
            server.AddArticle(a + "\n" + body + "\n");
        }
}
