// Looking closer and keeping what is on screen: amplitude modes, zoom and the present, full
// screen, the system log window, the trace inspector, image and seismogram export, snapshots.
#include "app/groundswayController.h"

#include "acquisition/MonitorSession.h"
#include "acquisition/TraceList.h"

#include "acquisition/RetrievalCycle.h"
#include "app/ControlValues.h"
#include "app/ExportFailure.h"
#include "app/Guidance.h"
#include "app/ImageExport.h"
#include "app/SeismogramExport.h"
#include "app/SaveImageDialog.h"
#include "app/Snapshot.h"
#include "app/WindowPlacement.h"
#include "base/DateText.h"
#include "base/SystemLog.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/TraceInspector.h"
#include "components/sac/SacObject.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

#include <cstdio>


void groundswayController::setAmplitudeMode(QObject* sender) {
    const auto* popup = qobject_cast<const QComboBox*>(sender);
    if (!popup || !o_.seisView)
        return;
    const int mode = std::clamp(popup->currentIndex(), 0, 2);
    o_.seisView->setAmplitudeMode(static_cast<QuilmRealTimeDisplayView02::AmplitudeMode>(mode));
    defaults_.setObject(mode, QStringLiteral("amplitudeMode"));
}

void groundswayController::followNow(QObject*) {
    if (o_.seisView)
        o_.seisView->resetZoom();
}

void groundswayController::updateFollowNow() {
    // Zoomed while monitoring, the view stops following the present; this button returns.
    if (actions_.followNowButton)
        actions_.followNowButton->setVisible(o_.seisView && o_.seisView->isZoomed() &&
                                             theSeismgrmUpdateTimer_);
}

void groundswayController::toggleFullScreen(QObject*) {
    QWidget* w = o_.seismogramWindow;
    if (!w)
        return;
    if (w->isFullScreen())
        w->showNormal();
    else
        w->showFullScreen();
    if (actions_.fullScreenAction)
        actions_.fullScreenAction->setChecked(w->isFullScreen());
}

void groundswayController::showSystemLogWindow(QObject*) {
    showWindow(o_.systemLogWindow);
}

bool groundswayController::eventFilter(QObject* watched, QEvent* event) {
    // The warning names the system log; a click on it opens it.
    if (watched == o_.queryWarningTField && event->type() == QEvent::MouseButtonPress) {
        showSystemLogWindow(nullptr);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void groundswayController::inspectTrace(int index) {
    if (!o_.seisView || index < 0 || static_cast<std::size_t>(index) >= theWaveforms_->size())
        return;
    const SacObject* processed = (*theWaveforms_)[static_cast<std::size_t>(index)].get();
    if (!processed)
        return;
    const SacObject* raw = traces_->raw(static_cast<std::size_t>(index));
    const Time ref = o_.seisView->refDate().value_or(processed->referenceTime());
    const Time from = civil::addSeconds(ref, o_.seisView->axisLeft());
    const Time to = civil::addSeconds(ref, o_.seisView->axisRight());
    if (!inspector_) {
        inspector_ = std::make_unique<TraceInspector>();
        inspector_->setInline(inline_);
        placement::manage(inspector_.get(), QStringLiteral("traceInspector"), o_.seismogramWindow);
    }
    inspector_->inspect(QuilmRealTimeDisplayView02::fullLabel(*processed), raw, *processed, from,
                        to);
    showWindow(inspector_.get());
}

QImage groundswayController::seismogramImage(QSize size) {
    QImage image(size.expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    if (o_.seisView) {
        QPainter p(&image);
        o_.seisView->render(p, image.size());
    }
    return image;
}

bool groundswayController::writeImage(const QString& path, QSize size, QString* why) {
    QuilmRealTimeDisplayView02* view = o_.seisView;
    return imageexport::write(
        path, size,
        [view](QPainter& p, QSize s) {
            if (view)
                view->render(p, s);
        },
        view ? view->title() : QString(), why);
}

bool groundswayController::writeSeismograms(const QString& folder, QString* why) {
    return seismogramexport::write(folder, traces_->shown(), why);
}

void groundswayController::saveImage(QObject*) {
    SaveImageDialog::ask(o_.seismogramWindow, tr("Save Image"),
                         QDir::homePath() + QStringLiteral("/groundsway.png"),
                         o_.seisView ? o_.seisView->size() : QSize(1600, 1000),
                         tr("The image was not saved"),
                         [this](const QString& path, QSize size, QString* why) {
                             return writeImage(path, size, why);
                         });
}

void groundswayController::copyImage(QObject*) {
    if (o_.seisView)
        QApplication::clipboard()->setImage(seismogramImage(o_.seisView->size()));
}

void groundswayController::saveSeismograms(QObject*) {
    const QString folder = QFileDialog::getExistingDirectory(
        o_.seismogramWindow, tr("Save Seismograms Into"), QDir::homePath());
    if (folder.isEmpty())
        return;
    QString why;
    if (!writeSeismograms(folder, &why))
        reportExportFailure(o_.seismogramWindow, tr("The seismograms were not saved"), why);
}

void groundswayController::takeSnapshot(const QString& path, QSize size,
                                        const std::optional<QString>& list,
                                        std::function<void(int)> done) {
    if (list) {
        if (!o_.channelFileListPopUp ||
            o_.channelFileListPopUp->findText(*list, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
            return snapshot::fail(
                done, QStringLiteral("no saved channel list is titled %1").arg(quotedForLog(*list)));
        loadChannelListFromFile(*list + QStringLiteral(".txt"));
        setupChannels(nullptr);
    }
    snapshot::atFirstTraces(*session_, this, [this, path, size, done] {
        snapshot::finish(done, traces_->anyDrawn(),
                         QStringLiteral("no trace could be drawn; the system log on standard "
                                        "error names each failed request"),
                         [&](QString* why) { return writeImage(path, size, why); });
    });
    // One monitor refresh, as auto-update makes them; with autoUpdate.txt one already runs.
    if (!theSeismgrmUpdateTimer_)
        toggleAutoUpdate(this);
}

void groundswayController::updateGuidance() {
    if (!o_.seisView || retrievedOnce_)
        return;
    const QString title = o_.plotTitleTField && !o_.plotTitleTField->text().isEmpty()
                              ? o_.plotTitleTField->text()
                              : QStringLiteral("Groundsway");
    o_.seisView->setPlaceholder(
        title, guidanceLine(title, theStations_->size(), monitorMinutes(), session_->busy()));
}

void groundswayController::syncMonitorPopUp() {
    QComboBox* popup = actions_.monitorDurationPopUp;
    if (!popup)
        return;
    const int minutes = monitorMinutes();
    // A length of the settings' own that the presets lack gets an item of its own.
    const int custom = popup->findData(true, Qt::UserRole + 1);
    int index = popup->findData(minutes, Qt::UserRole);
    if (custom >= 0 && custom != index) {
        popup->removeItem(custom);
        index = popup->findData(minutes, Qt::UserRole);
    }
    if (index < 0) {
        popup->addItem(tr("Last %1 minutes").arg(minutes), minutes);
        index = popup->count() - 1;
        popup->setItemData(index, true, Qt::UserRole + 1);
    }
    popup->setCurrentIndex(index);
    updateGuidance();
}
