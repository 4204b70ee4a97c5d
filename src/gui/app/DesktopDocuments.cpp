#include "gui/app/DesktopDocuments.h"

#include <QDesktopServices>
#include <QDir>
#include <QUrl>

void OpenDocument(const QString& target)
{
    const QString t = target.left(1000);
    QUrl url = QUrl::fromUserInput(t, QDir::homePath(), QUrl::AssumeLocalFile);
    QDesktopServices::openUrl(url);
}
