#include "TestSupport.h"

#include "news/TextIndex.h"

#include <QHash>
#include <deque>
#include <random>

namespace {
struct TEntry {
    QString text;
};
QStringView textOf(const TEntry* e)
{
    return e->text;
}
}

class TestTextIndex : public QObject {
    Q_OBJECT
private slots:
    // Random adds, look-ups and removals against Qt's hash, in a table small enough that
    // runs wrap around its end and removals have to move later slots back.
    void agreesWithAPlainHash()
    {
        std::mt19937 rng(4242u);
        std::deque<TEntry> store;
        TTextIndex<TEntry, &textOf> index;
        QHash<QString, TEntry*> plain;
        for (int step = 0; step < 40000; ++step) {
            const QString text = QStringLiteral("<%1@x>").arg(rng() % 3000);
            switch (rng() % 4) {
            case 0:
            case 1: {
                TEntry*& slot = index.Slot(text);
                QCOMPARE(slot, plain.value(text));
                if (!slot) {
                    slot = &store.emplace_back(TEntry{text});
                    plain.insert(text, slot);
                }
                break;
            }
            case 2:
                QCOMPARE(index.Find(text), plain.value(text));
                break;
            default:
                if (TEntry* e = plain.take(text)) {
                    QVERIFY(index.Remove(e));
                    QVERIFY(!index.Remove(e));
                }
                break;
            }
            // A part of a longer text is found by its view alone.
            const QString longer = QStringLiteral("x ") + text + QStringLiteral(" y");
            QCOMPARE(index.Find(QStringView(longer).mid(2, text.size())), plain.value(text));
        }
        QCOMPARE(int(index.Size()), int(plain.size()));
        for (auto it = plain.cbegin(); it != plain.cend(); ++it)
            QCOMPARE(index.Find(it.key()), it.value());
        index.Clear();
        QVERIFY(!index.Find(plain.cbegin().key()));
    }
};

VORLIX_TEST_MAIN_CORE(TestTextIndex)
#include "test_text_index.moc"
