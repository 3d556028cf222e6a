#pragma once

#include "base/ChannelId.h"
#include "base/Time.h"
#include "store/Segment.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// SeedLink version 3 as a client speaks it: the command lines, the replies, and the packets
// of the data phase, an 8-byte header ("SL" and six hexadecimal digits of sequence number, or
// "SLINFO" and a mark for the INFO answers) and a 512-byte miniSEED record. Nothing here
// touches a socket.
namespace seedlink {

inline constexpr std::size_t kRecordLength = 512;
inline constexpr std::size_t kPacketLength = 8 + kRecordLength;
inline constexpr std::uint32_t kSequenceModulus = 0x1000000; // sequence numbers wrap here
// A reply line longer than this is not SeedLink.
inline constexpr qsizetype kMaxLine = 1024;

// Codes a SeedLink server can be asked for: letters and digits, as the web service takes them,
// no longer than a miniSEED 2 header holds (network 2, station 5, location 2, channel 3); the
// location may be blank or "--". Anything else is never written into a command.
bool isStreamable(const ChannelId& channel);
// "--" and blanks are the empty location, as the records write it.
QString plainLocation(const QString& location);

QByteArray helloCommand();
QByteArray stationCommand(const QString& station, const QString& network);
// "SELECT LLCCC.D": data records of one channel; a blank location ("" or "--") selects the
// channel at any location, since not every server reads "-" as a blank (the records of other
// locations are dropped on arrival).
QByteArray selectCommand(const QString& location, const QString& channel);
// "DATA" from the next packet, or "DATA XXXXXX" from the given sequence number on.
QByteArray dataCommand(std::optional<std::uint32_t> nextSequence);
// "TIME year,month,day,hour,minute,second": packets from that time on.
QByteArray timeCommand(Time from);
// "INFO level": the server answers with INFO packets holding an XML document.
QByteArray infoCommand(QByteArrayView level);
QByteArray endCommand();
QByteArray byeCommand();

// The sequence number after `s`, wrapping.
inline std::uint32_t nextSequence(std::uint32_t s) {
    return (s + 1) % kSequenceModulus;
}
// How far `to` lies after `from` on the wrapping scale: 0 for the same number, a small number
// for the packets that follow, more than half the modulus for one that lies behind.
inline std::uint32_t sequenceStep(std::uint32_t from, std::uint32_t to) {
    return (to + kSequenceModulus - from) % kSequenceModulus;
}
inline bool isBehind(std::uint32_t step) {
    return step > kSequenceModulus / 2;
}

// Takes one reply line ending in CR LF (or LF) from the front of the buffer; nothing while it
// is incomplete; `tooLong` when the buffer holds more than kMaxLine without an end of line.
std::optional<QByteArray> takeLine(QByteArray& buffer, bool* tooLong);

struct Packet {
    std::uint32_t sequence = 0;
    bool moreInfo = false; // an INFO packet that is not the last of its answer
    std::array<char, kRecordLength> record{};
};

// Packets from the front of a buffer of the data phase. End: the server sent "END", the close
// of a window that had an end time; the three bytes are taken.
enum class Take { NeedMore, Packet, Info, End, Garbage };
Take takePacket(QByteArray& buffer, Packet& packet);

// The codes of a miniSEED record's fixed header, read without trusting anything else in it, so
// that even a record that cannot be used can be told apart by channel; nothing when the codes
// are not printable.
std::optional<ChannelId> recordChannel(const char* data, std::size_t length);

// A miniSEED record's channel, timing and samples, read with libmseed (Steim-1, Steim-2,
// 16- and 32-bit integers, 32- and 64-bit floats). Nothing, and why, when it is not a sound
// 512-byte data record.
struct Record {
    ChannelId channel;
    Segment samples;
};
std::optional<Record> decodeRecord(const char* data, std::size_t length, QString* why = nullptr);

// The text an INFO packet's record carries (a piece of the XML answer); nothing when the
// record holds no text.
std::optional<QByteArray> recordText(const char* data, std::size_t length);

} // namespace seedlink
