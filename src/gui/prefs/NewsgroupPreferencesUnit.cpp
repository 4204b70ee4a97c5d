#include "gui/prefs/NewsgroupPreferencesUnit.h"
#include "gui/app/WindowPlacement.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace {
QLabel* title(QWidget* panel, const QString& text)
{
    auto* l = new QLabel(text, panel);
    QFont f = l->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.2);
    l->setFont(f);
    return l;
}

QLineEdit* field(QWidget* panel, const QString& name, const QString& key)
{
    auto* e = new QLineEdit(panel);
    e->setObjectName(name);
    TBasePrefForm::SetHint(e, key);
    return e;
}

QLineEdit* integerField(QWidget* panel, const QString& name, const QString& key)
{
    QLineEdit* e = field(panel, name, key);
    e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d{0,9}")), e));
    e->setMaximumWidth(120);
    // An emptied field or 0 keeps the value stored before (0 days would delete every thread).
    e->setProperty(TBasePrefForm::PositiveNumberProperty, true);
    return e;
}
}

TNewsgroupPreferences::TNewsgroupPreferences(QWidget* parent) : TBasePrefForm(parent)
{
    setObjectName(QStringLiteral("NewsgroupPreferences"));
    setWindowTitle(QStringLiteral("Vorlix Options"));

    QWidget* posting = AddPanel(QStringLiteral("1,1,Posting Info"));
    posting->setObjectName(QStringLiteral("pnlPosting"));
    {
        auto* v = new QVBoxLayout(posting);
        v->addWidget(title(posting, QStringLiteral("Newsgroup Posting Information")));
        auto* text = new QLabel(QStringLiteral("The following fields are used when posting messages to newsgroups.   "
                                               "A valid email address is required for posting."),
                                posting);
        text->setWordWrap(true);
        v->addWidget(text);
        auto* form = new QFormLayout;
        edName = field(posting, QStringLiteral("edName"), QStringLiteral("UserName"));
        edEmail = field(posting, QStringLiteral("edEmail"), QStringLiteral("EmailAddress"));
        edReplyTo = field(posting, QStringLiteral("edReplyTo"), QStringLiteral("ReplyToAddress"));
        form->addRow(new QLabel(QStringLiteral("Name:"), posting), edName);
        form->addRow(new QLabel(QStringLiteral("E-Mail Address:"), posting), edEmail);
        form->addRow(new QLabel(QStringLiteral("Reply-To Address:"), posting), edReplyTo);
        v->addLayout(form);
        v->addStretch(1);
    }

    QWidget* misc = AddPanel(QStringLiteral("2,2,Misc. Options"));
    misc->setObjectName(QStringLiteral("pnlMisc"));
    {
        auto* v = new QVBoxLayout(misc);
        v->addWidget(title(misc, QStringLiteral("Miscellaneous Options")));
        auto* form = new QFormLayout;
        edMsgsToRetrieve = integerField(misc, QStringLiteral("edMsgsToRetrieve"), QStringLiteral("MsgsToRetrieve"));
        edMsgDeleteDays = integerField(misc, QStringLiteral("edMsgDeleteDays"), QStringLiteral("MsgDeleteDays"));
        auto* retrieveHelp = new QLabel(QStringLiteral("Number of messages to download at a time:"), misc);
        form->addRow(retrieveHelp);
        form->addRow(new QLabel(QStringLiteral("Messages to retrieve:"), misc), edMsgsToRetrieve);
        auto* ageHelp = new QLabel(QStringLiteral("Threads with no new messages for more than this number of days "
                                                  "are removed by \"Delete Old Threads\" in the Actions menu, and "
                                                  "older articles are not downloaded."),
                                   misc);
        ageHelp->setWordWrap(true);
        form->addRow(ageHelp);
        auto* days = new QLabel(QStringLiteral("days"), misc);
        auto* row = new QHBoxLayout;
        row->addWidget(edMsgDeleteDays);
        row->addWidget(days);
        row->addStretch(1);
        form->addRow(new QLabel(QStringLiteral("Maximum thread age:"), misc), row);
        chkFixedFont = new QCheckBox(QStringLiteral("Show messages in a &fixed-width font"), misc);
        chkFixedFont->setObjectName(QStringLiteral("chkFixedFont"));
        SetHint(chkFixedFont, QStringLiteral("MessageFixedFont"));
        form->addRow(chkFixedFont);
        v->addLayout(form);
        v->addStretch(1);
    }
}

void TNewsgroupPreferences::showEvent(QShowEvent* event)
{
    // The options window opens where it was last closed; the wizard keeps its own place.
    if (!WizardMode && !placed) {
        placed = true;
        PrepareShow();
        RestoreWindowPlacement(this, QLatin1String(PlacementName));
    }
    TBasePrefForm::showEvent(event);
}

void TNewsgroupPreferences::done(int result)
{
    if (!WizardMode && isVisible())
        SaveWindowPlacement(this, QLatin1String(PlacementName));
    TBasePrefForm::done(result);
}
