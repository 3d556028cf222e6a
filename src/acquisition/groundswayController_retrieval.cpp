// The retrieval cycle over all channels and the two request windows.
#include "app/groundswayController.h"

#include "acquisition/RetrievalCycle.h"
#include "acquisition/StreamState.h"
#include "acquisition/TimeSeriesSource.h"
#include "app/ControlValues.h"
#include "base/DateText.h"
#include "base/NumberReading.h"
#include "base/SystemLog.h"
#include "base/Time.h"
#include "components/NEIC_QueryController.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/plot/TraceEnvelope.h"
#include "components/sac/SacObject.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTableView>
#include <QTimer>

#include <climits>
#include <map>
#include <set>

namespace {

QString text(const QLineEdit* field) {
    return field ? field->text() : QString();
}

} // namespace

void groundswayController::retrieveSeismograms(QObject*) {
    // The arrangement follows the timer as the cycle starts; a cycle still running is cancelled.
    cycleAxisMinimum_ = static_cast<float>(checkedNumber(
                            o_.monitorRequestDurationTField, "monitorDurationMinutes", 1,
                            kMaxWindowMinutes, 60)) *
                        -60.0f;
    // A typed time that cannot be read is asked for as the present moment; say so.
    for (const auto& [field, which] : {std::pair{o_.startTField, "start"},
                                       std::pair{o_.endTField, "end"}}) {
        if (field && !datetext::parseRequestTime(field->text()))
            systemLog(QStringLiteral("The window %1 %2 cannot be read as a time like "
                                     "2012-06-15T10:00:00.0000Z (UTC, years %3 to %4); the "
                                     "present moment is asked for instead.")
                          .arg(QLatin1StringView(which), quotedForLog(field->text()))
                          .arg(datetext::kFirstYear)
                          .arg(datetext::kLastYear));
    }
    cycleMonitor_ = theSeismgrmUpdateTimer_ != nullptr;
    const bool frame = stream_->frameCycle;
    if (o_.networkProgressIndicator && !frame)
        o_.networkProgressIndicator->show();
    if (!frame)
        clearHistory(this);
    timeSeries_->setServiceBase(
        checkedServiceBase(o_.timeSeriesServiceURLTField, "timeSeriesServiceURL"));
    timeSeries_->setHttpOptions(transferOptions());
    timeSeries_->setMaxConcurrentTransfers(maxConcurrentDownloads());
    // While streaming, only what the server refused is asked of the service; the rest comes
    // from the store as the stream filled it.
    std::vector<char> fromStore;
    if (cycleMonitor_ && streaming()) {
        fromStore.assign(static_cast<std::size_t>(theStations_->size()), 1);
        // A redraw between ticks asks nobody; a tick polls what the stream does not bring.
        for (std::size_t i = 0; !frame && i < fromStore.size() && i < stream_->refused.size(); ++i)
            fromStore[i] = !stream_->refused[i];
    }
    cycle_->start({{*theNetworks_, *theStations_, *theChannels_, *theChannelCodes_, *theLabels_},
                   WindowRequest::typed(cycleMonitor_ ? WindowRequest::Mode::Monitor
                                                      : WindowRequest::Mode::Typed,
                                        text(o_.startTField), text(o_.endTField), datetext::now()),
                   cycleMonitor_,
                   isOn(o_.incrementalUpdatesButton) || streaming(),
                   processingOptions(),
                   std::move(fromStore),
                   streaming()});
    updateGuidance();
}

namespace {

// A row for a channel that brought nothing: no samples, its codes and label, so it keeps its
// place and can say why.
std::unique_ptr<SacObject> emptyRow(const ChannelId& ch, const QString& label, Time reference) {
    auto s = std::make_unique<SacObject>(SacObject::fromSamples({}, 1.0, reference, 0.0, nullptr));
    if (sac::SacHeader* h = s->header()) {
        h->setText(sac::text::KNETWK, ch.network.toStdString());
        h->setText(sac::text::KSTNM, ch.station.toStdString());
        h->setText(sac::text::KHOLE, ch.location.toStdString());
        h->setText(sac::text::KCMPNM, ch.channel.toStdString());
    }
    s->setLabelString(label.toStdString());
    return s;
}

} // namespace

void groundswayController::applyCycleResult(const std::shared_ptr<CycleResult>& r) {
    // The view gets the whole new list in one step, never a half-built one.
    QuilmRealTimeDisplayView02* view = o_.seisView;
    // Rows the cycle left unchanged keep the pieces they have.
    std::map<int, std::vector<std::pair<std::unique_ptr<SacObject>, std::shared_ptr<const SacObject>>>>
        kept;
    for (const int row : r->kept) {
        for (qsizetype at = 0; at < traceRows_.size(); ++at) {
            const auto k = static_cast<std::size_t>(at);
            if (traceRows_[at] != row || k >= theWaveforms_->size() || !(*theWaveforms_)[k])
                continue;
            kept[row].emplace_back(std::move((*theWaveforms_)[k]),
                                   k < rawWaveforms_.size() ? rawWaveforms_[k] : nullptr);
        }
    }
    theWaveforms_->clear();
    rawWaveforms_.clear();
    traceRows_.clear();
    const Time reference = (cycleMonitor_ ? r->end : r->start).value_or(datetext::now());
    std::map<int, const ChannelFailure*> failed;
    for (const ChannelFailure& f : r->failures) {
        if (f.failure.kind != AcquisitionFailure::Kind::Cancelled && !f.fromStore)
            lastFailure_.insert(f.channel.seedId(), {datetext::now(), f.failure.detail});
        failed.emplace(f.index, &f);
    }
    std::map<int, std::vector<CycleTrace*>> pieces;
    for (CycleTrace& t : r->traces)
        pieces[t.index].push_back(&t);
    // Rows processed now say afresh how many of their pieces were too short to filter.
    for (const auto& [row, list] : pieces) {
        const auto n = r->unfiltered.find(row);
        if (n != r->unfiltered.end())
            unfilteredRows_.insert(row, n->second);
        else
            unfilteredRows_.remove(row);
    }
    // Table order: each row's pieces, unchanged rows, and rows that brought nothing.
    std::set<int> rows;
    for (const auto& [row, list] : pieces)
        rows.insert(row);
    for (const auto& [row, list] : kept)
        rows.insert(row);
    for (const auto& [row, failure] : failed)
        rows.insert(row);
    bool drawn = false;
    for (const int row : rows) {
        if (const auto k = kept.find(row); k != kept.end()) {
            for (auto& [trace, raw] : k->second) {
                traceRows_ << row;
                theWaveforms_->push_back(std::move(trace));
                rawWaveforms_.push_back(std::move(raw));
            }
            drawn = true;
            continue;
        }
        if (const auto p = pieces.find(row); p != pieces.end()) {
            for (CycleTrace* piece : p->second) {
                CycleTrace& t = *piece;
                drawn = true;
                traceRows_ << row;
                // A window text that does not parse gives no date; object and view keep their
                // reference.
                t.seismogram->adjustReferenceTimeToNSDate(cycleMonitor_ ? r->end : r->start);
                if (view && t.prepared)
                    view->adoptSummary(t.seismogram->identity(), t.seismogram->revision(),
                                       std::static_pointer_cast<const plot::BlockSummary>(t.prepared));
                theWaveforms_->push_back(std::move(t.seismogram));
                rawWaveforms_.push_back(std::move(t.raw));
                theWaveforms_->back()->setLabelString(t.label.toStdString());
            }
            if (!cycleMonitor_)
                appendToHistory(QStringLiteral("Retrieved a seismogram.\n"));
            continue;
        }
        // A failed row keeps its place and says why; a cancelled cycle shows nothing new.
        const ChannelFailure& f = *failed.at(row);
        if (f.failure.kind == AcquisitionFailure::Kind::Cancelled)
            continue;
        traceRows_ << row;
        theWaveforms_->push_back(emptyRow(f.channel, theLabels_->value(f.index), reference));
        rawWaveforms_.push_back(nullptr);
    }
    if (view && drawn) {
        if (cycleMonitor_) {
            view->setRefDate(r->end);
            view->setXLimitsMin(cycleAxisMinimum_, 0.0f);
        } else {
            view->setRefDate(r->start);
        }
    }
    if (view && cycleMonitor_ && streaming())
        view->setRefDate(r->end);
    if (o_.queryWarningTField)
        o_.queryWarningTField->setHidden(drawn);
    if (view) {
        view->computePlotLimits();
        if (cycleMonitor_) {
            view->setXLimitsMin(cycleAxisMinimum_, 0.0f);
            view->setOriginOnRight(true);
        } else {
            view->setXmin(0);
            view->setOriginOnRight(false);
            // A refresh of the same window keeps the zoom; another window starts unzoomed.
            const QString window = text(o_.startTField) + u' ' + text(o_.endTField);
            if (window != lastWindow_)
                view->resetZoom();
            lastWindow_ = window;
        }
        view->setTitle(text(o_.plotTitleTField));
        retrievedOnce_ = true;
        view->setPlaceholder(QString(), QString());
        view->setNeedsDisplay(true);
    }
    updateFollowNow();
    locateStations();
    updateTraceContext();
    if (o_.networkProgressIndicator)
        o_.networkProgressIndicator->hide();
    // The backfill is in the store: the stream goes on from where it ends.
    if (cycleMonitor_ && stream_->on && !stream_->started && theSeismgrmUpdateTimer_)
        startStream();
}

void groundswayController::lastNMinutes(QObject* sender) {
    // The pop-up's chosen length, else the monitor field's whole minutes (7.9 reads as 7).
    int minutes;
    if (const auto* popup = qobject_cast<const QComboBox*>(sender))
        minutes = popup->currentData(Qt::UserRole).toInt();
    else
        minutes = static_cast<int>(checkedNumber(o_.monitorRequestDurationTField,
                                                 "monitorDurationMinutes", 1, kMaxWindowMinutes,
                                                 60, true));
    eventOrigin_.reset(); // the monitor shows the newest earthquake in its window
    const Date end = datetext::now();
    const Date start = civil::addSeconds(end, -60.0 * minutes);
    if (o_.startTField)
        o_.startTField->setText(datetext::requestTime(start));
    if (o_.endTField)
        o_.endTField->setText(datetext::requestTime(end));
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
    const Date start = origin._origin_time().nsDate();
    const double minutes = checkedNumber(o_.eventRequestDurationTField, "eventDurationMinutes", 1,
                                         kMaxWindowMinutes, 90);
    const Date end = civil::addSeconds(start, minutes * 60.0);
    if (o_.startTField)
        o_.startTField->setText(datetext::requestTime(start));
    if (o_.endTField)
        o_.endTField->setText(datetext::requestTime(end));
    if (o_.plotTitleTField)
        o_.plotTitleTField->setText(
            QStringLiteral("%1 - Magnitude: %2")
                .arg(origin.shortFERegion(), printfFixed(origin.magnitude(), 1, 3)));
    retrieveSeismograms(nullptr);
}
