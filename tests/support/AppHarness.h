#pragma once

#include "LogCapture.h"
#include "SacBytes.h"
#include "app/WindowLayout.h"
#include "app/groundswayController.h"

#include <QByteArray>
#include <QString>

#include <memory>

class SacObject;

// The real windows and the real controller, wired as main() wires them (no start-up run), with
// the system log captured. The support directory lives in the test's throwaway home.
class AppHarness {
public:
    AppHarness();
    ~AppHarness();

    groundswayController& controller() { return *controller_; }
    const Outlets& o() const { return controller_->outlets(); }
    const ActionControls& actions() const { return layout_->actions(); }
    LogCapture& log() { return log_; }

    static QString supportDirectory();
    // Writes a file below the support directory, creating folders.
    static void writeSupportFile(const QString& relativePath, const QByteArray& content);
    // Removes the whole support directory (and the one earlier versions read).
    static void removeSupportDirectory();

    // Points the three services at a test server.
    void useServices(const QString& baseUrl);
    void setChannelList(const QString& text);
    // Types a window into the two fields (by default the two minutes the tests' server knows).
    void typeWindow(const QString& from = QStringLiteral("2012-06-15T10:00:00.0000Z"),
                    const QString& to = QStringLiteral("2012-06-15T10:02:00.0000Z"));

private:
    LogCapture log_;
    std::unique_ptr<WindowLayout> layout_;
    std::unique_ptr<groundswayController> controller_;
};

