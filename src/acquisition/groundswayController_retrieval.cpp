// The retrieval cycle over all channels and the two request windows.
#include "app/groundswayController.h"

#include "base/Time.h"
#include "app/ControlValues.h"
#include "base/DateText.h"
#include "components/NEIC_QueryController.h"
#include "base/NumberReading.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/sac/SacObject.h"
#include "base/SystemLog.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTableView>
#include <QTimer>

namespace {

QString failureLine(const ChannelRequest& r) {
    QString pieces;
    const std::pair<const char*, const QString*> order[] = {
        {"net", &ChannelRequest::Network},      {"sta", &ChannelRequest::StationID},
        {"loc", &ChannelRequest::LocationCode}, {"cha", &ChannelRequest::ChannelID},
        {"start", &ChannelRequest::StartTime},  {"end", &ChannelRequest::EndTime}};
    for (const auto& [name, key] : order)
        pieces += QLatin1StringView(name) + u'=' + r.value(*key) + u' ';
    return QStringLiteral("Encountered a Connection problem for request:%1").arg(u'\n' + pieces);
}

QString text(const QLineEdit* field) {
    return field ? field->text() : QString();
}

} // namespace

void groundswayController::retrieveSeismograms(QObject*) {
    // 1. The axis minimum, in single precision as the field reads.
    const float axisMinimum = fieldFloatValue(o_.monitorRequestDurationTField) * -60.0f;
    // 2. The cycle blocks the event loop, so the indicator is painted at once.
    if (o_.networkProgressIndicator) {
        o_.networkProgressIndicator->show();
        o_.networkProgressIndicator->repaint();
    }
    // 3-4.
    clearHistory(this);
    theWaveforms_->clear();
    QuilmRealTimeDisplayView02* view = o_.seisView;

    // 5.
    int received = 0;
    for (qsizetype i = 0; i < theStations_->size(); ++i) {
        ChannelRequest request;
        request.setValue(ChannelRequest::Network, theNetworks_->value(i));
        request.setValue(ChannelRequest::StationID, theStations_->value(i));
        request.setValue(ChannelRequest::ChannelID, theChannels_->value(i));
        request.setValue(ChannelRequest::LocationCode, theChannelCodes_->value(i));
        request.setValue(ChannelRequest::StartTime, text(o_.startTField));
        request.setValue(ChannelRequest::EndTime, text(o_.endTField));
        request.setValue(ChannelRequest::SampleRate, QStringLiteral("*"));
        const auto t0 = datetext::parseRequestTime(request.value(ChannelRequest::StartTime));
        const auto t1 = datetext::parseRequestTime(request.value(ChannelRequest::EndTime));

        std::unique_ptr<SacObject> s = downloadSeismogramWithURL(request);
        if (!s) {
            systemLog(failureLine(request));
            continue;
        }
        processSeismogram(*s);
        // A window text that does not parse gives no date; object and view keep their reference.
        if (theSeismgrmUpdateTimer_) {
            s->adjustReferenceTimeToNSDate(t1);
            if (view) {
                view->setRefDate(t1);
                view->setXLimitsMin(axisMinimum, 0.0f);
            }
        } else {
            s->adjustReferenceTimeToNSDate(t0);
            if (view)
                view->setRefDate(t0);
        }
        theWaveforms_->push_back(std::move(s));
        if (!theSeismgrmUpdateTimer_)
            appendToHistory(QStringLiteral("Retrieved a seismogram.\n"));
        theWaveforms_->back()->setLabelString(theLabels_->value(i).toStdString());
        ++received;
    }

    // 6.
    if (o_.queryWarningTField)
        o_.queryWarningTField->setHidden(received > 0);
    // 7-10.
    if (view) {
        view->computePlotLimits();
        if (theSeismgrmUpdateTimer_) {
            view->setXLimitsMin(axisMinimum, 0.0f);
            view->setOriginOnRight(true);
        } else {
            view->setXmin(0);
            view->setOriginOnRight(false);
        }
        view->setTitle(text(o_.plotTitleTField));
        view->setNeedsDisplay(true);
    }
    // 11.
    if (o_.networkProgressIndicator)
        o_.networkProgressIndicator->hide();
}

void groundswayController::lastNMinutes(QObject* sender) {
    // The pop-up's chosen length, else the monitor field's whole minutes (7.9 reads as 7).
    int minutes;
    if (const auto* popup = qobject_cast<const QComboBox*>(sender))
        minutes = popup->currentData(Qt::UserRole).toInt();
    else
        minutes = fieldIntValue(o_.monitorRequestDurationTField);
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
    if (row == -1)
        return;
    // A row left over from a longer list names no earthquake.
    if (row < 0 || static_cast<std::size_t>(row) >= origins->size())
        return;
    if (theSeismgrmUpdateTimer_)
        toggleAutoUpdate(nullptr);
    const SeismicOrigin origin = (*origins)[static_cast<std::size_t>(row)];
    const Date start = origin._origin_time().nsDate();
    const double minutes = fieldFloatValue(o_.eventRequestDurationTField);
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
