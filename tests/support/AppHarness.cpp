#include "AppHarness.h"

#include "components/sac/SacObject.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>

AppHarness::AppHarness()
    : layout_(std::make_unique<WindowLayout>()),
      controller_(std::make_unique<groundswayController>()) {
    controller_->connectOutlets(layout_->outlets(), layout_->actions());
    controller_->setHttpIdleTimeoutSeconds(2);
    // The synchronous sequence: each operation has done its work when it returns.
    controller_->setInlineAcquisition(true);
}

AppHarness::~AppHarness() {
    controller_.reset();
    layout_.reset();
}

QString AppHarness::supportDirectory() {
    return QDir::homePath() + QStringLiteral("/.local/share/Groundsway");
}

void AppHarness::writeSupportFile(const QString& relativePath, const QByteArray& content) {
    const QString path = supportDirectory() + u'/' + relativePath;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(content);
}

void AppHarness::removeSupportDirectory() {
    QDir(supportDirectory()).removeRecursively();
    QDir(QDir::homePath() + QStringLiteral("/Library")).removeRecursively();
}

void AppHarness::useServices(const QString& baseUrl) {
    o().timeSeriesServiceURLTField->setText(baseUrl);
    o().eventServiceURLTField->setText(baseUrl);
    o().stationServiceURLTField->setText(baseUrl);
    o().statusPageURLTField->setText(baseUrl);
}

void AppHarness::typeWindow(const QString& from, const QString& to) {
    o().startTField->setText(from);
    o().endTField->setText(to);
}

void AppHarness::setChannelList(const QString& text) {
    o().channelListTView->setPlainText(text);
    controller_->setupChannels(nullptr);
}
