// The earthquake's context on the traces: where each station stands from the epicentre, the
// predicted arrivals of the main phases, the surface-wave window, and an order by distance.
#include "app/groundswayController.h"

#include "acquisition/MonitorSession.h"
#include "acquisition/TraceList.h"

#include "app/ControlValues.h"
#include "base/Background.h"
#include "base/Time.h"
#include "channels/ChannelTable.h"
#include "channels/StationLocator.h"
#include "components/NEIC_QueryController.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/sac/SacObject.h"
#include "geo/Geodesy.h"
#include "geo/TravelTimes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// Surface waves travel between these group velocities (km/s); their window on the trace.
constexpr double kFastSurfaceWave = 4.0, kSlowSurfaceWave = 3.5;

QString stationKey(const SacObject& s) {
    const sac::SacHeader* h = s.GetSacHeader();
    if (!h)
        return {};
    const QString net = QString::fromStdString(h->getText(sac::text::KNETWK)).trimmed();
    const QString sta = QString::fromStdString(h->getText(sac::text::KSTNM)).trimmed();
    if (net.isEmpty() || sta.isEmpty() || net.startsWith(u"-12345") || sta.startsWith(u"-12345"))
        return {};
    return net + u'.' + sta;
}

} // namespace

std::optional<SeismicOrigin> groundswayController::originShown() const {
    if (eventOrigin_)
        return eventOrigin_;
    // Monitoring or a typed window: the newest origin inside the window drawn, if any.
    const QuilmRealTimeDisplayView02* view = o_.seisView;
    if (!view || !view->refDate())
        return std::nullopt;
    const Time from = civil::addSeconds(*view->refDate(), view->axisLeft());
    const Time to = civil::addSeconds(*view->refDate(), view->axisRight());
    std::optional<SeismicOrigin> newest;
    for (const SeismicOrigin& o : view->eventOrigins())
        if (o.originTime >= from && o.originTime <= to && (!newest || o.originTime > newest->originTime))
            newest = o;
    return newest;
}

void groundswayController::toggleSortByDistance(QObject* sender) {
    sortByDistance_ = isOn(sender);
    defaults_.setObject(sortByDistance_, QStringLiteral("sortByDistance"));
    updateTraceContext();
}

void groundswayController::setTravelTimeModel(QObject* sender) {
    if (const auto* popup = qobject_cast<const QComboBox*>(sender)) {
        defaults_.setObject(popup->currentText(), QStringLiteral("travelTimeModel"));
        updateTraceContext();
    }
}

void groundswayController::locateStations() {
    // Coordinates the answers carried.
    for (const auto& w : *theWaveforms_) {
        const sac::SacHeader* h = w ? w->GetSacHeader() : nullptr;
        const QString key = w ? stationKey(*w) : QString();
        if (!h || key.isEmpty() || stationPlaces_.contains(key))
            continue;
        const float lat = h->getFloat(sac::word::STLA), lon = h->getFloat(sac::word::STLO);
        if (lat != sac::kUndefinedFloat && lon != sac::kUndefinedFloat && std::isfinite(lat) &&
            std::isfinite(lon) && std::abs(lat) <= 90 && std::abs(lon) <= 360)
            stationPlaces_.insert(key, {lat, lon});
    }
    // The rest from the station service, once each while the application runs, and only when
    // there is an earthquake to measure from.
    if (!originShown())
        return;
    QStringList unknown;
    for (const auto& w : *theWaveforms_) {
        const QString key = w ? stationKey(*w) : QString();
        if (!key.isEmpty() && !stationPlaces_.contains(key) && !placesAsked_.contains(key) &&
            !unknown.contains(key))
            unknown << key;
    }
    const QString base = checkedServiceBase(o_.stationServiceURLTField, "stationServiceURL");
    const QString query = inventory::stationPlaceQuery(base, unknown);
    if (query.isEmpty() || base.isEmpty())
        return;
    for (const QString& key : unknown)
        placesAsked_.insert(key);
    const HttpOptions options = transferOptions();
    locator_->run(
        [query, unknown, options](const std::atomic<bool>& cancelled) {
            HttpOptions o = options;
            o.cancel = &cancelled;
            return inventory::lookUpPlaces(query, unknown, o);
        },
        // A station the service cannot place simply shows no distance and no marks.
        [this](inventory::PlaceAnswer answer) {
            for (auto it = answer.places.begin(); it != answer.places.end(); ++it)
                stationPlaces_.insert(it.key(), it.value());
            if (!answer.places.isEmpty())
                updateTraceContext();
        });
}

void groundswayController::updateTraceContext() {
    QuilmRealTimeDisplayView02* view = o_.seisView;
    if (!view)
        return;
    const auto origin = originShown();
    const QString modelName = actions_.travelTimeModelPopUp
                                  ? actions_.travelTimeModelPopUp->currentText()
                                  : QStringLiteral("iasp91");
    const auto model = geo::TravelTimes::model(modelName.toStdString());
    const std::size_t n = theWaveforms_->size();
    std::vector<QuilmRealTimeDisplayView02::TraceAnnotation> notes(n);
    std::vector<double> distance(n, std::numeric_limits<double>::infinity());
    for (std::size_t i = 0; i < n && origin; ++i) {
        const SacObject* s = (*theWaveforms_)[i].get();
        const auto place = s ? stationPlaces_.find(stationKey(*s)) : stationPlaces_.end();
        if (place == stationPlaces_.end()) {
            // Shown in the row's tooltip; a row without samples shows its own reason instead.
            if (s)
                notes[i].status = inventory::noPlaceNote(stationKey(*s), locator_->isRunning());
            continue;
        }
        const auto b = geo::bearing(origin->latitude, origin->longitude, place->latitude,
                                    place->longitude);
        if (!b)
            continue;
        distance[i] = b->degrees;
        auto& note = notes[i];
        note.note = QStringLiteral("%1\u00b0  BAz %2\u00b0")
                        .arg(b->degrees, 0, 'f', 1)
                        .arg(b->backAzimuth, 0, 'f', 0);
        const double depth = std::clamp(origin->depthKm.value_or(10.0), 0.0,
                                        geo::TravelTimes::kMaxSourceDepth);
        if (model)
            for (const geo::Arrival& a : model->arrivals(depth, b->degrees))
                note.marks.emplace_back(civil::addSeconds(origin->originTime, a.seconds),
                                        QString::fromStdString(a.phase));
        note.band = std::pair{civil::addSeconds(origin->originTime, b->kilometres / kFastSurfaceWave),
                              civil::addSeconds(origin->originTime, b->kilometres / kSlowSurfaceWave)};
    }
    // Each row's health: how late and how complete, dimmed when silent, the reason when empty.
    for (std::size_t i = 0; i < n; ++i) {
        const SacObject* s = (*theWaveforms_)[i].get();
        auto& note = notes[i];
        const int row = traces_->rows().value(static_cast<qsizetype>(i), -1);
        const RowState* state = frame_ && row >= 0 && static_cast<std::size_t>(row) < frame_->rows.size()
                                    ? &frame_->rows[static_cast<std::size_t>(row)]
                                    : nullptr;
        const bool silent = state && state->silent;
        const QString health = state ? state->health : QString();
        if (!health.isEmpty())
            note.note = note.note.isEmpty() ? health : note.note + u'\n' + health;
        const bool empty = !s || s->samples().empty();
        note.dimmed = silent || empty;
        const int unfiltered = traces_->unfiltered(row);
        if (unfiltered > 0)
            note.status = unfiltered == 1
                              ? QStringLiteral("1 piece too short for the filters, drawn unfiltered")
                              : QStringLiteral("%1 pieces too short for the filters, drawn "
                                               "unfiltered")
                                    .arg(unfiltered);
        if (empty && s)
            note.status = state && !state->failure.isEmpty()
                              ? QStringLiteral("No data: ") + state->failure
                              : QStringLiteral("No data");
    }
    // The order: by distance (stations without one last), else the list's.
    const QList<int>& tableRows = traces_->rows();
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    if (sortByDistance_ && origin)
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            // The pieces of one channel stay together.
            return std::pair(distance[a], tableRows.value(static_cast<qsizetype>(a))) <
                   std::pair(distance[b], tableRows.value(static_cast<qsizetype>(b)));
        });
    else
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return tableRows.value(static_cast<qsizetype>(a)) <
                   tableRows.value(static_cast<qsizetype>(b));
        });
    std::vector<QuilmRealTimeDisplayView02::TraceAnnotation> ordered; // one per drawn row
    std::vector<int> viewRows;
    int previous = -1;
    for (const std::size_t k : order) {
        const int row = tableRows.value(static_cast<qsizetype>(k));
        if (ordered.empty() || previous != row)
            ordered.push_back(std::move(notes[k]));
        previous = row;
        viewRows.push_back(static_cast<int>(ordered.size()) - 1);
    }
    traces_->reorder(order); // the same list object: the view keeps drawing it
    view->setTraceRows(std::move(viewRows));
    view->setTraceAnnotations(std::move(ordered));
    view->setNeedsDisplay(true);
}
