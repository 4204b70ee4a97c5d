#pragma once
// Every message box, error box, confirmation and modal sub-window goes through this one
// service. The program installs the real one (QMessageBox, QDialog::exec); tests install a
// scripted one that records each text and answers as the test says.
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>

class QDialog;
class QWidget;

enum class TDialogButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class TDialogAnswer { Ok, Cancel, Yes, No };
enum class TMessageKind { Information, Warning, Error, Question };

class TDialogService {
public:
    virtual ~TDialogService() = default;

    // A message box with one OK button.
    virtual void ShowMessage(const QString& text, TMessageKind kind = TMessageKind::Information) = 0;
    // A question with the given buttons; the answer is the button pressed (Escape gives No or Cancel).
    virtual TDialogAnswer Ask(const QString& text, TDialogButtons buttons,
                              TMessageKind kind = TMessageKind::Question) = 0;
    // Shows a modal window and returns its result code (QDialog::Accepted / Rejected or a custom one).
    virtual int Exec(QDialog* dialog) = 0;

    // Shorthands.
    void ShowError(const QString& text) { ShowMessage(text, TMessageKind::Error); }
    bool Confirm(const QString& text) { return Ask(text, TDialogButtons::YesNo) == TDialogAnswer::Yes; }

    // The service in force. Install(nullptr) brings back the real one.
    static TDialogService& Instance();
    static void Install(TDialogService* service);
    // The window message boxes are centred on, when there is one.
    static void SetParentWindow(QWidget* parent);
    static QWidget* ParentWindow();
};

inline TDialogService& Dialogs() { return TDialogService::Instance(); }

// The real service: Qt's message boxes and modal dialogs.
class TWidgetDialogService : public TDialogService {
public:
    void ShowMessage(const QString& text, TMessageKind kind) override;
    TDialogAnswer Ask(const QString& text, TDialogButtons buttons, TMessageKind kind) override;
    int Exec(QDialog* dialog) override;
};

// The service tests install: records every text, answers questions from a queue (default
// answer when the queue is empty) and hands modal windows to handlers queued by the test.
class TScriptedDialogService : public TDialogService {
public:
    struct Entry {
        TMessageKind Kind;
        QString Text;
    };
    std::vector<Entry> Shown;                          // every message and question, in order
    std::deque<TDialogAnswer> Answers;                 // answers for Ask, front first
    TDialogAnswer DefaultAnswer = TDialogAnswer::No;
    std::deque<std::function<int(QDialog*)>> DialogHandlers; // one per expected modal window
    std::function<int(QDialog*)> DefaultDialogHandler;       // when the queue is empty
    QStringList DialogTitles;                          // window titles of the modal windows shown

    void ShowMessage(const QString& text, TMessageKind kind) override;
    TDialogAnswer Ask(const QString& text, TDialogButtons buttons, TMessageKind kind) override;
    int Exec(QDialog* dialog) override;

    QStringList Texts() const;
    QString LastText() const { return Shown.empty() ? QString() : Shown.back().Text; }
    void Clear();
};

// Installs a scripted service for the lifetime of the object.
class TScopedScriptedDialogs : public TScriptedDialogService {
public:
    TScopedScriptedDialogs() { TDialogService::Install(this); }
    ~TScopedScriptedDialogs() override { TDialogService::Install(nullptr); }
};
