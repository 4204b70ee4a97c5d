#include "gui/dialogs/ServerDialog.h"

#include "news/NewsStore.h"

#include "core/DialogService.h"
#include "gui/app/WindowService.h"
#include "core/TBaseRegistryClassUnit.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

TForm2::TForm2(TBaseRegistryClass* store_, std::function<bool(const QString&)> exists, QWidget* parent)
    : QDialog(parent), store(store_), serverExists(std::move(exists))
{
    setObjectName(QStringLiteral("Form2"));
    auto* layout = new QVBoxLayout(this);

    pnlInfo = new QFrame(this);
    pnlInfo->setFrameShape(QFrame::StyledPanel);
    auto* infoLayout = new QVBoxLayout(pnlInfo);
    for (const char* text : {"Please enter your Newsgroup Server below.",
                             "You can configure as many News Servers as you wish.  Server information is "
                             "typically available from your ISP."}) {
        auto* l = new QLabel(QString::fromLatin1(text), pnlInfo);
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
        l->setWordWrap(true);
        infoLayout->addWidget(l);
    }
    layout->addWidget(pnlInfo);

    auto* serverForm = new QFormLayout();
    edServerName = new QLineEdit(this);
    serverForm->addRow(QStringLiteral("Server Name:"), edServerName);
    layout->addLayout(serverForm);

    auto* note = new QLabel(QStringLiteral("If your newsgroup server requires logon id and password, supply it here:"), this);
    note->setWordWrap(true);
    layout->addWidget(note);

    auto* loginForm = new QFormLayout();
    edUserID = new QLineEdit(this);
    edPassword = new QLineEdit(this);
    edPassword->setEchoMode(QLineEdit::Password);
    // The password shows as "*", whatever character the style would draw.
    edPassword->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    loginForm->addRow(QStringLiteral("User ID:"), edUserID);
    loginForm->addRow(QStringLiteral("Password:"), edPassword);
    layout->addLayout(loginForm);

    cbSavePassword = new QCheckBox(QStringLiteral("Save Password"), this);
    cbLoadNewsgroups = new QCheckBox(QStringLiteral("Load newsgroups for new server when exitting this dialog"), this);
    layout->addWidget(cbSavePassword);
    layout->addWidget(cbLoadNewsgroups);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    btnOk = new QPushButton(QStringLiteral("Ok"), this);
    btnOk->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    layout->addLayout(buttons);

    // Both modes have the width of Add Server, whose notes set it; Edit Server hides them.
    setMinimumWidth(sizeHint().width());

    connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
}

void TForm2::FormShow()
{
    cbLoadNewsgroups->setChecked(store && store->GetValue(QStringLiteral("AutoLoadNewsgroups")).toBool());
    if (Mode != QLatin1String("Edit")) {
        setWindowTitle(QStringLiteral("Add Server"));
        pnlInfo->setVisible(true);
        edServerName->clear();
        edUserID->clear();
        edPassword->clear();
        edServerName->setReadOnly(false);
        edServerName->setPalette(QPalette());
        cbSavePassword->setChecked(false);
        cbLoadNewsgroups->setVisible(true);
        edServerName->setFocus();
    } else {
        setWindowTitle(QStringLiteral("Edit Server"));
        if (!pnlInfo->isHidden()) {
            const int h = pnlInfo->sizeHint().height();
            pnlInfo->setVisible(false);
            resize(width(), std::max(minimumSizeHint().height(), height() - h));
        }
        edServerName->setText(ServerName);
        // A long name is shown whole: the field grows to it, up to the screen's width.
        const int nameWidth = edServerName->fontMetrics().horizontalAdvance(ServerName)
                              + edServerName->sizeHint().width() - edServerName->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 17;
        edServerName->setMinimumWidth(std::min(std::max(0, nameWidth), 1200));
        edServerName->setReadOnly(true);
        QPalette pal = edServerName->palette();
        pal.setColor(QPalette::Base, palette().color(QPalette::Window));
        edServerName->setPalette(pal);
        edUserID->setText(UserID);
        edPassword->setText(Password);
        cbSavePassword->setChecked(SavePassword);
        cbLoadNewsgroups->setVisible(false);
        edUserID->setFocus();
    }
}

bool TForm2::refuseSeparators(QLineEdit* edit, const QString& what)
{
    const QString t = edit->text();
    if (!t.contains(QLatin1Char('|')) && !t.contains(QLatin1Char('\n')) && !t.contains(QLatin1Char('\r')))
        return false;
    Dialogs().ShowMessage(what + QStringLiteral(" must not contain \"|\" or line breaks."), TMessageKind::Warning);
    edit->setFocus();
    return true;
}

void TForm2::btnOkClick()
{
    if (edServerName->text().trimmed().isEmpty()) {
        Dialogs().ShowMessage(QStringLiteral("Server Name is required"));
        edServerName->setFocus();
        return;
    }
    if (refuseSeparators(edServerName, QStringLiteral("The server name"))
        || refuseSeparators(edUserID, QStringLiteral("The user ID"))
        || refuseSeparators(edPassword, QStringLiteral("The password")))
        return;
    if (Mode != QLatin1String("Edit") && serverExists && serverExists(edServerName->text())) {
        Dialogs().ShowMessage(QStringLiteral("The server ") + edServerName->text() + QStringLiteral(" is already configured."));
        edServerName->setFocus();
        return;
    }
    ServerName = edServerName->text();
    UserID = edUserID->text();
    Password = edPassword->text();
    SavePassword = cbSavePassword->isChecked();
    if (store)
        store->SetValue(QStringLiteral("AutoLoadNewsgroups"), cbLoadNewsgroups->isChecked());
    accept();
}

void TForm2::btnCancelClick()
{
    reject();
}

void BindServerWindow(TNewsStore& news, TBaseRegistryClass* store, QWidget* parent)
{
    news.OnServerWindow = [store, parent](TNewsStore* n, TServerEntryRequest& req) {
        TForm2 form(store, [n](const QString& name) { return n->FindServer(name) != nullptr; }, parent);
        form.Mode = req.Mode;
        form.ServerName = req.ServerName;
        form.UserID = req.UserID;
        form.Password = req.Password;
        form.SavePassword = req.SavePassword;
        form.FormShow();
        if (Windows().Exec(&form) != QDialog::Accepted)
            return false;
        req.ServerName = form.ServerName;
        req.UserID = form.UserID;
        req.Password = form.Password;
        req.SavePassword = form.SavePassword;
        return true;
    };
}
