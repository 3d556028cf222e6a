// The earthquake's context on the traces: adapters over the pure context unit and the stations'
// places.
#include "app/groundswayController.h"

#include "app/SettingsReader.h"

#include "acquisition/MonitorSession.h"
#include "acquisition/TraceList.h"
#include "app/ControlValues.h"
#include "base/Time.h"
#include "channels/StationLocator.h"
#include "channels/StationPlaces.h"
#include "components/NEIC_QueryController.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/sac/SacObject.h"
#include "display/RowNotes.h"
#include "events/EventContext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <cmath>

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
                        settings_->serviceBase(o_.stationServiceURLTField, "stationServiceURL"),
                        transferOptions());
}

void groundswayController::updateTraceContext() {
    QuilmRealTimeDisplayView02* view = o_.seisView;
    if (!view)
        return;
    const auto origin = originShown();
    const std::size_t n = theWaveforms_->size();
    std::vector<rownotes::Trace> facts(n);
    std::vector<QString> stations(n);
    for (std::size_t i = 0; i < n; ++i) {
        const SacObject* s = (*theWaveforms_)[i].get();
        auto& f = facts[i];
        f.station = stations[i] = stationKey(s);
        f.row = traces_->rows().value(static_cast<qsizetype>(i), -1);
        f.held = s != nullptr;
        f.empty = !s || s->samples().empty();
        f.unfiltered = traces_->unfiltered(f.row);
    }
    QHash<QString, context::Place> places;
    for (auto it = places_->all().begin(); it != places_->all().end(); ++it)
        places.insert(it.key(), {it->latitude, it->longitude});
    const QString model = actions_.travelTimeModelPopUp
                              ? actions_.travelTimeModelPopUp->currentText()
                              : QStringLiteral("iasp91");
    static const std::vector<RowState> none;
    rownotes::Layout layout = rownotes::arrange(
        facts,
        origin ? context::rowContexts(*origin, model, stations, places)
               : std::vector<std::optional<context::RowContext>>(n),
        frame_ ? frame_->rows : none, origin.has_value(), places_->busy(), sortByDistance_);
    traces_->reorder(layout.order); // the same list object: the view keeps drawing it
    view->setTraceRows(std::move(layout.viewRows));
    view->setTraceAnnotations(std::move(layout.notes));
    view->setNeedsDisplay(true);
}
