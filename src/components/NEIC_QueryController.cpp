#include "components/NEIC_QueryController.h"

#include "base/DateText.h"
#include "base/FdsnText.h"
#include "base/NumberReading.h"
#include "base/SystemLog.h"
#include "base/UrlText.h"

#include <QDesktopServices>
#include <QItemSelectionModel>
#include <QTableView>
#include <QUrl>

#include <array>
#include <cmath>

namespace {

// Columns of the FDSN event text format (USGS ComCat's header, exact).
constexpr std::array<const char*, 8> kNeeded = {
    "eventid",  "time",    "latitude",  "longitude",
    "depth/km", "magtype", "magnitude", "eventlocationname"};
constexpr std::array<int, 8> kStandardPositions = {0, 1, 2, 3, 4, 9, 10, 12};

std::optional<double> number(QStringView text) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(v) ? std::optional(v) : std::nullopt;
}

QString formatTime(SeismicOrigin::Date t) {
    return datetext::description(t).chopped(6); // without " +0000"
}

} // namespace

NEIC_QueryController::NEIC_QueryController(QObject* parent) : QAbstractTableModel(parent) {
    http_.maxBodyBytes = std::size_t{64} << 20;
}

void NEIC_QueryController::setEventTableView(QTableView* view) {
    tableView_ = view;
}
void NEIC_QueryController::setMinMagnitude(float magnitude) {
    minMagnitude_ = magnitude;
}
void NEIC_QueryController::setServiceURL(const QString& base) {
    serviceURL_ = baseAddress(base);
}

QString NEIC_QueryController::queryURL() const {
    const auto monthAgo = datetext::now() - std::chrono::hours(24 * 30);
    return serviceURL_ +
           QStringLiteral(
               "/fdsnws/event/1/query?format=text&orderby=time&minmagnitude=%1&starttime=%2")
               .arg(printfFixed(minMagnitude_, 1), datetext::urlTime(monthAgo));
}

void NEIC_QueryController::loadNEIC_TextList() {
    const QString url = queryURL();
    auto failed = [&](const QString& why) {
        systemLog(QStringLiteral("Earthquake list not loaded from %1: %2").arg(url, why));
    };
    QString error;
    const auto response = httpGet(url, http_, &error);
    if (!response)
        return failed(error);
    if (response->status == 204)
        return failed(
            QStringLiteral("the catalogue has no earthquakes for this request (HTTP 204)"));
    if (response->status != 200)
        return failed(QStringLiteral("HTTP status %1").arg(response->status));
    int skipped = 0;
    auto origins = parseEventText(response->body, &skipped);
    if (!origins)
        return failed(QStringLiteral("the response is not an earthquake list"));
    // Keep the user's pick across reloads (every auto-update tick reloads the list).
    const int row = selectedRow();
    const QString selectedId = row >= 0 && static_cast<std::size_t>(row) < origins_.size()
                                   ? origins_[static_cast<std::size_t>(row)].eventId
                                   : QString();
    beginResetModel();
    origins_ = std::move(*origins);
    endResetModel();
    if (!selectedId.isEmpty() && tableView_) {
        for (std::size_t k = 0; k < origins_.size(); ++k) {
            if (origins_[k].eventId == selectedId) {
                tableView_->selectRow(static_cast<int>(k));
                break;
            }
        }
    }
}

std::optional<std::vector<SeismicOrigin>> NEIC_QueryController::parseEventText(QByteArrayView body,
                                                                               int* skippedLines) {
    const FdsnTextTable table = readFdsnText(body);
    // Without a header, the columns stand where ComCat puts them.
    std::array<int, kNeeded.size()> pos = kStandardPositions;
    if (table.hasHeader)
        for (std::size_t k = 0; k < kNeeded.size(); ++k)
            pos[k] = table.column(QString::fromLatin1(kNeeded[k]));
    int skipped = 0;
    std::vector<SeismicOrigin> out;
    for (const QStringList& row : table.rows) {
        auto field = [&](std::size_t k) -> std::optional<QString> {
            if (pos[k] < 0 || pos[k] >= row.size())
                return std::nullopt;
            return row[pos[k]];
        };
        const auto id = field(0), time = field(1), lat = field(2), lon = field(3), depth = field(4),
                   magType = field(5), mag = field(6), region = field(7);
        std::optional<SeismicOrigin::Date> when;
        std::optional<double> latV, lonV, magV;
        if (time)
            when = datetext::parseCatalogTime(*time);
        if (lat)
            latV = number(*lat);
        if (lon)
            lonV = number(*lon);
        if (mag)
            magV = number(*mag);
        if (!id || !when || !latV || !lonV || !magV || std::abs(*latV) > 90 ||
            std::abs(*lonV) > 360) {
            ++skipped;
            continue;
        }
        SeismicOrigin o;
        o.eventId = *id;
        o.originTime = *when;
        o.latitude = *latV;
        o.longitude = *lonV;
        o.depthKm = depth ? number(*depth).value_or(0.0) : 0.0;
        o.mag = *magV;
        o.magnitudeType = magType.value_or(QString());
        o.region = region.value_or(QString());
        out.push_back(std::move(o));
    }
    if (skippedLines)
        *skippedLines = skipped;
    if (!table.hasHeader && out.empty())
        return std::nullopt;
    return out;
}

int NEIC_QueryController::selectedRow() const {
    if (!tableView_ || !tableView_->selectionModel())
        return -1;
    const QModelIndexList rows = tableView_->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

QString NEIC_QueryController::eventPageURL(const SeismicOrigin& origin) const {
    return serviceURL_ + QStringLiteral("/earthquakes/eventpage/") +
           QString::fromUtf8(QUrl::toPercentEncoding(origin.eventId));
}

QString NEIC_QueryController::mapURL(const SeismicOrigin& origin) {
    return QStringLiteral("https://www.google.com/maps/search/?api=1&query=%1,%2")
        .arg(origin.latitude, 0, 'f', 4)
        .arg(origin.longitude, 0, 'f', 4);
}

void NEIC_QueryController::loadNeicEventPage() {
    const int row = selectedRow();
    if (row < 0 || static_cast<std::size_t>(row) >= origins_.size())
        return;
    QDesktopServices::openUrl(QUrl(eventPageURL(origins_[static_cast<std::size_t>(row)])));
}

void NEIC_QueryController::openGoogleMaps() {
    const int row = selectedRow();
    if (row < 0 || static_cast<std::size_t>(row) >= origins_.size())
        return;
    QDesktopServices::openUrl(QUrl(mapURL(origins_[static_cast<std::size_t>(row)])));
}

int NEIC_QueryController::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(origins_.size());
}

int NEIC_QueryController::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant NEIC_QueryController::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 ||
        static_cast<std::size_t>(index.row()) >= origins_.size())
        return {};
    const SeismicOrigin& o = origins_[static_cast<std::size_t>(index.row())];
    if (role == Qt::TextAlignmentRole && index.column() != RegionColumn)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case TimeColumn:
        return formatTime(o.originTime);
    case MagnitudeColumn:
        return QStringLiteral("%1 %2").arg(o.mag, 0, 'f', 1).arg(o.magnitudeType).trimmed();
    case RegionColumn:
        return o.region;
    case DepthColumn:
        return QString::number(o.depthKm, 'f', 1);
    case LatitudeColumn:
        return QString::number(o.latitude, 'f', 3);
    case LongitudeColumn:
        return QString::number(o.longitude, 'f', 3);
    default:
        return {};
    }
}

QVariant NEIC_QueryController::headerData(int section, Qt::Orientation orientation,
                                          int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case TimeColumn:
        return tr("Origin time (UTC)");
    case MagnitudeColumn:
        return tr("Magnitude");
    case RegionColumn:
        return tr("Region");
    case DepthColumn:
        return tr("Depth (km)");
    case LatitudeColumn:
        return tr("Latitude");
    case LongitudeColumn:
        return tr("Longitude");
    default:
        return {};
    }
}
