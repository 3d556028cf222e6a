#include "acquisition/MiniSeed.h"

#include <libmseed.h>

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

namespace miniseed {

namespace {

constexpr std::size_t kMinRecordLength = 128;
constexpr std::size_t kFixedHeader = 48;

void quiet(char*) {}

// libmseed prints its complaints to standard error; broken records become reasons instead.
void silenceLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { ms_loginit(quiet, nullptr, quiet, nullptr); });
}

struct FreeRecord {
    MSRecord*& record;
    ~FreeRecord() { msr_free(&record); }
};

struct Header {
    int encoding = -1;
    std::int64_t samples = 0, room = 0; // claimed count; bytes after the data offset
};

// libmseed trusts a record's sample count when it reads fixed-size samples, and reads past the
// record for a count that lies: the header is read first and the count checked against the
// bytes the record holds. `copy` is the caller's private copy of the record.
std::optional<Header> headerOf(std::vector<char>& copy) {
    MSRecord* head = nullptr;
    const int status = msr_unpack(copy.data(), static_cast<int>(copy.size()), &head, 0, 0);
    const FreeRecord free{head};
    if (status != MS_NOERROR || !head || !head->fsdh)
        return std::nullopt;
    const int offset = head->fsdh->data_offset;
    if (offset < static_cast<int>(kFixedHeader) || offset >= static_cast<int>(copy.size()) ||
        head->samplecnt < 0)
        return std::nullopt;
    return Header{head->encoding, head->samplecnt, static_cast<std::int64_t>(copy.size()) - offset};
}

std::optional<std::int64_t> mostSamples(int encoding, std::int64_t room) {
    switch (encoding) {
    case DE_INT16:
        return room / 2;
    case DE_INT32:
    case DE_FLOAT32:
        return room / 4;
    case DE_FLOAT64:
        return room / 8;
    case DE_STEIM1:
    case DE_STEIM2:
        return room / 64 * 15 * 7; // at most seven differences in each word of a frame
    default:
        return std::nullopt;
    }
}

QString codeOf(const char* text) {
    return QString::fromLatin1(text).trimmed();
}

QString plainLocation(const QString& location) {
    const QString t = location.trimmed();
    return t == u"--" ? QString() : t;
}

bool sameChannel(const ChannelId& a, const ChannelId& b) {
    return a.network == b.network && a.station == b.station && a.channel == b.channel &&
           plainLocation(a.location) == plainLocation(b.location);
}

// The codes of the fixed header: station at 8, location at 13, channel at 15, network at 18.
ChannelId headerChannel(const char* record) {
    const auto field = [record](int at, int n) {
        return QString::fromLatin1(record + at, n).trimmed();
    };
    return {field(18, 2), field(8, 5), field(13, 2), field(15, 3)};
}

// Steim data carry their own check: the first frame's third word is the record's last sample.
// libmseed only warns when the decoded samples do not end there; such frames are garbage.
bool steimCheckFails(const MSRecord& msr, const char* record, std::size_t length) {
    if ((msr.encoding != DE_STEIM1 && msr.encoding != DE_STEIM2) || msr.sampletype != 'i' ||
        !msr.fsdh || msr.numsamples <= 0)
        return false;
    const auto at = static_cast<std::size_t>(msr.fsdh->data_offset) + 8;
    if (at + 4 > length)
        return true;
    const auto* b = reinterpret_cast<const unsigned char*>(record + at);
    const bool big = msr.byteorder != 0; // the data's order, as libmseed read them
    const std::uint32_t word = big ? (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) |
                                         (std::uint32_t{b[2]} << 8) | b[3]
                                   : (std::uint32_t{b[3]} << 24) | (std::uint32_t{b[2]} << 16) |
                                         (std::uint32_t{b[1]} << 8) | b[0];
    const auto last = static_cast<const std::int32_t*>(msr.datasamples)[msr.numsamples - 1];
    return static_cast<std::int32_t>(word) != last;
}

bool isPowerOfTwoLength(std::size_t n) {
    return n >= kMinRecordLength && n <= kMaxRecordLength && (n & (n - 1)) == 0;
}

} // namespace

std::optional<Record> decodeRecord(const char* data, std::size_t length, QString* why) {
    silenceLibrary();
    auto fail = [why](const char* reason) -> std::optional<Record> {
        if (why)
            *why = QString::fromLatin1(reason);
        return std::nullopt;
    };
    if (!data || !isPowerOfTwoLength(length))
        return fail("not a record of a length miniSEED allows");
    const int detected = ms_detect(data, static_cast<int>(length));
    if (detected < 0 || static_cast<std::size_t>(detected) != length)
        return fail("not a miniSEED record of its length");
    // msr_unpack may write into the record (byte swapping), so it reads a copy.
    std::vector<char> copy(data, data + length);
    const auto head = headerOf(copy);
    if (!head)
        return fail("a record libmseed cannot read");
    if (head->encoding == DE_ASCII)
        return fail("a record of text, not samples");
    if (head->samples == 0)
        return fail("a record without samples");
    const auto most = mostSamples(head->encoding, head->room);
    if (!most)
        return fail("a record in an encoding not read here");
    if (head->samples > *most)
        return fail("a record whose samples would not fit in it");
    copy.assign(data, data + length);
    MSRecord* msr = nullptr;
    const int status = msr_unpack(copy.data(), static_cast<int>(length), &msr, 1, 0);
    const FreeRecord free{msr};
    if (status != MS_NOERROR || !msr)
        return fail("a record libmseed cannot read");
    if (!(msr->samprate > 0) || !std::isfinite(msr->samprate) || msr->samprate > 10000)
        return fail("a record without a usable sample rate");
    if (msr->numsamples <= 0 || msr->numsamples > *most || msr->numsamples != msr->samplecnt ||
        !msr->datasamples)
        return fail("a record without its samples");
    if (steimCheckFails(*msr, data, length))
        return fail("a record whose Steim frames fail their own check (damaged data)");
    // libmseed's times are microseconds since 1970; years 1812 to 2255 are plausible, for the
    // last sample too. libmseed carries a day 400 into the next year instead of refusing it.
    if (!msr->fsdh)
        return fail("a record libmseed cannot read");
    const BTime& t = msr->fsdh->start_time;
    const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
    if (t.day < 1 || t.day > (leap ? 366 : 365) || t.hour > 23 || t.min > 59 || t.sec > 60 ||
        t.fract > 9999)
        return fail("a record whose start time is no date");
    const double last = static_cast<double>(msr->starttime) +
                        1e6 * static_cast<double>(msr->numsamples - 1) / msr->samprate;
    if (msr->starttime < -5'000'000'000'000'000LL || last > 9e15)
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
            r.samples.samples[i] =
                static_cast<float>(static_cast<const std::int32_t*>(msr->datasamples)[i]);
        break;
    case 'f':
        for (std::size_t i = 0; i < n; ++i)
            r.samples.samples[i] = static_cast<const float*>(msr->datasamples)[i];
        break;
    case 'd':
        for (std::size_t i = 0; i < n; ++i)
            r.samples.samples[i] =
                static_cast<float>(static_cast<const double*>(msr->datasamples)[i]);
        break;
    default:
        return fail("a record of text, not samples");
    }
    for (const float v : r.samples.samples)
        if (!std::isfinite(v))
            return fail("a record with samples that are not numbers");
    return r;
}

namespace {

Contents readRecords(const char* data, std::size_t length, const ChannelId* only, Limits limits) {
    silenceLibrary();
    Contents out;
    std::vector<Segment> records;
    std::size_t held = 0;
    std::size_t at = 0;
    // Bytes skipped in steps count once for the whole stretch.
    bool skipping = false;
    auto refuse = [&out](const QString& why) {
        if (out.refused++ == 0)
            out.firstProblem = why;
    };
    while (data && at < length) {
        const bool wasSkipping = std::exchange(skipping, false);
        const std::size_t left = length - at;
        if (left < kFixedHeader) {
            out.truncated = true;
            break;
        }
        const int cap = static_cast<int>(std::min(left, kMaxRecordLength));
        const int detected = ms_detect(data + at, cap);
        if (detected < 0 ||
            (detected > 0 && !isPowerOfTwoLength(static_cast<std::size_t>(detected)))) {
            // Not a record here: go on at the next place one could start.
            if (!wasSkipping)
                refuse(QStringLiteral("bytes at offset %1 are no miniSEED record").arg(at));
            skipping = true;
            at += kMinRecordLength;
            continue;
        }
        if (detected == 0) {
            // A header whose length cannot be told: the end of a record cut short, or one of no
            // stated length, which cannot be read safely.
            if (left <= 4096) {
                out.truncated = true;
                break;
            }
            if (!wasSkipping)
                refuse(QStringLiteral("the record at offset %1 does not state its length").arg(at));
            skipping = true;
            at += kMinRecordLength;
            continue;
        }
        const auto size = static_cast<std::size_t>(detected);
        if (size > left) {
            out.truncated = true;
            break;
        }
        const char* record = data + at;
        at += size;
        ++out.seen;
        // Other channels' records are passed over before any decoding: a broken one is theirs.
        if (only && !sameChannel(headerChannel(record), *only))
            continue;
        QString why;
        auto r = decodeRecord(record, size, &why);
        if (!r) {
            if (why != u"a record of text, not samples")
                refuse(QStringLiteral("the record at offset %1: %2").arg(at - size).arg(why));
            continue;
        }
        if (only && !sameChannel(r->channel, *only))
            continue;
        if (held + r->samples.size() > limits.maxSamples) {
            out.tooMany = true;
            refuse(QStringLiteral("more than %1 samples").arg(limits.maxSamples));
            break;
        }
        held += r->samples.size();
        ++out.records;
        records.push_back(std::move(r->samples));
    }
    out.segments = joinRecords(std::move(records));
    return out;
}

} // namespace

QString Contents::leftOut() const {
    QStringList parts;
    if (refused > 0)
        parts << QStringLiteral("%1 of %2 records could not be used (the first: %3)")
                     .arg(refused)
                     .arg(refused + records)
                     .arg(firstProblem);
    if (truncated)
        parts << QStringLiteral("it ends inside a record");
    return parts.join(QStringLiteral("; "));
}

Contents read(const char* data, std::size_t length, Limits limits) {
    return readRecords(data, length, nullptr, limits);
}

Contents readChannel(const char* data, std::size_t length, const ChannelId& channel,
                     Limits limits) {
    return readRecords(data, length, &channel, limits);
}

std::vector<Segment> joinRecords(std::vector<Segment> records) {
    // Channels keep the order they first appear in; within one, records go by time.
    std::map<QString, int> order;
    for (const Segment& r : records)
        order.emplace(r.channel.seedId(), static_cast<int>(order.size()));
    std::stable_sort(records.begin(), records.end(), [&order](const Segment& a, const Segment& b) {
        const int ca = order[a.channel.seedId()], cb = order[b.channel.seedId()];
        if (ca != cb)
            return ca < cb;
        return a.start < b.start;
    });
    std::vector<Segment> out;
    for (Segment& r : records) {
        if (r.samples.empty())
            continue;
        Segment* last = out.empty() ? nullptr : &out.back();
        if (last && last->channel.seedId() == r.channel.seedId() &&
            std::abs(last->delta - r.delta) <= 1e-7 * r.delta) {
            const double into = civil::secondsBetween(r.start, last->end());
            if (into > 0.5 * r.delta) {
                // Samples already held: only what lies beyond them is new.
                const auto cut = static_cast<std::size_t>(std::ceil(into / r.delta - 0.5));
                if (cut >= r.samples.size())
                    continue;
                r.samples.erase(r.samples.begin(),
                                r.samples.begin() + static_cast<std::ptrdiff_t>(cut));
                r.start = civil::addSeconds(r.start, static_cast<double>(cut) * r.delta);
            }
            if (std::abs(civil::secondsBetween(last->end(), r.start)) <= 0.5 * r.delta) {
                last->samples.insert(last->samples.end(), r.samples.begin(), r.samples.end());
                continue;
            }
        }
        out.push_back(std::move(r));
    }
    return out;
}

} // namespace miniseed
