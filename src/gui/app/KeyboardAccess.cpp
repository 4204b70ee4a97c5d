#include "gui/app/KeyboardAccess.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QGroupBox>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolButton>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

// The letter after a single '&' in a caption (a "&&" is a plain ampersand), or a null char.
QChar altLetter(const QString& text)
{
    for (int i = 0; i + 1 < text.size(); ++i) {
        if (text.at(i) != QLatin1Char('&'))
            continue;
        if (text.at(i + 1) == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return text.at(i + 1).toLower();
    }
    return QChar();
}

// Puts '&' before the first letter or digit of text not yet used; the text is kept otherwise.
// Captions with a letter already, empty ones and rich text are left alone.
bool addAltLetter(QString& text, QSet<QChar>& used)
{
    if (text.isEmpty() || !altLetter(text).isNull() || text.contains(QLatin1Char('<')))
        return false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i).toLower();
        if (c.isLetterOrNumber() && c.unicode() < 128 && !used.contains(c)) {
            used.insert(c);
            text.insert(i, QLatin1Char('&'));
            return true;
        }
    }
    return false;
}

// A field a label can name: something that takes the focus from the keyboard.
QWidget* fieldOf(QWidget* w)
{
    if (!w)
        return nullptr;
    if (w->focusPolicy() & Qt::TabFocus)
        return w;
    for (QWidget* child : w->findChildren<QWidget*>()) {
        if ((child->focusPolicy() & Qt::TabFocus) && !qobject_cast<QLabel*>(child))
            return child;
    }
    return nullptr;
}

// Rows of forms whose label was made apart from its field get the field as buddy.
void joinFormLabels(QWidget* window)
{
    for (QFormLayout* form : window->findChildren<QFormLayout*>()) {
        for (int row = 0; row < form->rowCount(); ++row) {
            QLayoutItem* labelItem = form->itemAt(row, QFormLayout::LabelRole);
            QLayoutItem* fieldItem = form->itemAt(row, QFormLayout::FieldRole);
            auto* label = labelItem ? qobject_cast<QLabel*>(labelItem->widget()) : nullptr;
            if (!label || label->buddy() || !fieldItem)
                continue;
            QWidget* field = fieldItem->widget();
            if (!field && fieldItem->layout()) {
                for (int i = 0; i < fieldItem->layout()->count() && !field; ++i)
                    field = fieldOf(fieldItem->layout()->itemAt(i)->widget());
            }
            field = fieldOf(field);
            if (field && !qobject_cast<QLabel*>(field) && !qobject_cast<QAbstractButton*>(field))
                label->setBuddy(field);
        }
    }
}

// The page of a tab widget a control is on (null outside any page).
QWidget* pageOf(QWidget* w, QWidget* window)
{
    for (QWidget* p = w; p && p != window; p = p->parentWidget()) {
        QWidget* parent = p->parentWidget();
        if (parent && parent->parentWidget() && qobject_cast<QTabWidget*>(parent->parentWidget())
            && parent->parentWidget()->isAncestorOf(p) && parent->inherits("QStackedWidget"))
            return p;
    }
    return nullptr;
}

bool isTextField(QObject* o)
{
    if (qobject_cast<QLineEdit*>(o) || qobject_cast<QAbstractSpinBox*>(o))
        return true;
    if (auto* t = qobject_cast<QTextEdit*>(o))
        return !t->isReadOnly();
    if (auto* t = qobject_cast<QPlainTextEdit*>(o))
        return !t->isReadOnly();
    if (auto* c = qobject_cast<QComboBox*>(o))
        return c->isEditable();
    return false;
}

class TKeyboardFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto* w = static_cast<QWidget*>(watched);
            if (auto* menu = qobject_cast<QMenu*>(w))
                KeyboardAccess::PrepareMenu(menu);
            else if (w->isWindow())
                KeyboardAccess::Prepare(w);
        } else if (event->type() == QEvent::KeyPress) {
            // Reaching here, the Alt+letter matched no control: it must not become text.
            auto* key = static_cast<QKeyEvent*>(event);
            const Qt::KeyboardModifiers mods = key->modifiers();
            if ((mods & Qt::AltModifier) && !(mods & Qt::ControlModifier) && !key->text().isEmpty()
                && key->text().at(0).isPrint() && isTextField(watched))
                return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

namespace KeyboardAccess {

void Prepare(QWidget* window)
{
    joinFormLabels(window);
    // Controls on different pages of a tabbed window may share a letter: only the shown page's
    // letters work. Letters of controls outside the pages are kept from every page.
    struct TCaption {
        QWidget* Page;
        std::function<QString()> Get;
        std::function<void(const QString&)> Set;
        bool Button; // a push button: an action of the window
    };
    std::vector<TCaption> captions;
    QHash<QWidget*, QSet<QChar>> used;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (w->window() != window)
            continue;
        // A label gets a letter only where its control can take the focus: the caption of a
        // line of read-only information would lead nowhere.
        if (auto* l = qobject_cast<QLabel*>(w);
            l && l->buddy() && l->textFormat() != Qt::RichText && (l->buddy()->focusPolicy() & Qt::TabFocus))
            captions.push_back({pageOf(w, window), [l] { return l->text(); }, [l](const QString& t) { l->setText(t); },
                                false});
        else if (auto* b = qobject_cast<QAbstractButton*>(w); b && !qobject_cast<QToolButton*>(b))
            captions.push_back({pageOf(w, window), [b] { return b->text(); },
                                [b](const QString& t) { b->setText(t); }, qobject_cast<QPushButton*>(b) != nullptr});
        else if (auto* g = qobject_cast<QGroupBox*>(w); g && g->isCheckable())
            captions.push_back({pageOf(w, window), [g] { return g->title(); },
                                [g](const QString& t) { g->setTitle(t); }, false});
        else if (auto* t = qobject_cast<QTabWidget*>(w)) {
            for (int i = 0; i < t->count(); ++i) {
                if (const QChar c = altLetter(t->tabText(i)); !c.isNull())
                    used[nullptr].insert(c);
            }
        }
    }
    for (const TCaption& c : captions) {
        if (const QChar letter = altLetter(c.Get()); !letter.isNull())
            used[c.Page].insert(letter);
    }
    // Controls outside the pages first (OK, Next, Cancel), push buttons before labels and
    // check boxes, which keep the order they were made in: the first field of a window keeps
    // the first letter of its caption rather than losing it to a check box further down.
    std::stable_sort(captions.begin(), captions.end(), [](const TCaption& a, const TCaption& b) {
        return std::make_pair(a.Page != nullptr, !a.Button) < std::make_pair(b.Page != nullptr, !b.Button);
    });
    for (const TCaption& c : captions) {
        QSet<QChar> taken = used.value(nullptr);
        if (c.Page)
            taken.unite(used.value(c.Page));
        QString text = c.Get();
        if (addAltLetter(text, taken)) {
            used[c.Page].insert(altLetter(text));
            if (!c.Page) {
                for (auto it = used.begin(); it != used.end(); ++it)
                    it->insert(altLetter(text));
            }
            c.Set(text);
        }
    }
}

void PrepareMenu(QMenu* menu)
{
    QSet<QChar> used;
    const QList<QAction*> actions = menu->actions();
    for (QAction* a : actions) {
        if (const QChar c = altLetter(a->text()); !c.isNull())
            used.insert(c);
    }
    for (QAction* a : actions) {
        if (a->isSeparator())
            continue;
        QString text = a->text();
        if (addAltLetter(text, used))
            a->setText(text);
    }
}

void Install()
{
    static TKeyboardFilter* filter = nullptr;
    if (filter || !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    filter = new TKeyboardFilter(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(filter);
}

} // namespace KeyboardAccess

void KeyboardAccess::OrderTabbedPart(QTabWidget* tabs, const QList<QWidget*>& after)
{
    // The controls of the pages as the focus chain has them now; the parts of a control that
    // passes its focus on (the field of a spin box) move with their control.
    QWidget* window = tabs->window();
    QList<QWidget*> controls;
    for (QWidget* w = window->nextInFocusChain(); w && w != window; w = w->nextInFocusChain()) {
        if (w == tabs->tabBar() || !tabs->isAncestorOf(w) || !(w->focusPolicy() & Qt::TabFocus))
            continue;
        if (w->parentWidget() && w->parentWidget()->focusProxy() == w)
            continue;
        controls << w;
    }
    QWidget* previous = tabs;
    for (QWidget* w : controls + after) {
        QWidget::setTabOrder(previous, w);
        previous = w;
    }
}
