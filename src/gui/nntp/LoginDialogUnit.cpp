#include "gui/nntp/LoginDialogUnit.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

TLoginDialog::TLoginDialog(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("LoginDialog"));
    setWindowTitle(QStringLiteral("Login"));
    setModal(true);

    auto* heading = new QLabel(QStringLiteral("Enter User Name and Password:"), this);
    lblServer = new QLabel(this);
    lblServer->setObjectName(QStringLiteral("lblServer"));
    edtUserName = new QLineEdit(this);
    edtUserName->setObjectName(QStringLiteral("edtUserName"));
    edtPassword = new QLineEdit(this);
    edtPassword->setObjectName(QStringLiteral("edtPassword"));
    edtPassword->setEchoMode(QLineEdit::Password);
    // One "*" per character, whatever the style's own password character is.
    edtPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    chkSavePassword = new QCheckBox(QStringLiteral("Save Password"), this);
    chkSavePassword->setObjectName(QStringLiteral("chkSavePassword"));
    lblStatus = new QLabel(QStringLiteral("Authentication required"), this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setWordWrap(true);
    btnOk = new QPushButton(QStringLiteral("Ok"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Server:"), lblServer);
    form->addRow(QStringLiteral("User Name:"), edtUserName);
    form->addRow(QStringLiteral("Password:"), edtPassword);
    form->addRow(QString(), chkSavePassword);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addLayout(form);
    layout->addWidget(lblStatus);
    layout->addLayout(buttons);

    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    // A login needs both: "Ok" waits until the two entries hold something.
    connect(edtUserName, &QLineEdit::textChanged, this, &TLoginDialog::UpdateOk);
    connect(edtPassword, &QLineEdit::textChanged, this, &TLoginDialog::UpdateOk);
    UpdateOk();

    // No owner window in this program: centre on the screen.
    adjustSize();
    if (!owner) {
        if (QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    }
}

void TLoginDialog::SetServerName(const QString& name) { lblServer->setText(name); }
QString TLoginDialog::ServerName() const { return lblServer->text(); }

void TLoginDialog::SetUserName(const QString& name)
{
    edtUserName->setText(name);
    if (name.isEmpty())
        edtUserName->setFocus();
    else
        edtPassword->setFocus();
}
QString TLoginDialog::UserName() const { return edtUserName->text(); }

void TLoginDialog::SetPassword(const QString& password) { edtPassword->setText(password); }
QString TLoginDialog::Password() const { return edtPassword->text(); }

void TLoginDialog::SetSavePassword(bool save) { chkSavePassword->setChecked(save); }
bool TLoginDialog::SavePassword() const { return chkSavePassword->isChecked(); }

void TLoginDialog::SetStatus(const QString& text)
{
    lblStatus->setText(text.isEmpty() ? QStringLiteral("Authentication required") : text);
}
QString TLoginDialog::Status() const { return lblStatus->text(); }

void TLoginDialog::Confirm(const QString& userName, const QString& password, bool savePassword)
{
    edtUserName->setText(userName);
    edtPassword->setText(password);
    chkSavePassword->setChecked(savePassword);
    done(QDialog::Accepted);
}

void TLoginDialog::UpdateOk()
{
    btnOk->setEnabled(!edtUserName->text().isEmpty() && !edtPassword->text().isEmpty());
}
