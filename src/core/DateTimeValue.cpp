#include "core/DateTimeValue.h"

#include <QLocale>
#include <cmath>

namespace {
const QDate epoch(1899, 12, 30);
constexpr double secondsPerDay = 86400.0;

// The locale's short date format, forced to a four-digit year so the text round-trips.
QString fileDateFormat()
{
    QString f = QLocale().dateFormat(QLocale::ShortFormat);
    if (!f.contains(QLatin1String("yyyy")))
        f.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    return f + QStringLiteral(" HH:mm:ss");
}
}

TDateTime TDateTime::FromQDateTime(const QDateTime& dt)
{
    const QDateTime local = dt.toLocalTime();
    const qint64 days = epoch.daysTo(local.date());
    const double frac = local.time().msecsSinceStartOfDay() / 1000.0 / secondsPerDay;
    return TDateTime(double(days) + frac);
}

TDateTime TDateTime::Now()
{
    return FromQDateTime(QDateTime::currentDateTime());
}

std::optional<TDateTime> TDateTime::Encode(int year, int month, int day, int hour, int minute, int second)
{
    const QDate d(year, month, day);
    if (!d.isValid() || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return std::nullopt;
    const double frac = (hour * 3600 + minute * 60 + second) / secondsPerDay;
    return TDateTime(double(epoch.daysTo(d)) + frac);
}

QDateTime TDateTime::ToQDateTime() const
{
    // Like the old day-count format, negative values count days backwards but keep a
    // positive time of day.
    const double whole = std::floor(Value);
    qint64 msecs = qint64(std::llround((Value - whole) * secondsPerDay * 1000.0));
    qint64 days = qint64(whole);
    if (msecs >= qint64(secondsPerDay) * 1000) {
        msecs -= qint64(secondsPerDay) * 1000;
        ++days;
    }
    return QDateTime(epoch.addDays(days), QTime::fromMSecsSinceStartOfDay(int(msecs)));
}

QString TDateTime::ToText() const
{
    return QLocale().toString(ToQDateTime(), fileDateFormat());
}

std::optional<TDateTime> TDateTime::FromText(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    QDateTime dt = QLocale().toDateTime(t, fileDateFormat());
    if (!dt.isValid())
        dt = QLocale().toDateTime(t, QLocale().dateFormat(QLocale::ShortFormat));
    if (!dt.isValid())
        dt = QDateTime::fromString(t, Qt::ISODate);
    if (!dt.isValid()) {
        const QDate d = QDate::fromString(t, Qt::ISODate);
        if (d.isValid())
            dt = QDateTime(d, QTime(0, 0));
    }
    if (!dt.isValid())
        return std::nullopt;
    return FromQDateTime(dt);
}
