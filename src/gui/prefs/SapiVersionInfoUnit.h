#pragma once
// "SAPI Version Info": explains the two speech engines before the user switches which of them
// are used, with "Proceed", "Cancel" and "Disable this dialog in the future".
#include <QDialog>

class QCheckBox;
class QPushButton;

class TSapiVersionInfo : public QDialog {
    Q_OBJECT
public:
    explicit TSapiVersionInfo(QWidget* parent = nullptr);

    // Whether the window is to be shown again: on at first, then the opposite of the check box.
    bool ShowAgain() const { return showAgain; }

    QCheckBox* chkDisable;
    QPushButton* btnProceed;
    QPushButton* btnCancel;

private:
    bool showAgain = true;
};
