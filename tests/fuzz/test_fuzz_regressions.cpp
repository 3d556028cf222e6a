// Every input the fuzzer ever found trouble with, run through the decoder and the chain again.
#include "SacChainDriver.h"
#include "SeedLinkDriver.h"
#include "TextReadersDriver.h"

#include <QDir>
#include <QFile>

#include <functional>

#include <gtest/gtest.h>

TEST(FuzzRegressions, KnownInputsDecodeAndProcessWithoutFault) {
    const QDir dir(QStringLiteral(GS_SOURCE_DIR "/tests/fuzz"));
    int files = 0;
    for (const QString& sub : {QStringLiteral("regressions"), QStringLiteral("seeds")}) {
        const QDir d(dir.filePath(sub));
        for (const QString& name : d.entryList(QDir::Files)) {
            QFile f(d.filePath(name));
            ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
            const QByteArray b = f.readAll();
            runSacChain(
                std::as_bytes(std::span(b.constData(), static_cast<std::size_t>(b.size()))));
            ++files;
        }
    }
    EXPECT_GT(files, 0);
}

namespace {

// Every file of a seed folder, read whole; how many there were.
int forEachSeed(const char* folder, const std::function<void(const QByteArray&)>& run) {
    const QDir dir(QStringLiteral(GS_SOURCE_DIR "/tests/fuzz/") + QLatin1StringView(folder));
    int files = 0;
    for (const QString& name : dir.entryList(QDir::Files)) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
        run(f.readAll());
        ++files;
    }
    return files;
}

} // namespace

TEST(FuzzRegressions, KnownTextInputsReadWithoutFault) {
    EXPECT_GT(forEachSeed("text-seeds", [](const QByteArray& b) { runTextReaders(b); }), 0);
}

TEST(FuzzRegressions, KnownSeedLinkInputsReadWithoutFault) {
    EXPECT_GT(forEachSeed("seedlink-seeds", [](const QByteArray& b) { runSeedLink(b); }), 0);
}
