#pragma once
// The window that adds a newsgroup to a server by its name.
#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class TNewsStore;

class TForm3 : public QDialog {
public:
    explicit TForm3(QWidget* parent = nullptr);

    QString ServerName; // given
    QString GroupName;  // the result

    void FormShow();
    void btnOkClick();

    QLabel* lblServer;
    QLineEdit* edNewsgroup;
    QPushButton* btnOk;
    QPushButton* btnCancel;
};

// Lets the news store's Add Newsgroup command open the newsgroup window.
void BindGroupWindow(TNewsStore& news, QWidget* parent = nullptr);
