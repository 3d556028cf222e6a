#pragma once

#include "acquisition/SeismogramFiles.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class QWidget;
struct ProcessingOptions;

// Seismogram files handed to the application: dropped onto a window, or chosen with File →
// Open….
namespace fileopening {

// Local files among dropped or pasted addresses, in their order; anything else is left out.
QStringList localFiles(const QList<QUrl>& urls);

// The files a person picks (SAC and miniSEED suggested, any file allowed); none when cancelled.
QStringList choose(QWidget* parent);
// Files that could not be opened ("NAME: why" each), in a message over `window` when it is on
// screen; it does not wait.
void showProblems(QWidget* window, const QStringList& problems);

// What files gave: their channels, and those processed as rows to draw.
struct Read {
    seismogramfiles::Opened opened;
    std::shared_ptr<CycleResult> rows;
};
// Reads and processes the files off this thread (at once when `inlineRun`), by one reader that
// lives as long as `owner` (a newer read replaces one under way). Each file that could not be
// opened is named, with why, in the system log and in a message over `window`; then `done` gets
// what was read, on the owner's thread.
void read(QObject* owner, QWidget* window, bool inlineRun, const QStringList& paths,
          const ProcessingOptions& options, std::function<void(Read)> done);

// Accepts drags that carry local files onto the watched window and reports each drop.
class DropTarget : public QObject {
    Q_OBJECT
public:
    // Makes `window` accept drops and watches it.
    explicit DropTarget(QWidget* window);

Q_SIGNALS:
    void filesDropped(const QStringList& paths);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace fileopening
