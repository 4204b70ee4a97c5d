#pragma once
// The one progress window of every long job: a title, a line of text, optionally a status
// line, a bar with the percentage done and a Cancel button. It is not modal; ShowNow draws it
// at once, so it is seen before the work begins.
#include <QDialog>
#include <QString>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

class TProgressWindow : public QDialog {
    Q_OBJECT
public:
    enum Option { NoOptions = 0, WithStatus = 1, WithBar = 2, WithCancel = 4 };

    // A window with the given title and text (the text is the title when empty).
    TProgressWindow(QWidget* parent, const QString& title, int options = NoOptions,
                    const QString& text = QString());
    // Shows and raises the window and lets it be drawn; input stays queued meanwhile.
    void ShowNow();

    void SetTitle(const QString& title);
    void SetText(const QString& text);
    QString Text() const;
    // The status line below the text (windows made WithStatus).
    void SetStatus(const QString& text);
    QString Status() const;
    // The bar (windows made WithBar); clamped to 0..100.
    void SetPercent(int percent);
    int Percent() const;

    QProgressBar* ProgressBar() const { return bar; }
    QPushButton* CancelButton() const { return btnCancel; }

    // Raised by the Cancel button, by Escape and by the window's close box. Without a handler
    // the window cannot be closed by the user: it closes when its job ends.
    std::function<void(TProgressWindow*)> OnCancel;

protected:
    void reject() override;

private:
    QLabel* label = nullptr;
    QLabel* status = nullptr;
    QProgressBar* bar = nullptr;
    QPushButton* btnCancel = nullptr;
};
