// Looking closer and keeping what is on screen: amplitude modes, zoom and the present, full
// screen, the system log window, the trace inspector, image and seismogram export, snapshots.
#include "app/groundswayController.h"

#include "acquisition/MonitorSession.h"
#include "acquisition/TraceList.h"

#include "acquisition/RetrievalCycle.h"
#include "app/ControlValues.h"
#include "app/ExportFailure.h"
#include "app/ImageExport.h"
#include "app/SaveImageDialog.h"
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

namespace {

QString headerCode(const SacObject& s, const sac::Field& field) {
    const sac::SacHeader* h = s.GetSacHeader();
    return h ? QString::fromStdString(h->getText(field)).trimmed() : QString();
}

// NET.STA.LOC.CHA.<first sample, UTC>.sac; characters a file name cannot hold become "_".
QString exportName(const SacObject& s) {
    QString loc = headerCode(s, sac::text::KHOLE);
    if (loc.isEmpty())
        loc = QStringLiteral("--");
    const civil::Fields f = civil::fieldsOf(s.startTime());
    QString name = QStringLiteral("%1.%2.%3.%4.%5%6%7T%8%9%10Z.sac")
                       .arg(headerCode(s, sac::text::KNETWK), headerCode(s, sac::text::KSTNM), loc,
                            headerCode(s, sac::text::KCMPNM))
                       .arg(f.year, 4, 10, QLatin1Char('0'))
                       .arg(f.month, 2, 10, QLatin1Char('0'))
                       .arg(f.day, 2, 10, QLatin1Char('0'))
                       .arg(f.hour, 2, 10, QLatin1Char('0'))
                       .arg(f.minute, 2, 10, QLatin1Char('0'))
                       .arg(f.second, 2, 10, QLatin1Char('0'));
    for (QChar& c : name)
        if (!(c.isLetterOrNumber() || c == u'.' || c == u'-' || c == u'_'))
            c = u'_';
    return name;
}

// A copy referenced to its own first sample, so B is 0 and the times survive single precision.
std::vector<std::byte> sacBytesOf(const SacObject& s) {
    SacObject copy =
        SacObject::fromSamples(std::vector<float>(s.samples().begin(), s.samples().end()),
                               s.delta(), s.startTime(), 0.0, s.GetSacHeader());
    return copy.encode();
}

TraceInspector::Trace spanOf(const SacObject& s, Time from, Time to) {
    TraceInspector::Trace t;
    t.delta = s.delta();
    if (!(t.delta > 0))
        return t;
    const auto x = s.samples();
    const double a = std::ceil(civil::secondsBetween(s.startTime(), from) / t.delta);
    const double b = std::floor(civil::secondsBetween(s.startTime(), to) / t.delta);
    const auto first = static_cast<std::size_t>(std::clamp(a, 0.0, static_cast<double>(x.size())));
    const auto last =
        static_cast<std::size_t>(std::clamp(b + 1, 0.0, static_cast<double>(x.size())));
    if (first < last)
        t.samples.assign(x.begin() + static_cast<std::ptrdiff_t>(first),
                         x.begin() + static_cast<std::ptrdiff_t>(last));
    t.start = civil::addSeconds(s.startTime(), static_cast<double>(first) * t.delta);
    return t;
}

} // namespace

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
    const SacObject* raw = index >= 0 ? traces_->raw(static_cast<std::size_t>(index)) : nullptr;
    const Time ref = o_.seisView->refDate().value_or(processed->referenceTime());
    const Time from = civil::addSeconds(ref, o_.seisView->axisLeft());
    const Time to = civil::addSeconds(ref, o_.seisView->axisRight());
    if (!inspector_) {
        inspector_ = std::make_unique<TraceInspector>();
        inspector_->setInline(inline_);
        placement::manage(inspector_.get(), QStringLiteral("traceInspector"), o_.seismogramWindow);
    }
    const QString title =
        QStringLiteral("%1   %2 to %3 UTC")
            .arg(QuilmRealTimeDisplayView02::fullLabel(*processed),
                 datetext::description(from).chopped(6), datetext::description(to).chopped(6));
    inspector_->inspect(title, from, to, raw ? spanOf(*raw, from, to) : TraceInspector::Trace{},
                        spanOf(*processed, from, to));
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
    const QDir dir(folder);
    for (const char* sub : {"processed", "raw"}) {
        if (!dir.mkpath(QString::fromLatin1(sub))) {
            if (why)
                *why = QStringLiteral("Could not make the folder %1.")
                           .arg(dir.filePath(QString::fromLatin1(sub)));
            return false;
        }
    }
    auto write = [&](const SacObject& s, const QString& sub) {
        const QString path = dir.filePath(sub + u'/' + exportName(s));
        const auto bytes = sacBytesOf(s);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) ||
            f.write(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())) {
            if (why)
                *why = QStringLiteral("Could not write %1: %2.").arg(path, f.errorString());
            return false;
        }
        return true;
    };
    for (std::size_t i = 0; i < theWaveforms_->size(); ++i) {
        const SacObject* s = (*theWaveforms_)[i].get();
        if (!s || s->samples().empty())
            continue;
        if (!write(*s, QStringLiteral("processed")))
            return false;
        if (traces_->raw(i) && !write(*traces_->raw(i), QStringLiteral("raw")))
            return false;
    }
    return true;
}

void groundswayController::saveImage(QObject*) {
    SaveImageDialog dialog(o_.seismogramWindow, tr("Save Image"),
                           QDir::homePath() + QStringLiteral("/groundsway.png"),
                           o_.seisView ? o_.seisView->size() : QSize(1600, 1000));
    if (dialog.exec() != QDialog::Accepted)
        return;
    QString why;
    if (!writeImage(dialog.chosenPath(), dialog.imageSize(), &why))
        reportExportFailure(o_.seismogramWindow, tr("The image was not saved"), why);
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
    auto fail = [done](const QString& why) {
        const QByteArray text = QStringLiteral("groundsway: %1\n").arg(why).toLocal8Bit();
        std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stderr);
        done(1);
    };
    if (list) {
        if (!o_.channelFileListPopUp ||
            o_.channelFileListPopUp->findText(*list, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
            return fail(
                QStringLiteral("no saved channel list is titled %1").arg(quotedForLog(*list)));
        loadChannelListFromFile(*list + QStringLiteral(".txt"));
        setupChannels(nullptr);
    }
    auto connection = std::make_shared<QMetaObject::Connection>();
    // The first frame with traces: a retrieval's, or in stream mode the filled window's.
    *connection = connect(session_.get(), &MonitorSession::frameReady, this,
                          [this, path, size, done, fail, connection](const auto& frame) {
                              if (!frame->result)
                                  return;
                              disconnect(*connection);
                              bool drawn = false;
                              for (const auto& w : *theWaveforms_)
                                  drawn = drawn || (w && !w->samples().empty());
                              if (!drawn)
                                  return fail(QStringLiteral(
                                      "no trace could be drawn; the system log on standard error "
                                      "names each failed request"));
                              QString why;
                              if (!writeImage(path, size, &why))
                                  return fail(why);
                              done(0);
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
    const qsizetype channels = theStations_->size();
    if (channels == 0) {
        o_.seisView->setPlaceholder(
            title, tr("No channel yet. In Window \u2192 Settings, choose a saved list or type one, "
                      "one channel a line (network; station; channel; location; label), and press "
                      "OK."));
        return;
    }
    const int minutes = monitorMinutes();
    const QString span = minutes == 60       ? tr("the last hour")
                         : minutes % 60 == 0 ? tr("the last %1 hours").arg(minutes / 60)
                         : minutes == 1      ? tr("the last minute")
                                             : tr("the last %1 minutes").arg(minutes);
    if (session_->busy()) {
        // The first retrieval is under way: say so rather than ask for what was just done.
        o_.seisView->setPlaceholder(title, tr("Fetching the %1 channels of '%2'… (Window → "
                                              "System Log shows any that fail)")
                                               .arg(channels)
                                               .arg(title));
        return;
    }
    o_.seisView->setPlaceholder(
        title, channels == 1
                   ? tr("Press Start to watch %1 of the channel of '%2'.").arg(span, title)
                   : tr("Press Start to watch %1 of the %2 channels of '%3'.")
                         .arg(span)
                         .arg(channels)
                         .arg(title));
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
