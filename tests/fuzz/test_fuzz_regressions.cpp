// Every input the fuzzers were seeded with or found trouble with, replayed: each must be read or
// refused exactly as it was when kept.
#include "SacChainDriver.h"
#include "SeedLinkDriver.h"
#include "TextReadersDriver.h"
#include "acquisition/MiniSeed.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <array>
#include <cmath>
#include <map>

#include <gtest/gtest.h>

// Each SAC input, replayed, is refused or decoded as it was when kept, and the chain leaves
// finite samples of the length the decimations call for.
TEST(FuzzRegressions, KnownSacInputsAreRefusedOrProcessedAsTheyWere) {
    struct Expected {
        bool decoded;
        std::size_t samplesIn, samplesOut;
    };
    const std::map<QString, Expected> expected = {
        {"html-error.txt", {false, 0, 0}}, // an error page where a seismogram was asked for
        {"small-be.sac", {true, 300, 29}},
        {"small-le.sac", {true, 300, 29}},
    };
    // The seeds, and the inputs the fuzzer found trouble with (none kept yet).
    QStringList paths;
    for (const char* sub : {"seeds", "regressions"}) {
        const QDir dir(QStringLiteral(GS_SOURCE_DIR "/tests/fuzz/") + QLatin1StringView(sub));
        for (const QString& name : dir.entryList(QDir::Files))
            paths << dir.filePath(name);
    }
    EXPECT_EQ(paths.size(), static_cast<qsizetype>(expected.size()));
    for (const QString& path : paths) {
        const QString name = QFileInfo(path).fileName();
        SCOPED_TRACE(name.toStdString());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray b = f.readAll();
        const SacChainOutcome o = runSacChain(
            std::as_bytes(std::span(b.constData(), static_cast<std::size_t>(b.size()))));
        const auto e = expected.find(name);
        ASSERT_NE(e, expected.end()) << "a seed without its expected outcome";
        EXPECT_EQ(o.decoded, e->second.decoded);
        EXPECT_EQ(o.samplesIn, e->second.samplesIn);
        EXPECT_EQ(o.samplesOut, e->second.samplesOut);
        EXPECT_TRUE(o.allFinite);
    }
}

// Each text input, replayed, is read or refused by every reader as it was when kept: how much
// each reader took from it, "-" where it refused the whole input.
TEST(FuzzRegressions, KnownTextInputsAreReadOrRefusedAsTheyWere) {
    const std::map<QString, QString> expected = {
        {"address.txt",
         "fdsn rows 1; events - skipped 1; names -; channels - left out 0; places -; "
         "list 0 title -; int 0 float 0; base yes url yes; request time no catalogue time no"},
        {"channels.txt",
         "fdsn rows 1; events 0 skipped 1; names -; channels 1 left out 0; places 1; "
         "list 0 title -; int 0 float 0; base no url no; request time no catalogue time no"},
        {"event.txt",
         "fdsn rows 1; events 1 skipped 0; names -; channels - left out 0; places -; "
         "list 0 title -; int 0 float 0; base no url no; request time no catalogue time no"},
        {"list.txt",
         "fdsn rows 2; events - skipped 2; names -; channels - left out 0; places -; "
         "list 1 title Demo; int 0 float 0; base no url no; request time no catalogue time no"},
        {"number.txt",
         "fdsn rows 1; events - skipped 1; names -; channels - left out 0; places -; "
         "list 0 title -; int -7 float -7900; base no url no; request time no catalogue time no"},
        {"stations.txt",
         "fdsn rows 1; events 0 skipped 1; names 1; channels - left out 0; places 1; "
         "list 0 title -; int 0 float 0; base no url no; request time no catalogue time no"},
        {"time.txt", "fdsn rows 1; events - skipped 1; names -; channels - left out 0; places -; "
                     "list 0 title -; int 2012 float 2012; base no url no; request time yes "
                     "catalogue time yes"},
    };
    const QDir dir(QStringLiteral(GS_SOURCE_DIR "/tests/fuzz/text-seeds"));
    const QStringList names = dir.entryList(QDir::Files);
    EXPECT_EQ(names.size(), static_cast<qsizetype>(expected.size()));
    for (const QString& name : names) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
        const auto e = expected.find(name);
        ASSERT_NE(e, expected.end()) << name.toStdString() << ": a seed without its readings";
        EXPECT_EQ(runTextReaders(f.readAll()).toStdString(), e->second.toStdString())
            << name.toStdString();
    }
}

// Each SeedLink input, replayed, must be refused (or read) exactly as it was when kept: by the
// readers, and by a source whose server says nothing else on each of three connections.
TEST(FuzzRegressions, KnownSeedLinkInputsCauseTheRefusalsTheyDid) {
    struct Expected {
        int packets, records;
        QStringList refusals;
        int segments, failures;
        QStringList links; // each a prefix of the link change said
    };
    const QString notRecord = QStringLiteral("not a miniSEED record of 512 bytes");
    const std::map<QString, Expected> expected = {
        {"float32.bin", {4, 4, {}, 0, 0, {"Lost"}}},
        {"int32.bin", {4, 4, {}, 0, 0, {"Lost: an answer that is not OK or ERROR"}}},
        {"steim1.bin", {2, 2, {}, 0, 0, {"Lost: an answer that is not OK or ERROR"}}},
        {"steim2.bin", {2, 2, {}, 0, 0, {"Lost"}}},
        // Kept when libmseed read past a record whose count lied: refused before it reads.
        {"int32-count-past-record.bin",
         {2,
          0,
          {notRecord, "a record whose samples would not fit in it"},
          0,
          0,
          {"Lost: an answer that is not OK or ERROR"}}},
        // SELECT refused on the first connection, the other SELECT on the second: nothing left.
        {"replies.txt", {0, 0, {}, 0, 2, {"Lost", "Refused"}}},
        {"transcript-station-refused.bin", {0, 0, {}, 0, 2, {"Refused"}}},
        {"transcript-html-after-end.bin",
         {0, 0, {}, 0, 0, {"Lost: bytes that are not a SeedLink packet"}}},
        {"transcript-long-line.bin", {0, 0, {}, 0, 0, {"Lost: a reply that is not SeedLink"}}},
        // Two records; later connections replay numbers already had: asked by time, and what
        // comes again is cut away.
        {"transcript-steim2.bin", {0, 0, {}, 2, 0, {"Streaming", "Lost", "Streaming", "Lost"}}},
        // A record without samples skipped, the other delivered.
        {"transcript-zero-samples.bin",
         {0, 0, {}, 1, 0, {"Streaming", "Lost", "Streaming", "Lost"}}},
    };
    const QDir dir(QStringLiteral(GS_SOURCE_DIR "/tests/fuzz/seedlink-seeds"));
    const QStringList names = dir.entryList(QDir::Files);
    EXPECT_EQ(names.size(), static_cast<qsizetype>(expected.size()));
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const SeedLinkOutcome o = runSeedLink(f.readAll());
        const auto e = expected.find(name);
        ASSERT_NE(e, expected.end()) << "a seed without its expected refusal";
        EXPECT_EQ(o.packets, e->second.packets);
        EXPECT_EQ(o.records, e->second.records);
        EXPECT_EQ(o.refusals, e->second.refusals);
        EXPECT_EQ(o.segments, e->second.segments);
        EXPECT_EQ(o.failures, e->second.failures);
        ASSERT_EQ(o.links.size(), e->second.links.size()) << o.links.join(u'|').toStdString();
        for (qsizetype i = 0; i < o.links.size(); ++i)
            EXPECT_TRUE(o.links[i].startsWith(e->second.links[i])) << o.links[i].toStdString();
        // Three connections unless every channel was refused first.
        EXPECT_EQ(o.connections,
                  e->second.links.contains(u"Refused") ? (e->second.links.size() == 1 ? 1 : 2) : 3);
        if (o.bareRecord) {
            EXPECT_EQ(*o.bareRecord, notRecord); // none of them is a bare record
        }
    }
}

TEST(FuzzRegressions, KnownMiniSeedInputsReadAsTheyDid) {
    // Records read, records refused, and the segments they join into.
    const std::map<QString, std::array<int, 3>> expected = {
        {"float32.bin", {4, 0, 1}},
        {"int32.bin", {4, 0, 1}},
        {"steim1.bin", {2, 0, 1}},
        {"steim2.bin", {2, 0, 1}},
        // A count that lies about the samples is refused before libmseed reads past the record.
        {"int32-count-past-record.bin", {0, 3, 0}},
    };
    const QDir dir(QStringLiteral(GS_SOURCE_DIR "/tests/fuzz/miniseed-seeds"));
    const QStringList names = dir.entryList(QDir::Files);
    EXPECT_EQ(names.size(), static_cast<qsizetype>(expected.size()));
    for (const QString& name : names) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        const miniseed::Contents c =
            miniseed::read(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        const auto it = expected.find(name);
        ASSERT_NE(it, expected.end()) << name.toStdString();
        EXPECT_EQ(c.records, it->second[0]) << name.toStdString();
        EXPECT_EQ(c.refused, it->second[1])
            << name.toStdString() << " " << c.firstProblem.toStdString();
        EXPECT_EQ(static_cast<int>(c.segments.size()), it->second[2]) << name.toStdString();
        for (const Segment& s : c.segments)
            for (const float v : s.samples)
                ASSERT_TRUE(std::isfinite(v)) << name.toStdString();
    }
}
