// Channel lists: the saved files and their pop-up, the parser, and the channel finder that looks
// channels up in the station service or the SeedLink servers.
#include "app/groundswayController.h"

#include "acquisition/MonitorSession.h"
#include "app/ControlValues.h"
#include "app/SettingsReader.h"
#include "app/WindowPlacement.h"
#include "base/Background.h"
#include "base/SystemLog.h"
#include "channels/ChannelFinderLookup.h"
#include "channels/ChannelListParser.h"
#include "channels/ListTitles.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>

QString groundswayController::channelListDirectory() const {
    if (!supportDirectory_)
        return {};
    return *supportDirectory_ + QStringLiteral("/ChannelLists");
}

void groundswayController::setUpChannelListMenu() {
    if (!o_.channelFileListPopUp)
        return;
    o_.channelFileListPopUp->clear();
    o_.channelFileListPopUp->addItems(savedListTitles(channelListDirectory()));
    // None is chosen until a list is loaded: the pop-up never names a list that is not in use.
    o_.channelFileListPopUp->setCurrentIndex(-1);
}

void groundswayController::parseChannelList(QObject* sender) {
    const auto* popup = qobject_cast<const QComboBox*>(sender);
    if (!popup || popup->currentIndex() < 0)
        return;
    loadChannelListFromFile(popup->currentText() + QStringLiteral(".txt"));
}

void groundswayController::loadChannelListFromFile(const QString& fileName) {
    // A list that cannot be read leaves the text view as it was: the user's list is not lost.
    const auto text =
        o_.channelListTView ? readSavedList(channelListDirectory(), fileName) : std::nullopt;
    if (text) {
        // The view turns CR, CRLF and the line and paragraph separators into line feeds and a
        // no-break space into a blank; the parser must see the text as it was written.
        fillingChannelList_ = true;
        o_.channelListTView->setPlainText(*text);
        fillingChannelList_ = false;
        channelListText_ = *text;
    }
    // The pop-up names the list in use: after a refusal, the one loaded before (or none).
    if (auto* popup = o_.channelFileListPopUp) {
        if (text)
            popup->setProperty("listInUse", listTitleOf(fileName));
        popup->setCurrentIndex(popup->findText(popup->property("listInUse").toString(),
                                               Qt::MatchExactly | Qt::MatchCaseSensitive));
    }
}

void groundswayController::setupChannels(QObject*) {
    if (!o_.channelListTView)
        return setChannelTable({});
    ParsedChannelList parsed =
        parseChannelListText(channelListText_ ? *channelListText_ : typedText(o_.channelListTView));
    // Every channel is asked for on every refresh: each once, and no more than a service bears.
    for (const QString& line : boundChannelList(parsed).logLines())
        systemLog(line);
    setChannelTable({std::move(parsed.networks), std::move(parsed.stations),
                     std::move(parsed.channels), std::move(parsed.locations),
                     std::move(parsed.labels)});
    if (parsed.title && o_.plotTitleTField)
        o_.plotTitleTField->setText(*parsed.title);
    // The monitor's title is the list's; a stream of the old list starts afresh.
    const bool streamed = streaming();
    session_->setChannels(channelTable(),
                          o_.plotTitleTField ? o_.plotTitleTField->text() : QString());
    updateGuidance();
    fillHelicorderChannels();
    if (theSeismgrmUpdateTimer_ && streamed)
        update();
}

void groundswayController::setChannelTable(ChannelTable table) {
    *theNetworks_ = std::move(table.networks);
    *theStations_ = std::move(table.stations);
    *theChannels_ = std::move(table.channels);
    *theChannelCodes_ = std::move(table.locations); // the location codes, by their old name
    *theLabels_ = std::move(table.labels);
}

void groundswayController::updateChannelFinderList(QObject*) {
    QString logLine;
    const QString listing = finderListing(availableChannels_ ? *availableChannels_ : ChannelList{},
                                          kMaxFinderLines, &logLine);
    if (!logLine.isEmpty())
        systemLog(logLine);
    if (o_.channelFinderTView) {
        o_.channelFinderTView->setPlainText(listing);
        o_.channelFinderTView->viewport()->update();
    }
}

void groundswayController::acquireavailableChannels(QObject*) {
    const std::optional<ChannelFinderQuery> query = settings_->finderQuery();
    if (!query)
        return;
    if (o_.channelListProgressIndicator)
        o_.channelListProgressIndicator->show();
    finder_->run(
        [query = *query,
         options = settings_->transferOptions(http_)](const std::atomic<bool>& cancelled) {
            HttpOptions o = options;
            o.maxBodyBytes = std::size_t{64} << 20; // a whole network's channels
            o.cancel = &cancelled;
            return lookUpChannels(query, o);
        },
        [this, query = *query](ChannelFinderAnswer answer) {
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
    placement::bringToFront(o_.channelFinderWindow, true);
}
