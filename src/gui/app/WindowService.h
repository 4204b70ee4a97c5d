#pragma once
// Every modal window of the program is run through this one service, so tests can answer
// them. The program's own service runs QDialog::exec.
class QDialog;
class QWidget;

class TWindowService {
public:
    virtual ~TWindowService() = default;

    // Shows a modal window and returns its result code (QDialog::Accepted / Rejected or a custom one).
    virtual int Exec(QDialog* dialog) = 0;

    // The service in force. Install(nullptr) brings back the program's own one.
    static TWindowService& Instance();
    static void Install(TWindowService* service);
    // The window message boxes are centred on, when there is one.
    static void SetParentWindow(QWidget* parent);
    static QWidget* ParentWindow();
};

inline TWindowService& Windows() { return TWindowService::Instance(); }
