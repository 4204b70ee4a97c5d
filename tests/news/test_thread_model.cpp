#include "TestSupport.h"

#include "NewsCorpus.h"
#include "ReferenceWalk.h"

#include "news/ArticleUnit.h"
#include "news/ThreadModel.h"

#include <QCoreApplication>

namespace {

QString line(const TArticleClass* r, int depth)
{
    return QString("%1 %2 %3 root=%4 mark=%5 read=%6")
        .arg(depth)
        .arg(r->MessageID)
        .arg(r->Number)
        .arg(r->Root ? r->Root->MessageID : QString("-"))
        .arg(r->SpeakMark)
        .arg(r->ReadState);
}

QStringList dump(const TThreadModel& model)
{
    QStringList out;
    std::function<void(const TThreadModel::TNode*, int)> walk = [&](const TThreadModel::TNode* n, int depth) {
        out << line(n->rec, depth);
        for (const TThreadModel::TNode* c : n->children)
            walk(c, depth + 1);
    };
    for (const TThreadModel::TNode* t : model.Tops())
        walk(t, 0);
    return out;
}

// What a view builds from the model's events alone.
struct Mirror {
    struct Row {
        TArticleClass* rec;
        std::vector<std::unique_ptr<Row>> kids;
    };
    std::vector<std::unique_ptr<Row>> tops;
    int events = 0;

    void bind(TThreadModel& model)
    {
        model.OnRowInserted = [this](TThreadModel* m, TThreadModel::TNode* parent, int row) {
            ++events;
            std::vector<std::unique_ptr<Row>>* list = &tops;
            if (parent) {
                Row* p = nullptr;
                for (int r : TThreadModel::PathOf(parent)) {
                    p = (*list)[size_t(r)].get();
                    list = &p->kids;
                }
            }
            const TThreadModel::TNode* n = parent ? parent->children[size_t(row)] : m->Tops()[size_t(row)];
            auto made = std::make_unique<Row>();
            made->rec = n->rec;
            list->insert(list->begin() + row, std::move(made));
        };
    }
    void fill(const TThreadModel& model)
    {
        std::function<std::unique_ptr<Row>(const TThreadModel::TNode*)> make = [&](const TThreadModel::TNode* n) {
            auto r = std::make_unique<Row>();
            r->rec = n->rec;
            for (const TThreadModel::TNode* c : n->children)
                r->kids.push_back(make(c));
            return r;
        };
        for (const TThreadModel::TNode* t : model.Tops())
            tops.push_back(make(t));
    }
    QStringList dump() const
    {
        QStringList out;
        std::function<void(const Row*, int)> walk = [&](const Row* r, int depth) {
            out << line(r->rec, depth);
            for (const auto& k : r->kids)
                walk(k.get(), depth + 1);
        };
        for (const auto& t : tops)
            walk(t.get(), 0);
        return out;
    }
};

// Every node's row is its place among its parent's children, and the view order visits
// each thread top before its replies.
bool consistent(const TThreadModel& model)
{
    std::vector<const TThreadModel::TNode*> preorder;
    std::function<bool(const TThreadModel::TNode*)> walk = [&](const TThreadModel::TNode* n) {
        preorder.push_back(n);
        for (size_t i = 0; i < n->children.size(); ++i) {
            const TThreadModel::TNode* c = n->children[i];
            if (c->parent != n || c->row != int(i) || !walk(c))
                return false;
        }
        return true;
    };
    for (size_t i = 0; i < model.Tops().size(); ++i) {
        const TThreadModel::TNode* t = model.Tops()[i];
        if (t->parent || t->row != int(i) || !walk(t))
            return false;
    }
    const std::vector<TThreadModel::TNode*> order = model.Nodes();
    return order.size() == preorder.size() && std::equal(order.begin(), order.end(), preorder.begin())
        && int(order.size()) == model.Count();
}

} // namespace

class TestThreadModel : public QObject {
    Q_OBJECT
private slots:
    void placementMatchesTheWalkAndItsEvents_data()
    {
        QTest::addColumn<unsigned>("seed");
        QTest::addColumn<int>("count");
        QTest::newRow("a") << 3u << 3000;
        QTest::newRow("b") << 11u << 1200;
    }
    void placementMatchesTheWalkAndItsEvents()
    {
        QFETCH(unsigned, seed);
        QFETCH(int, count);
        const QStringList lines = MakeCorpusLines(count, seed);
        const int firstPart = count * 7 / 10;
        TArticleList list;
        TArticleList refList;
        for (int i = 0; i < firstPart; ++i) {
            auto a = std::make_unique<TArticleClass>();
            a->ParseRecord(lines.at(i));
            auto b = std::make_unique<TArticleClass>();
            b->ParseRecord(lines.at(i));
            QCOMPARE(!list.Add(std::move(a)), !refList.Add(std::move(b)));
        }
        list.Sort();
        refList.Sort();
        TThreadModel model;
        model.Loading = true;
        ReferenceWalk walk;
        for (int i = 0; i < list.Count(); ++i)
            model.Place(list.At(i), true);
        for (int i = 0; i < refList.Count(); ++i)
            walk.place(refList.At(i));
        QCOMPARE(dump(model), walk.dump());
        QVERIFY(consistent(model));

        Mirror mirror;
        mirror.fill(model);
        mirror.bind(model);
        for (int i = 0; i < refList.Count(); i += 13) {
            refList.At(i)->Watch = 1;
            list.FindByMessageID(refList.At(i)->MessageID)->Watch = 1;
        }
        model.Loading = false;
        walk.Loading = false;
        int watched = 0;
        model.OnWatchedReply = [&](TThreadModel*, TThreadModel::TNode* n, bool asChild) {
            ++watched;
            QCOMPARE(n->rec->SpeakMark, 1);
            if (asChild)
                n->rec->SetReadState(1);
        };
        int placed = 0;
        for (int i = firstPart; i < lines.size(); ++i) {
            auto a = std::make_unique<TArticleClass>();
            a->ParseRecord(lines.at(i));
            auto b = std::make_unique<TArticleClass>();
            b->ParseRecord(lines.at(i));
            TArticleClass* fa = list.Add(std::move(a));
            TArticleClass* ra = refList.Add(std::move(b));
            QCOMPARE(!fa, !ra);
            if (fa) {
                const bool shown = model.Place(fa, false) != nullptr;
                QCOMPARE(shown, walk.place(ra) != nullptr);
                placed += shown ? 1 : 0;
            }
        }
        QVERIFY(placed > 0);
        QVERIFY(watched > 0);
        QVERIFY(mirror.events >= placed);
        QCOMPARE(dump(model), walk.dump());
        QCOMPARE(mirror.dump(), walk.dump());
        QVERIFY(consistent(model));
        QCOMPARE(model.Count(), list.Count());

        // Taking threads out and indexing anew keeps the rest as it was.
        const QStringList before = dump(model);
        const int tops = int(model.Tops().size());
        QVERIFY(tops > 3);
        const int firstTopLines = [&] {
            int n = 0;
            std::function<void(const TThreadModel::TNode*)> c = [&](const TThreadModel::TNode* x) {
                ++n;
                for (const auto* k : x->children)
                    c(k);
            };
            c(model.Tops()[0]);
            return n;
        }();
        model.RemoveTop(0);
        model.Reindex();
        QVERIFY(consistent(model));
        QCOMPARE(dump(model), before.mid(firstTopLines));
        QCOMPARE(int(model.Tops().size()), tops - 1);
    }
    // The mark and style rules work on the model alone, without a view: a collapsed thread
    // turns bold with a new reply and back when it is read, a speak click on a collapsed
    // thread goes down to its replies and on an expanded one first levels the replies, the
    // watch toggles only on thread tops, and every changed row is told to the views.
    // The text finding looks through, made ahead in slices: a tree that changes between two
    // slices is started again, and what is found is what a look-up at once finds.
    void findTextMadeAheadInSlices()
    {
        TArticleList list;
        auto add = [&](int number, const QString& subject, const QString& from) {
            auto r = std::make_unique<TArticleClass>();
            r->Number = number;
            r->MessageID = QStringLiteral("<%1@x>").arg(number);
            r->Subject = subject;
            r->From = from;
            r->Date = TDateTime(46000 + number);
            return list.Add(std::move(r));
        };
        TThreadModel model;
        for (int i = 1; i <= 3000; ++i)
            model.Place(add(i, QStringLiteral("Topic %1").arg(i), i % 1000 == 0 ? QStringLiteral("Zed") : QStringLiteral("Ann")), false);
        QVERIFY(!model.FindTextReady());
        QVERIFY(!model.PrepareFindText(0)); // one slice of 256 threads
        QVERIFY(!model.FindTextReady());
        model.Place(add(3001, QStringLiteral("Late"), QStringLiteral("Zed Late")), false);
        int slices = 0;
        while (!model.PrepareFindText(0))
            ++slices;
        QVERIFY(slices >= 10);
        QVERIFY(model.FindTextReady());
        QCOMPARE(int(model.MatchingTops(QStringLiteral("zed")).size()), 4);
        QCOMPARE(int(model.MatchingTops(QStringLiteral("LATE")).size()), 1);
        model.ReleaseFindText();
        QVERIFY(!model.FindTextReady());
        QCOMPARE(int(model.MatchingTops(QStringLiteral("zed")).size()), 4);
    }

    void rulesWorkWithoutAView()
    {
        TArticleList list;
        auto add = [&](int number, const QString& id, const QString& subject, const QString& refs, double date) {
            auto r = std::make_unique<TArticleClass>();
            r->Number = number;
            r->MessageID = id;
            r->Subject = subject;
            r->From = "Ann";
            r->References = refs;
            r->Date = TDateTime(date);
            return list.Add(std::move(r));
        };
        TThreadModel model;
        QList<const TArticleClass*> told;
        model.OnDataChanged = [&](TThreadModel*, TThreadModel::TNode* n) { told << n->rec; };
        TThreadModel::TNode* top = model.Place(add(1, "<a@x>", "Alpha", "", 46000), false);
        TThreadModel::TNode* r1 = model.Place(add(2, "<b@x>", "Re: Alpha", "<a@x>", 46001), false);
        TThreadModel::TNode* r2 = model.Place(add(3, "<c@x>", "Re: Alpha", "<a@x>", 46002), false);
        QVERIFY(top && r1 && r2 && r1->parent == top);

        model.SetReadState(r1, 1);
        QCOMPARE(top->rec->Style, quint8(1));
        QVERIFY(told.contains(top->rec) && told.contains(r1->rec));
        model.SetReadState(r1, 0);
        QCOMPARE(top->rec->Style, quint8(0));

        told.clear();
        QCOMPARE(model.ClickSpeak(top).size(), size_t(3));
        QCOMPARE(r2->rec->SpeakMark, 1);
        QCOMPARE(told.size(), 3);

        model.SetExpanded(top, true);
        QCOMPARE(top->rec->Expanded, 1);
        r1->rec->SetSpeakMark(0);
        const std::vector<TThreadModel::TNode*> levelled = model.ClickSpeak(top);
        QCOMPARE(levelled.size(), size_t(1));
        QCOMPARE(levelled[0], r1);
        QCOMPARE(top->rec->SpeakMark, 1);
        QCOMPARE(model.ClickSpeak(top).front(), top);
        QCOMPARE(top->rec->SpeakMark, 2);

        r2->rec->SetReadState(1);
        model.SetExpanded(top, false);
        QCOMPARE(top->rec->Expanded, 0);
        QCOMPARE(top->rec->Style, quint8(1));
        QCOMPARE(model.FirstNewChoice().expand, top);

        QVERIFY(!model.ClickWatch(r1));
        QCOMPARE(r1->rec->Watch, 0);
        QVERIFY(model.ClickWatch(top));
        QCOMPARE(top->rec->Watch, 1);
        TThreadModel::TNode* late = model.Place(add(4, "<d@x>", "Re: Alpha", "<a@x>", 46003), false);
        QCOMPARE(late->rec->SpeakMark, 1);

        const std::vector<const TArticleClass*> gone = model.TakeOldThreads(30, 46100);
        QCOMPARE(int(gone.size()), 4);
        QVERIFY(model.Tops().empty());
    }
};

VORLIX_TEST_MAIN_CORE(TestThreadModel)
#include "test_thread_model.moc"
