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
    QString buffer;
    for (std::size_t i = 0; availableChannels_ && i < availableChannels_->size(); ++i) {
        if (i == kMaxFinderLines) {
            // A line with no ";" is no channel line, so the listing still reads as a list.
            const QString more = QStringLiteral("(%1 more channels not listed: narrow the search "
                                                "to see them)\n")
                                     .arg(availableChannels_->size() - i);
            buffer += more;
            systemLog(QStringLiteral("Channel finder: listed the first %1 of %2 channels.")
                          .arg(kMaxFinderLines)
                          .arg(availableChannels_->size()));
            break;
        }
        const AvailableChannel& ch = (*availableChannels_)[i];
        buffer += QStringLiteral("%1; %2; %3; %4; %5\n")
                      .arg(ch._id()._network_id()._network_code(), ch._id()._station_code(),
                           ch._id()._channel_code(), ch._id()._site_code(),
                           ch._my_site()._my_station()._name());
    }
    if (o_.channelFinderTView) {
        o_.channelFinderTView->setPlainText(buffer);
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
            if (!answer.channels) {
                systemLog(QStringLiteral("Channel finder: no channels from %1: %2")
                              .arg(query.channelQuery, answer.why));
                return;
            }
            if (answer.leftOut > 0)
                systemLog(QStringLiteral("Channel finder: left out %1 channels whose codes are "
                                         "not letters and digits.")
                              .arg(answer.leftOut));
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
