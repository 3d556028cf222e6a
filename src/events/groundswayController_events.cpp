// The recent-earthquake list, its web links, and the earthquake's context on the traces
// (adapters over the pure context unit and the stations' places).
#include "app/groundswayController.h"

#include "acquisition/TraceList.h"
#include "app/ControlValues.h"
#include "app/SettingsReader.h"
#include "app/WindowPlacement.h"
#include "base/Time.h"
#include "channels/StationPlaces.h"
#include "components/NEIC_QueryController.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "display/RowNotes.h"
#include "events/EventContext.h"

#include <QComboBox>
#include <QTableView>

void groundswayController::showEventListWindow(QObject*) {
    placement::bringToFront(o_.eventListWindow, true);
    loadNEICInfo(nullptr);
}

void groundswayController::loadNEICInfo(QObject*) {
    if (!neicQueryController_)
        return;
    neicQueryController_->setServiceURL(settings_->eventBase());
    neicQueryController_->setMinMagnitude(settings_->minMagnitude());
    neicQueryController_->loadNEIC_TextList();
    if (o_.eventListTblView)
        o_.eventListTblView->viewport()->update();
}

void groundswayController::loadNEICEventPage(QObject*) {
    if (neicQueryController_)
        neicQueryController_->loadNeicEventPage();
}

void groundswayController::openGoogleMaps(QObject*) {
    if (neicQueryController_)
        neicQueryController_->openGoogleMaps();
}

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
    // Coordinates the answers carried; the rest from the station service, once each while the
    // application runs, and only when there is an earthquake to measure from.
    const QStringList stations = places_->learnFromHeaders(*theWaveforms_);
    if (originShown())
        places_->locate(stations, settings_->stationBase(), settings_->transferOptions(http_));
}

void groundswayController::updateTraceContext() {
    QuilmRealTimeDisplayView02* view = o_.seisView;
    if (!view)
        return;
    static const std::vector<RowState> none;
    rownotes::Layout layout =
        rownotes::arrange(*traces_, originShown(), travelTimeModel(), *places_,
                          frame_ ? frame_->rows : none, sortByDistance_);
    traces_->reorder(layout.order); // the same list object: the view keeps drawing it
    view->setTraceRows(std::move(layout.viewRows));
    view->setTraceAnnotations(std::move(layout.notes));
    view->setNeedsDisplay(true);
}

QString groundswayController::travelTimeModel() const {
    return actions_.travelTimeModelPopUp ? actions_.travelTimeModelPopUp->currentText()
                                         : QStringLiteral("iasp91");
}
