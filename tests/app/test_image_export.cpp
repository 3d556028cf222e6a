// Pictures written in the format their name says, the Save Image dialog's size and filter, and
// a save that fails told in a message box.
#include "LogCapture.h"
#include "QtPrinters.h"

#include "app/ExportFailure.h"
#include "app/ImageExport.h"
#include "app/SaveImageDialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kPng = QStringLiteral("PNG image (*.png)");
const QString kJpeg = QStringLiteral("JPEG image (*.jpg *.jpeg)");
const QString kSvg = QStringLiteral("SVG drawing (*.svg)");

void drawCross(QPainter& p, QSize s) {
    p.drawLine(0, 0, s.width(), s.height());
}

} // namespace

TEST(ImageExport, TheNameTypedOrElseTheFilterChoosesTheFormat) {
    const std::tuple<const char*, QString, const char*> cases[] = {
        {"/d/shot", kSvg, "/d/shot.svg"},         {"/d/shot", kJpeg, "/d/shot.jpg"},
        {"/d/shot", kPng, "/d/shot.png"},         {"/d/shot.png", kSvg, "/d/shot.png"},
        {"/d/SHOT.JPEG", kPng, "/d/SHOT.JPEG"},   {"/d/shot.v2", kSvg, "/d/shot.v2.svg"},
        {"/d/shot.gif", kPng, "/d/shot.gif.png"}, {"", kSvg, ""},
    };
    for (const auto& [typed, filter, expected] : cases)
        EXPECT_EQ(imageexport::pathFor(QString::fromUtf8(typed), filter),
                  QString::fromUtf8(expected))
            << typed;
    EXPECT_EQ(imageexport::nameFilters(), kPng + ";;" + kJpeg + ";;" + kSvg);
}

TEST(ImageExport, WritesEachFormatAndSaysWhyWhenItCannot) {
    QTemporaryDir dir;
    const std::pair<const char*, QByteArray> formats[] = {
        {"a.png", "\x89PNG"}, {"a.jpg", "\xff\xd8\xff"}, {"a.svg", "<?xml"}};
    for (const auto& [name, magic] : formats) {
        ASSERT_TRUE(imageexport::write(dir.filePath(name), QSize(64, 32), drawCross, "t")) << name;
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_TRUE(f.readAll().startsWith(magic)) << name;
    }
    QString why;
    EXPECT_FALSE(imageexport::write(dir.filePath("a.gif"), QSize(8, 8), drawCross, "t", &why));
    EXPECT_TRUE(why.contains(u".png, .jpg, .jpeg or .svg")) << why.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("a.gif")));
    EXPECT_FALSE(imageexport::write(dir.filePath("no/a.png"), QSize(8, 8), drawCross, "t", &why));
    EXPECT_TRUE(why.startsWith("Could not write " + dir.filePath("no/a.png") + ": "))
        << why.toStdString();
}

TEST(ImageExport, TheSaveDialogOffersTheSizeAndAddsTheChosenFiltersExtension) {
    QTemporaryDir dir;
    SaveImageDialog dialog(nullptr, "Save Image", dir.filePath("groundsway.png"), QSize(900, 500));
    EXPECT_EQ(dialog.imageSize(), QSize(900, 500));
    EXPECT_EQ(dialog.selectedNameFilter(), kPng);
    dialog.setImageSize(QSize(2000, 20000)); // at most what --size allows
    EXPECT_EQ(dialog.imageSize(), QSize(2000, 16384));
    dialog.selectNameFilter(kSvg);
    dialog.selectFile(dir.filePath("shot"));
    auto* buttons = dialog.findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    buttons->button(QDialogButtonBox::Save)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.chosenPath(), dir.filePath("shot.svg"));
}

TEST(ImageExport, AFailedSaveIsToldInAMessageBoxAndTheLog) {
    LogCapture log;
    QWidget window;
    QMessageBox* box = reportExportFailure(&window, "The image was not saved",
                                           "Could not write /x/y.png: Permission denied.");
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->parentWidget(), &window);
    EXPECT_EQ(box->text(), u"The image was not saved");
    EXPECT_TRUE(box->informativeText().contains(u"Permission denied"));
    EXPECT_EQ(log.lines(), QStringList{"The image was not saved: Could not write /x/y.png: "
                                       "Permission denied."});
}
