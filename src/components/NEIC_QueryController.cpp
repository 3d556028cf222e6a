#include "components/NEIC_QueryController.h"

#include "components/catalog/FdsnEventText.h"

#include "base/DateText.h"
#include "base/NumberReading.h"
#include "base/SystemLog.h"
#include "base/UrlText.h"

#include <QDesktopServices>
#include <QItemSelectionModel>
#include <QTableView>
#include <QUrl>

#include <cmath>

namespace {

QString formatTime(SeismicOrigin::Date t) {
    return datetext::description(t).chopped(6); // without " +0000"
}

} // namespace

NEIC_QueryController::NEIC_QueryController(QObject* parent)
    : QAbstractTableModel(parent), catalog_(new EventCatalogSource(this)) {
    setHttpOptions(http_);
    connect(catalog_, &EventCatalogSource::loaded, this, &NEIC_QueryController::applyLoad);
}

std::optional<SeismicOrigin> NEIC_QueryController::originAt(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= origins_.size())
        return std::nullopt;
    return origins_[static_cast<std::size_t>(row)];
}

void NEIC_QueryController::setHttpOptions(const HttpOptions& options) {
    http_ = options;
    http_.maxBodyBytes = std::size_t{64} << 20;
}

void NEIC_QueryController::setInline(bool on) {
    catalog_->setInline(on);
}

bool NEIC_QueryController::isLoading() const {
    return catalog_->isLoading();
}

void NEIC_QueryController::cancelLoad() {
    catalog_->cancel();
}

std::optional<std::vector<SeismicOrigin>> NEIC_QueryController::parseEventText(QByteArrayView body,
                                                                               int* skippedLines) {
    return ::parseEventText(body, skippedLines);
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
               .arg(magnitudeText(minMagnitude_), datetext::urlTime(monthAgo));
}

QString NEIC_QueryController::magnitudeText(float magnitude) {
    // One decimal, rounded down, so the catalogue never leaves out an event the list wants; the
    // events below the exact minimum are dropped after reading. The margin absorbs the float's
    // own error (6.2f is 6.1999998).
    return printfFixed(std::floor(static_cast<double>(magnitude) * 10.0 + 1e-4) / 10.0, 1);
}

void NEIC_QueryController::loadNEIC_TextList() {
    catalog_->load(queryURL(), http_);
}

void NEIC_QueryController::applyLoad(const CatalogLoad& load) {
    if (!load.origins) {
        systemLog(QStringLiteral("Earthquake list not loaded from %1: %2").arg(load.url, load.why));
        Q_EMIT listLoaded(false);
        return;
    }
    if (load.skippedLines > 0)
        systemLog(QStringLiteral("Earthquake list from %1: %2 lines could not be read and were "
                                 "left out.")
                      .arg(load.url)
                      .arg(load.skippedLines));
    // Keep the user's pick across reloads (every auto-update tick reloads the list).
    const int row = selectedRow();
    const QString selectedId = row >= 0 && static_cast<std::size_t>(row) < origins_.size()
                                   ? origins_[static_cast<std::size_t>(row)].eventId
                                   : QString();
    beginResetModel();
    origins_.clear();
    for (const SeismicOrigin& o : *load.origins)
        if (o.mag >= minMagnitude_)
            origins_.push_back(o);
    endResetModel();
    if (!selectedId.isEmpty() && tableView_) {
        for (std::size_t k = 0; k < origins_.size(); ++k) {
            if (origins_[k].eventId == selectedId) {
                tableView_->selectRow(static_cast<int>(k));
                break;
            }
        }
    }
    Q_EMIT listLoaded(true);
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

namespace {

// The browser is only ever asked to open a web page.
void openWebPage(const QString& address) {
    const QUrl url(address, QUrl::StrictMode);
    if (url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") &&
        !url.host().isEmpty())
        QDesktopServices::openUrl(url);
}

} // namespace

void NEIC_QueryController::loadNeicEventPage() {
    const int row = selectedRow();
    if (row < 0 || static_cast<std::size_t>(row) >= origins_.size())
        return;
    openWebPage(eventPageURL(origins_[static_cast<std::size_t>(row)]));
}

void NEIC_QueryController::openGoogleMaps() {
    const int row = selectedRow();
    if (row < 0 || static_cast<std::size_t>(row) >= origins_.size())
        return;
    openWebPage(mapURL(origins_[static_cast<std::size_t>(row)]));
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
    if (role == Qt::TextAlignmentRole && index.column() != RegionColumn &&
        index.column() != PlaceColumn)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case TimeColumn:
        return formatTime(o.originTime);
    case MagnitudeColumn:
        return QStringLiteral("%1 %2").arg(o.mag, 0, 'f', 1).arg(o.magnitudeType).trimmed();
    case RegionColumn:
        return o.shortFERegion();
    case PlaceColumn:
        return o.region;
    case DepthColumn:
        return o.depthKm ? QString::number(*o.depthKm, 'f', 1) : QString();
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
    case PlaceColumn:
        return tr("Catalogue's place");
    default:
        return {};
    }
}
