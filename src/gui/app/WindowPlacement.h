#pragma once
// A window's size, position and maximized state, kept under WindowPlacementKey(windowName)
// and clamped (position and size) to the screen it opens on when read back.
#include <QString>

class QWidget;

void SaveWindowPlacement(QWidget* window, const QString& windowName);
void RestoreWindowPlacement(QWidget* window, const QString& windowName);
// Position only (top and left), with the same clamping to the screen.
void SaveWindowPosition(QWidget* window, const QString& windowName);
void RestoreWindowPosition(QWidget* window, const QString& windowName);
// Restores a minimised window (a maximised one comes back maximised), shows it, raises it and
// activates it.
void BringToFront(QWidget* window);
