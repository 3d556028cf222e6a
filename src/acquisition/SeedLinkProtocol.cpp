#include "acquisition/SeedLinkProtocol.h"

#include "acquisition/MiniSeed.h"

#include <libmseed.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <mutex>

namespace seedlink {

namespace {

void quiet(char*) {}

// libmseed prints its complaints to standard error; a stream of broken records must not flood
// it, so they become the reasons the caller reports once.
void silenceLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { ms_loginit(quiet, nullptr, quiet, nullptr); });
}

// Frees what msr_unpack made, however the reading ends.
struct FreeRecord {
    MSRecord*& record;
    ~FreeRecord() { msr_free(&record); }
};

// The fixed header's facts, read before libmseed is allowed to touch the samples.
struct Header {
    int encoding = -1;
    std::int64_t samples = 0, room = 0; // claimed count; bytes after the data offset
};

// libmseed trusts a record's sample count when it reads fixed-size samples and reads past the
// record for a count that lies; so the header is read first and the count checked against the
// bytes the record holds.
std::optional<Header> headerOf(const char* data) {
    std::array<char, kRecordLength> copy{};
    std::copy(data, data + kRecordLength, copy.begin());
    MSRecord* head = nullptr;
    const int status = msr_unpack(copy.data(), static_cast<int>(kRecordLength), &head, 0, 0);
    const FreeRecord free{head};
    if (status != MS_NOERROR || !head || !head->fsdh)
        return std::nullopt;
    const int offset = head->fsdh->data_offset;
    if (offset < 48 || offset >= static_cast<int>(kRecordLength) || head->samplecnt < 0)
        return std::nullopt;
    return Header{head->encoding, head->samplecnt,
                  static_cast<std::int64_t>(kRecordLength) - offset};
}

bool printable(char c) {
    return c >= 0x20 && c < 0x7f;
}

} // namespace

bool isStreamable(const ChannelId& c) {
    const auto fits = [](const QString& code, qsizetype most, bool location) {
        return code.size() <= most && isChannelCode(code, location);
    };
    return !c.network.isEmpty() && !c.station.isEmpty() && !c.channel.isEmpty() &&
           fits(c.network, 2, false) && fits(c.station, 5, false) && fits(c.channel, 3, false) &&
           fits(c.location, 2, true);
}

QString plainLocation(const QString& location) {
    const QString t = location.trimmed();
    return t == u"--" ? QString() : t;
}

QByteArray helloCommand() {
    return QByteArrayLiteral("HELLO\r\n");
}

QByteArray stationCommand(const QString& station, const QString& network) {
    return "STATION " + station.toLatin1() + ' ' + network.toLatin1() + "\r\n";
}

QByteArray selectCommand(const QString& location, const QString& channel) {
    const QString plain = plainLocation(location);
    return "SELECT " + plain.toLatin1() + channel.toLatin1() + ".D\r\n";
}

QByteArray dataCommand(std::optional<std::uint32_t> next) {
    if (!next)
        return QByteArrayLiteral("DATA\r\n");
    return "DATA " +
           QByteArray::number(*next % kSequenceModulus, 16).toUpper().rightJustified(6, '0') +
           "\r\n";
}

QByteArray timeCommand(Time from) {
    const civil::Fields f = civil::fieldsOf(from);
    return QStringLiteral("TIME %1,%2,%3,%4,%5,%6\r\n")
        .arg(f.year)
        .arg(f.month)
        .arg(f.day)
        .arg(f.hour)
        .arg(f.minute)
        .arg(f.second)
        .toLatin1();
}

QByteArray infoCommand(QByteArrayView level) {
    return "INFO " + level.toByteArray() + "\r\n";
}

QByteArray endCommand() {
    return QByteArrayLiteral("END\r\n");
}

QByteArray byeCommand() {
    return QByteArrayLiteral("BYE\r\n");
}

std::optional<QByteArray> takeLine(QByteArray& buffer, bool* tooLong) {
    if (tooLong)
        *tooLong = false;
    const qsizetype end = buffer.indexOf('\n');
    if (end < 0) {
        if (tooLong)
            *tooLong = buffer.size() > kMaxLine;
        return std::nullopt;
    }
    QByteArray line = buffer.left(end);
    buffer.remove(0, end + 1);
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.size() > kMaxLine && tooLong)
        *tooLong = true;
    return line;
}

Take takePacket(QByteArray& buffer, Packet& packet) {
    static constexpr char kEnd[] = "END";
    if (!buffer.isEmpty() && buffer[0] == 'E') {
        const qsizetype n = std::min<qsizetype>(buffer.size(), 3);
        if (QByteArrayView(buffer.constData(), n) != QByteArrayView(kEnd, n))
            return Take::Garbage;
        if (n < 3)
            return Take::NeedMore;
        buffer.remove(0, 3);
        return Take::End;
    }
    // Judge the header as soon as its bytes are in, so garbage is caught before a whole
    // packet's worth of it has arrived.
    static constexpr char kInfo[] = "SLINFO";
    const bool info = buffer.size() > 2 && buffer[2] == 'I';
    const qsizetype have = std::min<qsizetype>(buffer.size(), 8);
    for (qsizetype i = 0; i < have; ++i) {
        const char c = buffer[i];
        bool ok = false;
        if (i < 2)
            ok = c == kInfo[i];
        else if (info)
            ok = i < 6 ? c == kInfo[i] : c == ' ' || c == '*';
        else
            ok = std::isxdigit(static_cast<unsigned char>(c)) != 0;
        if (!ok)
            return Take::Garbage;
    }
    if (buffer.size() < static_cast<qsizetype>(kPacketLength))
        return Take::NeedMore;
    bool ok = true;
    packet.moreInfo = info && buffer[7] == '*';
    packet.sequence = info ? 0 : buffer.mid(2, 6).toUInt(&ok, 16);
    std::copy(buffer.constData() + 8, buffer.constData() + kPacketLength, packet.record.begin());
    buffer.remove(0, static_cast<qsizetype>(kPacketLength));
    if (!ok)
        return Take::Garbage;
    return info ? Take::Info : Take::Packet;
}

std::optional<ChannelId> recordChannel(const char* data, std::size_t length) {
    if (!data || length < 20)
        return std::nullopt;
    const auto field = [data](std::size_t at, std::size_t n) -> std::optional<QString> {
        for (std::size_t i = at; i < at + n; ++i)
            if (!printable(data[i]))
                return std::nullopt;
        return QString::fromLatin1(data + at, static_cast<qsizetype>(n)).trimmed();
    };
    // SEED fixed header: station at 8, location at 13, channel at 15, network at 18.
    const auto station = field(8, 5), location = field(13, 2), channel = field(15, 3),
               network = field(18, 2);
    if (!station || !location || !channel || !network || station->isEmpty())
        return std::nullopt;
    return ChannelId{*network, *station, *location, *channel};
}

std::optional<QByteArray> recordText(const char* data, std::size_t length) {
    silenceLibrary();
    if (!data || length != kRecordLength ||
        ms_detect(data, static_cast<int>(length)) != static_cast<int>(kRecordLength))
        return std::nullopt;
    const auto head = headerOf(data);
    if (!head || head->encoding != DE_ASCII || head->samples > head->room)
        return std::nullopt;
    std::array<char, kRecordLength> copy{};
    std::copy(data, data + length, copy.begin());
    MSRecord* msr = nullptr;
    const int status = msr_unpack(copy.data(), static_cast<int>(length), &msr, 1, 0);
    const FreeRecord free{msr};
    if (status != MS_NOERROR || !msr || msr->sampletype != 'a' || !msr->datasamples ||
        msr->numsamples < 0 || msr->numsamples > head->room)
        return std::nullopt;
    return QByteArray(static_cast<const char*>(msr->datasamples),
                      static_cast<qsizetype>(msr->numsamples));
}

std::optional<Record> decodeRecord(const char* data, std::size_t length, QString* why) {
    if (!data || length != kRecordLength) {
        if (why)
            *why = QStringLiteral("not a 512-byte record");
        return std::nullopt;
    }
    if (ms_detect(data, static_cast<int>(length)) != static_cast<int>(kRecordLength)) {
        if (why)
            *why = QStringLiteral("not a miniSEED record of 512 bytes");
        return std::nullopt;
    }
    auto r = miniseed::decodeRecord(data, length, why);
    if (!r)
        return std::nullopt;
    return Record{std::move(r->channel), std::move(r->samples)};
}

} // namespace seedlink
