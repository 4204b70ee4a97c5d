#pragma once
// The one place where pending window messages are let run while the program is in the
// middle of something (a long load, a download being set up, a long filter loop). While a
// guard is alive the program is busy: the window holds back commands and tree clicks, so
// nothing can start a second job or change the selection under the running one. Code that
// let events run must check its target again afterwards, since timers and network events
// still ran.
#include <QEventLoop>
#include <functional>

class TBusyGuard {
public:
    TBusyGuard();
    ~TBusyGuard();
    TBusyGuard(const TBusyGuard&) = delete;
    TBusyGuard& operator=(const TBusyGuard&) = delete;

    // True while any guard is alive.
    static bool Busy();
    // Lets pending events run inside a guard of its own (so input is held back even when
    // the caller holds none).
    static void ProcessEvents(QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents, int maxTimeMs = -1);

    // Raised when the program becomes busy (true) and when it is idle again (false).
    static void SetOnBusyChanged(std::function<void(bool)> handler);

private:
    static int depth;
};
