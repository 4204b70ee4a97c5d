#pragma once
// The one way a command of the windows catches an error: the work runs, and an error it
// throws is logged as "<name> Exception: <message>" and shown in an error box; the window
// goes on.
#include <QString>
#include <functional>

// Returns false when the work ended with an error.
bool RunCommand(const QString& name, const std::function<void()>& work);
