#include "TestSupport.h"

#include "NewsCorpus.h"

#include "core/BaseUtils.h"
#include "core/TextFiles.h"
#include "gui/news/ArticleModel.h"
#include "news/ArticleUnit.h"
#include "news/ThreadModel.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QSignalSpy>
#include <QTreeView>

namespace {

TArticleClass* add(TArticleList& list, int number, const QString& id, const QString& subject, const QString& refs,
                   double date)
{
    auto r = std::make_unique<TArticleClass>();
    r->Number = number;
    r->MessageID = id;
    r->Subject = subject;
    r->From = "Ann";
    r->References = refs;
    r->Date = TDateTime(date);
    return list.Add(std::move(r));
}

// "depth messageID" per row, walking the item model in view order.
QStringList walkModel(const QAbstractItemModel& m, const QModelIndex& parent = {}, int depth = 0)
{
    QStringList out;
    for (int row = 0; row < m.rowCount(parent); ++row) {
        const QModelIndex i = m.index(row, TArticleModel::ColSubject, parent);
        out << QString::number(depth) + " " + TArticleModel::RecordOf(i)->MessageID;
        out << walkModel(m, m.index(row, 0, parent), depth + 1);
    }
    return out;
}

QStringList walkThreads(const TThreadModel& t)
{
    QStringList out;
    for (const TThreadModel::TNode* n : t.Nodes()) {
        int depth = 0;
        for (const TThreadModel::TNode* p = n->parent; p; p = p->parent)
            ++depth;
        out << QString::number(depth) + " " + n->rec->MessageID;
    }
    return out;
}

}

class TestArticleModel : public QObject {
    Q_OBJECT
private slots:
    // Records placed one by one into a shown group of the realistic shape (replies, replies
    // sorted before later ones, stand-ins for missing parents, new threads) keep the item
    // model and the view over it exactly the shape of the thread model, and every change
    // keeps the item-model contract.
    void livePlacementKeepsTheShapeAndTheContract()
    {
        const QString path = GetDataFolder() + "live.chl";
        WriteLinesAtomically(path, MakeRealisticCorpusLines(1500, 4242u));
        TArticleList stored;
        QVERIFY(stored.LoadFromFile(path));
        std::vector<TArticleClass*> records;
        for (int i = 0; i < stored.Count(); ++i)
            records.push_back(stored.At(i));

        TArticleList shown;
        TThreadModel threads;
        TArticleModel model(&threads);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QTreeView view;
        view.setModel(&model);
        view.resize(600, 400);
        view.show();
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        int placed = 0;
        for (TArticleClass* r : records) {
            TArticleClass* copy = add(shown, r->Number, r->MessageID, r->Subject, r->References, r->Date.Value);
            if (copy && threads.Place(copy, false))
                ++placed;
            if (placed % 300 == 0)
                view.expandAll();
        }
        QVERIFY(placed > 1000);
        QCOMPARE(inserted.count(), threads.Count());
        QVERIFY(shown.Count() > placed); // stand-ins for missing parents were shown too
        QCOMPARE(walkModel(model), walkThreads(threads));
        view.expandAll();
        QModelIndex last = model.index(model.rowCount() - 1, 0);
        while (model.rowCount(last) > 0)
            last = model.index(model.rowCount(last) - 1, 0, last);
        QCOMPARE(TArticleModel::RecordOf(last), threads.Nodes().back()->rec);
        QFile::remove(path);
    }

    // Texts, marks and fonts come from the record; a change told to the thread model
    // reaches the view as changed data of the whole row.
    void rowsShowTheirRecords()
    {
        TArticleList list;
        TThreadModel threads;
        TArticleModel model(&threads);
        QFont base("Sans", 11);
        model.SetBaseFont(base);
        TArticleClass* top = add(list, 1, "<a@x>", "Alpha", "", 46000.5);
        TArticleClass* reply = add(list, 2, "<b@x>", "Re: Alpha", "<a@x>", 46001.25);
        threads.Place(top, false);
        threads.Place(reply, false);
        const QModelIndex t = model.index(0, TArticleModel::ColSubject);
        const QModelIndex r = model.index(0, TArticleModel::ColFrom, model.index(0, 0));
        QCOMPARE(t.data().toString(), QString("Alpha"));
        QCOMPARE(r.data().toString(), QString("Ann"));
        QCOMPARE(model.index(0, TArticleModel::ColDate).data().toString(), TArticleClass::DateText(top->Date));
        QCOMPARE(model.parent(r), model.index(0, 0));
        QCOMPARE(model.IndexOf(reply, TArticleModel::ColFrom), r);
        QVERIFY(!t.data(Qt::FontRole).isValid());
        QCOMPARE(model.headerData(TArticleModel::ColSubject, Qt::Horizontal).toString(), QString("Subject"));
        QVERIFY(!model.headerData(TArticleModel::ColSpeak, Qt::Horizontal, Qt::DecorationRole).value<QIcon>().isNull());

        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        top->Style = 3;
        top->SetSpeakMark(2);
        top->Watch = 1;
        threads.Changed(threads.NodeOf(top));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed[0][0].toModelIndex(), model.index(0, TArticleModel::ColSpeak));
        QCOMPARE(changed[0][1].toModelIndex(), model.index(0, TArticleModel::ColWatch));
        const QFont f = t.data(Qt::FontRole).value<QFont>();
        QVERIFY(f.bold() && f.italic());
        QCOMPARE(f.family(), base.family());
        QCOMPARE(model.index(0, TArticleModel::ColSpeak).data(TArticleModel::MarkRole).toInt(), 2);
        QCOMPARE(model.index(0, TArticleModel::ColWatch).data(TArticleModel::MarkRole).toInt(), 1);
        QVERIFY(!model.index(0, TArticleModel::ColSpeak).data().isValid());
    }

    // A bulk load and emptying reset the model; taking out a thread removes its row; indexing
    // anew after records changed keeps every index the view holds on its record.
    void resetsRemovalsAndReindexKeepTheView()
    {
        TArticleList list;
        TThreadModel threads;
        TArticleModel model(&threads);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        threads.BeginBulk();
        for (int i = 0; i < 5; ++i) {
            threads.Place(add(list, 10 + i, QString("<t%1@x>").arg(i), QString("Thread %1").arg(i), "", 46000 + i), true);
            threads.Place(add(list, 20 + i, QString("<r%1@x>").arg(i), QString("Re: Thread %1").arg(i),
                              QString("<t%1@x>").arg(i), 46000.5 + i),
                          true);
        }
        threads.EndBulk();
        QCOMPARE(resets.count(), 1);
        QCOMPARE(model.rowCount(), 5);
        QCOMPARE(model.rowCount(model.index(3, 0)), 1);

        QPersistentModelIndex reply(model.index(0, 0, model.index(4, 0)));
        QPersistentModelIndex top4(model.index(4, 0));
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        threads.RemoveTop(1);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(model.rowCount(), 4);
        QCOMPARE(top4.row(), 3);
        list.At(0)->Subject = "Thread zero";
        threads.Reindex();
        QVERIFY(reply.isValid());
        QCOMPARE(TArticleModel::RecordOf(reply)->MessageID, QString("<r4@x>"));
        QCOMPARE(model.parent(reply), QModelIndex(top4));
        QCOMPARE(model.index(0, 1).data().toString(), QString("Thread zero"));

        threads.Clear();
        QCOMPARE(resets.count(), 2);
        QCOMPARE(model.rowCount(), 0);
    }
};

VORLIX_TEST_MAIN(TestArticleModel)
#include "test_article_model.moc"
