// The batch tool, run as a separate process on real files.
#include "base/Time.h"
#include "components/sac/SacObject.h"

#include <QFile>

#include <cstring>
#include <sys/stat.h>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct ToolRun {
    int exitCode;
    QString out, err;
};

ToolRun tool(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(GS_BINARY_DIR "/groundsway-sac"), args);
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

SacObject read(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    const QByteArray b = f.readAll();
    SacObject s;
    EXPECT_TRUE(s.initWithNSData(
        std::as_bytes(std::span(b.constData(), static_cast<std::size_t>(b.size()))), ""));
    return s;
}

const QString kInput = QStringLiteral(GS_GOLDEN_DIR "/bb20.in.sac");

} // namespace

TEST(GroundswaySac, ReproducesTheChainOnARealFile) {
    QTemporaryDir dir;
    const QString out = dir.filePath("out.sac");
    const ToolRun r = tool(
        {kInput, "--rtrend",    "--rmean", "--taper", "0.05",  "--lowpass",    "2", "2",
         "2",    "--highpass",  "0.1",     "2",       "1",     "--instrument", "2", "--decimate",
         "2",    "--integrate", "--scale", "3",       "--rms", "-o",           out});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    SacObject expected = read(kInput);
    expected.SubtractLinearTrend();
    expected.RemoveMean();
    expected.Taper(0.05f);
    expected.LPBUfilter(2.0f, 2, 2); // --lowpass FC NP NPASS: 2 poles, 2 passes
    expected.HPBUfilter(0.1f, 1, 2); // 2 poles, 1 pass
    expected.ConvolveInstrument(2);
    expected.Decimate(2);
    expected.Integrate();
    expected.ScaleAmplitudes(3.0f);
    ASSERT_TRUE(r.out.startsWith(u"rms ")) << r.out.toStdString();
    EXPECT_NEAR(r.out.mid(4).trimmed().toDouble(), expected.simpleRMS(), 1e-6 * expected.simpleRMS());

    SacObject written = read(out);
    EXPECT_TRUE(written.isSacFile());
    EXPECT_EQ(written.GetSacHeader()->byteOrder(), std::endian::little);
    EXPECT_EQ(std::vector<float>(written.samples().begin(), written.samples().end()),
              std::vector<float>(expected.samples().begin(), expected.samples().end()));
    EXPECT_FLOAT_EQ(static_cast<float>(written.delta()), 0.1f);
    EXPECT_EQ(written.GetSacHeader()->getInt(sac::word::NPTS),
              static_cast<int>(expected.samples().size()));
    EXPECT_NEAR(civil::secondsBetween(expected.startTime(), written.startTime()), 0.0, 1e-5);
    const float hi = *std::max_element(expected.samples().begin(), expected.samples().end());
    EXPECT_FLOAT_EQ(written.GetSacHeader()->getFloat(sac::word::DEPMAX), hi);
    EXPECT_NEAR(written.GetSacHeader()->getFloat(sac::word::E),
                written.begin() + static_cast<double>(written.samples().size() - 1) * 0.1, 1e-3);
}

TEST(GroundswaySac, RefusesWhatItCannotReadWithAClearMessage) {
    QTemporaryDir dir;
    QFile text(dir.filePath("notes.txt"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("This is a text file, not a seismogram.\n");
    text.close();
    // A header that declares 10 samples in front of 2 GB of nothing (sparse: no disk taken).
    SacObject small = SacObject::fromSamples(std::vector<float>(10, 1.0f), 0.05,
                                             civil::dateOf(2012, 6, 15, 10, 0, 0));
    const auto smallBytes = small.encode();
    QFile huge(dir.filePath("huge.sac"));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    huge.write(reinterpret_cast<const char*>(smallBytes.data()), static_cast<qint64>(smallBytes.size()));
    ASSERT_TRUE(huge.resize(2'000'000'000));
    huge.close();
    QFile zeros(dir.filePath("zeros.sac"));
    ASSERT_TRUE(zeros.open(QIODevice::WriteOnly));
    ASSERT_TRUE(zeros.resize(2'000'000'000));
    zeros.close();
    const QString fifo = dir.filePath("fifo.sac");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const std::tuple<QStringList, int, const char*> cases[] = {
        {{text.fileName(), "-o", dir.filePath("x.sac")}, 1, "is not a SAC file"},
        {{dir.filePath("missing.sac")}, 1, "cannot read"},
        {{dir.path()}, 2, "is a directory, not a SAC file"},
        {{fifo}, 2, "is a pipe, not a SAC file"}, // and does not wait for a writer
        {{huge.fileName()}, 2, "far more than the 10 samples its header declares"},
        {{zeros.fileName()}, 1, "is not a SAC file"},
    };
    for (const auto& [args, code, message] : cases) {
        const ToolRun r = tool(args);
        EXPECT_EQ(r.exitCode, code) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(message)) << r.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("x.sac")));
}

TEST(GroundswaySac, RejectsBadArgumentsAndSenselessValuesSayingWhy) {
    QTemporaryDir dir;
    const QString out = dir.filePath("out.sac");
    const std::pair<QStringList, const char*> cases[] = {
        {{}, "an input file is needed"},
        {{"--bogus", kInput}, "Unknown option '--bogus'"},
        {{kInput, "--bogus"}, "Unknown option '--bogus'"},
        {{kInput, "extra"}, "Unexpected argument 'extra'"},
        {{kInput, "--lowpass", "1"}, "'--lowpass' needs a corner in Hz"},
        {{kInput, "--taper", "wide"}, "'--taper' needs"},
        {{kInput, "--taper", "2"}, "not '2'"},
        {{kInput, "--taper", "0"}, "not '0'"},
        {{kInput, "--instrument", "3"}, "not '3'"},
        {{kInput, "--decimate", "2.5"}, "not '2.5'"},
        {{kInput, "--decimate", "1"}, "not '1'"},
        {{kInput, "--lowpass", "1", "2147483647", "1"}, "1 to 10 poles, not '2147483647'"},
        {{kInput, "--lowpass", "1", "-5", "-5"}, "1 to 10 poles, not '-5'"},
        {{kInput, "--highpass", "1", "2", "3"}, "1 pass, or 2 for zero phase, not '3'"},
        {{kInput, "--highpass", "-1", "2", "2"}, "corner above 0 Hz, not '-1'"},
        {{kInput, "-o"}, "'-o' needs a file name"},
        {{kInput, "-o", ""}, "'-o' needs a file name"},
        // The file's own limits: 20 samples a second, so 10 Hz is Nyquist; 5 Hz after halving.
        {{kInput, "--lowpass", "10", "2", "2", "-o", out}, "at or above the Nyquist frequency"},
        {{kInput, "--decimate", "2", "--highpass", "6", "2", "1", "-o", out}, "(5 Hz)"},
        {{kInput, "--scale", "1e38", "--scale", "1e38", "-o", out},
         "'--scale 1e38' made samples that are not finite numbers"},
    };
    for (const auto& [args, message] : cases) {
        const ToolRun r = tool(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.startsWith(u"groundsway-sac: ")) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(message))) << r.err.toStdString();
        EXPECT_TRUE(r.err.endsWith(u"Try 'groundsway-sac --help'.\n")) << r.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(out)); // nothing is written for a refused run
    // The edges that make sense pass.
    EXPECT_EQ(tool({kInput, "--taper", "0.5", "--lowpass", "9.99", "10", "1", "--decimate", "1000",
                    "-o", out})
                  .exitCode,
              0);
}

TEST(GroundswaySac, WritesWhatItClaimsAVersion7InputAndAnUndefinedReference) {
    QTemporaryDir dir;
    // A version 7 file: the header says 7 and a footer of 22 doubles follows the samples.
    SacObject s = SacObject::fromSamples({1, 2, 3, 4}, 0.5, civil::dateOf(2012, 6, 15, 10, 0, 0));
    auto bytes = s.encode();
    std::int32_t seven = 7;
    std::memcpy(bytes.data() + 304, &seven, 4);
    bytes.resize(bytes.size() + 176);
    // And one without a reference time: every NZ field -12345.
    SacObject u = SacObject::fromSamples({5, 6}, 1.0, civil::dateOf(2012, 1, 1, 0, 0, 0), 30.0);
    auto undefined = u.encode();
    const std::int32_t none = -12345;
    for (int w = 70; w <= 75; ++w)
        std::memcpy(undefined.data() + 4 * w, &none, 4);
    for (const auto& [name, content] : {std::pair{"v7.sac", bytes}, std::pair{"nz.sac", undefined}}) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(content.data()), static_cast<qint64>(content.size()));
    }
    ASSERT_EQ(tool({dir.filePath("v7.sac"), "-o", dir.filePath("v7.out.sac")}).exitCode, 0);
    QFile out(dir.filePath("v7.out.sac"));
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    const QByteArray written = out.readAll();
    EXPECT_EQ(written.size(), 632 + 4 * 4); // version 6: no footer, and it says so
    std::int32_t version = 0;
    std::memcpy(&version, written.constData() + 304, 4);
    EXPECT_EQ(version, 6);

    ASSERT_EQ(tool({dir.filePath("nz.sac"), "-o", dir.filePath("nz.out.sac")}).exitCode, 0);
    const SacObject back = read(dir.filePath("nz.out.sac"));
    EXPECT_FALSE(back.hasReferenceTime());
    EXPECT_EQ(back.GetSacHeader()->getInt(sac::word::NZYEAR), -12345);
    EXPECT_DOUBLE_EQ(back.begin(), 30.0);
}
