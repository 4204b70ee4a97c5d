#pragma once
// A generated newsgroup of the usual shape: threads with replies, replies whose first
// article is gone, several articles under one subject, identical reference chains, stored
// placeholders and a few articles without a message ID. Shared by tests and benchmarks.
#include "news/ArticleUnit.h"

#include <QStringList>
#include <algorithm>
#include <memory>
#include <random>
#include <vector>

inline QStringList MakeCorpusLines(int count, unsigned seed)
{
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return int(rng() % unsigned(std::max(1, n))); };
    const double base = 46000.0; // December 2025
    struct Top {
        QString id;
        QString subject;
        double date;
        std::vector<QString> replies;
    };
    std::vector<Top> tops;
    QStringList lines;
    int number = 1000;
    for (int i = 0; i < count; ++i) {
        TArticleClass a;
        a.Number = ++number;
        a.MessageID = QStringLiteral("<a%1@news.example>").arg(number);
        a.From = QStringLiteral("Author %1 <a%1@example.org>").arg(pick(300));
        a.ReadState = pick(3) == 0 ? 1 : 0;
        a.SpeakMark = pick(10) == 0 ? 1 : 0;
        a.Expanded = pick(4) == 0 ? 1 : 0;
        const int kind = pick(100);
        if (tops.empty() || kind < 32) {
            a.Subject = QStringLiteral("Topic %1").arg(pick(count / 3 + 1));
            a.Date = TDateTime(base + pick(60 * 24 * 60) / (24.0 * 60.0));
            tops.push_back({a.MessageID, a.Subject, a.Date.Value, {}});
        } else if (kind < 72) {
            Top& t = tops[size_t(pick(int(tops.size())))];
            a.Subject = QStringLiteral("Re: ") + t.subject;
            a.References = t.id;
            if (!t.replies.empty() && pick(2) == 0)
                a.References += QLatin1Char(' ') + t.replies[size_t(pick(int(t.replies.size())))];
            a.Date = TDateTime(t.date + pick(5 * 24 * 60) / (24.0 * 60.0));
            t.replies.push_back(a.MessageID);
        } else if (kind < 87) {
            const int lost = pick(count / 20 + 1);
            a.References = QStringLiteral("<gone%1@news.example>").arg(lost);
            if (pick(2) == 0)
                a.References += QStringLiteral(" <gone%1x@news.example>").arg(pick(5));
            a.Subject = pick(3) == 0 ? QStringLiteral("Re: ") + tops[size_t(pick(int(tops.size())))].subject
                                     : QStringLiteral("Re: Lost thread %1").arg(lost);
            a.Date = TDateTime(base + pick(60 * 24 * 60) / (24.0 * 60.0));
        } else if (kind < 93) {
            a.Subject = tops[size_t(pick(int(tops.size())))].subject;
            a.Date = TDateTime(base + pick(60 * 24 * 60) / (24.0 * 60.0));
        } else if (kind < 97) {
            a.Subject = QStringLiteral("RE: ") + tops[size_t(pick(int(tops.size())))].subject;
            a.Date = TDateTime(base + pick(60 * 24 * 60) / (24.0 * 60.0));
        } else if (kind < 99) {
            a.Number = TArticleClass::PlaceholderNumber;
            a.MessageID = QStringLiteral("<gone%1@news.example>").arg(pick(count / 20 + 1));
            a.Subject = QStringLiteral("Lost thread %1").arg(pick(count / 20 + 1));
            a.From = QStringLiteral("????");
            a.Date = TDateTime(base + pick(60 * 24 * 60) / (24.0 * 60.0));
        } else {
            a.MessageID = QStringLiteral("<>");
            a.Subject = QStringLiteral("No id %1").arg(i);
            a.Date = TDateTime(base + pick(60 * 24 * 60) / (24.0 * 60.0));
        }
        // whole seconds, as the file keeps them
        a.Date = TDateTime(std::round(a.Date.Value * 86400.0) / 86400.0);
        lines << a.FormatRecord();
    }
    // Arrival order is mostly by number, with some articles arriving late.
    for (int i = 0; i < count / 10; ++i)
        lines.swapItemsAt(pick(count), pick(count));
    return lines;
}

// A large newsgroup of the realistic shape: 70 % replies whose References chains run up to
// 20 IDs, subjects of about 40 characters, 5 000 distinct authors, some replies whose
// parents are gone (they get placeholders) and some late arrivals.
inline QStringList MakeRealisticCorpusLines(int count, unsigned seed)
{
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return int(rng() % unsigned(std::max(1, n))); };
    const double base = 46000.0;
    struct Top {
        QString id;
        QString subject;
        double date;
        std::vector<QStringList> chains; // the References of each reply plus its own ID
    };
    std::vector<Top> tops;
    QStringList lines;
    lines.reserve(count);
    int number = 1000;
    for (int i = 0; i < count; ++i) {
        TArticleClass a;
        a.Number = ++number;
        a.MessageID = QStringLiteral("<r%1.%2@news.example.org>").arg(number).arg(seed);
        const int author = pick(5000);
        a.From = QStringLiteral("Author %1 <author%1@mail.example>").arg(author);
        a.ReadState = pick(3) == 0 ? 1 : 0;
        a.SpeakMark = pick(20) == 0 ? 1 : 0;
        a.Expanded = pick(8) == 0 ? 1 : 0;
        const int kind = pick(100);
        if (tops.empty() || kind < 30) {
            a.Subject = QStringLiteral("Discussion of topic number %1 and more").arg(pick(count / 3 + 1), 6, 10, QChar('0'));
            a.Date = TDateTime(base + pick(60 * 24 * 60) / (24.0 * 60.0));
            tops.push_back({a.MessageID, a.Subject, a.Date.Value, {}});
            if (tops.size() > 4000)
                tops.erase(tops.begin(), tops.begin() + 1000);
        } else if (kind < 95) {
            Top& t = tops[size_t(tops.size() - 1 - size_t(pick(std::min<int>(int(tops.size()), 3000))))];
            a.Subject = QStringLiteral("Re: ") + t.subject;
            QStringList chain;
            if (!t.chains.empty() && pick(4) != 0)
                chain = t.chains[size_t(pick(int(t.chains.size())))];
            else
                chain = QStringList{t.id};
            a.References = chain.join(QLatin1Char(' '));
            chain << a.MessageID;
            if (chain.size() > 20)
                chain.remove(1, chain.size() - 20);
            if (t.chains.size() < 64)
                t.chains.push_back(chain);
            a.Date = TDateTime(t.date + pick(5 * 24 * 60) / (24.0 * 60.0));
        } else {
            a.References = QStringLiteral("<gone%1@news.example.org>").arg(pick(count / 20 + 1));
            a.Subject = QStringLiteral("Re: A thread whose first article is gone %1").arg(pick(count / 20 + 1));
            a.Date = TDateTime(base + pick(60 * 24 * 60) / (24.0 * 60.0));
        }
        a.Date = TDateTime(std::round(a.Date.Value * 86400.0) / 86400.0);
        lines << a.FormatRecord();
    }
    for (int i = 0; i < count / 20; ++i)
        lines.swapItemsAt(pick(count), pick(count));
    return lines;
}

// A reply to parent that arrives late: it has a number past every other and lands below
// parent in its thread.
inline std::unique_ptr<TArticleClass> MakeLateReply(const TArticleClass& parent)
{
    auto one = std::make_unique<TArticleClass>();
    one->Number = 99999999;
    one->MessageID = QStringLiteral("<one-more@news.example.org>");
    one->Subject = QStringLiteral("Re: ") + parent.Subject;
    one->From = QStringLiteral("Late <late@mail.example>");
    one->References = parent.MessageID;
    one->Date = TDateTime(parent.Date.Value + 0.5);
    return one;
}
