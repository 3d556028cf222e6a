// Saved channel lists: which files the pop-up lists, how a chosen or named list is loaded, and
// what happens with files that cannot be read.
#include "AppHarness.h"
#include "LogCapture.h"
#include "QtPrinters.h"

#include "channels/ListTitles.h"

#include <QComboBox>
#include <QDateTime>
#include <QDirIterator>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class ChannelFiles : public ::testing::Test {
protected:
    AppHarness app;
    groundswayController& c = app.controller();
    QComboBox* popup() { return app.o().channelFileListPopUp; }
    QStringList titles() {
        QStringList out;
        for (int i = 0; i < popup()->count(); ++i)
            out << popup()->itemText(i);
        out.sort();
        return out;
    }
    QString viewText() { return app.o().channelListTView->toPlainText(); }
    void start() { c.awakeFromNib(); }
    void choose(const QString& title) {
        popup()->setCurrentIndex(popup()->findText(title));
        emit popup()->activated(popup()->currentIndex());
    }
    static void list(const QString& name, const QByteArray& content) {
        AppHarness::writeSupportFile("ChannelLists/" + name, content);
    }
};

} // namespace

TEST_F(ChannelFiles, OnlyDotTxtFilesAreListedTitledWithoutTheExtension) {
    for (const char* name : {"A.txt", "B.TXT", "C.text", "D", "x.y.txt", ".hidden"})
        list(name, "IU;ANMO;BHZ;00;A\n");
    QDir().mkpath(AppHarness::supportDirectory() + "/ChannelLists/folder.txt");
    start();
    EXPECT_EQ(titles(), (QStringList{"A", "x.y"}));
}

TEST_F(ChannelFiles, ChoosingAListFillsTheViewButNotTheChannels) {
    list("x.y.txt", "Title;Chosen\nII;PFO;BHZ;00;Pinon Flat\n");
    start();
    const QStringList before = *c.theStations();
    choose("x.y");
    EXPECT_EQ(viewText(), u"Title;Chosen\nII;PFO;BHZ;00;Pinon Flat\n");
    EXPECT_EQ(*c.theStations(), before);
    c.setupChannels(nullptr);
    EXPECT_EQ(*c.theStations(), QStringList{"PFO"});
}

TEST_F(ChannelFiles, ListsInFoldersAreListedByTheirPathAndLoadable) {
    list("regional/alaska.txt", "AK;BAGL;BHZ;--;Bagley\n");
    list("regional/deeper/chile.txt", "C1;AC04;BHZ;--;Chile\n");
    list("top.txt", "IU;ANMO;BHZ;00;A\n");
    start();
    EXPECT_EQ(titles(), (QStringList{"regional/alaska", "regional/deeper/chile", "top"}));
    choose("regional/deeper/chile");
    EXPECT_EQ(viewText(), u"C1;AC04;BHZ;--;Chile\n");
}

TEST_F(ChannelFiles, TheNameFileNamesTheListToLoadAtStartExactly) {
    list("Pacific.txt", "IU;KIP;BHZ;00;Kipapa\n");
    list("Exact", "IU;COLA;BHZ;00;College\n");
    const auto startWithName = [&](const QByteArray& name) {
        AppHarness fresh;
        AppHarness::writeSupportFile("defaultChannelListName.txt", name);
        fresh.controller().awakeFromNib();
        return fresh.o().channelListTView->toPlainText();
    };
    const QString preset = viewText();
    EXPECT_EQ(startWithName("Pacific.txt"), u"IU;KIP;BHZ;00;Kipapa\n");
    EXPECT_EQ(startWithName("Pacific.txt\n"), preset); // the line feed is part of the name
    EXPECT_EQ(startWithName("Pacific"), preset);       // a title is not a file name
    EXPECT_EQ(startWithName("Exact"), u"IU;COLA;BHZ;00;College\n");
    EXPECT_EQ(startWithName("../../../../../../etc/passwd"), preset);
    EXPECT_EQ(startWithName("Pac\xc3\xad"
                            "fic.txt"),
              preset); // a name file that is not ASCII is not read
}

TEST_F(ChannelFiles, AListThatIsNotAsciiLoadsNothingAndKeepsTheView) {
    list("Europe.txt", "CH;DAVOX;BHZ;--;Z\xc3\xbcrich\n");
    list("Plain.txt", "IU;ANMO;BHZ;00;A\n");
    start();
    choose("Plain");
    app.log().clear();
    choose("Europe");
    EXPECT_EQ(viewText(), u"IU;ANMO;BHZ;00;A\n");
    // Refused, and said so: the user otherwise sees nothing happen.
    EXPECT_EQ(app.log().lines(),
              QStringList{"The channel list \"Europe.txt\" was not loaded: it is not a plain "
                          "ASCII text file of at most 16 MiB. The list shown stays."});
    // And the pop-up names the list that stays, not the one refused.
    EXPECT_EQ(popup()->currentText(), u"Plain");
}

TEST_F(ChannelFiles, WithoutAListFolderThePopUpIsEmpty) {
    AppHarness::removeSupportDirectory();
    start();
    EXPECT_EQ(popup()->count(), 0);
    AppHarness::writeSupportFile("unrelated.txt", "x");
    start();
    EXPECT_EQ(popup()->count(), 0);
}

TEST_F(ChannelFiles, NothingIsEverWritten) {
    list("A.txt", "IU;ANMO;BHZ;00;A\n");
    AppHarness::writeSupportFile("defaultChannelListName.txt", "A.txt");
    const auto snapshot = [] {
        QStringList files;
        QDirIterator it(AppHarness::supportDirectory(),
                        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            files << it.filePath() + QString::number(it.fileInfo().size()) +
                         it.fileInfo().lastModified().toString(Qt::ISODateWithMs);
        }
        files.sort();
        return files;
    };
    const QStringList before = snapshot();
    start();
    app.o().channelListTView->setPlainText("edited");
    choose("A");
    c.setupChannels(nullptr);
    EXPECT_EQ(snapshot(), before);
}

// The text box rewrites line breaks and blanks for display; the list is read as written.
TEST_F(ChannelFiles, AListIsParsedAsWrittenNotAsTheTextBoxShowsIt) {
    list("cr.txt", "IU;ANMO;BHZ;00;a\rIU;COLA;BHZ;00;b\r");
    list("crlf.txt", "IU;ANMO;BHZ;00;a\r\nIU;COLA;BHZ;00;b\r\n");
    start();
    c.loadChannelListFromFile("cr.txt");
    c.setupChannels(nullptr);
    EXPECT_TRUE(c.theStations()->isEmpty()); // carriage returns alone end no line
    c.loadChannelListFromFile("crlf.txt");
    c.setupChannels(nullptr);
    EXPECT_EQ(*c.theLabels(), (QStringList{"a\r", "b\r"}));
    // Typed: a no-break space inside a label stays one.
    app.o().channelListTView->setPlainText(QString::fromUtf8("IU;ANMO;BHZ;00;Santa\u00a0Fe\n"));
    c.setupChannels(nullptr);
    EXPECT_EQ(*c.theLabels(), QStringList{QString::fromUtf8("Santa\u00a0Fe")});
}

TEST_F(ChannelFiles, ThePopUpIsSortedAndShowsTheListInUse) {
    for (const char* name : {"long period.txt", "Global broadband.txt", "List 10.txt", "List 2.txt",
                             "Regional/Alaska.txt", "alaska.txt"})
        list(name, "IU;ANMO;BHZ;00;A\n");
    AppHarness::writeSupportFile("defaultChannelListName.txt", "long period.txt");
    start();
    QStringList shown;
    for (int i = 0; i < popup()->count(); ++i)
        shown << popup()->itemText(i);
    EXPECT_EQ(shown, (QStringList{"alaska", "Global broadband", "List 2", "List 10", "long period",
                                  "Regional/Alaska"}));
    EXPECT_EQ(popup()->currentText(), u"long period");
    choose("List 2");
    EXPECT_EQ(popup()->currentText(), u"List 2");
    // A list that could not be loaded is not named as the one in use.
    AppHarness fresh;
    AppHarness::writeSupportFile("defaultChannelListName.txt", "missing.txt");
    fresh.controller().awakeFromNib();
    EXPECT_EQ(fresh.o().channelFileListPopUp->currentIndex(), -1);
}

TEST(SavedList, OnlyFilesInsideTheFolderAreReadAndOnlyAFileThatIsThereButUnreadableIsSaid) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path() + QStringLiteral("/ChannelLists");
    QDir().mkpath(folder + QStringLiteral("/regional"));
    auto write = [](const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    write(folder + QStringLiteral("/A.txt"), "IU;ANMO;BHZ;00;A\r\n");
    write(folder + QStringLiteral("/regional/B.txt"), "II;PFO;BHZ;00;B\n");
    write(dir.path() + QStringLiteral("/Outside.txt"), "IU;COLA;BHZ;00;C\n");
    write(folder + QStringLiteral("/Binary.txt"), "IU;\xff"
                                                  "ANMO\n");
    LogCapture log;
    EXPECT_EQ(readSavedList(folder, QStringLiteral("A.txt")), u"IU;ANMO;BHZ;00;A\r\n");
    EXPECT_EQ(readSavedList(folder, QStringLiteral("regional/B.txt")), u"II;PFO;BHZ;00;B\n");
    for (const char* escape : {"../Outside.txt", "regional/../../Outside.txt", "/etc/passwd", ""})
        EXPECT_FALSE(readSavedList(folder, QString::fromLatin1(escape))) << escape;
    EXPECT_FALSE(readSavedList(folder, QStringLiteral("Missing.txt")));
    EXPECT_FALSE(readSavedList(QString(), QStringLiteral("A.txt")));
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join(u'\n').toStdString();
    EXPECT_FALSE(readSavedList(folder, QStringLiteral("Binary.txt")));
    EXPECT_EQ(log.lines().size(), 1);
}
