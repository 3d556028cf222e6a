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

// Feeds one input to every reader of text from outside: the FDSN event and station answers, a
// channel list, the settings fields' number reading, service addresses and time texts.
inline void runTextReaders(QByteArrayView body) {
    (void)readFdsnText(body);
    int skipped = 0, leftOut = 0;
    (void)parseEventText(body, &skipped);
    const auto names = inventory::parseStationNames(body);
    (void)inventory::parseChannels(body, names.value_or(QHash<QString, QString>()), &leftOut);
    (void)inventory::parseStationPlaces(body);
    const QString text = QString::fromUtf8(body);
    (void)parseChannelListText(text);
    (void)intValue(text);
    (void)floatValue(text);
    (void)isPlainServiceBase(text);
    (void)isValidUrlText(text);
    (void)baseAddress(text);
    (void)datetext::parseRequestTime(text);
    (void)datetext::parseCatalogTime(text);
}
