#include "gui/dialogs/GroupDialog.h"

#include "news/NewsStore.h"

#include "core/DialogService.h"
#include "gui/app/WindowService.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TForm3::TForm3(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Add Newsgroup"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout();
    lblServer = new QLabel(this);
    edNewsgroup = new QLineEdit(this);
    edNewsgroup->setMinimumWidth(260);
    form->addRow(QStringLiteral("Server:"), lblServer);
    form->addRow(QStringLiteral("Newsgroup:"), edNewsgroup);
    layout->addLayout(form);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    btnOk = new QPushButton(QStringLiteral("Ok"), this);
    btnOk->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    layout->addLayout(buttons);
    connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TForm3::FormShow()
{
    lblServer->setText(ServerName);
    edNewsgroup->clear();
    edNewsgroup->setFocus();
}

void TForm3::btnOkClick()
{
    const QString t = edNewsgroup->text();
    // The configuration file keeps one entry per line with "|" between the fields.
    if (t.contains(QLatin1Char('|')) || t.contains(QLatin1Char('\n')) || t.contains(QLatin1Char('\r'))) {
        Dialogs().ShowMessage(QStringLiteral("The newsgroup name must not contain \"|\" or line breaks."),
                              TMessageKind::Warning);
        edNewsgroup->setFocus();
        return;
    }
    GroupName = t;
    accept();
}

void BindGroupWindow(TNewsStore& news, QWidget* parent)
{
    news.OnGroupWindow = [parent](TNewsStore*, const QString& server, QString& group) {
        TForm3 form(parent);
        form.ServerName = server;
        form.FormShow();
        if (Windows().Exec(&form) != QDialog::Accepted)
            return false;
        group = form.GroupName;
        return true;
    };
}
