// The earthquake's context on the traces: adapters over the pure context unit and the stations'
// places.
#include "app/groundswayController.h"

#include "acquisition/MonitorSession.h"
#include "acquisition/TraceList.h"
#include "app/ControlValues.h"
#include "base/Time.h"
#include "channels/StationLocator.h"
#include "channels/StationPlaces.h"
#include "components/NEIC_QueryController.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/sac/SacObject.h"
#include "events/EventContext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <cmath>
#include <limits>
#include <numeric>

namespace {

QString stationKey(const SacObject* s) {
    const sac::SacHeader* h = s ? s->GetSacHeader() : nullptr;
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
    return context::newestIn(view->eventOrigins(),
                             civil::addSeconds(*view->refDate(), view->axisLeft()),
                             civil::addSeconds(*view->refDate(), view->axisRight()));
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
        updateHelicorderMarks();
    }
}

void groundswayController::locateStations() {
    // Coordinates the answers carried.
    QStringList stations;
    for (const auto& w : *theWaveforms_) {
        const QString key = stationKey(w.get());
        const sac::SacHeader* h = w ? w->GetSacHeader() : nullptr;
        if (key.isEmpty() || !h)
            continue;
        stations << key;
        const float lat = h->getFloat(sac::word::STLA), lon = h->getFloat(sac::word::STLO);
        if (!places_->place(key) && lat != sac::kUndefinedFloat && lon != sac::kUndefinedFloat &&
            std::isfinite(lat) && std::isfinite(lon) && std::abs(lat) <= 90 && std::abs(lon) <= 360)
            places_->learn(key, {lat, lon});
    }
    // The rest from the station service, once each while the application runs, and only when
    // there is an earthquake to measure from.
    if (originShown())
        places_->locate(stations,
                        checkedServiceBase(o_.stationServiceURLTField, "stationServiceURL"),
                        transferOptions());
}

void groundswayController::updateTraceContext() {
    QuilmRealTimeDisplayView02* view = o_.seisView;
    if (!view)
        return;
    const auto origin = originShown();
    const std::size_t n = theWaveforms_->size();
    const QList<int>& tableRows = traces_->rows();
    std::vector<QString> stations(n);
    for (std::size_t i = 0; i < n; ++i)
        stations[i] = stationKey((*theWaveforms_)[i].get());
    QHash<QString, context::Place> places;
    for (auto it = places_->all().begin(); it != places_->all().end(); ++it)
        places.insert(it.key(), {it->latitude, it->longitude});
    const auto contexts =
        origin ? context::rowContexts(*origin,
                                      actions_.travelTimeModelPopUp
                                          ? actions_.travelTimeModelPopUp->currentText()
                                          : QStringLiteral("iasp91"),
                                      stations, places)
               : std::vector<std::optional<context::RowContext>>(n);
    std::vector<QuilmRealTimeDisplayView02::TraceAnnotation> notes(n);
    std::vector<double> distance(n, std::numeric_limits<double>::infinity());
    std::vector<int> rowOf(n);
    for (std::size_t i = 0; i < n; ++i) {
        const SacObject* s = (*theWaveforms_)[i].get();
        auto& note = notes[i];
        const int row = tableRows.value(static_cast<qsizetype>(i), -1);
        rowOf[i] = row;
        if (const auto& c = contexts[i]) {
            distance[i] = c->degrees;
            note.note = c->note;
            note.marks = c->marks;
            note.band = c->band;
        } else if (origin && s && !stations[i].isEmpty()) {
            // Shown in the row's tooltip; a row without samples shows its own reason instead.
            note.status = inventory::noPlaceNote(stations[i], places_->busy());
        }
        // Each row's health: how late and how complete, dimmed when silent, the reason when empty.
        const RowState* state =
            frame_ && row >= 0 && static_cast<std::size_t>(row) < frame_->rows.size()
                ? &frame_->rows[static_cast<std::size_t>(row)]
                : nullptr;
        if (state && !state->health.isEmpty())
            note.note = note.note.isEmpty() ? state->health : note.note + u'\n' + state->health;
        const bool empty = !s || s->samples().empty();
        note.dimmed = (state && state->silent) || empty;
        if (const int unfiltered = traces_->unfiltered(row); unfiltered > 0)
            note.status =
                unfiltered == 1
                    ? QStringLiteral("1 piece too short for the filters, drawn unfiltered")
                    : QStringLiteral("%1 pieces too short for the filters, drawn "
                                     "unfiltered")
                          .arg(unfiltered);
        if (empty && s)
            note.status = state && !state->failure.isEmpty()
                              ? QStringLiteral("No data: ") + state->failure
                              : QStringLiteral("No data");
    }
    // The order: by distance (stations without one last), else the list's; the pieces of one
    // channel stay together.
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    if (sortByDistance_ && origin)
        order = context::byDistance(distance, rowOf);
    else
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return rowOf[a] < rowOf[b]; });
    std::vector<QuilmRealTimeDisplayView02::TraceAnnotation> ordered; // one per drawn row
    std::vector<int> viewRows;
    int previous = std::numeric_limits<int>::min();
    for (const std::size_t k : order) {
        if (ordered.empty() || previous != rowOf[k])
            ordered.push_back(std::move(notes[k]));
        previous = rowOf[k];
        viewRows.push_back(static_cast<int>(ordered.size()) - 1);
    }
    traces_->reorder(order); // the same list object: the view keeps drawing it
    view->setTraceRows(std::move(viewRows));
    view->setTraceAnnotations(std::move(ordered));
    view->setNeedsDisplay(true);
}
