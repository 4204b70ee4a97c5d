// Keyboard and screen reader access, through the real windows: every window the program opens
// is walked with Qt's accessibility interface, the menus carry Alt-letters and shortcuts, and
// the article view tells a screen reader what the focused row is.
#include "news_window_rig.h"

#include "ScriptedWindows.h"
#include "gui/app/ProgressWindow.h"
#include "gui/app/VorlixApplication.h"
#include "gui/app/WindowService.h"
#include "gui/dialogs/NewsGroupTreeView.h"
#include "gui/prefs/NewsgroupPreferencesUnit.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QTabWidget>

using namespace NewsRig;

namespace {
const QString host = QStringLiteral("127.0.0.1:1"); // nothing listens: no download reaches the network

QChar altLetterOf(const QString& text)
{
    for (int i = 0; i + 1 < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('&'))
            return text.at(i + 1) == QLatin1Char('&') ? (++i, QChar()) : text.at(i + 1).toLower();
    }
    return QChar();
}

QString nameOf(const QWidget* w)
{
    return QStringLiteral("%1 '%2'").arg(QString::fromLatin1(w->metaObject()->className()), w->objectName());
}

bool isField(const QWidget* w)
{
    if (qobject_cast<const QLineEdit*>(w) || qobject_cast<const QComboBox*>(w)
        || qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QPlainTextEdit*>(w))
        return true;
    auto* t = qobject_cast<const QTextEdit*>(w);
    return t && !t->isReadOnly();
}

// Walks the accessible tree of a shown window. Returns one line per fault: a control that takes
// the focus with no name, a field without a label carrying an Alt-letter, an Alt-letter used
// twice, an OK, Next or Finish button that Enter does not press.
QStringList faultsOfPage(QWidget* window);

// The faults a check finds on every page of every tabbed part of the window, each once.
QStringList onEveryPage(QWidget* window, QStringList (*check)(QWidget*))
{
    QStringList faults = check(window);
    for (QTabWidget* tabs : window->findChildren<QTabWidget*>()) {
        if (!tabs->isVisibleTo(window))
            continue;
        const int was = tabs->currentIndex();
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            faults << check(window);
        }
        tabs->setCurrentIndex(was);
    }
    faults.removeDuplicates();
    return faults;
}

QStringList accessFaults(QWidget* window)
{
    return onEveryPage(window, faultsOfPage);
}

QStringList faultsOfPage(QWidget* window)
{
    QStringList faults;
    const QString where = window->windowTitle() + QStringLiteral(": ");
    std::function<void(QAccessibleInterface*, int)> visit = [&](QAccessibleInterface* iface, int depth) {
        if (!iface || depth > 40)
            return;
        auto* w = qobject_cast<QWidget*>(iface->object());
        if (w && w != window && w->isVisibleTo(window) && (w->focusPolicy() & Qt::TabFocus)
            && iface->text(QAccessible::Name).trimmed().isEmpty())
            faults << where + QStringLiteral("no accessible name: ") + nameOf(w);
        // The rows of a view are named by their data; the view itself is checked above.
        if (w && qobject_cast<QAbstractItemView*>(w))
            return;
        for (int i = 0; i < iface->childCount(); ++i)
            visit(iface->child(i), depth + 1);
    };
    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(window);
    if (!root || root->text(QAccessible::Name).isEmpty())
        faults << where + QStringLiteral("the window has no accessible name");
    visit(root, 0);

    // Where another button was made the default (Search in a search window), Enter presses that.
    bool defaultSet = false;
    for (QPushButton* b : window->findChildren<QPushButton*>())
        defaultSet = defaultSet || (b->isDefault() && b->isVisibleTo(window));
    QHash<QChar, QString> letters;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window) || w->window() != window)
            continue;
        QString text;
        if (auto* l = qobject_cast<QLabel*>(w); l && l->buddy())
            text = l->text();
        else if (auto* b = qobject_cast<QAbstractButton*>(w))
            text = b->text();
        if (const QChar c = altLetterOf(text); !c.isNull()) {
            if (letters.contains(c))
                faults << where + QStringLiteral("Alt+%1 twice: '%2' and '%3'").arg(c, letters.value(c), text);
            letters.insert(c, text);
        }
        if (auto* l = qobject_cast<QLabel*>(w); l && l->buddy() && !altLetterOf(l->text()).isNull()
            && !(l->buddy()->focusPolicy() & Qt::TabFocus))
            faults << where + QStringLiteral("Alt-letter of '%1' leads to no control").arg(l->text());
        if (isField(w) && (w->focusPolicy() & Qt::TabFocus)) {
            bool labelled = false;
            for (QLabel* l : window->findChildren<QLabel*>())
                labelled = labelled || (l->buddy() == w && !altLetterOf(l->text()).isNull());
            if (!labelled)
                faults << where + QStringLiteral("no label with an Alt-letter: ") + nameOf(w);
        }
        if (auto* b = qobject_cast<QPushButton*>(w)) {
            const QString caption = QString(b->text()).remove(QLatin1Char('&'));
            if ((caption == QLatin1String("OK") || caption == QLatin1String("Next >>")
                 || caption == QLatin1String("Finish"))
                && !b->isDefault() && !defaultSet)
                faults << where + QStringLiteral("not the default button: ") + caption;
        }
    }
    return faults;
}

// Where the control that has the focus belongs: a control whose focus goes to a part of it
// (the field of a spin box or of an editable combo box) is the control itself.
QWidget* controlOf(QWidget* w)
{
    while (w && w->parentWidget() && w->parentWidget()->focusProxy() == w
           && (qobject_cast<QAbstractSpinBox*>(w->parentWidget()) || qobject_cast<QComboBox*>(w->parentWidget())
               || qobject_cast<QTabWidget*>(w->parentWidget())))
        w = w->parentWidget();
    return w;
}

// The controls Tab should reach on the shown page: visible, enabled, taking the focus by Tab;
// of a group of radio buttons only the checked one (the arrow keys move within the group).
QList<QWidget*> tabStops(QWidget* window)
{
    QList<QWidget*> stops;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (w->window() != window || !w->isVisibleTo(window) || !w->isEnabled() || !(w->focusPolicy() & Qt::TabFocus)
            || w->focusProxy() || w->isHidden())
            continue;
        if (auto* radio = qobject_cast<QRadioButton*>(w); radio && radio->autoExclusive() && !radio->isChecked())
            continue;
        stops << controlOf(w);
    }
    return stops;
}

// Where w lies in the window; a tabbed part lies where its tabs are.
QRect placeOf(QWidget* w, QWidget* window)
{
    if (auto* tabs = qobject_cast<QTabWidget*>(w); tabs && tabs->tabBar()->isVisible())
        w = tabs->tabBar();
    return QRect(w->mapTo(window, QPoint(0, 0)), w->size());
}

// True when a is clearly read before b: comparing the two parts of their nearest common
// container that hold them (or the two themselves where one holds the other), a is above b,
// or beside it on its left.
bool readBefore(QWidget* a, QWidget* b, QWidget* window)
{
    QWidget* aPart = a;
    QWidget* bPart = b;
    if (!a->isAncestorOf(b) && !b->isAncestorOf(a)) {
        QWidget* common = a->parentWidget();
        while (common && !common->isAncestorOf(b))
            common = common->parentWidget();
        while (aPart->parentWidget() != common)
            aPart = aPart->parentWidget();
        while (bPart->parentWidget() != common)
            bPart = bPart->parentWidget();
    }
    const QRect ra = placeOf(aPart, window), rb = placeOf(bPart, window);
    const int overlap = std::min(ra.bottom(), rb.bottom()) - std::max(ra.top(), rb.top());
    if (overlap > std::min(ra.height(), rb.height()) / 2)
        return ra.right() <= rb.left() + 2;
    return ra.bottom() <= rb.top() + 2;
}

bool closesWindow(QWidget* w)
{
    auto* b = qobject_cast<QPushButton*>(w);
    if (!b)
        return false;
    static const QStringList captions = {"OK", "Cancel", "Close", "Done", "Finish", "Next >>", "<< Back"};
    return captions.contains(QString(b->text()).remove(QLatin1Char('&')));
}

QStringList tabOrderFaultsOfPage(QWidget* window);

// Walks the window with the Tab key, on every page of every tabbed part. Returns one line per
// fault: a control Tab does not reach, a control that keeps Tab for itself, a step of the
// order that goes back up or to the left, a control after the window's OK and Cancel buttons.
QStringList tabOrderFaults(QWidget* window)
{
    return onEveryPage(window, tabOrderFaultsOfPage);
}

QStringList tabOrderFaultsOfPage(QWidget* window)
{
    QStringList faults;
    const QString where = window->windowTitle() + QStringLiteral(": ");
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window))
        return {where + QStringLiteral("the window does not become active")};
    const QList<QWidget*> stops = tabStops(window);
    if (stops.isEmpty())
        return {};
    // The walk starts at the control read first.
    QWidget* first = stops.first();
    for (QWidget* w : stops) {
        if (readBefore(w, first, window))
            first = w;
    }
    first->setFocus(Qt::TabFocusReason);
    QList<QWidget*> order;
    for (int i = 0; i < 200; ++i) {
        QWidget* focus = controlOf(QApplication::focusWidget());
        if (!focus || focus->window() != window) {
            faults << where + QStringLiteral("Tab leaves the window");
            break;
        }
        if (!order.isEmpty() && focus == order.first())
            break;
        if (order.contains(focus)) {
            faults << where + QStringLiteral("Tab goes round without %1").arg(nameOf(order.first()));
            break;
        }
        order << focus;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        if (controlOf(QApplication::focusWidget()) == focus && stops.size() > 1) {
            faults << where + QStringLiteral("Tab stays in ") + nameOf(focus);
            focus->nextInFocusChain()->setFocus(Qt::TabFocusReason);
            break;
        }
    }
    for (QWidget* w : stops) {
        if (!order.contains(w))
            faults << where + QStringLiteral("Tab does not reach ") + nameOf(w);
    }
    for (qsizetype i = 1; i < order.size(); ++i) {
        if (readBefore(order[i], order[i - 1], window))
            faults << where + QStringLiteral("Tab goes back from %1 to %2").arg(nameOf(order[i - 1]), nameOf(order[i]));
    }
    bool closing = false;
    for (QWidget* w : order) {
        if (closesWindow(w))
            closing = true;
        else if (closing)
            faults << where + QStringLiteral("after the closing buttons: ") + nameOf(w);
    }
    if (!faults.isEmpty()) {
        QStringList shown;
        for (QWidget* w : order)
            shown << nameOf(w) + QStringLiteral(" at %1,%2").arg(placeOf(w, window).x()).arg(placeOf(w, window).y());
        faults << where + QStringLiteral("the order: ") + shown.join(QStringLiteral(" -> "));
    }
    return faults;
}

// Modal windows go to this walker: each is shown, checked, and cancelled. opened says what
// to open inside a window by its title (for the windows reached from other windows).
struct TWalker {
    QStringList Titles;
    QStringList Faults;
    QHash<QString, std::function<void(QDialog*)>> Inside;
    // What to wait for before a window is checked, by its title.
    QHash<QString, std::function<void(QDialog*)>> Ready;
    std::function<QStringList(QWidget*)> Check = accessFaults;

    std::function<int(QDialog*)> Handler()
    {
        return [this](QDialog* d) {
            d->show();
            QTest::qWait(0);
            Titles << d->windowTitle();
            if (const auto ready = Ready.constFind(d->windowTitle()); ready != Ready.constEnd())
                (*ready)(d);
            Faults << Check(d);
            if (const auto inside = Inside.constFind(d->windowTitle()); inside != Inside.constEnd())
                (*inside)(d);
            d->hide();
            return int(QDialog::Rejected);
        };
    }
};

// A letter may be shared only by captions that came with it (the menu then moves between them).
QStringList menuFaults(QMenu* menu, const QString& where)
{
    QSet<QString> given;
    for (const TCommandDef& def : MainWindowCommands()) {
        for (const QString& text : def.Text) {
            if (text.contains(QLatin1Char('&')))
                given.insert(text);
        }
    }
    QStringList faults;
    QHash<QChar, QString> used;
    for (QAction* a : menu->actions()) {
        if (a->isSeparator())
            continue;
        const QChar c = altLetterOf(a->text());
        if (c.isNull())
            faults << where + QStringLiteral(": no Alt-letter: ") + a->text();
        else if (used.contains(c) && !(given.contains(a->text()) && given.contains(used.value(c))))
            faults << where + QStringLiteral(": Alt+%1 twice, again in ").arg(c) + a->text();
        used.insert(c, a->text());
    }
    return faults;
}
// Opens every window and dialog through the program's own commands (and the ones reached from
// inside other windows); each is handed to the walker while it is shown.
void OpenEveryWindow(TWalker& walker)
{
    TScopedScriptedWindows dialogs;
    dialogs.DefaultDialogHandler = walker.Handler();
    WriteConfig(host, {QStringLiteral("comp.test")});
    Window w;
    QVERIFY(w.Open());
    w.Form->Store->SetValue(QStringLiteral("EmailAddress"), QStringLiteral("ann@example.org"));
    w.Form->resize(1000, 700);
    w.Entry(QStringLiteral("comp.test"))->Downloaded = true;
    w.Select(QStringLiteral("comp.test"));
    QVERIFY(w.WaitIdle());
    walker.Faults << walker.Check(w.Form.get());

    // Windows reached from inside other windows.
    walker.Inside.insert(QStringLiteral("Setting Text Pre-Processor Preferences"), [](QDialog* d) {
        for (QPushButton* b : d->findChildren<QPushButton*>()) {
            if (b->objectName() == QLatin1String("btnAdd"))
                b->click();
        }
    });

    walker.Inside.insert(QStringLiteral("Setting Voice and Audio File Preferences"), [](QDialog* d) {
        if (auto* sapi = d->findChild<QComboBox*>(QStringLiteral("cbSapiVersion")); sapi && sapi->count() > 1)
            sapi->setCurrentIndex((sapi->currentIndex() + 1) % sapi->count());
    });

    const QStringList menuCommands = {"AddServer", "EditServer", "AddGroup", "Post", "NewsreaderOptions",
                                      "TTSOptions", "TextPreprocessorOptions", "LexEdit", "SelectDevice",
                                      "TipOfDay"};
    for (const QString& id : menuCommands) {
        const bool onServer = id == QLatin1String("EditServer") || id == QLatin1String("AddGroup");
        w.Select(onServer ? host : QStringLiteral("comp.test"));
        w.Form->UpdateCommands();
        QAction* a = w.Form->Command(id, TCommandPlace::Menu);
        QVERIFY2(a && a->isEnabled(), qPrintable(id));
        a->trigger();
    }
    w.Select(host);
    w.Form->UpdateCommands();
    w.Form->Command(QStringLiteral("NewsgroupList"), TCommandPlace::Toolbar)->trigger();
    QVERIFY(w.WaitIdle());

    // The login window and the sound card warning come through the dialog service.
    QString user = QStringLiteral("ann"), password;
    bool save = false;
    QVERIFY(!Dialogs().RequestCredentials(host, user, password, save, QString()));
    bool disableCheck = false;
    QVERIFY(!Dialogs().ShowSoundCardError(disableCheck));

    // The progress window of a long job is not modal.
    {
        TProgressWindow progress(w.Form.get(), QStringLiteral("Downloading"),
                                 TProgressWindow::WithStatus | TProgressWindow::WithBar
                                     | TProgressWindow::WithCancel);
        progress.ShowNow();
        walker.Titles << progress.windowTitle();
        walker.Faults << walker.Check(&progress);
    }

    // The wizard of the first start.
    RunFirstRunCheck();

}
} // namespace

class TestAccessibility : public QObject {
    Q_OBJECT
private slots:
    void init() { ResetProfile(); }

    // Every window and dialog, opened through the program's own commands, names each control
    // that takes the focus, labels each field with an Alt-letter and makes OK the default.
    void everyWindowNamesItsControls()
    {
        TWalker walker;
        // The captions of the labels and buttons of each window, as shown.
        QHash<QString, QStringList> captions;
        walker.Check = [&captions](QWidget* window) {
            for (QWidget* w : window->findChildren<QWidget*>()) {
                if (auto* l = qobject_cast<QLabel*>(w); l && l->buddy())
                    captions[window->windowTitle()] << l->text();
                else if (auto* b = qobject_cast<QAbstractButton*>(w))
                    captions[window->windowTitle()] << b->text();
            }
            return accessFaults(window);
        };
        OpenEveryWindow(walker);
        if (QTest::currentTestFailed())
            return;
        for (const char* title : {"Add Server", "Edit Server", "Add Newsgroup", "Post New Message",
                                     "Vorlix Options", "Setting Voice and Audio File Preferences",
                                  "Setting Text Pre-Processor Preferences", "Suppress Speak", "Pronunciation Editor",
                                  "Tip of the Day", "Newsgroup List", "Login", "Sound Card Error Detected",
                                  "Downloading"})
            QVERIFY2(walker.Titles.contains(title), qPrintable(walker.Titles.join(QStringLiteral(" | "))));
        // With the SAPI note, the sound device window and the wizard: seventeen windows.
        QVERIFY2(walker.Titles.contains("SAPI Version Info") && walker.Titles.size() == 17, qPrintable(walker.Titles.join(QStringLiteral(" | "))));
        QVERIFY2(walker.Faults.isEmpty(), qPrintable(walker.Faults.join(QLatin1Char('\n'))));
        // Letters given by the program go to the push buttons first, then to the labels and check
        // boxes in their order: the first field keeps the first letter of its caption.
        for (const char* caption : {"&Server Name:", "&User ID:", "S&ave Password"})
            QVERIFY2(captions.value("Add Server").contains(caption), qPrintable(captions.value("Add Server").join(" | ")));
        // A caption of information the user cannot change has no letter: it would lead nowhere.
        for (const char* caption : {"Server:", "&Save Password", "&User Name:"})
            QVERIFY2(captions.value("Login").contains(caption), qPrintable(captions.value("Login").join(" | ")));
    }

    // Tab walks every window top to bottom and left to right as the controls are placed,
    // reaches every control that takes the focus, and comes to OK and Cancel last.
    void everyWindowHasASensibleTabOrder()
    {
        TWalker walker;
        walker.Check = tabOrderFaults;
        // The newsgroup list is walked once its first download (from no server) has ended.
        walker.Ready.insert(QStringLiteral("Newsgroup List"), [](QDialog* d) {
            auto* list = qobject_cast<TNGDialog*>(d);
            QVERIFY(list && TestSupport::WaitFor([list] { return !list->Downloading() && !list->Busy(); }));
        });
        OpenEveryWindow(walker);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(walker.Titles.size(), 17);
        QVERIFY2(walker.Faults.isEmpty(), qPrintable(walker.Faults.join(QLatin1Char('\n'))));
    }


    // Menus and pop-ups: every entry has its own Alt-letter; the news commands have shortcuts
    // that no other command uses and that leave N and Space to the article view.
    void menusHaveAltLettersAndShortcuts()
    {
        TScopedScriptedWindows dialogs;
        WriteConfig(host, {QStringLiteral("comp.test")});
        Window w;
        QVERIFY(w.Open());
        QStringList faults;
        for (QAction* top : w.Form->menuBar()->actions())
            faults << menuFaults(top->menu(), top->text());
        for (QMenu* popup : w.Form->findChildren<QMenu*>()) {
            if (popup->objectName().startsWith(QLatin1String("pop")))
                faults << menuFaults(popup, popup->objectName());
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
        // The captions stay as they were, with the letter added.
        QCOMPARE(QString(w.Form->Command("AddServer", TCommandPlace::Menu)->text()).remove('&'), QString("Add Server"));

        QHash<QKeySequence, QString> keys;
        for (QAction* a : w.Form->Commands()) {
            if (a->shortcut().isEmpty())
                continue;
            QVERIFY2(!keys.contains(a->shortcut()) || keys.value(a->shortcut()) == a->text(),
                     qPrintable(a->text() + " and " + keys.value(a->shortcut())));
            keys.insert(a->shortcut(), a->text());
        }
        for (const char* id : {"Download", "Post", "Reply", "NextUnread"}) {
            const QKeySequence key = w.Form->Command(id, TCommandPlace::Menu)->shortcut();
            QVERIFY2(!key.isEmpty(), id);
            QVERIFY(key != QKeySequence(Qt::Key_N) && key != QKeySequence(Qt::Key_Space));
        }
        // The shortcut carries out the command: Ctrl+P opens the post window for the group.
        w.Form->Store->SetValue(QStringLiteral("EmailAddress"), QStringLiteral("ann@example.org"));
        w.Entry(QStringLiteral("comp.test"))->Downloaded = true;
        w.Select(QStringLiteral("comp.test"));
        QVERIFY(w.WaitIdle());
        TWalker walker;
        dialogs.DefaultDialogHandler = walker.Handler();
        w.Form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.Form.get()));
        QTest::keyClick(w.Form.get(), Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(walker.Titles, QStringList({"Post New Message"}));

        // Tab goes from the server tree to the article view and on to the message pane.
        QWidget* servers = TestSupport::Part<QWidget>(w.Form.get(), "tvServers");
        QWidget* articles = TestSupport::Part<QWidget>(w.Form.get(), "tvArticles");
        QWidget* message = TestSupport::Part<QWidget>(w.Form.get(), "memoMessage");
        QCOMPARE(servers->nextInFocusChain(), articles->nextInFocusChain() == message ? articles
                                                                                       : servers->nextInFocusChain());
        QWidget* after = servers;
        QList<QWidget*> order;
        for (int i = 0; i < 50 && order.size() < 3; ++i) {
            after = after->nextInFocusChain();
            if (after == articles || after == message)
                order << after;
        }
        QCOMPARE(order, (QList<QWidget*>{articles, message}));
    }

    // Alt+N presses Next in the wizard, and an Alt+letter that no control takes is not typed
    // into the field that has the focus.
    void altLettersAreNotTyped()
    {
        TScopedScriptedWindows dialogs;
        TMyRegistryClass store;
        TNewsgroupPreferences wizard;
        wizard.SettingsStore = &store;
        wizard.WizardMode = true;
        wizard.PrepareShow();
        wizard.show();
        wizard.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&wizard));
        wizard.edName->setFocus();
        wizard.edName->setText(QStringLiteral("Ann"));
        const int step = wizard.CurrentStep;
        QTest::keyClick(wizard.edName, Qt::Key_Q, Qt::AltModifier);
        QCOMPARE(wizard.edName->text(), QString("Ann"));
        QCOMPARE(wizard.CurrentStep, step);
        wizard.edEmail->setText(QStringLiteral("ann@example.org"));
        QTest::keyClick(wizard.edName, Qt::Key_N, Qt::AltModifier);
        QCOMPARE(wizard.edName->text(), QString("Ann"));
        // The button is pressed as a click is shown: a moment later.
        QTRY_VERIFY(wizard.CurrentStep > step);
        // Enter on the last step presses Finish.
        QVERIFY(wizard.NextButton()->isDefault());
    }

    // The article view says in words what the focused row is: subject, author, date, read and
    // speak state, and follows the marks as they change.
    void articleRowIsDescribed()
    {
        TScopedScriptedWindows dialogs;
        WriteConfig(host, {QStringLiteral("comp.test")});
        Window w;
        QVERIFY(w.Open());
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        TConfigClass* group = w.Entry(QStringLiteral("comp.test"));
        WriteLinesAtomically(group->FilePath(), {"11|0|1|0|0|<a>|Alpha|Al Example|09/12/2025 09:00:00||0",
                                                 "13|2|0|0|0|<c>|Beta|Cy|10/12/2025 09:00:00||1"});
        group->Downloaded = true;
        w.Select(QStringLiteral("comp.test"));
        QVERIFY(TestSupport::WaitFor([&] { return w.ItemBySubject("Beta") != nullptr; }));
        QVERIFY(w.WaitIdle());

        auto* view = TestSupport::Part<QTreeView>(w.Form.get(), "tvArticles");
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(view);
        QVERIFY(table && table->tableInterface());
        QCOMPARE(table->text(QAccessible::Name), QString("Articles"));
        auto cellOf = [&](const TArticleRow& row, int column) {
            const QModelIndex index = row.Index().siblingAtColumn(column);
            const QRect rect = view->visualRect(index);
            QAccessibleInterface* cell = table->childAt(view->viewport()->mapToGlobal(rect.center()).x(),
                                                        view->viewport()->mapToGlobal(rect.center()).y());
            return cell;
        };
        const TArticleRow alpha = w.ItemBySubject("Alpha");
        w.SetCurrent(alpha);
        QVERIFY(w.WaitIdle());
        QAccessibleInterface* subject = cellOf(alpha, 1);
        QVERIFY(subject);
        QCOMPARE(subject->text(QAccessible::Name), QString("Alpha"));
        const QString description = subject->text(QAccessible::Description);
        const QString date = view->model()->index(alpha.Index().row(), 3, alpha.Index().parent()).data().toString();
        QVERIFY2(description.startsWith("Alpha, from Al Example, " + date + ". "), qPrintable(description));
        QVERIFY2(description.contains("Not marked for speaking"), qPrintable(description));
        QAccessibleInterface* mark = cellOf(alpha, 0);
        QVERIFY(mark);
        QCOMPARE(mark->text(QAccessible::Name), QString("Not marked for speaking"));

        const TArticleRow beta = w.ItemBySubject("Beta");
        QCOMPARE(cellOf(beta, 0)->text(QAccessible::Name), QString("Spoken"));
        QCOMPARE(cellOf(beta, 4)->text(QAccessible::Name), QString("Watched"));
        QVERIFY(cellOf(beta, 2)->text(QAccessible::Description).contains(". Read. Spoken. Watched."));

        // Marking the focused article for speaking changes what is said.
        view->clearSelection();
        view->selectionModel()->select(alpha.Index(), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        w.Form->Command(QStringLiteral("MarkSpeak"), TCommandPlace::ArticlePopup)->trigger();
        QCOMPARE(cellOf(alpha, 0)->text(QAccessible::Name), QString("Marked for speaking"));
        QVERIFY(cellOf(alpha, 3)->text(QAccessible::Description).contains(". Marked for speaking."));
    }
};

VORLIX_TEST_MAIN(TestAccessibility)
#include "test_accessibility.moc"
