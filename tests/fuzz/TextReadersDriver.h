#pragma once

#include "base/DateText.h"
#include "base/FdsnText.h"
#include "base/NumberReading.h"
#include "base/UrlText.h"
#include "channels/ChannelListParser.h"
#include "channels/StationInventory.h"
#include "components/catalog/FdsnEventText.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

// Feeds one input to every reader of text from outside: the FDSN event and station answers, a
// channel list, the settings fields' number reading, service addresses and time texts. Says in
// one line what each reader made of it: how much it read, or "-" where it refused the input.
inline QString runTextReaders(QByteArrayView body) {
    auto count = [](const auto& read) {
        return read ? QString::number(read->size()) : QStringLiteral("-");
    };
    auto yes = [](bool b) { return b ? QStringLiteral("yes") : QStringLiteral("no"); };
    QStringList out;
    out << QStringLiteral("fdsn rows %1").arg(readFdsnText(body).rows.size());
    int skipped = 0, leftOut = 0;
    out << QStringLiteral("events %1 skipped %2")
               .arg(count(parseEventText(body, &skipped)))
               .arg(skipped);
    const auto names = inventory::parseStationNames(body);
    out << QStringLiteral("names %1").arg(count(names));
    const auto channels =
        inventory::parseChannels(body, names.value_or(QHash<QString, QString>()), &leftOut);
    out << QStringLiteral("channels %1 left out %2").arg(count(channels)).arg(leftOut);
    out << QStringLiteral("places %1").arg(count(inventory::parseStationPlaces(body)));
    const QString text = QString::fromUtf8(body);
    const ParsedChannelList list = parseChannelListText(text);
    out << QStringLiteral("list %1 title %2")
               .arg(list.stations.size())
               .arg(list.title.value_or(QStringLiteral("-")));
    out << QStringLiteral("int %1 float %2").arg(intValue(text)).arg(floatValue(text));
    out << QStringLiteral("base %1 url %2")
               .arg(yes(isPlainServiceBase(text)), yes(isValidUrlText(text)));
    (void)baseAddress(text);
    out << QStringLiteral("request time %1 catalogue time %2")
               .arg(yes(datetext::parseRequestTime(text).has_value()),
                    yes(datetext::parseCatalogTime(text).has_value()));
    return out.join(QStringLiteral("; "));
}
