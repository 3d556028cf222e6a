#pragma once

#include <QObject>
#include <QStringList>

class QWidget;

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
