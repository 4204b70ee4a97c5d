#include "gui/app/WindowPlacement.h"

#include "core/BaseUtils.h"
#include "core/RegistryEnhanced.h"
#include "core/RegistryUnit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace {
struct Placement {
    bool valid = false;
    bool maximized = false;
    int top = 0, left = 0, width = 0, height = 0;
};

// Reads the five values ("0" when missing) and clamps the rectangle to the screen.
Placement readPlacement(const QString& windowName)
{
    TRegistryEnhanced reg(WindowPlacementKey(windowName));
    Placement p;
    bool ok = true;
    auto read = [&](const char* name) {
        bool good = false;
        const int v = reg.ReadValueDefault(QLatin1String(name), QStringLiteral("0")).toString().trimmed().toInt(&good);
        ok = ok && good;
        return good ? v : 0;
    };
    p.maximized = read("Maximized") == 1;
    p.top = read("Top");
    p.left = read("Left");
    p.width = read("Width");
    p.height = read("Height");
    if (!ok) {
        UtilsClass::Log(QStringLiteral("RestoreWindowPlacement Exception: a value of ") + windowName
                        + QStringLiteral(" is not a number"));
        return p;
    }
    if (p.height == 0)
        return p;
    // The screen the window opens on: the one under the middle of the saved rectangle, else
    // the primary one. A size saved on a larger screen shrinks to fit this one.
    QRect screen(0, 0, 1024, 768);
    QScreen* s = QGuiApplication::screenAt(QPoint(p.left + p.width / 2, p.top + p.height / 2));
    if (!s)
        s = QGuiApplication::primaryScreen();
    if (s)
        screen = s->availableGeometry();
    p.width = std::min(p.width, screen.width());
    p.height = std::min(p.height, screen.height());
    if (screen.right() + 1 < p.left + p.width)
        p.left = screen.right() + 1 - p.width;
    if (screen.bottom() + 1 < p.top + p.height)
        p.top = screen.bottom() + 1 - p.height;
    if (p.top < screen.top())
        p.top = screen.top();
    if (p.left < screen.left())
        p.left = screen.left();
    p.valid = true;
    return p;
}

void writePlacement(QWidget* window, const QString& windowName)
{
    TRegistryEnhanced reg(WindowPlacementKey(windowName));
    // A minimised window keeps its maximised flag beside the minimised one.
    if (window->isMaximized()) {
        reg.WriteValue(QStringLiteral("Maximized"), QStringLiteral("1"));
    } else {
        const QRect g = window->isMinimized() ? window->normalGeometry() : window->geometry();
        reg.WriteValue(QStringLiteral("Maximized"), QStringLiteral("0"));
        reg.WriteValue(QStringLiteral("Top"), QString::number(g.top()));
        reg.WriteValue(QStringLiteral("Left"), QString::number(g.left()));
        reg.WriteValue(QStringLiteral("Width"), QString::number(g.width()));
        reg.WriteValue(QStringLiteral("Height"), QString::number(g.height()));
    }
    TRegistryEnhanced::Flush();
}
}

void SaveWindowPlacement(QWidget* window, const QString& windowName)
{
    writePlacement(window, windowName);
}

void RestoreWindowPlacement(QWidget* window, const QString& windowName)
{
    const Placement p = readPlacement(windowName);
    if (!p.valid)
        return;
    window->setGeometry(p.left, p.top, p.width, p.height);
    if (p.maximized)
        window->setWindowState(window->windowState() | Qt::WindowMaximized);
}

void SaveWindowPosition(QWidget* window, const QString& windowName)
{
    writePlacement(window, windowName);
}

void RestoreWindowPosition(QWidget* window, const QString& windowName)
{
    const Placement p = readPlacement(windowName);
    if (!p.valid)
        return;
    window->move(p.left, p.top);
}

void BringToFront(QWidget* window)
{
    // Only the minimised state is taken away: a maximised window comes back maximised.
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    if (!window->isVisible())
        window->show();
    window->raise();
    window->activateWindow();
}
