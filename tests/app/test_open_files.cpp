// Seismogram files shown in the application: opened, dropped onto the window, and drawn by the
// real binary from its command line.
#include "AppHarness.h"
#include "DemoSeedLink.h"
#include "QtPrinters.h"
#include "RunSnapshot.h"

#include "base/Time.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/sac/SacObject.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

const Time kStart = civil::dateOf(2012, 6, 15, 10, 0, 0);

QByteArray records(const char* station, const char* channel, Time start, std::size_t n) {
    std::vector<float> x(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = static_cast<float>(500.0 * std::sin(0.3 * static_cast<double>(i)));
    QByteArray out;
    for (const auto& r : demo::packRecords("IU", station, "00", channel, start, 0.05, x, 11))
        out.append(r.data(), static_cast<qsizetype>(r.size()));
    return out;
}

// Two channels; BHZ with a minute missing.
QByteArray gapped() {
    return records("ANMO", "BHZ", kStart, 1200) + records("ANMO", "BHN", kStart, 3600) +
           records("ANMO", "BHZ", civil::addSeconds(kStart, 120), 1200);
}

QByteArray sacFile() {
    std::vector<float> x(1000);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<float>(std::cos(0.1 * static_cast<double>(i)));
    SacObject s = SacObject::fromSamples(x, 0.05, kStart);
    sac::SacHeader& h = *s.header();
    h.setText(sac::text::KNETWK, "II");
    h.setText(sac::text::KSTNM, "KDAK");
    h.setText(sac::text::KCMPNM, "BHZ");
    h.setFloat(sac::word::EVLA, 10.0f);
    h.setFloat(sac::word::EVLO, 20.0f);
    h.setFloat(sac::word::O, -100.0f);
    h.setFloat(sac::word::MAG, 6.1f);
    const auto b = s.encode(std::endian::big);
    return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size()));
}

class OpenFiles : public ::testing::Test {
protected:
    AppHarness app;
    groundswayController& c = app.controller();
    QTemporaryDir dir;

    void SetUp() override { c.awakeFromNib(); }
    QString write(const QString& name, const QByteArray& bytes) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    }
};

} // namespace

TEST_F(OpenFiles, FilesBecomeATypedWindowOfTheirChannelsAndABrokenOneIsNamed) {
    // The miniSEED file's last record is cut short: the rest is read, and the log says so.
    const QStringList paths = {write("gapped.mseed", gapped() + gapped().left(100)),
                               write("junk.sac", "not at all"), write("kdak.sac", sacFile())};
    bool shown = false;
    c.openSeismogramFiles(paths, [&shown](bool s) { shown = s; });
    ASSERT_TRUE(shown);
    // BHZ in two pieces, BHN whole, the SAC file's channel.
    ASSERT_EQ(c.theWaveforms()->size(), 4u);
    EXPECT_EQ(c.theWaveforms()->at(0)->label(), "IU.ANMO.00.BHZ");
    EXPECT_EQ(c.theWaveforms()->at(1)->label(), "IU.ANMO.00.BHZ");
    EXPECT_EQ(c.theWaveforms()->at(2)->label(), "IU.ANMO.00.BHN");
    EXPECT_EQ(c.theWaveforms()->at(3)->label(), "II.KDAK..BHZ");
    EXPECT_EQ(app.o().plotTitleTField->text(), "gapped.mseed, kdak.sac");
    EXPECT_EQ(app.o().startTField->text(), "2012-06-15T10:00:00.0000Z");
    EXPECT_EQ(app.o().endTField->text(), "2012-06-15T10:02:59.9500Z");
    EXPECT_EQ(app.log().count("Could not open junk.sac: it is neither SAC nor miniSEED"), 1);
    EXPECT_EQ(app.log().count("Read part of gapped.mseed: it ends inside a record"), 1);
    // The earthquake of the SAC header is the one the window shows.
    const auto origin = c.originShown();
    ASSERT_TRUE(origin);
    EXPECT_EQ(origin->originTime, civil::addSeconds(kStart, -100));
    EXPECT_DOUBLE_EQ(origin->latitude, 10.0);
}

TEST_F(OpenFiles, NothingReadableLeavesTheWindowAsItWasAndSaysWhyOverIt) {
    app.o().seismogramWindow->show();
    bool shown = true;
    c.openSeismogramFiles({write("a.txt", "hello"), dir.filePath("gone.sac")},
                          [&shown](bool s) { shown = s; });
    EXPECT_FALSE(shown);
    EXPECT_TRUE(c.theWaveforms()->empty());
    EXPECT_EQ(app.log().count("Could not open "), 2);
    // Someone who dropped the files sees why, over the window they dropped them on.
    const auto boxes = app.o().seismogramWindow->findChildren<QMessageBox*>();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes.front()->windowTitle(), u"Some files could not be opened");
    EXPECT_TRUE(boxes.front()->text().contains(u"a.txt"));
    EXPECT_TRUE(boxes.front()->text().contains(u"gone.sac"));
    boxes.front()->close();
}

TEST_F(OpenFiles, FilesDroppedOntoTheSeismogramWindowAreOpened) {
    QMainWindow* window = qobject_cast<QMainWindow*>(app.o().seismogramWindow);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->acceptDrops());
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(write("gapped.mseed", gapped())),
                  QUrl(QStringLiteral("https://example.org/x.sac"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &drop);
    EXPECT_EQ(c.theWaveforms()->size(), 3u);
    // Text alone is no file to open.
    QMimeData text;
    text.setText("hello");
    QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    refused.ignore();
    QCoreApplication::sendEvent(window, &refused);
    EXPECT_FALSE(refused.isAccepted());
}

TEST(OpenFilesCommandLine, TheSnapshotDrawsTheFilesAndFailsWhenNoneCanBeRead) {
    QTemporaryDir dir;
    QFile f(dir.filePath("gapped.mseed"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(gapped());
    f.close();
    const QString out = dir.filePath("out.png");
    const auto [code, err] = runGroundsway(dir.path(), {"--snapshot", out, "--size", "800x500",
                                                        f.fileName(), dir.filePath("missing.sac")});
    EXPECT_EQ(code, 0) << err.toStdString();
    EXPECT_EQ(QImage(out).size(), QSize(800, 500));
    const auto [bad, why] =
        runGroundsway(dir.path(), {"--snapshot", dir.filePath("no.png"), dir.filePath("x.sac")});
    EXPECT_EQ(bad, 1);
    EXPECT_TRUE(why.contains("none of the files could be read")) << why.toStdString();
    EXPECT_TRUE(why.contains("x.sac: there is no such file")) << why.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("no.png")));
}
