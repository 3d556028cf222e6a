// Saved channel list files, their pop-up, and the channel list parser.
#include "app/groundswayController.h"

#include "acquisition/MonitorSession.h"

#include "base/AsciiFile.h"
#include "base/SystemLog.h"
#include "channels/ChannelListParser.h"
#include "channels/ListTitles.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextDocument>

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
    const QString dir = channelListDirectory();
    if (dir.isEmpty() || !o_.channelListTView)
        return;
    // Only files inside "ChannelLists" are read.
    const QString path = QDir::cleanPath(dir + u'/' + fileName);
    if (!path.startsWith(QDir::cleanPath(dir) + u'/'))
        return;
    // A list that cannot be read (missing, not ASCII) leaves the text view as it was, so the
    // user's current list is not lost.
    const auto text = readAsciiFile(path);
    if (!text && QFileInfo::exists(path))
        systemLog(QStringLiteral("The channel list %1 was not loaded: it is not a plain ASCII text "
                                 "file of at most 16 MiB. The list shown stays.")
                      .arg(quotedForLog(fileName)));
    if (text) {
        // The view turns CR, CRLF and the line and paragraph separators into line feeds and a
        // no-break space into a blank; the parser must see the text as it was written.
        fillingChannelList_ = true;
        o_.channelListTView->setPlainText(*text);
        fillingChannelList_ = false;
        channelListText_ = *text;
        if (o_.channelFileListPopUp)
            o_.channelFileListPopUp->setCurrentIndex(o_.channelFileListPopUp->findText(
                listTitleOf(fileName), Qt::MatchExactly | Qt::MatchCaseSensitive));
    }
}

QString groundswayController::typedChannelList() const {
    // The document's own text: toPlainText() would make every no-break space a blank. Qt ends
    // each block with a paragraph separator; that is the line feed the user typed.
    QString text = o_.channelListTView->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
}

void groundswayController::setupChannels(QObject*) {
    if (!o_.channelListTView)
        return setChannelTable({});
    ParsedChannelList parsed =
        parseChannelListText(channelListText_ ? *channelListText_ : typedChannelList());
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
