#pragma once

#include "app/Outlets.h"
#include "net/HttpClient.h"
#include "processing/ProcessingOptions.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

class QObject;
class UserDefaults;
class MonitorSession;
struct ChannelFinderQuery;
struct ChannelTable;

// The settings as the operations read them: each shown in its control and stored as the user
// edits it, each brought into its range when read. A value outside the range, or one that does
// not read, is said once in the system log (until it changes), naming the setting and the value
// used; what is logged is what is used.
class SettingsReader {
public:
    explicit SettingsReader(UserDefaults& defaults) : defaults_(defaults) {}

    // Registers every setting's default.
    void registerDefaults();
    // Shows each setting of a text field or check box in its control; an edit is stored at once.
    // The readings below read these controls from now on (before: each setting's default).
    void bind(const Outlets& outlets, QObject* context);
    // Shows the stored choices in the seismogram window's pop-ups and switches (amplitude mode,
    // data source, sort by distance, travel-time model); a stored value that names none of a
    // pop-up's items is said once and its first item shown.
    void showChoices(const ActionControls& actions) const;

    // A number typed in `field` (or the fallback when there is no field), clamped to
    // [low, high]; `whole` drops the fraction after reading it as a real number ("1e12" is a
    // very long span, not 1).
    double number(const QLineEdit* field, const char* key, double low, double high, double fallback,
                  bool whole = false) const;
    // A whole-number setting kept without a control, brought into range.
    int whole(const char* key, int low, int high, int fallback) const;
    // A setting that names one of `choices`; another is said and the first is used.
    QString choice(const char* key, const QStringList& choices) const;
    // A filter corner: any finite value as typed (0 or below leaves the filter out); one that is
    // not a number leaves it out, and says so.
    float corner(const QLineEdit* field, const char* key) const;
    // A service's base address; nothing (so no request goes out) when the typed one is not a
    // plain http(s) base.
    QString serviceBase(const QLineEdit* field, const char* key) const;

    // The settings as the operations take them, read at the moment of use.
    ProcessingOptions processingOptions() const;
    // `base` with the transfer deadline of the settings.
    HttpOptions transferOptions(HttpOptions base) const;
    int maxConcurrentDownloads() const;
    // The monitor's length in whole minutes, and an earthquake window's in minutes.
    int monitorMinutes() const;
    double eventMinutes() const;
    // The auto-update period; one too short is said and raised to the shortest.
    std::chrono::milliseconds autoUpdatePeriod() const;
    // The helicorder's refresh period: the auto-update period, brought into range.
    std::chrono::milliseconds drumPeriod() const;
    float minMagnitude() const;
    QString seedLinkServers() const;
    QString timeSeriesBase() const;
    QString stationBase() const;
    QString eventBase() const;
    QString statusPageBase() const;
    // The channel finder's look-up for its four patterns, in the station service or the SeedLink
    // servers as its pop-up chooses; none (and the log says why) when the servers do not read.
    std::optional<ChannelFinderQuery> finderQuery() const;
    // Hands the session what the settings say now: services, transfers, processing, source, and
    // the table when it changed (with the plot title as the monitor's).
    void configure(MonitorSession& session, const HttpOptions& base,
                   const ChannelTable& table) const;

private:
    void report(const QString& key, const QString& typed, const QString& message) const;

    UserDefaults& defaults_;
    Outlets o_;
    // The last value of each setting that was reported, so it is said once.
    mutable QHash<QString, QString> reported_;
};
