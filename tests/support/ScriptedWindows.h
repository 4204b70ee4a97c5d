#pragma once
// For window tests: the scripted dialog service plus the modal windows, handed to handlers
// queued by the test. A login request with no queued answer opens the real login window,
// which goes to the handlers like every other modal window.
#include "ScriptedDialogs.h"
#include "gui/app/WindowService.h"

#include <QStringList>
#include <deque>
#include <functional>

class TScopedScriptedWindows : public TScopedScriptedDialogs, public TWindowService {
public:
    TScopedScriptedWindows() { TWindowService::Install(this); }
    ~TScopedScriptedWindows() override { TWindowService::Install(nullptr); }

    std::deque<std::function<int(QDialog*)>> DialogHandlers; // one per expected modal window
    std::function<int(QDialog*)> DefaultDialogHandler;       // when the queue is empty
    QStringList DialogTitles;                          // window titles of the modal windows shown

    int Exec(QDialog* dialog) override;
    bool RequestCredentials(const QString& host, QString& user, QString& password, bool& savePassword,
                            const QString& status) override;
    // With no queued answer the real windows open and go to the handlers.
    bool ShowSoundCardError(bool& disableCheck) override;
    bool ChooseAudioDevice(int& deviceId) override;
    void Clear() override;
};
