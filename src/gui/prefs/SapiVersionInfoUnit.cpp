#include "gui/prefs/SapiVersionInfoUnit.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TSapiVersionInfo::TSapiVersionInfo(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("SapiVersionInfo"));
    setWindowTitle(QStringLiteral("SAPI Version Info"));
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(
        QStringLiteral(
            "Vorlix speaks through two speech engines:\n\n"
            "Flite, from Carnegie Mellon University, has a few US English voices. It is small and "
            "fast and sounds clear at high speeds.\n\n"
            "eSpeak NG has voices for many languages. Voices of your own language and English start "
            "enabled; the others can be enabled in the voice tree.\n\n"
            "Using both engines gives you every voice. Using one engine only loads fewer voices. "
            "Switching reloads the voices now; the choice is kept even if you cancel the options "
            "window afterwards."),
        this);
    text->setObjectName(QStringLiteral("lblInfo"));
    text->setWordWrap(true);
    layout->addWidget(text, 1);
    chkDisable = new QCheckBox(QStringLiteral("Disable this dialog in the future"), this);
    chkDisable->setObjectName(QStringLiteral("chkDisable"));
    layout->addWidget(chkDisable);
    auto* buttons = new QHBoxLayout;
    btnProceed = new QPushButton(QStringLiteral("Proceed"), this);
    btnProceed->setObjectName(QStringLiteral("btnProceed"));
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnProceed->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(btnProceed);
    buttons->addWidget(btnCancel);
    layout->addLayout(buttons);
    resize(420, 300);

    connect(chkDisable, &QCheckBox::clicked, this, [this](bool checked) { showAgain = !checked; });
    connect(btnProceed, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}
