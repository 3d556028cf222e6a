#include "acquisition/SeedLinkProtocol.h"

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

// libmseed trusts a record's sample count when it reads fixed-size samples and reads past the
// record for a count that lies; so the header is read first and the count checked against the
// bytes the record holds. Only the encodings we can turn into samples pass.
bool samplesFit(const char* data) {
    std::array<char, kRecordLength> copy{};
    std::copy(data, data + kRecordLength, copy.begin());
    MSRecord* head = nullptr;
    const int status = msr_unpack(copy.data(), static_cast<int>(kRecordLength), &head, 0, 0);
    const FreeRecord free{head};
    if (status != MS_NOERROR || !head || !head->fsdh)
        return false;
    const int offset = head->fsdh->data_offset;
    if (offset < 48 || offset >= static_cast<int>(kRecordLength) || head->samplecnt < 0)
        return false;
    const auto room = static_cast<std::int64_t>(kRecordLength) - offset;
    std::int64_t most = 0;
    switch (head->encoding) {
    case DE_INT16:
        most = room / 2;
        break;
    case DE_INT32:
    case DE_FLOAT32:
        most = room / 4;
        break;
    case DE_FLOAT64:
        most = room / 8;
        break;
    case DE_STEIM1:
    case DE_STEIM2:
        most = room / 64 * 15 * 7; // at most seven differences in each word of a frame
        break;
    default:
        return false;
    }
    return head->samplecnt <= most;
}

QString codeOf(const char* text) {
    return QString::fromLatin1(text).trimmed();
}

} // namespace

QByteArray helloCommand() {
    return QByteArrayLiteral("HELLO\r\n");
}

QByteArray stationCommand(const QString& station, const QString& network) {
    return "STATION " + station.toLatin1() + ' ' + network.toLatin1() + "\r\n";
}

QByteArray selectCommand(const QString& location, const QString& channel) {
    const bool blank = location.isEmpty() || location == u"--";
    return "SELECT " + (blank ? QByteArray() : location.toLatin1()) + channel.toLatin1() + ".D\r\n";
}

QByteArray dataCommand(std::optional<std::uint32_t> next) {
    if (!next)
        return QByteArrayLiteral("DATA\r\n");
    return "DATA " + QByteArray::number(*next % kSequenceModulus, 16).toUpper().rightJustified(6, '0') +
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

QByteArray endCommand() {
    return QByteArrayLiteral("END\r\n");
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
    // Judge the header as soon as its bytes are in, so garbage is caught before a whole
    // packet's worth of it has arrived.
    const qsizetype have = std::min<qsizetype>(buffer.size(), 8);
    for (qsizetype i = 0; i < have; ++i) {
        const char c = buffer[i];
        const bool ok = i == 0 ? c == 'S' : i == 1 ? c == 'L' : std::isxdigit(static_cast<unsigned char>(c)) != 0;
        if (!ok)
            return Take::Garbage;
    }
    if (buffer.size() < static_cast<qsizetype>(kPacketLength))
        return Take::NeedMore;
    bool ok = false;
    packet.sequence = buffer.mid(2, 6).toUInt(&ok, 16);
    std::copy(buffer.constData() + 8, buffer.constData() + kPacketLength, packet.record.begin());
    buffer.remove(0, static_cast<qsizetype>(kPacketLength));
    return ok ? Take::Packet : Take::Garbage;
}

std::optional<Record> decodeRecord(const char* data, std::size_t length, QString* why) {
    silenceLibrary();
    auto fail = [why](const char* reason) -> std::optional<Record> {
        if (why)
            *why = QString::fromLatin1(reason);
        return std::nullopt;
    };
    if (!data || length != kRecordLength)
        return fail("not a 512-byte record");
    if (ms_detect(data, static_cast<int>(length)) != static_cast<int>(kRecordLength))
        return fail("not a miniSEED record of 512 bytes");
    if (!samplesFit(data))
        return fail("a record whose samples would not fit in it");
    // msr_unpack may write into the record (byte swapping), so it gets its own copy.
    std::array<char, kRecordLength> copy{};
    std::copy(data, data + length, copy.begin());
    MSRecord* msr = nullptr;
    const int status = msr_unpack(copy.data(), static_cast<int>(length), &msr, 1, 0);
    const FreeRecord free{msr};
    if (status != MS_NOERROR || !msr)
        return fail("a record libmseed cannot read");
    if (!(msr->samprate > 0) || !std::isfinite(msr->samprate) || msr->samprate > 10000)
        return fail("a record without a usable sample rate");
    // A 512-byte record holds at most a few hundred samples; more means a lying header.
    if (msr->numsamples <= 0 || msr->numsamples > 4096 || msr->numsamples != msr->samplecnt ||
        !msr->datasamples)
        return fail("a record without its samples");
    // libmseed's times are microseconds since 1970; years 1812 to 2255 are plausible.
    if (msr->starttime < -5'000'000'000'000'000LL || msr->starttime > 9'000'000'000'000'000LL)
        return fail("a record from an impossible time");
    Record r;
    r.channel = {codeOf(msr->network), codeOf(msr->station), codeOf(msr->location),
                 codeOf(msr->channel)};
    r.samples.channel = r.channel;
    r.samples.delta = 1.0 / msr->samprate;
    r.samples.start = Time{} + std::chrono::microseconds(msr->starttime);
    const auto n = static_cast<std::size_t>(msr->numsamples);
    r.samples.samples.resize(n);
    switch (msr->sampletype) {
    case 'i':
        for (std::size_t i = 0; i < n; ++i)
            r.samples.samples[i] = static_cast<float>(static_cast<const std::int32_t*>(msr->datasamples)[i]);
        break;
    case 'f':
        for (std::size_t i = 0; i < n; ++i)
            r.samples.samples[i] = static_cast<const float*>(msr->datasamples)[i];
        break;
    case 'd':
        for (std::size_t i = 0; i < n; ++i)
            r.samples.samples[i] = static_cast<float>(static_cast<const double*>(msr->datasamples)[i]);
        break;
    default:
        return fail("a record of text, not samples");
    }
    for (const float v : r.samples.samples)
        if (!std::isfinite(v))
            return fail("a record with samples that are not numbers");
    return r;
}

} // namespace seedlink
