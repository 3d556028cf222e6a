// Every input the fuzzer ever found trouble with, run through the decoder and the chain again.
#include "SacChainDriver.h"
#include "TextReadersDriver.h"

#include <QDir>
#include <QFile>

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

TEST(FuzzRegressions, KnownTextInputsReadWithoutFault) {
    const QDir dir(QStringLiteral(GS_SOURCE_DIR "/tests/fuzz/text-seeds"));
    int files = 0;
    for (const QString& name : dir.entryList(QDir::Files)) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
        runTextReaders(f.readAll());
        ++files;
    }
    EXPECT_GT(files, 0);
}
