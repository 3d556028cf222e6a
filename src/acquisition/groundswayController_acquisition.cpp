// Seismogram acquisition: one channel's URL and download, the retrieval over all channels and
// the request windows, the data source and the session's settings; adapters over the session.
#include "app/groundswayController.h"

#include "acquisition/MonitorSession.h"
#include "acquisition/QueryUrl.h"
#include "acquisition/TraceList.h"
#include "app/ControlValues.h"
#include "app/MonitorControls.h"
#include "app/SettingsReader.h"
#include "base/DateText.h"
#include "base/SystemLog.h"
#include "base/Time.h"
#include "channels/ChannelTable.h"
#include "components/NEIC_QueryController.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/sac/SacObject.h"
#include "display/FrameView.h"

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>

std::optional<QString> groundswayController::buildURLForChannel(const ChannelRequest& r) const {
    return timeSeriesQueryUrl(settings_->timeSeriesBase(), r, datetext::now());
}

QString groundswayController::formatDateAsString(std::optional<Date> date) const {
    return urlTimeText(date.value_or(datetext::now()));
}

std::optional<QByteArray>
groundswayController::getHTTPDataWithCustomUserAgent(const std::optional<QString>& url) {
    AcquisitionFailure failure;
    const auto response = fetchBody(url, settings_->transferOptions(http_), &failure);
    for (const QString& line : failure.logLines)
        systemLog(line);
    if (!response)
        return std::nullopt;
    return response->body;
}

QString groundswayController::buildFileNameFromDictionary(const ChannelRequest& r) const {
    return seismogramFileName(r);
}

std::unique_ptr<SacObject>
groundswayController::downloadSeismogramWithURL(const ChannelRequest& r) {
    const auto body = getHTTPDataWithCustomUserAgent(buildURLForChannel(r));
    if (!body)
        return nullptr;
    AcquisitionFailure failure;
    const RequestedWindow window = requestedWindow(r, datetext::now());
    auto seismogram =
        decodeSeismogram(*body, buildFileNameFromDictionary(r), &failure, 200, &window);
    for (const QString& line : failure.logLines)
        systemLog(line);
    return seismogram;
}

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
    session_->retrieve(session_->windowOf(fieldText(o_.startTField), fieldText(o_.endTField),
                                          datetext::now(), theSeismgrmUpdateTimer_ != nullptr),
                       fieldText(o_.plotTitleTField));
    updateGuidance();
}

void groundswayController::applyFrame(const std::shared_ptr<const SessionFrame>& f) {
    QuilmRealTimeDisplayView02* view = o_.seisView;
    frame_ = f;
    if (f->result) {
        const TraceList::Applied applied =
            frameview::applyTraces(view, *traces_, *f->result, *theLabels_, f->monitoring);
        if (!f->monitoring)
            for (int i = 0; i < applied.rowsRetrieved; ++i)
                appendToHistory(QStringLiteral("Retrieved a seismogram.\n"));
        if (o_.queryWarningTField)
            o_.queryWarningTField->setHidden(applied.drawn);
        if (o_.networkProgressIndicator && !session_->busy())
            o_.networkProgressIndicator->hide();
    }
    if (o_.plotTitleTField && o_.plotTitleTField->text() != f->title)
        o_.plotTitleTField->setText(f->title);
    if (view) {
        frameview::show(*view, *f, settings_->monitorMinutes());
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
    if (const auto chosen = monitorcontrols::chosenLength(sender, MonitorSession::kMaxMinutes)) {
        if (o_.monitorRequestDurationTField)
            o_.monitorRequestDurationTField->setText(QString::number(*chosen));
        defaults_.setObject(QString::number(*chosen), QStringLiteral("monitorDurationMinutes"));
    }
    session_->setMinutes(settings_->monitorMinutes());
    eventOrigin_.reset(); // the monitor shows the newest earthquake in its window
    monitorcontrols::showWindowTimes(o_, session_->monitorWindow(datetext::now()));
    retrieveSeismograms(nullptr);
}

void groundswayController::getRecentEventSeismograms(QObject*) {
    // No row, or one left over from a longer list, names no earthquake.
    const auto origin = neicQueryController_
                            ? neicQueryController_->originAt(selectedRow(o_.eventListTblView))
                            : std::nullopt;
    if (!origin)
        return;
    if (theSeismgrmUpdateTimer_)
        toggleAutoUpdate(nullptr);
    eventOrigin_ = origin;
    const WindowRequest window = session_->earthquakeWindow(*origin, settings_->eventMinutes());
    monitorcontrols::showWindowTimes(o_, window, MonitorSession::earthquakeTitle(*origin));
    retrieveSeismograms(nullptr);
}

bool groundswayController::streamChosen() const {
    return defaults_.stringForKey(QStringLiteral("dataSource")) == u"seedLink";
}

bool groundswayController::streaming() const {
    return session_->streaming();
}

SeedLinkSource* groundswayController::seedLinkSource() const {
    return &session_->seedLink();
}

const std::vector<double>& groundswayController::arrivalToPixelsMs() const {
    return session_->arrivalToPixelsMs();
}

void groundswayController::setDataSource(QObject* sender) {
    const auto* popup = qobject_cast<const QComboBox*>(sender);
    if (!popup)
        return;
    const bool stream = popup->currentIndex() == 1;
    if (stream == streamChosen())
        return;
    defaults_.setObject(stream ? QStringLiteral("seedLink") : QStringLiteral("webService"),
                        QStringLiteral("dataSource"));
    // A running monitor changes over at once, its window filled whole from the new source.
    if (theSeismgrmUpdateTimer_) {
        configureSession();
        update();
    }
}

ChannelTable groundswayController::channelTable() const {
    return {*theNetworks_, *theStations_, *theChannels_, *theChannelCodes_, *theLabels_};
}

void groundswayController::configureSession() {
    settings_->configure(*session_, http_, channelTable());
}

void groundswayController::connectSession() {
    connect(session_.get(), &MonitorSession::frameReady, this, &groundswayController::applyFrame);
    connect(session_.get(), &MonitorSession::indicatorChanged, this, [this](const QString& text) {
        if (o_.monitorIndicatorTField)
            o_.monitorIndicatorTField->setText(text);
    });
    session_->setReadyHook(frameview::summaryHook());
}
