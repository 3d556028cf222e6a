#pragma once

#include "acquisition/SeedLinkProtocol.h"

#include <QByteArray>
#include <QByteArrayView>

// Feeds one input to the SeedLink client's readers: as reply lines, as the data phase (packets
// taken and their records decoded until the bytes stop being packets), and as a bare record.
inline void runSeedLink(QByteArrayView input) {
    QByteArray lines = input.toByteArray();
    bool tooLong = false;
    while (seedlink::takeLine(lines, &tooLong) && !tooLong) {
    }
    QByteArray stream = input.toByteArray();
    seedlink::Packet packet;
    while (seedlink::takePacket(stream, packet) == seedlink::Take::Packet)
        (void)seedlink::decodeRecord(packet.record.data(), packet.record.size());
    if (input.size() >= static_cast<qsizetype>(seedlink::kRecordLength))
        (void)seedlink::decodeRecord(input.data(), seedlink::kRecordLength);
}
