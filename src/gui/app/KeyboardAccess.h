#pragma once
// Keyboard access shared by every window. When a window or menu is shown, each label is joined
// to the field that follows it in its form, and labels, buttons and menu entries without an
// Alt-letter get the first free letter of their caption. An Alt+letter that no control takes
// is never typed into a text field.
#include <QList>

class QMenu;
class QTabWidget;
class QWidget;

namespace KeyboardAccess {
// Gives Alt-letters and buddies to the controls of a window (done again on every showing;
// captions that already carry one are kept).
void Prepare(QWidget* window);
// Gives Alt-letters to the entries of a menu that lack one, unique within the menu.
void PrepareMenu(QMenu* menu);
// Installs the above for every window of the application (done once when the application starts).
void Install();
// Tab reaches a tabbed part's tabs first, then the controls of its pages (in their order among
// themselves), then the given buttons. For windows whose pages are filled after the buttons
// were made.
void OrderTabbedPart(QTabWidget* tabs, const QList<QWidget*>& after = {});
}
