#include "app/SettingsReader.h"

#include "acquisition/MonitorSession.h"
#include "acquisition/TimeSeriesSource.h"
#include "app/ControlValues.h"
#include "app/LiveChoice.h"
#include "app/ServiceChoice.h"
#include "app/UserDefaults.h"
#include "base/NumberReading.h"
#include "base/SystemLog.h"
#include "base/UrlText.h"
#include "channels/ChannelFinderLookup.h"
#include "channels/ChannelTable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// The settings shown by text fields, with their registered defaults, and where each is shown.
struct TextSetting {
    const char* key;
    const char* fallback;
    QLineEdit* Outlets::*field;
};

constexpr TextSetting kTextSettings[] = {
    {"eventDurationMinutes", "90", &Outlets::eventRequestDurationTField},
    {"monitorDurationMinutes", "60", &Outlets::monitorRequestDurationTField},
    {"updateIntervalSeconds", "120", &Outlets::updateIntervalTField},
    {"bbDecimationFactor", "2", &Outlets::BB_decimationFactorTField},
    {"bbHighFrequencyCorner", "-10", &Outlets::BB_lpcTField},
    {"bbLowFrequencyCorner", "0.005", &Outlets::BB_hpcTField},
    {"lpDecimationFactor", "2", &Outlets::LP_decimationFactorTField},
    {"lpHighFrequencyCorner", "0.05", &Outlets::LP_lpcTField},
    {"lpLowFrequencyCorner", "0.002", &Outlets::LP_hpcTField},
    {"networkSearchString", "_US-TA", &Outlets::networkTField},
    {"siteCodeSearchString", "*", &Outlets::siteCodeTField},
    {"stationSearchString", "SSPA", &Outlets::stationTField},
    {"minMagnitude", "5", &Outlets::minMagTField},
    // Where the three services and the status page live.
    {"timeSeriesServiceURL", "https://service.iris.edu", &Outlets::timeSeriesServiceURLTField},
    {"eventServiceURL", "https://earthquake.usgs.gov", &Outlets::eventServiceURLTField},
    {"stationServiceURL", "https://service.iris.edu", &Outlets::stationServiceURLTField},
    {"statusPageURL", "http://www.iris.edu", &Outlets::statusPageURLTField},
    {"seedLinkServer", "rtserve.iris.washington.edu:18000", &Outlets::seedLinkServerTField},
    // How the transfers run.
    {"maxConcurrentDownloads", "4", &Outlets::maxConcurrentDownloadsTField},
    {"transferDeadlineSeconds", "120", &Outlets::transferDeadlineTField},
};

// The processing check boxes keep their state between runs too; first run: filters on.
struct BoxSetting {
    const char* key;
    bool fallback;
    QCheckBox* Outlets::*box;
};

constexpr BoxSetting kBoxSettings[] = {
    {"lpApplyFilter", true, &Outlets::LP_applyFilterButton},
    {"lpWWSSNLongPeriod", false, &Outlets::LP_wwlpButton},
    {"lpDecimate", false, &Outlets::LP_decimateButton},
    {"lpIntegrate", false, &Outlets::LP_integrateButton},
    {"bbApplyFilter", true, &Outlets::BB_applyFilterButton},
    {"bbWWSSNLongPeriod", false, &Outlets::BB_wwlpButton},
    {"bbWWSSNShortPeriod", false, &Outlets::BB_wwspButton},
    {"bbDecimate", false, &Outlets::BB_decimateButton},
    {"bbIntegrate", false, &Outlets::BB_integrateButton},
    {"incrementalUpdates", true, &Outlets::incrementalUpdatesButton},
};

// Settings of controls the tables above cannot bind, with their registered defaults.
const std::pair<const char*, const char*> kOtherSettings[] = {
    {"amplitudeMode", "0"},        {"sortByDistance", "false"},
    {"travelTimeModel", "iasp91"}, {"helicorderChannel", ""},
    {"helicorderHours", "24"},     {"helicorderRowMinutes", "30"},
    {"helicorderGain", "25"},      {"helicorderClip", "false"},
    {"dataSource", "webService"},  {"timeSeriesService", "irisTimeSeries"},
    {"liveProcessing", "causal"}};

// Whether a number starts the text, as floatValue reads one: "abc", "nan" and "" hold none
// (floatValue reads them as 0).
bool holdsNumber(const QString& typed) {
    QStringView t = QStringView(typed).trimmed();
    if (!t.isEmpty() && (t.front() == u'+' || t.front() == u'-'))
        t = t.mid(1);
    if (!t.isEmpty() && t.front() == u'.')
        t = t.mid(1);
    return !t.isEmpty() && t.front().isDigit() && t.front().unicode() < 128;
}

QString outside(const char* key, const QString& typed) {
    return QStringLiteral("The setting %1 of %2 is ")
        .arg(QString::fromLatin1(key), quotedForLog(typed));
}

} // namespace

void SettingsReader::registerDefaults() {
    QList<std::pair<QString, QVariant>> defaults;
    for (const TextSetting& s : kTextSettings)
        defaults.append({QString::fromLatin1(s.key), QString::fromLatin1(s.fallback)});
    for (const BoxSetting& s : kBoxSettings)
        defaults.append({QString::fromLatin1(s.key), s.fallback});
    for (const auto& [key, fallback] : kOtherSettings)
        defaults.append({QString::fromLatin1(key), QString::fromLatin1(fallback)});
    defaults_.registerDefaults(defaults);
}

void SettingsReader::bind(const Outlets& o, QObject* context) {
    o_ = o;
    for (const TextSetting& s : kTextSettings) {
        QLineEdit* field = o.*(s.field);
        if (!field)
            continue;
        const QString key = QString::fromLatin1(s.key);
        field->setText(defaults_.stringForKey(key));
        QObject::connect(field, &QLineEdit::textEdited, context,
                         [this, key](const QString& text) { defaults_.setObject(text, key); });
    }
    for (const BoxSetting& s : kBoxSettings) {
        QCheckBox* box = o.*(s.box);
        if (!box)
            continue;
        const QString key = QString::fromLatin1(s.key);
        box->setChecked(defaults_.boolForKey(key));
        QObject::connect(box, &QCheckBox::toggled, context,
                         [this, key](bool on) { defaults_.setObject(on, key); });
    }
}

void SettingsReader::report(const QString& key, const QString& typed,
                            const QString& message) const {
    if (reported_.value(key, QStringLiteral("\x01")) == typed)
        return;
    reported_.insert(key, typed);
    systemLog(message);
}

double SettingsReader::number(const QLineEdit* field, const char* key, double low, double high,
                              double fallback, bool whole) const {
    const QString typed = field ? field->text() : QString::number(fallback);
    const double asked = static_cast<double>(floatValue(typed));
    double used = std::isnan(asked) ? fallback : std::clamp(asked, low, high);
    if (whole)
        used = std::trunc(used);
    const QString memory = QString::fromLatin1(key) + (whole ? u'#' : u'.');
    if (std::isnan(asked) || !holdsNumber(typed))
        report(memory, typed,
               outside(key, typed) +
                   QStringLiteral("not a number; using %1.").arg(used, 0, 'g', 10));
    else if (used != (whole ? std::trunc(asked) : asked))
        report(memory, typed,
               outside(key, typed) + QStringLiteral("outside %1 to %2; using %3.")
                                         .arg(low, 0, 'g', 10)
                                         .arg(high, 0, 'g', 10)
                                         .arg(used, 0, 'g', 10));
    else
        reported_.remove(memory);
    return used;
}

int SettingsReader::whole(const char* key, int low, int high, int fallback) const {
    const QString typed = defaults_.objectForKey(QString::fromLatin1(key)).toString();
    bool read = false;
    const double asked = typed.trimmed().toDouble(&read);
    const bool number = read && !std::isnan(asked);
    const int used =
        number ? static_cast<int>(std::clamp(std::trunc(asked), double(low), double(high)))
               : fallback;
    if (!number)
        report(QString::fromLatin1(key), typed,
               outside(key, typed) + QStringLiteral("not a number; using %1.").arg(used));
    else if (used != asked)
        report(QString::fromLatin1(key), typed,
               outside(key, typed) +
                   QStringLiteral("outside %1 to %2; using %3.").arg(low).arg(high).arg(used));
    return used;
}

QString SettingsReader::choice(const char* key, const QStringList& choices) const {
    const QString stored = defaults_.objectForKey(QString::fromLatin1(key)).toString();
    if (choices.isEmpty() || choices.contains(stored))
        return stored;
    report(QString::fromLatin1(key), stored,
           outside(key, stored) + QStringLiteral("not one of %1; using %2.")
                                      .arg(choices.join(QStringLiteral(", ")), choices.front()));
    return choices.front();
}

float SettingsReader::corner(const QLineEdit* field, const char* key) const {
    const QString typed = field ? field->text() : QString();
    const float asked = floatValue(typed);
    if (std::isfinite(asked))
        return asked;
    report(QString::fromLatin1(key), typed,
           outside(key, typed) + QStringLiteral("not a frequency; the filter is left out."));
    return 0.0f;
}

QString SettingsReader::serviceBase(const QLineEdit* field, const char* key) const {
    const QString typed =
        field ? field->text() : defaults_.registeredValue(QString::fromLatin1(key)).toString();
    if (isPlainServiceBase(typed)) {
        reported_.remove(QString::fromLatin1(key));
        return typed;
    }
    report(QString::fromLatin1(key), typed,
           outside(key, typed) + QStringLiteral("not a plain http or https address (scheme, "
                                                "host, port and path only); nothing is asked of "
                                                "it."));
    return {};
}

void SettingsReader::showChoices(const ActionControls& a) const {
    if (a.amplitudeModePopUp)
        a.amplitudeModePopUp->setCurrentIndex(whole("amplitudeMode", 0, 2, 0));
    const QString source =
        choice("dataSource", {QStringLiteral("webService"), QStringLiteral("seedLink")});
    if (a.dataSourcePopUp)
        a.dataSourcePopUp->setCurrentIndex(source == u"seedLink" ? 1 : 0);
    if (a.sortByDistanceButton)
        a.sortByDistanceButton->setChecked(defaults_.boolForKey(QStringLiteral("sortByDistance")));
    if (QComboBox* popup = a.travelTimeModelPopUp) {
        QStringList models;
        for (int i = 0; i < popup->count(); ++i)
            models << popup->itemText(i);
        popup->setCurrentIndex(
            std::max(0, static_cast<int>(models.indexOf(choice("travelTimeModel", models)))));
    }
}

ProcessingOptions SettingsReader::processingOptions() const {
    auto factor = [this](const QLineEdit* field, const char* key) {
        return static_cast<int>(number(field, key, 1, 1000, 2, true));
    };
    ProcessingOptions p;
    p.longPeriod = {isOn(o_.LP_applyFilterButton),
                    corner(o_.LP_lpcTField, "lpHighFrequencyCorner"),
                    corner(o_.LP_hpcTField, "lpLowFrequencyCorner"),
                    isOn(o_.LP_wwlpButton),
                    false, // the long-period set has no short-period instrument
                    isOn(o_.LP_decimateButton),
                    factor(o_.LP_decimationFactorTField, "lpDecimationFactor"),
                    isOn(o_.LP_integrateButton)};
    p.broadband = {isOn(o_.BB_applyFilterButton),
                   corner(o_.BB_lpcTField, "bbHighFrequencyCorner"),
                   corner(o_.BB_hpcTField, "bbLowFrequencyCorner"),
                   isOn(o_.BB_wwlpButton),
                   isOn(o_.BB_wwspButton),
                   isOn(o_.BB_decimateButton),
                   factor(o_.BB_decimationFactorTField, "bbDecimationFactor"),
                   isOn(o_.BB_integrateButton)};
    return p;
}

HttpOptions SettingsReader::transferOptions(HttpOptions base) const {
    // Long enough for a day of broadband data on a slow line, short enough to notice a trickle.
    base.deadlineSeconds =
        std::lround(number(o_.transferDeadlineTField, "transferDeadlineSeconds", 2, 3600, 120));
    return base;
}

int SettingsReader::maxConcurrentDownloads() const {
    // The public service asks a client for no more than five connections at once.
    return static_cast<int>(
        number(o_.maxConcurrentDownloadsTField, "maxConcurrentDownloads", 1, 5, 4, true));
}

int SettingsReader::monitorMinutes() const {
    return static_cast<int>(number(o_.monitorRequestDurationTField, "monitorDurationMinutes", 1,
                                   MonitorSession::kMaxMinutes, 60, true));
}

double SettingsReader::eventMinutes() const {
    return number(o_.eventRequestDurationTField, "eventDurationMinutes", 1,
                  MonitorSession::kMaxMinutes, 90);
}

std::chrono::milliseconds SettingsReader::autoUpdatePeriod() const {
    // The shortest period: each tick asks every service once per channel.
    constexpr double kShortest = 10.0;
    double seconds = fieldFloatValue(o_.updateIntervalTField);
    if (!(seconds >= kShortest)) {
        systemLog(QStringLiteral("Auto-update period of %1 seconds is too short; using %2 seconds.")
                      .arg(o_.updateIntervalTField ? o_.updateIntervalTField->text() : QString())
                      .arg(kShortest));
        seconds = kShortest;
    }
    // No longer than a timer can hold.
    return std::chrono::milliseconds(std::lround(std::min(seconds, INT_MAX / 1000.0) * 1000.0));
}

std::chrono::milliseconds SettingsReader::drumPeriod() const {
    return std::chrono::milliseconds(std::lround(
        1000 * number(o_.updateIntervalTField, "updateIntervalSeconds", 10, 86400, 120, true)));
}

float SettingsReader::minMagnitude() const {
    return static_cast<float>(number(o_.minMagTField, "minMagnitude", -2, 10, 5));
}

QString SettingsReader::seedLinkServers() const {
    return o_.seedLinkServerTField ? o_.seedLinkServerTField->text()
                                   : defaults_.stringForKey(QStringLiteral("seedLinkServer"));
}

QString SettingsReader::timeSeriesBase() const {
    return serviceBase(o_.timeSeriesServiceURLTField, "timeSeriesServiceURL");
}
QString SettingsReader::stationBase() const {
    return serviceBase(o_.stationServiceURLTField, "stationServiceURL");
}
QString SettingsReader::eventBase() const {
    return serviceBase(o_.eventServiceURLTField, "eventServiceURL");
}
QString SettingsReader::statusPageBase() const {
    return serviceBase(o_.statusPageURLTField, "statusPageURL");
}

void SettingsReader::configure(MonitorSession& session, const HttpOptions& base,
                               const ChannelTable& table) const {
    TimeSeriesSource& service = session.timeSeries();
    service.setServiceBase(timeSeriesBase());
    service.setService(servicechoice::chosen(defaults_));
    service.setHttpOptions(transferOptions(base));
    service.setMaxConcurrentTransfers(maxConcurrentDownloads());
    // A table changed without a new list (by a caller of the list setters) is taken as well.
    if (!(session.channels() == table))
        session.setChannels(table, o_.plotTitleTField ? o_.plotTitleTField->text() : QString());
    session.setOptions(processingOptions(), isOn(o_.incrementalUpdatesButton));
    const bool stream = defaults_.stringForKey(QStringLiteral("dataSource")) == u"seedLink";
    session.setSource(stream ? MonitorSession::Source::SeedLink
                             : MonitorSession::Source::WebService,
                      seedLinkServers());
    session.setLiveProcessing(livechoice::liveOf(choice(livechoice::kKey, livechoice::choices())));
}

std::optional<ChannelFinderQuery> SettingsReader::finderQuery() const {
    auto typed = [](const QLineEdit* field) { return field ? field->text() : QString(); };
    const QString net = typed(o_.networkTField), sta = typed(o_.stationTField),
                  loc = typed(o_.siteCodeTField), cha = typed(o_.channelTField);
    if (!o_.finderSourcePopUp || o_.finderSourcePopUp->currentIndex() != 1)
        return channelFinderQuery(stationBase(), net, sta, loc, cha);
    const QString servers = seedLinkServers();
    auto query = seedLinkFinderQuery(servers, net, sta, loc, cha);
    if (!query)
        systemLog(QStringLiteral(
                      "Channel finder: the SeedLink server \"%1\" is not written as host:port.")
                      .arg(servers));
    return query;
}
