#pragma once
// Token splitters shared by the settings, the preprocessor's files and the NNTP code, and the
// reader of article dates as servers send them.
#include "core/DateTimeValue.h"
#include <QByteArrayView>
#include <QString>
#include <optional>

// Cuts text at the first character that is one of separators: returns what stands before it,
// drops the separator and leaves the rest in text. No separator: the whole text, text becomes empty.
QString SplitToken(QString& text, const QString& separators);
// As SplitToken, after dropping the separators at the start of text.
QString SplitTokenSkip(QString& text, const QString& separators);

// Reads an article date ("Sun, 06 Nov 2005 08:49:37 GMT", "Nov 6 08:49:37 2005",
// "06-Nov-2005 08:49:37", ...) as local time as written; zones are ignored.
// A text it cannot read is logged as "InetDate Exception: " + text and yields nullopt; the
// caller decides whether and how often to tell the user.
std::optional<TDateTime> InetDate(const QString& text);
// The form nearly every server sends, "[Www, ]D[D] Mon YYYY HH:MM[:SS][ zone]", read straight
// from the bytes with the same result as InetDate; nullopt (nothing logged) for any other
// text, which then goes to InetDate.
std::optional<TDateTime> InetDateCommon(QByteArrayView text);

// The zone written after the time of an article date, as seconds east of UTC: a numeric
// offset ("+0900", "-0500") or one of the names "UT", "UTC", "GMT", "Z", "EST", "EDT", "CST",
// "CDT", "MST", "MDT", "PST", "PDT". nullopt when the text names no zone this reads.
std::optional<int> DateZoneOffset(QByteArrayView text);
// A date as written in a zone east of UTC by offsetSeconds, as the reader's local time.
TDateTime ZoneToLocal(TDateTime asWritten, int offsetSeconds);
