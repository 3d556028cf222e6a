// Seismograms opened from files: SAC in both byte orders and both header versions, miniSEED
// with several channels and gaps, a broken file beside good ones, and the rows they make.
#include "DemoSeedLink.h"
#include "QtPrinters.h"
#include "acquisition/MonitorSession.h"
#include "acquisition/SeismogramFiles.h"
#include "components/sac/SacObject.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

namespace {

const Time kStart = civil::dateOf(2012, 6, 15, 10, 0, 0);

std::vector<float> ramp(std::size_t n, float from = 0) {
    std::vector<float> x(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = from + static_cast<float>(i % 97);
    return x;
}

QByteArray sacFile(std::endian order, int version, const char* station = "ANMO") {
    SacObject s = SacObject::fromSamples(ramp(500), 0.05, kStart);
    sac::SacHeader& h = *s.header();
    h.setText(sac::text::KNETWK, "IU");
    h.setText(sac::text::KSTNM, station);
    h.setText(sac::text::KHOLE, "00");
    h.setText(sac::text::KCMPNM, "BHZ");
    h.setFloat(sac::word::EVLA, 35.0f);
    const auto bytes = s.encode(order);
    QByteArray b(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    if (version == 7) {
        const std::int32_t seven = order == std::endian::little ? 7 : 0x07000000;
        std::memcpy(b.data() + 4 * sac::word::NVHDR, &seven, 4);
        b.append(QByteArray(static_cast<qsizetype>(sac::kFooterBytesV7), '\0'));
    }
    return b;
}

QByteArray records(const char* channel, Time start, std::size_t n, float from = 0) {
    QByteArray out;
    for (const auto& r :
         demo::packRecords("IU", "ANMO", "00", channel, start, 0.05, ramp(n, from), 11))
        out.append(r.data(), static_cast<qsizetype>(r.size()));
    return out;
}

class Files : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString write(const QString& name, const QByteArray& bytes) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    }
};

} // namespace

TEST_F(Files, SacInEitherByteOrderAndVersionReadsTheSame) {
    for (const std::endian order : {std::endian::little, std::endian::big}) {
        for (const int version : {6, 7}) {
            const auto opened = seismogramfiles::read({write("a.sac", sacFile(order, version))});
            ASSERT_TRUE(opened.problems.isEmpty()) << opened.problems.join(";").toStdString();
            ASSERT_EQ(opened.channels.size(), 1u);
            const auto& c = opened.channels[0];
            EXPECT_EQ(c.channel, (ChannelId{"IU", "ANMO", "00", "BHZ"}));
            ASSERT_EQ(c.segments.size(), 1u);
            EXPECT_EQ(c.segments[0].samples, ramp(500)) << version;
            EXPECT_EQ(c.segments[0].start, kStart);
            ASSERT_TRUE(c.header);
            EXPECT_EQ(c.header->getFloat(sac::word::EVLA), 35.0f);
            EXPECT_EQ(opened.start, kStart);
            EXPECT_EQ(opened.end, civil::addSeconds(kStart, 499 * 0.05));
        }
    }
}

TEST_F(Files, MiniSeedWithSeveralChannelsAndGapsBesideABrokenFile) {
    // BHZ: two stretches with a minute between them; BHN: one; records interleaved by time.
    const QByteArray mseed = records("BHZ", kStart, 1200) + records("BHN", kStart, 600) +
                             records("BHZ", civil::addSeconds(kStart, 120), 1200, 5);
    const QStringList paths = {write("x.mseed", mseed), write("junk.sac", QByteArray(2000, 'j')),
                               dir.filePath("missing.sac"), dir.path(),
                               write("b.sac", sacFile(std::endian::big, 6, "KDAK"))};
    const auto opened = seismogramfiles::read(paths);
    EXPECT_EQ(opened.files, (QStringList{"x.mseed", "b.sac"}));
    ASSERT_EQ(opened.problems.size(), 3);
    EXPECT_TRUE(opened.problems[0].startsWith("junk.sac: it is neither SAC nor miniSEED"));
    EXPECT_EQ(opened.problems[1], "missing.sac: there is no such file");
    EXPECT_EQ(opened.problems[2],
              QFileInfo(dir.path()).fileName() + ": it is a folder, not a file");
    ASSERT_EQ(opened.channels.size(), 3u);
    EXPECT_EQ(opened.channels[0].channel.channel, "BHZ");
    EXPECT_EQ(opened.channels[1].channel.channel, "BHN");
    EXPECT_EQ(opened.channels[2].channel.station, "KDAK");
    const auto& bhz = opened.channels[0].segments;
    ASSERT_EQ(bhz.size(), 2u);
    EXPECT_EQ(bhz[0].start, kStart);
    EXPECT_EQ(bhz[0].size(), 1200u);
    EXPECT_EQ(bhz[1].start, civil::addSeconds(kStart, 120));
    EXPECT_EQ(bhz[1].samples, ramp(1200, 5));
    EXPECT_FALSE(opened.channels[1].header);
    EXPECT_EQ(opened.end, civil::addSeconds(kStart, 120 + 1199 * 0.05));

    // One row per channel: the gapped one in two pieces, all processed.
    ProcessingOptions options;
    const auto r = seismogramfiles::rows(opened, options);
    ASSERT_EQ(r->traces.size(), 4u);
    EXPECT_EQ(r->traces[0].index, 0);
    EXPECT_EQ(r->traces[1].index, 0);
    EXPECT_EQ(r->traces[2].index, 1);
    EXPECT_EQ(r->traces[3].index, 2);
    EXPECT_EQ(r->traces[1].raw->startTime(), civil::addSeconds(kStart, 120));
    EXPECT_EQ(r->start, kStart);
}

TEST_F(Files, DamagedRecordsAreLeftOutAndSaidSoTheRestIsRead) {
    QByteArray mseed = records("BHZ", kStart, 3000);
    const qsizetype n = mseed.size() / 512;
    ASSERT_GE(n, 3);
    mseed[512 + 64 + 64 + 5 * 4 + 3] = static_cast<char>(mseed[512 + 64 + 64 + 5 * 4 + 3] ^ 1);
    mseed.chop(100); // and the last record cut short
    const auto opened = seismogramfiles::read({write("d.mseed", mseed)});
    EXPECT_TRUE(opened.problems.isEmpty());
    EXPECT_EQ(opened.skipped,
              QStringList{QStringLiteral("d.mseed: 1 of %1 records could not be used (the first: "
                                         "the record at offset 512: a record whose Steim frames "
                                         "fail their own check (damaged data)); it ends inside "
                                         "a record")
                              .arg(n - 1)});
    // The first record, then a gap where the damaged one was, then the rest but the last.
    ASSERT_EQ(opened.channels.size(), 1u);
    const auto& bhz = opened.channels[0].segments;
    ASSERT_EQ(bhz.size(), 2u);
    EXPECT_EQ(bhz[0].start, kStart);
    for (const Segment& s : bhz)
        for (std::size_t i = 0; i < s.size(); ++i)
            ASSERT_EQ(s.samples[i], ramp(3000)[static_cast<std::size_t>(std::lround(
                                                   civil::secondsBetween(kStart, s.start) / 0.05)) +
                                               i]);
    EXPECT_TRUE(seismogramfiles::read({write("whole.mseed", records("BHZ", kStart, 3000))})
                    .skipped.isEmpty());
    // A file of records none of which can be used is miniSEED all the same; an empty one is
    // empty.
    QByteArray fast = records("BHZ", kStart, 100);
    fast[32] = static_cast<char>(20000 >> 8);
    fast[33] = static_cast<char>(20000 & 0xff); // 20 kHz
    const auto refused = seismogramfiles::read({write("fast.mseed", fast), write("e.mseed", {})});
    EXPECT_EQ(refused.problems,
              (QStringList{"fast.mseed: none of its miniSEED records could be used (1 refused, "
                           "the first: the record at offset 0: a record without a usable sample "
                           "rate)",
                           "e.mseed: it is empty"}));
}

TEST_F(Files, TheSameChannelInTwoFilesIsOneRowAndTitlesNameTheFiles) {
    const auto opened = seismogramfiles::read(
        {write("one.mseed", records("BHZ", kStart, 600)),
         write("two.mseed", records("BHZ", civil::addSeconds(kStart, 30), 600, 600 % 97))});
    ASSERT_EQ(opened.channels.size(), 1u);
    ASSERT_EQ(opened.channels[0].segments.size(), 1u)
        << "the second file goes on where the first ends";
    EXPECT_EQ(opened.channels[0].segments[0].size(), 1200u);
    EXPECT_EQ(seismogramfiles::titleOf({"a", "b"}), "a, b");
    EXPECT_EQ(seismogramfiles::titleOf({"a", "b", "c", "d", "e"}), "a, b, c and 2 more");
    // The files' table and frame: one row per channel, a typed window over their span, unzoomed.
    const ChannelTable table = seismogramfiles::tableOf(opened);
    ASSERT_EQ(table.size(), 1);
    EXPECT_EQ(table.id(0), opened.channels[0].channel);
    EXPECT_EQ(table.labels, QStringList{opened.channels[0].channel.seedId()});
    const auto frame = seismogramfiles::frameOf(opened, std::make_shared<CycleResult>());
    EXPECT_EQ(frame->window.mode, WindowRequest::Mode::Typed);
    EXPECT_EQ(frame->window.start, *opened.start);
    EXPECT_EQ(frame->window.end, *opened.end);
    EXPECT_EQ(frame->window.startText, datetext::requestTime(*opened.start));
    EXPECT_EQ(frame->title, u"one.mseed, two.mseed");
    EXPECT_TRUE(frame->resetZoom);
    EXPECT_FALSE(frame->monitoring);
    EXPECT_EQ(frame->rows.size(), 1u);
    // Neither format, and nothing at all.
    QString why;
    EXPECT_FALSE(seismogramfiles::readBytes(QByteArray(), "e", &why));
    EXPECT_FALSE(seismogramfiles::readBytes(records("BHZ", kStart, 600).left(300), "t", &why));
}
