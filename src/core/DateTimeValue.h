#pragma once
// A point in time stored as days since 1899-12-30 (fraction = time of day), the form the
// article files and settings keep. Converts to and from QDateTime and the date text of files.
#include <QDateTime>
#include <QString>
#include <optional>

struct TDateTime {
    double Value = 0.0;

    TDateTime() = default;
    explicit TDateTime(double days) : Value(days) {}

    static TDateTime FromQDateTime(const QDateTime& dt);
    static TDateTime Now();
    // Throws nothing: an invalid date or time yields std::nullopt.
    static std::optional<TDateTime> Encode(int year, int month, int day, int hour = 0, int minute = 0,
                                           int second = 0);
    QDateTime ToQDateTime() const;

    // Date texts in files: the locale's short date with a four-digit year and the time
    // without zone. ToText/FromText round-trip to the second.
    QString ToText() const;
    // Reads ToText's form, then ISO 8601 as a fallback.
    static std::optional<TDateTime> FromText(const QString& text);

    bool operator<(const TDateTime& o) const { return Value < o.Value; }
    bool operator==(const TDateTime& o) const { return Value == o.Value; }
};
