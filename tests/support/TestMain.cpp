// Every test process gets its own throwaway home, so no test reads or writes the user's
// settings or support directory, and runs on Qt's offscreen platform.
#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/groundsway-test-XXXXXX"));
    if (!home.isValid())
        return 2;
    const QByteArray path = home.path().toLocal8Bit();
    ::setenv("HOME", path.constData(), 1);
    ::setenv("XDG_CONFIG_HOME", (path + "/.config").constData(), 1);
    ::setenv("XDG_DATA_HOME", (path + "/.local/share").constData(), 1);
    ::setenv("XDG_RUNTIME_DIR", path.constData(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Groundsway"));
    QApplication::setApplicationName(QStringLiteral("Groundsway"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
