#include "gui/news/NewsIcons.h"

#include "core/BaseUtils.h"

#include <QHash>
#include <QStyle>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {
// A loudspeaker in the box (x, y) .. (x + 12, y + 12) of a 16 x 16 picture.
void drawSpeaker(QPainter& p, qreal x, qreal y, qreal scale, bool waves)
{
    QPainterPath path;
    path.moveTo(x, y + 4 * scale);
    path.lineTo(x + 3 * scale, y + 4 * scale);
    path.lineTo(x + 7 * scale, y);
    path.lineTo(x + 7 * scale, y + 12 * scale);
    path.lineTo(x + 3 * scale, y + 8 * scale);
    path.lineTo(x, y + 8 * scale);
    path.closeSubpath();
    p.setPen(QPen(QColor(20, 60, 140), 1));
    p.setBrush(QColor(60, 120, 220));
    p.drawPath(path);
    if (waves) {
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(x + 6 * scale, y + 2 * scale, 6 * scale, 8 * scale), -60 * 16, 120 * 16);
    }
}

QPixmap draw(int index)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    switch (index) {
    case npServer:
        p.setPen(QPen(QColor(40, 40, 40), 1));
        p.setBrush(QColor(120, 140, 170));
        p.drawRect(3, 1, 10, 14);
        p.setPen(QColor(230, 230, 230));
        p.drawLine(5, 4, 11, 4);
        p.drawLine(5, 7, 11, 7);
        p.setBrush(QColor(60, 200, 60));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(8, 12), 1.5, 1.5);
        break;
    case npNewsGroup:
    case npSpeakingGroup: {
        const QColor c = index == npNewsGroup ? QColor(230, 190, 80) : QColor(220, 90, 60);
        p.setPen(QPen(QColor(90, 70, 20), 1));
        p.setBrush(c);
        p.drawRect(1, 3, 14, 10);
        p.drawLine(1, 3, 8, 9);
        p.drawLine(15, 3, 8, 9);
        break;
    }
    case npSpeak:
        drawSpeaker(p, 2, 2, 1.0, true);
        break;
    case npSpoken:
        // a check mark
        p.setPen(QPen(QColor(30, 140, 40), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(2.5, 8.5), QPointF(6.5, 12.5), QPointF(13.5, 3.5)}));
        break;
    case npFolder:
    case npFolderSelected:
        p.setPen(QPen(QColor(110, 90, 30), 1));
        p.setBrush(index == npFolder ? QColor(240, 210, 110) : QColor(255, 235, 150));
        p.drawRect(1, 4, 14, 10);
        p.drawRect(1, 2, 6, 2);
        break;
    case npWatch:
        // an eye
        p.setPen(QPen(QColor(40, 40, 40), 1));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(1, 4, 14, 8));
        p.setBrush(QColor(40, 90, 170));
        p.drawEllipse(QPointF(8, 8), 2.5, 2.5);
        break;
    case npSelectedAloud:
    case npMarkedToFile:
    case npSelectedToFile: {
        // the newsgroup envelope of a run, with a speaker (aloud) or a disk (to file); the
        // runs over selected articles have the warmer colour
        p.setPen(QPen(QColor(90, 70, 20), 1));
        p.setBrush(index == npMarkedToFile ? QColor(230, 190, 80) : QColor(220, 90, 60));
        p.drawRect(1, 2, 11, 8);
        p.drawLine(1, 2, 6, 7);
        p.drawLine(12, 2, 6, 7);
        if (index == npSelectedAloud) {
            drawSpeaker(p, 8, 8, 7.0 / 12.0, false);
        } else {
            p.setPen(QPen(QColor(20, 20, 60), 1));
            p.setBrush(QColor(70, 80, 160));
            p.drawRect(8, 8, 7, 7);
            p.setBrush(QColor(230, 230, 230));
            p.drawRect(10, 8, 3, 2);
        }
        break;
    }
    default:
        break;
    }
    return pm;
}
}

QIcon NewsPicture(int index)
{
    static QHash<int, QIcon> cache;
    auto it = cache.find(index);
    if (it == cache.end())
        it = cache.insert(index, QIcon(draw(index)));
    return *it;
}

namespace {
struct TCommandPicture {
    const char* Id;
    const char* Theme; // freedesktop icon naming
    const char* File;  // in the data folder's "icons"
};

constexpr TCommandPicture commandPictures[] = {
    {"AddServer", "network-server", "add-server.svg"},
    {"AddGroup", "folder-new", "add-group.svg"},
    {"DeleteGroup", "edit-delete", "delete-group.svg"},
    {"NewsgroupList", "view-list-details", "group-list.svg"},
    {"Download", "mail-receive", "download.svg"},
    {"Post", "mail-message-new", "post.svg"},
    {"Reply", "mail-reply-sender", "reply.svg"},
    {"SpeakSelAloud", "media-playback-start", "speak-selected.svg"},
    {"SpeakSelFile", "document-save", "speak-selected-file.svg"},
    {"SpeakMarkAloud", "media-seek-forward", "speak-marked.svg"},
    {"SpeakMarkFile", "drive-harddisk", "speak-marked-file.svg"},
    {"Pause", "media-playback-pause", "pause.svg"},
    {"Skip", "media-skip-forward", "skip.svg"},
    {"Stop", "media-playback-stop", "stop.svg"},
};

const TCommandPicture* pictureOf(const QString& id)
{
    for (const TCommandPicture& p : commandPictures) {
        if (id == QLatin1String(p.Id))
            return &p;
    }
    return nullptr;
}
}

QString CommandIconThemeName(const QString& commandId)
{
    const TCommandPicture* p = pictureOf(commandId);
    return p ? QString::fromLatin1(p->Theme) : QString();
}

QString CommandIconFile(const QString& commandId)
{
    const TCommandPicture* p = pictureOf(commandId);
    return p ? UtilsClass::FindSharedFile(QStringLiteral("icons/") + QLatin1String(p->File)) : QString();
}

QIcon CommandIcon(const QString& commandId, int picture, const QStyle* style)
{
    QIcon fallback;
    const QString file = CommandIconFile(commandId);
    if (!file.isEmpty())
        fallback = QIcon(file);
    if (fallback.isNull() && picture >= 0 && style)
        fallback = style->standardIcon(QStyle::StandardPixmap(picture));
    const QString theme = CommandIconThemeName(commandId);
    return theme.isEmpty() ? fallback : QIcon::fromTheme(theme, fallback);
}
