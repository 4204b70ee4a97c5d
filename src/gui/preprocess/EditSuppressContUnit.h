#pragma once
// The "Suppress Speak" window: adds strings to the list of substrings that keep a line from
// being spoken. It works directly on the list it is given.
#include <QDialog>
#include <QStringList>

class QLineEdit;
class QPushButton;
class QLabel;

class TEditSuppressCont : public QDialog {
    Q_OBJECT
public:
    TEditSuppressCont(QStringList* list, QWidget* parent = nullptr);

    QLineEdit* Entry() const { return edtEntry; }
    QPushButton* ApplyButton() const { return btnApply; }
    QPushButton* DoneButton() const { return btnDone; }
    QPushButton* CancelButton() const { return btnCancel; }

    void btnApplyClick();
    void btnDoneClick();
    void btnCancelClick();

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Appends the entry unless it is already listed (then the user is told). False on a duplicate.
    bool addEntry();

    QStringList* List;
    QLabel* lblEntry;
    QLineEdit* edtEntry;
    QPushButton* btnApply;
    QPushButton* btnDone;
    QPushButton* btnCancel;
};
