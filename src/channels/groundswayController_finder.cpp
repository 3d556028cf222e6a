// The channel finder: looking channels up in the station service and listing them as channel
// list lines.
#include "app/groundswayController.h"

#include "channels/StationInventory.h"
#include "base/SystemLog.h"
#include "base/UrlText.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QUrl>

namespace {

// Patterns keep "*" and their commas as typed; everything else unusual is percent-encoded,
// "?" too, since some servers refuse a second "?" in an address (the service decodes it back).
QString pattern(const QLineEdit* field, const QString& whenEmpty) {
    const QString text = field ? field->text().trimmed() : QString();
    return QString::fromLatin1(QUrl::toPercentEncoding(text.isEmpty() ? whenEmpty : text, "*,"));
}

} // namespace

void groundswayController::updateChannelFinderList(QObject*) {
    QString buffer;
    for (std::size_t i = 0; availableChannels_ && i < availableChannels_->size(); ++i) {
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
    const QString base =
        baseAddress(o_.stationServiceURLTField ? o_.stationServiceURLTField->text() : QString());
    const QString net = pattern(o_.networkTField, QStringLiteral("*"));
    const QString sta = pattern(o_.stationTField, QStringLiteral("*"));
    const QString loc = pattern(o_.siteCodeTField, QStringLiteral("*"));
    const QString cha = pattern(o_.channelTField, QStringLiteral("*"));
    const QString channelQuery =
        base + QStringLiteral(
                   "/fdsnws/station/1/query?net=%1&sta=%2&loc=%3&cha=%4&level=channel&format=text")
                   .arg(net, sta, loc, cha);
    const QString stationQuery =
        base + QStringLiteral("/fdsnws/station/1/query?net=%1&sta=%2&level=station&format=text")
                   .arg(net, sta);

    if (o_.channelListProgressIndicator) {
        o_.channelListProgressIndicator->show();
        o_.channelListProgressIndicator->repaint(); // the lookup blocks the event loop
    }
    HttpOptions options = http_;
    options.maxBodyBytes = std::size_t{64} << 20;
    auto fetch = [&](const QString& url, QString* why) -> std::optional<QByteArray> {
        const auto response = httpGet(url, options, why);
        if (!response)
            return std::nullopt;
        if (response->status == 204 || response->status == 404) {
            *why = QStringLiteral("no channel matches the search");
            return std::nullopt;
        }
        if (response->status != 200) {
            *why = QStringLiteral("HTTP status %1").arg(response->status);
            return std::nullopt;
        }
        return response->body;
    };

    QString why;
    std::optional<std::vector<AvailableChannel>> found;
    if (const auto body = fetch(channelQuery, &why)) {
        // Station names are a nicety: without them the labels are the station codes.
        QString namesWhy;
        QHash<QString, QString> names;
        if (const auto stations = fetch(stationQuery, &namesWhy))
            names = inventory::parseStationNames(*stations).value_or(QHash<QString, QString>());
        found = inventory::parseChannels(*body, names);
        if (!found)
            why = QStringLiteral("the response is not a channel list");
    }
    if (o_.channelListProgressIndicator)
        o_.channelListProgressIndicator->hide();
    if (!found) {
        systemLog(QStringLiteral("Channel finder: no channels from %1: %2").arg(channelQuery, why));
        return;
    }
    removeArrayDuplicates(*found);
    if (!availableChannels_)
        setavailableChannels(std::make_shared<ChannelList>());
    *availableChannels_ = std::move(*found);
    updateChannelFinderList(nullptr);
}

void groundswayController::showChannelFinderWindow(QObject*) {
    showWindow(o_.channelFinderWindow);
    makeNoFirstResponder(o_.channelFinderWindow);
}
