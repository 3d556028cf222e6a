#pragma once

#include <QString>
#include <QStringView>

#include <chrono>
#include <optional>

// The fixed date texts of the application, all in UTC and all truncated (a fraction is dropped,
// never carried up).
namespace datetext {

using Date = std::chrono::system_clock::time_point;

// The years a text may name (as the SAC reader takes them); others do not read as a time.
inline constexpr int kFirstYear = 1700;
inline constexpr int kLastYear = 2250;

Date now();

// Request-time text: "2012-06-01T08:05:09.2500Z", four fraction digits and a literal Z.
QString requestTime(Date t);
// Strict: exactly that pattern with valid calendar values in the years above, or no moment.
std::optional<Date> parseRequestTime(QStringView text);
// The system log's line for a window's start or end (`which`) typed so that it does not read.
QString unreadableWindowTime(const char* which, const QString& typed);

// URL time text: "2012-06-15T10:00:00", whole seconds, no zone letter.
QString urlTime(Date t);

// The standard description of a date: "2012-06-15 10:00:00 +0000".
QString description(Date t);

// ISO 8601 as catalogues write it: "yyyy-MM-ddTHH:mm:ss" with an optional fraction of any
// length and an optional trailing "Z".
std::optional<Date> parseCatalogTime(QStringView text);

} // namespace datetext
