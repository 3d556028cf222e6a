// The data source, the session's settings and what the session tells the window.
#include "app/groundswayController.h"

#include "app/SettingsReader.h"

#include "acquisition/MonitorSession.h"
#include "acquisition/TimeSeriesSource.h"
#include "app/ControlValues.h"
#include "app/LiveChoice.h"
#include "app/ServiceChoice.h"
#include "base/DateText.h"
#include "base/SystemLog.h"
#include "channels/ChannelTable.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/plot/TraceEnvelope.h"
#include "components/sac/SacObject.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

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
    TimeSeriesSource& service = session_->timeSeries();
    service.setServiceBase(
        settings_->serviceBase(o_.timeSeriesServiceURLTField, "timeSeriesServiceURL"));
    service.setService(servicechoice::chosen(defaults_));
    service.setHttpOptions(transferOptions());
    service.setMaxConcurrentTransfers(maxConcurrentDownloads());
    // A table changed without setupChannels (by a caller of the list setters) is taken as well.
    if (!(session_->channels() == channelTable()))
        session_->setChannels(channelTable(),
                              o_.plotTitleTField ? o_.plotTitleTField->text() : QString());
    session_->setOptions(processingOptions(), isOn(o_.incrementalUpdatesButton));
    const QString servers = o_.seedLinkServerTField
                                ? o_.seedLinkServerTField->text()
                                : defaults_.stringForKey(QStringLiteral("seedLinkServer"));
    session_->setSource(streamChosen() ? MonitorSession::Source::SeedLink
                                       : MonitorSession::Source::WebService,
                        servers);
    session_->setLiveProcessing(
        livechoice::liveOf(settings_->choice(livechoice::kKey, livechoice::choices())));
}

void groundswayController::connectSession() {
    connect(session_.get(), &MonitorSession::frameReady, this, &groundswayController::applyFrame);
    connect(session_.get(), &MonitorSession::indicatorChanged, this, [this](const QString& text) {
        if (o_.monitorIndicatorTField)
            o_.monitorIndicatorTField->setText(text);
    });
    // A streamed piece of the helicorder's channel goes onto the drum as well.
    connect(session_.get(), &MonitorSession::segmentStreamed, this,
            &groundswayController::streamToHelicorder);
    // The view's summary of a long trace is made where the trace is processed, not at paint.
    session_->setReadyHook([](const SacObject& s) -> std::shared_ptr<const void> {
        if (s.samples().size() < 4 * plot::BlockSummary::kBlock)
            return nullptr;
        return std::make_shared<const plot::BlockSummary>(plot::summarise(s.samples()));
    });
}
