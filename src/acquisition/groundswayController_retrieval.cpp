// The retrieval cycle over all channels and the two request windows: adapters over the session.
#include "app/groundswayController.h"

#include "app/SettingsReader.h"

#include "acquisition/MonitorSession.h"
#include "acquisition/TraceList.h"
#include "app/ControlValues.h"
#include "base/DateText.h"
#include "base/SystemLog.h"
#include "base/Time.h"
#include "components/NEIC_QueryController.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "display/FrameView.h"
#include "components/sac/SacObject.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTableView>
#include <QTimer>

namespace {

QString text(const QLineEdit* field) {
    return field ? field->text() : QString();
}

} // namespace

void groundswayController::retrieveSeismograms(QObject*) {
    // A typed time that cannot be read is asked for as the present moment; say so.
    for (const auto& [field, which] :
         {std::pair{o_.startTField, "start"}, std::pair{o_.endTField, "end"}})
        if (field && !datetext::parseRequestTime(field->text()))
            systemLog(datetext::unreadableWindowTime(which, field->text()));
    if (o_.networkProgressIndicator)
        o_.networkProgressIndicator->show();
    clearHistory(this);
    configureSession();
    // The display is arranged by whether the refresh timer runs, not by who set the window.
    session_->retrieve(session_->windowOf(text(o_.startTField), text(o_.endTField), datetext::now(),
                                          theSeismgrmUpdateTimer_ != nullptr),
                       text(o_.plotTitleTField));
    updateGuidance();
}

void groundswayController::applyFrame(const std::shared_ptr<const SessionFrame>& f) {
    QuilmRealTimeDisplayView02* view = o_.seisView;
    frame_ = f;
    if (f->result) {
        CycleResult& r = *f->result;
        // Monitor traces are referenced to the window's end, the others to its start.
        const TraceList::Applied applied =
            traces_->apply(r, *theLabels_, f->monitoring ? r.end : r.start, datetext::now());
        if (view)
            frameview::adopt(*view, applied.summaries);
        if (!f->monitoring)
            for (int i = 0; i < applied.rowsRetrieved; ++i)
                appendToHistory(QStringLiteral("Retrieved a seismogram.\n"));
        if (o_.queryWarningTField)
            o_.queryWarningTField->setHidden(applied.drawn);
        if (view && applied.drawn)
            view->setRefDate(f->monitoring ? r.end : r.start);
        if (view)
            view->computePlotLimits();
        if (o_.networkProgressIndicator && !session_->busy())
            o_.networkProgressIndicator->hide();
    }
    if (o_.plotTitleTField && o_.plotTitleTField->text() != f->title)
        o_.plotTitleTField->setText(f->title);
    if (view) {
        frameview::show(*view, *f, monitorMinutes());
        retrievedOnce_ = true;
    }
    updateFollowNow();
    if (f->result)
        locateStations();
    updateTraceContext();
}

void groundswayController::lastNMinutes(QObject* sender) {
    // The pop-up's chosen length becomes the setting; else the field's whole minutes (7.9 reads
    // as 7, and the axis says 7 too).
    if (const auto* popup = qobject_cast<const QComboBox*>(sender)) {
        const int chosen = popup->currentData(Qt::UserRole).toInt();
        if (chosen >= 1 && chosen <= MonitorSession::kMaxMinutes) {
            if (o_.monitorRequestDurationTField)
                o_.monitorRequestDurationTField->setText(QString::number(chosen));
            defaults_.setObject(QString::number(chosen), QStringLiteral("monitorDurationMinutes"));
        }
    }
    session_->setMinutes(monitorMinutes());
    eventOrigin_.reset(); // the monitor shows the newest earthquake in its window
    showWindowTimes(session_->monitorWindow(datetext::now()));
    if (o_.seisServerMatrix) {
        if (QAbstractButton* cell = o_.seisServerMatrix->button(20))
            cell->setChecked(true);
    }
    retrieveSeismograms(nullptr);
}

void groundswayController::getRecentEventSeismograms(QObject*) {
    const std::vector<SeismicOrigin>* origins =
        neicQueryController_ ? neicQueryController_->getSeismicOriginsPointer() : nullptr;
    if (!origins || origins->empty())
        return;
    int row = -1;
    if (o_.eventListTblView && o_.eventListTblView->selectionModel()) {
        const QModelIndexList rows = o_.eventListTblView->selectionModel()->selectedRows();
        if (!rows.isEmpty())
            row = rows.first().row();
    }
    // No row, or one left over from a longer list, names no earthquake.
    if (row < 0 || static_cast<std::size_t>(row) >= origins->size())
        return;
    if (theSeismgrmUpdateTimer_)
        toggleAutoUpdate(nullptr);
    const SeismicOrigin origin = (*origins)[static_cast<std::size_t>(row)];
    eventOrigin_ = origin;
    const WindowRequest window = session_->earthquakeWindow(
        origin, settings_->number(o_.eventRequestDurationTField, "eventDurationMinutes", 1,
                              kMaxWindowMinutes, 90));
    showWindowTimes(window, MonitorSession::earthquakeTitle(origin));
    retrieveSeismograms(nullptr);
}

void groundswayController::showWindowTimes(const WindowRequest& window,
                                           const std::optional<QString>& title) {
    if (o_.startTField)
        o_.startTField->setText(window.startText);
    if (o_.endTField)
        o_.endTField->setText(window.endText);
    if (title && o_.plotTitleTField)
        o_.plotTitleTField->setText(*title);
}
