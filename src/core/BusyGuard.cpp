#include "core/BusyGuard.h"

#include <QCoreApplication>

int TBusyGuard::depth = 0;

namespace {
std::function<void(bool)>& busyChanged()
{
    static std::function<void(bool)> handler;
    return handler;
}
}

TBusyGuard::TBusyGuard()
{
    if (depth++ == 0 && busyChanged())
        busyChanged()(true);
}

TBusyGuard::~TBusyGuard()
{
    if (--depth == 0 && busyChanged())
        busyChanged()(false);
}

bool TBusyGuard::Busy()
{
    return depth > 0;
}

void TBusyGuard::ProcessEvents(QEventLoop::ProcessEventsFlags flags, int maxTimeMs)
{
    TBusyGuard guard;
    if (maxTimeMs >= 0)
        QCoreApplication::processEvents(flags, maxTimeMs);
    else
        QCoreApplication::processEvents(flags);
}

void TBusyGuard::SetOnBusyChanged(std::function<void(bool)> handler)
{
    busyChanged() = std::move(handler);
}
