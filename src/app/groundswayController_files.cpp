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
            if (!f.problems.isEmpty() && o_.seismogramWindow &&
                o_.seismogramWindow->isVisible()) {
                auto* box = new QMessageBox(QMessageBox::Warning,
                                            tr("Some files could not be opened"),
                                            f.problems.join(u'\n'), QMessageBox::Ok,
                                            o_.seismogramWindow);
                box->setAttribute(Qt::WA_DeleteOnClose);
                box->open();
            }
            if (f.channels.empty() || !f.start || !f.end) {
                if (done)
                    done(false);
                return;
            }
            // A typed window over the files: monitoring stops, the table names their channels.
            if (theSeismgrmUpdateTimer_)
                toggleAutoUpdate(nullptr);
            session_->cancel();
            theNetworks_->clear();
            theStations_->clear();
            theChannels_->clear();
            theChannelCodes_->clear();
            theLabels_->clear();
            for (const seismogramfiles::Channel& c : f.channels) {
                *theNetworks_ << c.channel.network;
                *theStations_ << c.channel.station;
                *theChannels_ << c.channel.channel;
                *theChannelCodes_ << c.channel.location;
                *theLabels_ << c.channel.seedId();
            }
            eventOrigin_ = f.origin;
            const QString title = seismogramfiles::titleOf(f.files);
            const WindowRequest window =
                WindowRequest::of(WindowRequest::Mode::Typed, *f.start, *f.end);
            if (o_.startTField)
                o_.startTField->setText(window.startText);
            if (o_.endTField)
                o_.endTField->setText(window.endText);
            if (o_.plotTitleTField)
                o_.plotTitleTField->setText(title);
            session_->setChannels(channelTable(), title);
            auto frame = std::make_shared<SessionFrame>();
            frame->result = r.rows;
            frame->window = window;
            frame->title = title;
            frame->resetZoom = true;
            frame->rows.resize(f.channels.size());
            applyFrame(frame);
            if (done)
                done(true);
        });
}
