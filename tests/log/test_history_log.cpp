// The history log of the log window, and the status page.
#include "AppHarness.h"
#include "QtPrinters.h"
#include "UrlRecorder.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextCursor>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

class HistoryLog : public ::testing::Test {
protected:
    AppHarness app;
    QString text() { return app.o().connectionLogTView->toPlainText(); }
};

} // namespace

TEST_F(HistoryLog, EveryMessageIsFollowedByOneLineFeed) {
    app.controller().appendToHistory("");
    EXPECT_EQ(text(), "\n");
    app.controller().clearHistory();
    app.controller().appendToHistory("Retrieved a seismogram.\n");
    app.controller().appendToHistory("second");
    EXPECT_EQ(text(), "Retrieved a seismogram.\n\nsecond\n");
}

TEST_F(HistoryLog, AMarkOnAnEmptyLogIsTwoLineFeedsTheStarLineAndTwoMore) {
    const QString before = QDateTime::currentDateTimeUtc().toString("yyyy-MM-dd HH:mm");
    app.controller().markHistory();
    static const QRegularExpression mark(
        "^\\n\\n\\*{12} (\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d):\\d\\d \\+0000 \\*{10}\\n\\n$");
    const auto match = mark.match(text());
    ASSERT_TRUE(match.hasMatch()) << text().toStdString();
    const QString after = QDateTime::currentDateTimeUtc().toString("yyyy-MM-dd HH:mm");
    EXPECT_TRUE(match.captured(1) == before || match.captured(1) == after); // UTC, though TZ is not
}

TEST_F(HistoryLog, TheEndOfAGrowingLogStaysInView) {
    app.o().logWindow->resize(400, 200);
    app.o().logWindow->show();
    for (int i = 0; i < 300; ++i)
        app.controller().appendToHistory(QStringLiteral("line %1").arg(i));
    QPlainTextEdit* view = app.o().connectionLogTView;
    EXPECT_GT(view->verticalScrollBar()->maximum(), 0);
    QTextCursor last(view->document());
    last.setPosition(static_cast<int>(text().size()) - 1);
    EXPECT_TRUE(view->viewport()->rect().contains(view->cursorRect(last)))
        << "the line of the last character is visible";
}

TEST_F(HistoryLog, ClearingEmptiesTheLogAndNeverTouchesTheSystemLog) {
    app.controller().clearHistory();
    EXPECT_TRUE(text().isEmpty());
    app.controller().appendToHistory("x");
    app.log().clear();
    app.controller().clearHistory();
    EXPECT_TRUE(text().isEmpty());
    EXPECT_TRUE(app.log().lines().isEmpty());
}

TEST_F(HistoryLog, TheStatusPageOpensInTheBrowser) {
    UrlRecorder browser;
    app.o().statusPageURLTField->setText("http://status.example.org/");
    app.controller().tamsyStatus();
    ASSERT_EQ(browser.opened.size(), 1);
    EXPECT_EQ(browser.opened[0].toString(), "http://status.example.org/tamsy/Check");
    EXPECT_TRUE(text().isEmpty());
}
