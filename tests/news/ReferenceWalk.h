#pragma once
// The plain placement walk that the fast placement must match, record for record.
#include "news/ArticleUnit.h"

#include <QSet>
#include <QStringList>
#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

// The placement walk exactly as described: every record walks the items in view order.
class ReferenceWalk {
public:
    struct Node {
        TArticleClass* rec;
        Node* parent = nullptr;
        std::vector<Node*> kids;
    };
    bool Loading = true;

    Node* place(TArticleClass* rec)
    {
        rec->Root = rec;
        rec->RootNumber = rec->Number;
        if (rec->MessageID == "<>")
            rec->Owner->ChangeMessageID(rec, QString::number(rec->Number));
        std::vector<Node*> order;
        preorder(order);
        for (Node* n : order) {
            if (n->rec->MessageID == rec->MessageID || n->rec == rec)
                return nullptr;
        }
        inProgress.insert(rec);
        const QString firstRef = rec->FirstReference().toString();
        QString stripped;
        const qsizetype at = rec->Subject.indexOf("Re: ", 0, Qt::CaseInsensitive);
        const bool hasStripped = at >= 0 && at <= 3;
        if (hasStripped)
            stripped = QString(rec->Subject).remove(at, 4);
        Node* result = nullptr;
        for (Node* n : order) {
            if (rec->References.trimmed() == n->rec->References && rec->Date.Value < n->rec->Date.Value) {
                result = make(rec);
                std::vector<Node*>& sibs = n->parent ? n->parent->kids : tops;
                sibs.insert(std::find(sibs.begin(), sibs.end(), n), result);
                result->parent = n->parent;
                rec->Root = n->rec;
                rec->RootNumber = n->rec->Number;
                if (n->rec->Watch == 1 && !Loading)
                    rec->SetSpeakMark(1);
                break;
            }
            if ((!firstRef.isEmpty() && firstRef == n->rec->MessageID) || (hasStripped && stripped == n->rec->Subject)) {
                result = make(rec);
                n->kids.push_back(result);
                result->parent = n;
                rec->Root = n->rec;
                rec->RootNumber = n->rec->Number;
                if (n->rec->Watch == 1 && !Loading) {
                    rec->SetSpeakMark(1);
                    rec->SetReadState(1);
                }
                break;
            }
        }
        if (!result) {
            Node* parent = nullptr;
            if (rec->References.contains('<') && rec->Owner && !firstRef.isEmpty()) {
                TArticleClass* known = rec->Owner->FindByMessageID(firstRef);
                if (known) {
                    if (known != rec && !inView.contains(known) && !inProgress.contains(known))
                        parent = place(known);
                } else {
                    auto ph = std::make_unique<TArticleClass>();
                    ph->Number = TArticleClass::PlaceholderNumber;
                    ph->MessageID = firstRef;
                    QString s = rec->Subject;
                    const qsizetype re = s.indexOf("Re: ", 0, Qt::CaseInsensitive);
                    if (re >= 0)
                        s.remove(re, 4);
                    ph->Subject = s;
                    ph->From = "????";
                    ph->Date = rec->Date;
                    if (TArticleClass* p = rec->Owner->Add(std::move(ph)))
                        parent = place(p);
                }
            }
            result = make(rec);
            result->parent = parent;
            (parent ? parent->kids : tops).push_back(result);
        }
        inProgress.remove(rec);
        return result;
    }

    QStringList dump() const
    {
        QStringList out;
        std::function<void(Node*, int)> walk = [&](Node* n, int depth) {
            const TArticleClass* r = n->rec;
            out << QString("%1 %2 %3 root=%4 mark=%5 read=%6")
                       .arg(depth)
                       .arg(r->MessageID)
                       .arg(r->Number)
                       .arg(r->Root ? r->Root->MessageID : QString("-"))
                       .arg(r->SpeakMark)
                       .arg(r->ReadState);
            for (Node* k : n->kids)
                walk(k, depth + 1);
        };
        for (Node* t : tops)
            walk(t, 0);
        return out;
    }

private:
    Node* make(TArticleClass* rec)
    {
        nodes.push_back(std::make_unique<Node>());
        nodes.back()->rec = rec;
        inView.insert(rec);
        return nodes.back().get();
    }
    void preorder(std::vector<Node*>& out) const
    {
        std::function<void(Node*)> walk = [&](Node* n) {
            out.push_back(n);
            for (Node* k : n->kids)
                walk(k);
        };
        for (Node* t : tops)
            walk(t);
    }
    std::vector<std::unique_ptr<Node>> nodes;
    std::vector<Node*> tops;
    QSet<TArticleClass*> inView;
    QSet<TArticleClass*> inProgress;
};
