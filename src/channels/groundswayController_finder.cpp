// The channel finder: looking channels up in the station service and listing them as channel
// list lines.
#include "app/groundswayController.h"

#include "app/SettingsReader.h"

#include "base/Background.h"
#include "base/SystemLog.h"
#include "channels/ChannelFinderLookup.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>

void groundswayController::updateChannelFinderList(QObject*) {
    QString logLine;
    const QString listing =
        finderListing(availableChannels_ ? *availableChannels_ : ChannelList{}, kMaxFinderLines,
                      &logLine);
    if (!logLine.isEmpty())
        systemLog(logLine);
    if (o_.channelFinderTView) {
        o_.channelFinderTView->setPlainText(listing);
        o_.channelFinderTView->viewport()->update();
    }
}

void groundswayController::acquireavailableChannels(QObject*) {
    auto typed = [](const QLineEdit* field) { return field ? field->text() : QString(); };
    ChannelFinderQuery query =
        channelFinderQuery(settings_->serviceBase(o_.stationServiceURLTField, "stationServiceURL"),
                           typed(o_.networkTField), typed(o_.stationTField),
                           typed(o_.siteCodeTField), typed(o_.channelTField));
    if (o_.finderSourcePopUp && o_.finderSourcePopUp->currentIndex() == 1) {
        const QString servers = o_.seedLinkServerTField
                                    ? o_.seedLinkServerTField->text()
                                    : defaults_.stringForKey(QStringLiteral("seedLinkServer"));
        const auto seedLink =
            seedLinkFinderQuery(servers, typed(o_.networkTField), typed(o_.stationTField),
                                typed(o_.siteCodeTField), typed(o_.channelTField));
        if (!seedLink)
            return systemLog(
                QStringLiteral(
                    "Channel finder: the SeedLink server \"%1\" is not written as host:port.")
                    .arg(servers));
        query = *seedLink;
    }
    if (o_.channelListProgressIndicator)
        o_.channelListProgressIndicator->show();
    HttpOptions options = transferOptions();
    options.maxBodyBytes = std::size_t{64} << 20;
    finder_->run(
        [query, options](const std::atomic<bool>& cancelled) {
            HttpOptions o = options;
            o.cancel = &cancelled;
            return lookUpChannels(query, o);
        },
        [this, query](ChannelFinderAnswer answer) {
            if (o_.channelListProgressIndicator)
                o_.channelListProgressIndicator->hide();
            for (const QString& line : answer.logLines(query))
                systemLog(line);
            if (!answer.channels)
                return;
            removeArrayDuplicates(*answer.channels);
            if (!availableChannels_)
                setavailableChannels(std::make_shared<ChannelList>());
            *availableChannels_ = std::move(*answer.channels);
            updateChannelFinderList(nullptr);
        });
}

void groundswayController::showChannelFinderWindow(QObject*) {
    showWindow(o_.channelFinderWindow);
    makeNoFirstResponder(o_.channelFinderWindow);
}
