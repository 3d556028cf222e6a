#include "app/FileOpening.h"

#include "base/Background.h"
#include "base/SystemLog.h"

#include <QCoreApplication>
#include <QMessageBox>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QPointer>
#include <QUrl>
#include <QWidget>

namespace fileopening {

QStringList localFiles(const QList<QUrl>& urls) {
    QStringList out;
    for (const QUrl& u : urls)
        if (u.isLocalFile() && !u.toLocalFile().isEmpty())
            out << u.toLocalFile();
    return out;
}

QStringList choose(QWidget* parent) {
    return QFileDialog::getOpenFileNames(
        parent, QObject::tr("Open Seismograms"), QString(),
        QObject::tr("Seismograms (*.sac *.SAC *.mseed *.miniseed *.ms *.msd);;All files (*)"));
}

DropTarget::DropTarget(QWidget* window) : QObject(window) {
    window->setAcceptDrops(true);
    window->installEventFilter(this);
}

bool DropTarget::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (drag->mimeData() && !localFiles(drag->mimeData()->urls()).isEmpty()) {
            drag->acceptProposedAction();
            return true;
        }
    } else if (event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList files =
            drop->mimeData() ? localFiles(drop->mimeData()->urls()) : QStringList();
        if (!files.isEmpty()) {
            drop->acceptProposedAction();
            Q_EMIT filesDropped(files);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void showProblems(QWidget* window, const QStringList& problems) {
    if (problems.isEmpty() || !window || !window->isVisible())
        return;
    auto* box = new QMessageBox(QMessageBox::Warning,
                                QCoreApplication::translate("groundswayController",
                                                            "Some files could not be opened"),
                                problems.join(u'\n'), QMessageBox::Ok, window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void read(QObject* owner, QWidget* window, bool inlineRun, const QStringList& paths,
          const ProcessingOptions& options, std::function<void(Read)> done) {
    auto* reader = owner->findChild<Background*>(QStringLiteral("seismogramFileReader"));
    if (!reader) {
        reader = new Background(owner);
        reader->setObjectName(QStringLiteral("seismogramFileReader"));
    }
    reader->setInline(inlineRun);
    reader->run(
        [paths, options](const std::atomic<bool>&) {
            Read r{seismogramfiles::read(paths), nullptr};
            r.rows = seismogramfiles::rows(r.opened, options);
            return r;
        },
        [window = QPointer<QWidget>(window), done = std::move(done)](Read r) {
            for (const QString& problem : r.opened.problems)
                systemLog(QStringLiteral("Could not open %1").arg(problem));
            for (const QString& part : r.opened.skipped)
                systemLog(QStringLiteral("Read part of %1").arg(part));
            showProblems(window, r.opened.problems);
            done(std::move(r));
        });
}

} // namespace fileopening
