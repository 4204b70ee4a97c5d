#include "gui/app/WindowPlacement.h"

#include "core/BaseUtils.h"
#include "core/RegistryEnhanced.h"
#include "core/RegistryUnit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

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
    QSize screen(1024, 768);
    if (QScreen* s = QGuiApplication::primaryScreen())
        screen = s->geometry().size();
    if (screen.width() < p.left + p.width)
        p.left = screen.width() - p.width;
    if (screen.height() < p.top + p.height)
        p.top = screen.height() - p.height;
    if (p.top < 0)
        p.top = 0;
    if (p.left < 0)
        p.left = 0;
    p.valid = true;
    return p;
}

void writePlacement(QWidget* window, const QString& windowName)
{
    TRegistryEnhanced reg(WindowPlacementKey(windowName));
    if (window->isMaximized()) {
        reg.WriteValue(QStringLiteral("Maximized"), QStringLiteral("1"));
    } else {
        const QRect g = window->geometry();
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
