#include "gui/app/TipOfDayUnit.h"

#include "core/BaseUtils.h"
#include "core/RegistryUnit.h"

#include <QCheckBox>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TTipOfDayForm::TTipOfDayForm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TipOfDay"));
    setWindowTitle(QStringLiteral("Tip of the Day"));
    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(QStringLiteral("Did you know..."), this);
    QFont f = heading->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.3);
    heading->setFont(f);
    layout->addWidget(heading);
    lblTip = new QLabel(this);
    lblTip->setObjectName(QStringLiteral("lblTip"));
    lblTip->setWordWrap(true);
    lblTip->setMinimumSize(360, 120);
    lblTip->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    layout->addWidget(lblTip, 1);
    auto* row = new QHBoxLayout;
    chkShowTips = new QCheckBox(QStringLiteral("Show tips at startup"), this);
    btnNext = new QPushButton(QStringLiteral("&Next Tip"), this);
    btnClose = new QPushButton(QStringLiteral("&Close"), this);
    row->addWidget(chkShowTips);
    row->addStretch(1);
    row->addWidget(btnNext);
    row->addWidget(btnClose);
    layout->addLayout(row);
    connect(btnNext, &QPushButton::clicked, this, &TTipOfDayForm::NextTipClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

    tips = LoadTips(UtilsClass::FindSharedFile(QStringLiteral("tips.chl")));
    const QString showTips = ReadProgramValue(QStringLiteral("ShowTips"));
    chkShowTips->setChecked(showTips.isEmpty() || showTips == QLatin1String("Y"));
    bool ok = false;
    index = ReadProgramValue(QStringLiteral("NextTip")).toInt(&ok);
    if (!ok || index < 0 || index >= tips.size())
        index = 0;
    showTip();
}

TTipOfDayForm::~TTipOfDayForm() = default;

QStringList TTipOfDayForm::LoadTips(const QString& path)
{
    QStringList out;
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return out;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (QString line : lines) {
        line = line.trimmed();
        if (!line.isEmpty() && !line.startsWith(QLatin1Char(';')))
            out << line;
    }
    return out;
}

QString TTipOfDayForm::CurrentTip() const
{
    return tips.isEmpty() ? QString() : tips.at(index);
}

void TTipOfDayForm::showTip()
{
    lblTip->setText(tips.isEmpty() ? QStringLiteral("No tips are installed.") : tips.at(index));
    btnNext->setEnabled(tips.size() > 1);
}

void TTipOfDayForm::NextTipClick()
{
    if (tips.isEmpty())
        return;
    index = (index + 1) % tips.size();
    showTip();
}

void TTipOfDayForm::done(int r)
{
    // The next showing starts with the tip after the one read now.
    WriteProgramValue(QStringLiteral("ShowTips"), chkShowTips->isChecked() ? QStringLiteral("Y") : QStringLiteral("N"));
    WriteProgramValue(QStringLiteral("NextTip"), QString::number(tips.isEmpty() ? 0 : (index + 1) % tips.size()));
    QDialog::done(r);
}
