// Seismogram files shown as a typed window: the adapter between the file reader and the view.
#include "app/groundswayController.h"

#include "acquisition/MonitorSession.h"
#include "acquisition/RetrievalCycle.h"
#include "acquisition/SeismogramFiles.h"
#include "app/FileOpening.h"
#include "base/Background.h"
#include "base/DateText.h"
#include "base/SystemLog.h"

#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>

void groundswayController::chooseSeismogramFiles(QObject*) {
    const QStringList paths = fileopening::choose(o_.seismogramWindow);
    if (!paths.isEmpty())
        openSeismogramFiles(paths);
}

void groundswayController::openSeismogramFiles(const QStringList& paths,
                                               std::function<void(bool)> done) {
    // The reader lives as long as the controller, as a child rather than a member.
    auto* reader = findChild<Background*>(QStringLiteral("seismogramFileReader"));
    if (!reader) {
        reader = new Background(this);
        reader->setObjectName(QStringLiteral("seismogramFileReader"));
    }
    reader->setInline(inline_);
    struct Read {
        seismogramfiles::Opened opened;
        std::shared_ptr<CycleResult> rows;
    };
    reader->run(
        [paths, options = processingOptions()](const std::atomic<bool>&) {
            Read r{seismogramfiles::read(paths), nullptr};
            r.rows = seismogramfiles::rows(r.opened, options);
            return r;
        },
        [this, done = std::move(done)](Read r) {
            const seismogramfiles::Opened& f = r.opened;
            for (const QString& problem : f.problems)
                systemLog(QStringLiteral("Could not open %1").arg(problem));
            fileopening::showProblems(o_.seismogramWindow, f.problems);
            if (f.channels.empty() || !f.start || !f.end) {
                if (done)
                    done(false);
                return;
            }
            // A typed window over the files: monitoring stops, the table names their channels.
            if (theSeismgrmUpdateTimer_)
                toggleAutoUpdate(nullptr);
            session_->cancel();
            setChannelTable(seismogramfiles::tableOf(f));
            eventOrigin_ = f.origin;
            const auto frame = seismogramfiles::frameOf(f, r.rows);
            showWindowTimes(frame->window, frame->title);
            session_->setChannels(channelTable(), frame->title);
            applyFrame(frame);
            if (done)
                done(true);
        });
}
