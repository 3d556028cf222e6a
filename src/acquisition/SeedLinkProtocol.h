#pragma once

#include "base/ChannelId.h"
#include "base/Time.h"
#include "store/Segment.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// SeedLink version 3 as a client speaks it: the command lines, the replies, and the packets
// of the data phase, an 8-byte header ("SL" and six hexadecimal digits of sequence number)
// and a 512-byte miniSEED record. Nothing here touches a socket.
namespace seedlink {

inline constexpr std::size_t kRecordLength = 512;
inline constexpr std::size_t kPacketLength = 8 + kRecordLength;
inline constexpr std::uint32_t kSequenceModulus = 0x1000000; // sequence numbers wrap here
// A reply line longer than this is not SeedLink.
inline constexpr qsizetype kMaxLine = 1024;

QByteArray helloCommand();
QByteArray stationCommand(const QString& station, const QString& network);
// "SELECT LLCCC.D": data records of one channel; a blank location ("" or "--") selects the
// channel at any location, since not every server reads "-" as a blank.
QByteArray selectCommand(const QString& location, const QString& channel);
// "DATA" from the next packet, or "DATA XXXXXX" from the given sequence number on.
QByteArray dataCommand(std::optional<std::uint32_t> nextSequence);
// "TIME year,month,day,hour,minute,second": packets from that time on.
QByteArray timeCommand(Time from);
QByteArray endCommand();

// The sequence number after `s`, wrapping.
inline std::uint32_t nextSequence(std::uint32_t s) {
    return (s + 1) % kSequenceModulus;
}

// Takes one reply line ending in CR LF (or LF) from the front of the buffer; nothing while it
// is incomplete; `tooLong` when the buffer holds more than kMaxLine without an end of line.
std::optional<QByteArray> takeLine(QByteArray& buffer, bool* tooLong);

struct Packet {
    std::uint32_t sequence = 0;
    std::array<char, kRecordLength> record{};
};

// Packets from the front of a buffer of the data phase.
enum class Take { NeedMore, Packet, Garbage };
Take takePacket(QByteArray& buffer, Packet& packet);

// A miniSEED record's channel, timing and samples, read with libmseed (Steim-1, Steim-2,
// 16- and 32-bit integers, 32- and 64-bit floats). Nothing, and why, when it is not a sound
// 512-byte data record.
struct Record {
    ChannelId channel;
    Segment samples;
};
std::optional<Record> decodeRecord(const char* data, std::size_t length, QString* why = nullptr);

} // namespace seedlink
