#include "gui/app/ProgressWindow.h"

#include "core/BusyGuard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

TProgressWindow::TProgressWindow(QWidget* parent, const QString& title, int options, const QString& text)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("ProgressWindow"));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    label = new QLabel(text.isEmpty() ? title : text, this);
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumWidth(260);
    layout->addWidget(label);
    if (options & WithStatus) {
        status = new QLabel(this);
        layout->addWidget(status);
    }
    if (options & WithBar) {
        bar = new QProgressBar(this);
        bar->setRange(0, 100);
        bar->setValue(0);
        layout->addWidget(bar);
    }
    if (options & WithCancel) {
        btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
        btnCancel->setObjectName(QStringLiteral("btnCancel"));
        auto* row = new QHBoxLayout;
        row->addStretch();
        row->addWidget(btnCancel);
        layout->addLayout(row);
        connect(btnCancel, &QPushButton::clicked, this, [this] {
            if (OnCancel)
                OnCancel(this);
        });
    }
    if (bar)
        resize(360, 110);
}

void TProgressWindow::ShowNow()
{
    show();
    raise();
    // Drawn before the work starts; input waits until the caller lets events run.
    TBusyGuard::ProcessEvents(QEventLoop::ExcludeUserInputEvents);
}

void TProgressWindow::SetTitle(const QString& title)
{
    setWindowTitle(title);
}

void TProgressWindow::SetText(const QString& text)
{
    label->setText(text);
}

QString TProgressWindow::Text() const
{
    return label->text();
}

void TProgressWindow::SetStatus(const QString& text)
{
    if (status)
        status->setText(text);
}

QString TProgressWindow::Status() const
{
    return status ? status->text() : QString();
}

void TProgressWindow::SetPercent(int percent)
{
    if (bar)
        bar->setValue(std::clamp(percent, 0, 100));
}

int TProgressWindow::Percent() const
{
    return bar ? bar->value() : 0;
}

void TProgressWindow::reject()
{
    // Escape and the close box cancel the job like the button; the window itself closes when
    // the job has ended.
    if (OnCancel)
        OnCancel(this);
}
