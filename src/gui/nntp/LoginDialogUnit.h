#pragma once
// TLoginDialog: the small window that asks for the user name and password of a news server
// that requires a login. It always opens with an empty password and "Save Password" unchecked.
#include <QDialog>
#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TLoginDialog : public QDialog {
    Q_OBJECT
public:
    explicit TLoginDialog(QWidget* owner = nullptr);

    void SetServerName(const QString& name);
    QString ServerName() const;
    void SetUserName(const QString& name);
    QString UserName() const;
    void SetPassword(const QString& password);
    QString Password() const;
    void SetSavePassword(bool save);
    bool SavePassword() const;
    // The status line; "Authentication required" unless told otherwise.
    void SetStatus(const QString& text);
    QString Status() const;

    // Fills the entries and confirms as the user would with "Ok" (tests, scripted answers).
    void Confirm(const QString& userName, const QString& password, bool savePassword);

    QLineEdit* UserNameEdit() const { return edtUserName; }
    QLineEdit* PasswordEdit() const { return edtPassword; }
    QPushButton* OkButton() const { return btnOk; }

private:
    void UpdateOk();

    QLabel* lblServer = nullptr;
    QLineEdit* edtUserName = nullptr;
    QLineEdit* edtPassword = nullptr;
    QCheckBox* chkSavePassword = nullptr;
    QLabel* lblStatus = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
};
