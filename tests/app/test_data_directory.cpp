// Where the channel lists are read from: the XDG data folder, and the folder earlier versions
// read while the new one is still empty.
#include "AppHarness.h"

#include "base/DataDirectory.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void write(const QString& path, const QByteArray& content = {}) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
}

struct Case {
    const char* name;
    const char* xdg;                // XDG_DATA_HOME, "$" standing for the home
    std::vector<const char*> files; // below the home; a trailing "/" makes an empty folder
    const char* expected;           // below the home
};

} // namespace

TEST(DataDirectory, FollowsXdgAndFallsBackToTheOldFolderOnlyWhileTheNewOneIsEmpty) {
    const Case cases[] = {
        {"nothing anywhere", "", {}, "/.local/share/Groundsway"},
        {"XDG_DATA_HOME set", "$/data", {}, "/data/Groundsway"},
        {"a relative XDG_DATA_HOME is ignored", "data", {}, "/.local/share/Groundsway"},
        {"old folder only",
         "",
         {"/Library/Application Support/Groundsway/ChannelLists/a.txt"},
         "/Library/Application Support/Groundsway"},
        {"new folder made but empty",
         "$/data",
         {"/data/Groundsway/", "/Library/Application Support/Groundsway/autoUpdate.txt"},
         "/Library/Application Support/Groundsway"},
        {"both hold files: the new one wins",
         "",
         {"/.local/share/Groundsway/autoUpdate.txt",
          "/Library/Application Support/Groundsway/autoUpdate.txt"},
         "/.local/share/Groundsway"},
        {"an empty old folder is not used",
         "",
         {"/Library/Application Support/Groundsway/"},
         "/.local/share/Groundsway"},
        {"an old name that is a file is not used",
         "",
         {"/Library/Application Support/Groundsway"},
         "/.local/share/Groundsway"},
    };
    for (const Case& c : cases) {
        QTemporaryDir home;
        for (const char* f : c.files) {
            const QString path = home.path() + QString::fromUtf8(f);
            if (path.endsWith(u'/'))
                QDir().mkpath(path);
            else
                write(path);
        }
        const QString xdg = QString::fromUtf8(c.xdg).replace(u'$', home.path());
        const DataDirectory d = chooseDataDirectory(home.path(), xdg);
        EXPECT_EQ(d.path, home.path() + QString::fromUtf8(c.expected)) << c.name;
        EXPECT_EQ(d.legacy(), QString::fromUtf8(c.expected).startsWith(u"/Library")) << c.name;
        EXPECT_EQ(d.preferred, xdgDataDirectory(home.path(), xdg)) << c.name;
        // The log line names the folder read and, for the old one, where the files belong.
        EXPECT_TRUE(d.logLine().contains(d.path)) << c.name;
        EXPECT_EQ(d.logLine().contains(d.preferred + u' '), d.legacy()) << c.name;
    }
}

TEST(DataDirectory, AtStartTheListsOfTheOldFolderAreStillLoaded) {
    AppHarness::removeSupportDirectory();
    const QString old = QDir::homePath() + "/Library/Application Support/Groundsway";
    write(old + "/ChannelLists/Mine.txt", "Title;Kept\nIU;COLA;BHZ;00;College\n");
    write(old + "/defaultChannelListName.txt", "Mine.txt");
    AppHarness app;
    app.controller().awakeFromNib();
    EXPECT_EQ(*app.controller().supportDirectory(), old);
    EXPECT_EQ(app.o().channelFileListPopUp->count(), 1);
    EXPECT_EQ(*app.controller().theStations(), QStringList{"COLA"});
    EXPECT_EQ(app.log().count("Reading the channel lists and start-up files from " + old +
                              ", where earlier versions kept them; move them to " +
                              AppHarness::supportDirectory()),
              1);
    AppHarness::removeSupportDirectory();
}
