#include "gui/app/RunCommand.h"

#include "core/BaseUtils.h"
#include "core/DialogService.h"
#include "core/VorlixException.h"

#include <exception>

bool RunCommand(const QString& name, const std::function<void()>& work)
{
    QString message;
    try {
        work();
        return true;
    } catch (const EVorlixError& e) {
        message = e.message();
    } catch (const std::exception& e) {
        message = QString::fromLocal8Bit(e.what());
    }
    UtilsClass::Log(name + QStringLiteral(" Exception: ") + message);
    Dialogs().ShowError(message);
    return false;
}
