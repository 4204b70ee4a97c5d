#pragma once
// The server window: adds a news server or edits the login of one.
#include <QDialog>
#include <QString>
#include <functional>

class QCheckBox;
class QFrame;
class QLineEdit;
class QPushButton;
class TBaseRegistryClass;
class TNewsStore;

class TForm2 : public QDialog {
public:
    // serverExists answers whether a server with exactly this name is configured.
    TForm2(TBaseRegistryClass* store, std::function<bool(const QString&)> serverExists, QWidget* parent = nullptr);

    QString ServerName;
    QString UserID;
    QString Password;
    bool SavePassword = false;
    QString Mode; // "Add" or "Edit"

    // Fills the controls for the mode; run before the window is shown.
    void FormShow();
    void btnOkClick();
    void btnCancelClick();

    QFrame* pnlInfo;
    QLineEdit* edServerName;
    QLineEdit* edUserID;
    QLineEdit* edPassword;
    QCheckBox* cbSavePassword;
    QCheckBox* cbLoadNewsgroups;
    QPushButton* btnOk;
    QPushButton* btnCancel;

private:
    bool refuseSeparators(QLineEdit* edit, const QString& what);
    TBaseRegistryClass* store;
    std::function<bool(const QString&)> serverExists;
};

// Lets the news store's Add Server and Edit Server commands open the server window.
void BindServerWindow(TNewsStore& news, TBaseRegistryClass* store, QWidget* parent = nullptr);
